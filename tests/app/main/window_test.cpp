// The main window never acts on contacts it does not list, and its edit form writes only what
// the user changed: driven through the real window, its slots and its edit form.
#include <gtest/gtest.h>

#include <QAction>
#include <QCryptographicHash>
#include <QDateTimeEdit>
#include <QMenu>
#include <QLabel>
#include <QFontMetrics>
#include <QTextDocument>
#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QPushButton>
#include <memory>

#include "app/mainwindow_form.h"
#include "editor/contacteditor.h"
#include "platform/sqlite/sqlite3db.h"
#include "testutil.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
    }
    void TearDown() override { win.reset(); }
    void open() { win = std::make_unique<MainWindow>(answering); }
    Tree& tree() { return win->treeModel(); }
    Ui_MainWindow* ui() { return win->form(); }
    Tree::_DBItemNode* localDb(const QString& name) {
        for (Tree::_ItemNode* n : tree().localDbRoot()->children) {
            if (n->name == name) {
                return dynamic_cast<Tree::_DBItemNode*>(n);
            }
        }
        return nullptr;
    }
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    QStringList listedNames() {
        QStringList out;
        for (const pim::_Contact& c : win->contactsModel().contacts()) {
            out << c.fullName;
        }
        return out;
    }

    ChooserScripts choosers;
    ScriptedChoosers answering{choosers};
    std::unique_ptr<MainWindow> win;
};

// A database from another program: it takes writes, but its groups cannot be read.
QString makeForeignDb(const QString& name) {
    const QString path = LocalDb::dbDir().absoluteFilePath(name);
    makeDb(path, {makeContact("Other", "person 1"), makeContact("Other", "person 2"),
                  makeContact("Other", "person 3")});
    Sqlite3DB db;
    db.openThrow(path, 2);
    db.executeScriptThrow("drop table contact_group");
    db.close();
    return path;
}

}  // namespace

TEST_F(WindowTest, NothingActsOnContactsAfterANodeFailedToLoad) {
    makeDb(LocalDb::dbDir().absoluteFilePath("family.db"),
           {makeContact("Anna", "Dubois", "100"), makeContact("Ben", "Lee", "200")});
    const QString foreign = makeForeignDb("foreign.db");
    open();
    Tree::_DBItemNode* family = localDb("family.db");
    Tree::_DBItemNode* bad = localDb("foreign.db");
    ASSERT_TRUE(family && bad);
    select(family);
    ASSERT_EQ(listedNames(), (QStringList{"Anna Dubois", "Ben Lee"}));
    ui()->treeContacts->selectionModel()->select(
        win->contactsModel().indexOfPos(0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_EQ(win->contactsSelected().size(), 1);

    const QByteArray before = fileHash(foreign);
    select(bad);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    // The list, the total, the pane and the selection are empty; no contact action is offered.
    EXPECT_TRUE(listedNames().isEmpty());
    EXPECT_EQ(ui()->lbTotal->text(), "Total:0");
    EXPECT_TRUE(paneEmpty(ui()->wdContactInfo));
    EXPECT_TRUE(win->contactsSelected().isEmpty());
    for (int a :
         {TBA_BACKUP, TBA_I2I, TBA_DB2I, TBA_EXPORT, TBA_PRINT, TBA_DELETE, TBA_NEW_CONTACT}) {
        EXPECT_FALSE(toolBarActions[a]->isEnabled()) << a;
    }

    // Every road to a delete or an edit of the failed database does nothing.
    int forms = 0;
    choosers.editForm = [&](EditContactForm&) {
        ++forms;
        return 1;
    };
    Boxes::instance().answerNext(true);
    QMetaObject::invokeMethod(win.get(), "miContactDel");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    QMetaObject::invokeMethod(win.get(), "miContactEdit");
    EXPECT_FALSE(win->delContacts(family->db->contacts()));
    pim::_Contact anna = family->db->contacts(0, "Anna").value(0);
    win->editContact(anna);
    EXPECT_EQ(forms, 0);
    // The tree's context menu on it offers only its removal.
    QStringList offered;
    choosers.contextMenu = [&](QMenu& menu) -> QAction* {
        for (QAction* a : menu.actions()) {
            if (!a->isSeparator()) {
                offered << a->text();
            }
        }
        return nullptr;
    };
    QMetaObject::invokeMethod(win.get(), "treeCreateContextMenu");
    EXPECT_EQ(offered, QStringList{"IDS_MI_REMOVE_LOCAL_DB"});
    EXPECT_EQ(fileHash(foreign), before);
    EXPECT_EQ(family->db->contacts().size(), 2);
    EXPECT_FALSE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_DEL_CONTACTS"));

    // A node that loads brings the actions back.
    select(family);
    EXPECT_EQ(listedNames(), (QStringList{"Anna Dubois", "Ben Lee"}));
    EXPECT_TRUE(toolBarActions[TBA_DELETE]->isEnabled());
    EXPECT_TRUE(toolBarActions[TBA_NEW_CONTACT]->isEnabled());
}

namespace {

pim::Entity entity(std::initializer_list<std::pair<const char*, QVariant>> fields) {
    pim::Entity e;
    for (const auto& f : fields) {
        e.fields[f.first] = f.second;
    }
    return e;
}

// A contact as other programs leave it: an empty and a time-less date, empty type codes, a
// note with carriage returns, a name with phonetic parts.
unsigned long long storeOddContact(LocalDb& db) {
    pim::_Contact c(0, QString(), "Ann Lee");
    db.insertContactBase(c);
    pim::Entity name = entity({{"data1", "Ann Lee"},
                               {"data2", "Ann"},
                               {"data3", "Lee"},
                               {"data7", "An"},
                               {"data8", "Li"}});
    db.insertEntity(c._id, pim::ENTITY_NAME, name);
    pim::Entity phone = entity({{"data1", "100"}, {"data2", ""}, {"data3", ""}});
    db.insertEntity(c._id, pim::ENTITY_PHONE, phone);
    pim::Entity noDate = entity({{"data1", ""}, {"data2", "3"}});
    db.insertEntity(c._id, pim::ENTITY_EVENT, noDate);
    pim::Entity badDate = entity({{"data1", "--0131"}, {"data2", "1"}});
    db.insertEntity(c._id, pim::ENTITY_EVENT, badDate);
    pim::Entity birthday = entity({{"data1", "1985-03-12"}, {"data2", "0"}, {"data3", ""}});
    db.insertEntity(c._id, pim::ENTITY_EVENT, birthday);
    pim::Entity notes = entity({{"data1", "line one\r\nline two"}});
    db.insertEntity(c._id, pim::ENTITY_NOTES, notes);
    pim::Entity im = entity({{"data1", "ann"}, {"data2", ""}, {"data5", ""}, {"data6", "Chat"}});
    db.insertEntity(c._id, pim::ENTITY_IM, im);
    pim::Entity addr = entity({{"data4", "1 Road\r\nFlat 2"},
                               {"data7", "Town"},
                               {"data10", "France"},
                               {"data11", "fr"},
                               {"data2", ""}});
    db.insertEntity(c._id, pim::ENTITY_ADDR, addr);
    return c._id;
}

}  // namespace

TEST_F(WindowTest, ApplyWritesOnlyWhatTheUserChanged) {
    const QString path = LocalDb::dbDir().absoluteFilePath("odd.db");
    unsigned long long id = 0;
    {
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        id = storeOddContact(db);
        db.close();
    }
    const pim::_Contact before = [&] {
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        return db.contact(id);
    }();
    open();
    Tree::_DBItemNode* node = localDb("odd.db");
    ASSERT_TRUE(node);
    select(node);
    ASSERT_EQ(listedNames(), QStringList{"Ann Lee"});

    std::function<void(ContactEditor*)> edit;
    int forms = 0;
    choosers.editForm = [&](EditContactForm& form) {
        ++forms;
        if (edit) {
            edit(form.editor());
        }
        form.form().btnSave->click();
        return form.result();
    };
    const auto editRow0 = [&] {
        QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                                  Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    };

    // Apply without any change: the file is not written at all.
    node->db->close();
    const QByteArray hash = fileHash(path);
    editRow0();
    ASSERT_EQ(forms, 1);
    node->db->close();
    EXPECT_EQ(fileHash(path), hash);

    // Only the phone number changes: every other stored value stays as it was, the empty and
    // the unreadable dates included; the phone's empty type code stays empty.
    edit = [](ContactEditor* ed) { ed->phoneEditor->rows()[0].leValue->setText("200"); };
    editRow0();
    ASSERT_EQ(forms, 2);
    const pim::_Contact after = node->db->contact(id);
    for (auto it = before.entities.constBegin(); it != before.entities.constEnd(); ++it) {
        const QList<pim::Entity>& now = after.entities.value(it.key());
        ASSERT_EQ(now.size(), it.value().size()) << it.key();
        for (int i = 0; i < now.size(); ++i) {
            pim::Entity expected = it.value()[i];
            if (it.key() == pim::ENTITY_PHONE) {
                expected.fields["data1"] = "200";
            }
            EXPECT_EQ(now[i]._id, expected._id);
            for (const QString& key : expected.fields.keys()) {
                EXPECT_EQ(now[i].text(key), expected.text(key))
                    << it.key() << " " << key.toStdString();
            }
        }
    }

    // A changed date is written; the untouched empty one next to it stays empty.
    edit = [](ContactEditor* ed) {
        ed->eventEditor->rows()[2].dteValue->setDate(QDate(1986, 4, 1));
    };
    editRow0();
    const QList<pim::Entity> events = node->db->contact(id).entities.value(pim::ENTITY_EVENT);
    ASSERT_EQ(events.size(), 3);
    EXPECT_EQ(events[0].text("data1"), "");
    EXPECT_EQ(events[1].text("data1"), "--0131");
    EXPECT_TRUE(events[2].text("data1").startsWith("1986-04-01"))
        << events[2].text("data1").toStdString();
}

TEST_F(WindowTest, TheWheelOverTheEditFormScrollsAndChangesNothing) {
    const QString path = LocalDb::dbDir().absoluteFilePath("odd.db");
    {
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        const unsigned long long id = storeOddContact(db);
        for (int type : {pim::ENTITY_EMAIL, pim::ENTITY_REL, pim::ENTITY_URL}) {
            pim::Entity e = entity({{"data1", "x@y.org"}, {"data2", "1"}});
            db.insertEntity(id, type, e);
        }
        db.close();
    }
    open();
    select(localDb("odd.db"));
    const QByteArray hash = fileHash(path);

    int combos = 0;
    int dates = 0;
    choosers.editForm = [&](EditContactForm& form) {
        form.resize(500, 300);  // the form scrolls
        form.show();
        ContactEditor* ed = form.editor();
        QScrollBar* bar = ed->verticalScrollBar();
        const auto wheel = [&](QWidget* w, int steps) {
            QWheelEvent ev(QPointF(5, 5), w->mapToGlobal(QPoint(5, 5)), QPoint(),
                           QPoint(0, -120 * steps), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                           false);
            // As the window system delivers it: an unhandled wheel then goes to the parents.
            QSpontaneKeyEvent::setSpontaneous(&ev);
            QApplication::sendEvent(w, &ev);
        };
        for (QComboBox* cb : ed->findChildren<QComboBox*>()) {
            ++combos;
            EXPECT_EQ(cb->focusPolicy(), Qt::StrongFocus);
            const QString text = cb->currentText();
            const int index = cb->currentIndex();
            ed->ensureWidgetVisible(cb);
            const int scrolled = bar->value();
            wheel(cb, 1);
            EXPECT_EQ(cb->currentText(), text);
            EXPECT_EQ(cb->currentIndex(), index);
            if (bar->maximum() > scrolled) {
                EXPECT_GT(bar->value(), scrolled);  // the form scrolled instead
            }
        }
        for (QDateTimeEdit* dte : ed->findChildren<QDateTimeEdit*>()) {
            ++dates;
            EXPECT_EQ(dte->focusPolicy(), Qt::StrongFocus);
            const QDateTime value = dte->dateTime();
            wheel(dte, 10);
            EXPECT_EQ(dte->dateTime(), value);
        }
        form.form().btnSave->click();
        return form.result();
    };
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    // Type combos of phone, e-mail, three dates, IM (type and service), related person,
    // address and web address; three date fields.
    EXPECT_EQ(combos, 10);
    EXPECT_EQ(dates, 3);
    localDb("odd.db")->db->close();
    EXPECT_EQ(fileHash(path), hash);
}

namespace {

QString shownText(const QString& rich) {
    QTextDocument doc;
    doc.setHtml(rich);
    return doc.toPlainText();
}

}  // namespace

TEST_F(WindowTest, BoxesShowNamesAndPathsAsWritten) {
    makeDb(LocalDb::dbDir().absoluteFilePath("family.db"), {makeContact("Al <b>", "& Co>")});
    open();
    select(localDb("family.db"));
    Boxes::instance().reset();

    // A name that exists already.
    choosers.editForm = [&](EditContactForm& form) {
        form.editor()->nameEdit.firstName->setText("Al <b>");
        form.editor()->nameEdit.lastName->setText("& Co>");
        form.form().btnSave->click();
        return 0;
    };
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    // An export over a file that exists: the question names the file.
    const QString path = QDir::temp().absoluteFilePath("a<b>&amp;c.vcf");
    QFile existing(path);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    choosers.saveFile = [&](QWidget*, const QString&, const QString&, QString* selected) {
        *selected = "VCard Files(*.vcf)";
        return path;
    };
    Boxes::instance().answerNext(false);
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    QFile::remove(path);
    // A phone whose identifier is not accepted.
    win->iosDeviceConnected("id<i>&x");

    QStringList texts;
    for (const Box& b : Boxes::instance().shown) {
        texts << shownText(b.text);
    }
    const QString all = texts.join("\n");
    EXPECT_TRUE(all.contains("IDS_CONTACT_NAME_Al <b> & Co>_EXIST")) << all.toStdString();
    EXPECT_TRUE(all.contains("a<b>&amp;c.vcf already exists.")) << all.toStdString();
    EXPECT_TRUE(all.contains("\"id<i>&x\"")) << all.toStdString();
}

TEST_F(WindowTest, AddContactCountsInTheTotal) {
    makeDb(LocalDb::dbDir().absoluteFilePath("family.db"), {makeContact("Ann", "Lee")});
    open();
    select(localDb("family.db"));
    ASSERT_EQ(ui()->lbTotal->text(), "Total:1");
    choosers.editForm = [](EditContactForm& form) {
        form.editor()->nameEdit.firstName->setText("Bea");
        form.form().btnSave->click();
        return form.result();
    };
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    EXPECT_EQ(listedNames(), (QStringList{"Ann Lee", "Bea"}));
    EXPECT_EQ(ui()->lbTotal->text(), "Total:2");
}

TEST_F(WindowTest, ThePaneShowsAWrappedNameWholeAndScrollsToItsEnd) {
    pim::_Contact c = makeContact("Maximiliana Theodora Wilhelmina Konstantina",
                                  "von Hohenzollern Sigmaringen Auersperg Breunner");
    pim::Entity org;
    org.fields["data1"] = "Company Lasting Until The End";
    org.fields["data4"] = "Chief Officer";
    org.fields["data5"] = "Department Of Very Long Names";
    c.entities[pim::ENTITY_ORG] << org;
    for (int i = 0; i < 12; ++i) {
        pim::Entity p;
        p.fields["data1"] = QString("555-01%1").arg(i, 2, 10, QChar('0'));
        p.fields["data2"] = 2;
        c.entities[pim::ENTITY_PHONE] << p;
    }
    makeDb(LocalDb::dbDir().absoluteFilePath("family.db"), {c});
    open();
    win->resize(1000, 700);
    win->show();
    select(localDb("family.db"));
    ui()->treeContacts->selectionModel()->select(
        win->contactsModel().indexOfPos(0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ContactDisplayer* pane = ui()->wdContactInfo;

    const auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        QCoreApplication::processEvents();
        QWidget* content = pane->widget();
        ASSERT_TRUE(content);
        auto* name = content->findChild<QLabel*>("lbName");
        ASSERT_TRUE(name);
        EXPECT_EQ(content->width(), pane->viewport()->width());
        // The name block has the height its wrapped lines need: the company on its last line
        // is inside the label, the label inside the content.
        EXPECT_GE(name->height(), name->heightForWidth(name->width()));
        EXPECT_GT(name->heightForWidth(name->width()), QFontMetrics(name->font()).height() * 4);
        EXPECT_LE(name->mapTo(content, QPoint(0, name->height())).y(), content->height());
        // Every line fits into the content, and the scroll range reaches its end.
        for (QLabel* l : content->findChildren<QLabel*>()) {
            EXPECT_LE(l->mapTo(content, QPoint(0, l->height())).y(), content->height());
        }
        EXPECT_EQ(pane->verticalScrollBar()->maximum(),
                  qMax(0, content->height() - pane->viewport()->height()));
    };
    check("shown");
    win->resize(1000, 420);  // the height alone changes
    check("lower");
    win->resize(960, 420);  // narrower: the name wraps on more lines
    check("narrower");
    win->resize(960, 900);
    check("higher");
}

TEST_F(WindowTest, SearchListsWhatTheStoreFindsInItsOrder) {
    QList<pim::_Contact> people;
    for (const char* n : {"Zoe Park", "ann lee", "Ann Moe", "Bo_b Ray", "Cy 100%", "Di Wu"}) {
        const QString s = QString::fromUtf8(n);
        people << makeContact(s.section(' ', 0, 0), s.section(' ', 1), "555",
                              s.startsWith("Di") ? "ANN@x.org" : QString());
    }
    makeDb(LocalDb::dbDir().absoluteFilePath("family.db"), people);
    open();
    Tree::_DBItemNode* node = localDb("family.db");
    select(node);
    choosers.editForm = [](EditContactForm& form) {
        form.editor()->nameEdit.firstName->setText("Anna");
        form.editor()->nameEdit.lastName->setText("Aab");
        form.form().btnSave->click();
        return form.result();
    };
    QMetaObject::invokeMethod(win.get(), "miNewContact");  // listed last, stored in order
    const auto search = [&](const QString& keyword) {
        ui()->txtKeyword->setText(keyword);
        QMetaObject::invokeMethod(win.get(), "onBtnSearchPressed");
        return listedNames();
    };
    const auto stored = [&](const QString& keyword) {
        QStringList out;
        for (const pim::_Contact& c : node->db->contacts(0, keyword)) {
            out << c.fullName;
        }
        return out;
    };
    // From the whole list, and again from a narrowed one, which the next search widens.
    for (const char* keyword : {"ann", "b_b", "0%", "55", "ANN", "zzz", "a", "  ", "ann"}) {
        SCOPED_TRACE(keyword);
        EXPECT_EQ(search(keyword), stored(QString(keyword).trimmed()));
        EXPECT_EQ(ui()->lbTotal->text(), QString("Total:%1").arg(listedNames().size()));
    }
    EXPECT_EQ(search("ann"), (QStringList{"Ann Moe", "Anna Aab", "Di Wu", "ann lee"}));
}
