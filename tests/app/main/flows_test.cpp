// The main window's edit, delete, export and print flows on local databases, driven through the
// window's own slots with the edit form, the save dialog and the message boxes answered in place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExp>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "app/mainwindow_form.h"
#include "export/cardpreview.h"
#include "export/contactsprinter.h"
#include "import/csvimport.h"
#include "import/qvcardparser.h"
#include "testutil.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

const char* const kVcf = "VCard Files(*.vcf)";
const char* const kCsv = "CSV Files(*.csv)";
const char* const kTxt = "Text Files(*.txt)";
const char* const kHtml = "HTML files(*.html)";
const char* const kDoc = "Word files(*.doc)";
const char* const kPdf = "PDF files(*.pdf)";

QString home() {
    return testHome();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Full names of the cards of a vCard file.
QStringList vcardNames(const QString& path) {
    QStringList out;
    for (const QVCardParser::Card& card : QVCardParser::parse(readAll(path))) {
        for (const QVCardParser::_Property& p : card) {
            if (p.name.compare("FN", Qt::CaseInsensitive) == 0) {
                out << p.toString();
            }
        }
    }
    return out;
}

class FlowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        QDir(home()).removeRecursively();
        QDir().mkpath(home());
        Boxes::instance().reset();
        makeDb(LocalDb::dbDir().absoluteFilePath("family.db"),
               {makeContact("Ann", "Lee", "100", "ann@x.org"), makeContact("Ben", "Lee", "200"),
                makeContact("Cid", "Moe", "300")});
        win = std::make_unique<MainWindow>(answering);
        node = dynamic_cast<Tree::_DBItemNode*>(tree().localDbRoot()->children.value(0));
        ASSERT_NE(node, nullptr);
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
        ASSERT_EQ(listedNames(), (QStringList{"Ann Lee", "Ben Lee", "Cid Moe"}));
    }
    void TearDown() override { win.reset(); }
    Tree& tree() { return win->treeModel(); }
    Ui_MainWindow* ui() { return win->form(); }
    QStringList listedNames() {
        QStringList out;
        for (const pim::_Contact& c : win->contactsModel().contacts()) {
            out << c.fullName;
        }
        return out;
    }
    QStringList storedNames() {
        QStringList out;
        for (const pim::_Contact& c : node->db->contacts()) {
            out << c.fullName;
        }
        return out;
    }
    void selectRows(std::initializer_list<int> rows) {
        QItemSelectionModel* sel = ui()->treeContacts->selectionModel();
        sel->clearSelection();
        for (int r : rows) {
            sel->select(win->contactsModel().indexOfPos(r),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    // The edit form answers: the names typed (null: left as they are), optionally a phone
    // added, then Save pressed; returns what the form's own checks let through.
    void answerEditForm(const char* first, const char* last, const char* phone = nullptr) {
        choosers.editForm = [=](EditContactForm& form) {
            ++formsOpened;
            ContactEditor* ed = form.editor();
            if (first) {
                ed->nameEdit.firstName->setText(first);
            }
            if (last) {
                ed->nameEdit.lastName->setText(last);
            }
            if (phone) {
                ed->phoneEditor->addButton()->click();
                ed->phoneEditor->rows().last().leValue->setText(phone);
            }
            form.form().btnSave->click();
            return form.result();
        };
    }
    // The save dialog answers with this path and filter, and remembers what it offered.
    void answerSave(const QString& path, const QString& filter) {
        choosers.saveFile = [=](QWidget*, const QString& def, const QString& filters,
                                QString* selected) {
            offeredPath = def;
            offeredFilters = filters;
            *selected = filter;
            return path;
        };
    }

    ChooserScripts choosers;
    ScriptedChoosers answering{choosers};
    std::unique_ptr<MainWindow> win;
    Tree::_DBItemNode* node = nullptr;
    int formsOpened = 0;
    QString offeredPath;
    QString offeredFilters;
};

}  // namespace

TEST_F(FlowsTest, NewContactIsStoredAppendedAndShown) {
    // Selecting a group: the contact goes into the group's database and is appended as the
    // last row of the list shown.
    answerEditForm("Bea", "Lee", "555-0101");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    EXPECT_EQ(formsOpened, 1);
    EXPECT_EQ(listedNames(), (QStringList{"Ann Lee", "Ben Lee", "Cid Moe", "Bea Lee"}));
    EXPECT_EQ(ui()->treeContacts->currentIndex().row(), 3);
    EXPECT_EQ(ui()->wdContactInfo->shownContact().fullName, "Bea Lee");
    EXPECT_TRUE(paneText(ui()->wdContactInfo).contains("555-0101"));
    EXPECT_EQ(storedNames(), (QStringList{"Ann Lee", "Bea Lee", "Ben Lee", "Cid Moe"}));
    const pim::_Contact bea = node->db->contacts(0, "Bea").value(0);
    ASSERT_EQ(bea.entities.value(pim::ENTITY_PHONE).size(), 1);
    EXPECT_EQ(bea.entities.value(pim::ENTITY_PHONE)[0].fields.value("data1").toString(),
              "555-0101");
    EXPECT_TRUE(Boxes::instance().shown.empty()) << Boxes::instance().dump().toStdString();

    // The form refuses a name that exists and a blank name; nothing is written.
    answerEditForm("Ann", "Lee");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    answerEditForm("  ", "");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Warning, "IDS_CONTACT_NAME_Ann Lee_EXIST"))
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Warning, "IDS_ENTER_FIRSTNAME_OR_LASTNAME"));
    EXPECT_EQ(node->db->contacts().size(), 4);
    EXPECT_EQ(win->contactsModel().size(), 4);

    // With a root current, no form opens at all.
    formsOpened = 0;
    ui()->treeMain->setCurrentIndex(tree().index(1, 0));
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    EXPECT_EQ(formsOpened, 0);
}

TEST_F(FlowsTest, EditRenamesInPlaceAndResortsTheList) {
    // Double-click on Ann: renamed to Zed, the row moves to its sorted place and stays current.
    answerEditForm("Zed", nullptr);
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    EXPECT_EQ(formsOpened, 1);
    EXPECT_EQ(listedNames(), (QStringList{"Ben Lee", "Cid Moe", "Zed Lee"}));
    EXPECT_EQ(ui()->treeContacts->currentIndex().row(), 2);
    EXPECT_EQ(ui()->wdContactInfo->shownContact().fullName, "Zed Lee");
    const pim::_Contact zed = node->db->contacts(0, "Zed").value(0);
    EXPECT_EQ(zed.fullName, "Zed Lee");
    ASSERT_EQ(zed.entities.value(pim::ENTITY_NAME).size(), 1);
    EXPECT_EQ(zed.entities.value(pim::ENTITY_NAME)[0].fields.value("data2").toString(), "Zed");
    EXPECT_EQ(zed.entities.value(pim::ENTITY_PHONE).size(), 1);  // untouched details stay

    // The edit command works on the one selected row; with two rows it does nothing.
    selectRows({0, 1});
    answerEditForm("Bob", nullptr);
    QMetaObject::invokeMethod(win.get(), "miContactEdit");
    EXPECT_EQ(formsOpened, 1);
    // Ctrl-click takes row 1 out again: the edit is of Ben, the row still selected, not of
    // the current row.
    ui()->treeContacts->selectionModel()->setCurrentIndex(
        win->contactsModel().indexOfPos(1),
        QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    QMetaObject::invokeMethod(win.get(), "miContactEdit");
    EXPECT_EQ(formsOpened, 2);
    EXPECT_EQ(storedNames(), (QStringList{"Bob Lee", "Cid Moe", "Zed Lee"}));

    // Saving without a change, cancelling, or a double-click below the last row write nothing.
    choosers.editForm = [this](EditContactForm& form) {
        ++formsOpened;
        form.form().btnSave->click();
        return form.result();
    };
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    choosers.editForm = [this](EditContactForm& form) {
        ++formsOpened;
        form.editor()->nameEdit.firstName->setText("Lost");
        return 0;
    };
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(1)));
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, QModelIndex()));
    EXPECT_EQ(formsOpened, 4);
    EXPECT_EQ(storedNames(), (QStringList{"Bob Lee", "Cid Moe", "Zed Lee"}));
    EXPECT_TRUE(Boxes::instance().shown.empty()) << Boxes::instance().dump().toStdString();
}

TEST_F(FlowsTest, FailedSaveRollsBackAndKeepsTheList) {
    node->db->db().executeScriptThrow(
        "CREATE TRIGGER locked BEFORE UPDATE ON data "
        "BEGIN SELECT RAISE(ABORT, 'names are <locked>'); END;"
        "CREATE TRIGGER noadd BEFORE INSERT ON data "
        "BEGIN SELECT RAISE(ABORT, 'no new details'); END;");
    // The rename's name update fails inside the transaction.
    answerEditForm("Zed", nullptr);
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "names are &lt;locked&gt;"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(storedNames(), (QStringList{"Ann Lee", "Ben Lee", "Cid Moe"}));
    EXPECT_EQ(listedNames(), (QStringList{"Ann Lee", "Ben Lee", "Cid Moe"}));

    // A new contact whose details cannot be stored leaves no contact row behind.
    answerEditForm("New", "Person");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "no new details"));
    EXPECT_EQ(node->db->isContactBaseExist("New Person"), 0u);
    EXPECT_EQ(node->db->contacts().size(), 3);
    EXPECT_EQ(win->contactsModel().size(), 3);
    // The store is usable afterwards: no transaction was left open.
    node->db->db().executeScriptThrow("DROP TRIGGER noadd; DROP TRIGGER locked;");
    QMetaObject::invokeMethod(win.get(), "miNewContact");
    EXPECT_EQ(node->db->contacts().size(), 4);
}

TEST_F(FlowsTest, DeletesSelectedContactsOrNothingOnFailure) {
    // No keeps everything.
    selectRows({0, 2});
    Boxes::instance().answerNext(false);
    QMetaObject::invokeMethod(win.get(), "miFileDelete");
    EXPECT_EQ(node->db->contacts().size(), 3);

    // A failing deletion rolls back: all contacts stay, listed and stored.
    node->db->db().executeScriptThrow(
        "CREATE TRIGGER keep BEFORE DELETE ON contact WHEN OLD.full_name = 'Cid Moe' "
        "BEGIN SELECT RAISE(ABORT, 'Cid stays'); END;");
    selectRows({0, 2});
    QMetaObject::invokeMethod(win.get(), "miFileDelete");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "Cid stays"));
    EXPECT_FALSE(Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_DEL_CONTACTS"));
    EXPECT_EQ(storedNames(), (QStringList{"Ann Lee", "Ben Lee", "Cid Moe"}));
    EXPECT_EQ(node->db->contacts(0, "ann@x.org").size(), 1);  // details came back as well
    node->db->db().executeScriptThrow("DROP TRIGGER keep;");

    // Yes after a search: the selected two go, one success box, the whole list comes back.
    ui()->txtKeyword->setText("Lee");
    ui()->btnSearch->pressed();
    selectRows({0, 1});
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miFileDelete");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Question, "IDS_CONFIRM_DEL_SELECTIONS"));
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Information), 1);
    EXPECT_EQ(storedNames(), QStringList{"Cid Moe"});
    EXPECT_EQ(listedNames(), QStringList{"Cid Moe"});
    EXPECT_EQ(ui()->lbTotal->text(), "Total:1");
    EXPECT_EQ(ui()->treeContacts->currentIndex().row(), 0);
    EXPECT_TRUE(ui()->lbDisplayKeyword->isHidden());
    // Nothing of the deleted contacts is left in the detail rows.
    Sqlite3Cursor cur = node->db->db().queryThrow(
        "SELECT COUNT(*) FROM data WHERE contact_id NOT IN (SELECT _id FROM contact)");
    ASSERT_TRUE(cur.moveNext());
    EXPECT_EQ(cur.getInt(0), 0);
}

TEST_F(FlowsTest, ExportsEveryKindFromNodeAndSelection) {
    // Node scope (nothing selected): each kind, the extension added to a bare name.
    const QString base = QDir(home()).absoluteFilePath("list");
    const QStringList all = {"Ann Lee", "Ben Lee", "Cid Moe"};
    ui()->treeContacts->clearSelection();

    answerSave(base, kVcf);
    QMetaObject::invokeMethod(win.get(), "miFileExport");
    EXPECT_EQ(offeredFilters.split(";;"), (QStringList{kVcf, kCsv, kTxt, kHtml, kDoc, kPdf}));
    EXPECT_TRUE(
        QRegExp(QRegExp::escape(home()) + "/contacts\\(\\d{8}-\\d{6}\\)").exactMatch(offeredPath))
        << offeredPath.toStdString();
    EXPECT_EQ(vcardNames(base + ".vcf"), all);
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_EXPORT_3_CONTACTS_TO_FILE"))
        << Boxes::instance().dump().toStdString();

    answerSave(base, kCsv);
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    CSVImport csv;
    csv.initialize(base + ".csv");
    ASSERT_EQ(csv.total(), 3);
    QStringList csvNames;
    while (csv.hasNext()) {
        csvNames << csv.nextContact().fullName;
    }
    csv.uninitialize();
    EXPECT_EQ(csvNames, all);

    answerSave(base, kTxt);
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    const QString txt = QString::fromUtf8(readAll(base + ".txt"));
    // A table: first and last names stand in columns of their own.
    for (const char* n : {"First Name", "Ann", "Ben", "Cid", "Moe"}) {
        EXPECT_TRUE(txt.contains(n)) << n;
    }

    // HTML and Word: the same page, written as the file named; its pictures folder beside it,
    // one of its own for the second page of that name.
    for (const char* f : {kHtml, kDoc}) {
        answerSave(base, f);
        QMetaObject::invokeMethod(win.get(), "miTreeExport");
        const QString name = QString("list") + (f == kHtml ? ".html" : ".doc");
        const QString page = QDir(home()).absoluteFilePath(name);
        EXPECT_TRUE(QFileInfo(page).isFile()) << page.toStdString();
        const QString html = QString::fromUtf8(readAll(page));
        EXPECT_TRUE(html.contains("<html", Qt::CaseInsensitive)) << page.toStdString();
        EXPECT_TRUE(html.contains("Cid Moe"));
        const QString folder = f == kHtml ? "list_files" : "list_files-2";
        EXPECT_TRUE(html.contains("src=\"" + folder + "/contact.png\""));
        EXPECT_TRUE(QFileInfo(QDir(home()).absoluteFilePath(folder + "/contact.png")).isFile());
    }

    // PDF: written under the progress dialog; the success box counts the cards.
    Boxes::instance().reset();
    answerSave(base, kPdf);
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    EXPECT_TRUE(readAll(base + ".pdf").startsWith("%PDF"));
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_EXPORT_3_CONTACTS_TO_FILE"))
        << Boxes::instance().dump().toStdString();

    // Selection scope: only the two selected; a suffix of the user's own is kept.
    selectRows({0, 2});
    answerSave(base + ".txt", kVcf);
    QMetaObject::invokeMethod(win.get(), "miFileExport");
    EXPECT_EQ(vcardNames(base + ".txt"), (QStringList{"Ann Lee", "Cid Moe"}));
    Boxes::instance().reset();
    answerSave(QDir(home()).absoluteFilePath("two"), kPdf);
    QMetaObject::invokeMethod(win.get(), "miContactExport");
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_EXPORT_2_CONTACTS_TO_FILE"));

    // A group node exports its members only.
    node->db->beginEdit();
    const quint64 gid = node->db->getGroupIdOrAdd("Friends");
    node->db->setGroup(node->db->contacts(0, "Ben").value(0)._id, gid, "Friends");
    node->db->endEdit(true);
    tree().refreshDbNodeGroups(node);
    ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node->children.value(0)));
    answerSave(QDir(home()).absoluteFilePath("friends"), kVcf);
    QMetaObject::invokeMethod(win.get(), "miFileExport");
    EXPECT_EQ(vcardNames(QDir(home()).absoluteFilePath("friends.vcf")), QStringList{"Ben Lee"});
}

TEST_F(FlowsTest, ExportFailuresAndCancelsAreReported) {
    // A cancelled dialog or a filter that is none of the six: nothing happens, nothing shown.
    answerSave(QString(), kVcf);
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    answerSave(QDir(home()).absoluteFilePath("x"), "All files(*)");
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    EXPECT_TRUE(Boxes::instance().shown.empty());
    EXPECT_TRUE(QDir(home()).entryList(QDir::Files).isEmpty());

    // A target below a plain file cannot be written: an error, never a success box.
    QFile blocker(QDir(home()).absoluteFilePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const char* f : {kVcf, kPdf}) {
        Boxes::instance().reset();
        answerSave(QDir(home()).absoluteFilePath("blocker/out"), f);
        QMetaObject::invokeMethod(win.get(), "miTreeExport");
        EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
            << f << Boxes::instance().dump().toStdString();
        EXPECT_EQ(Boxes::instance().count(QMessageBox::Information), 0) << f;
    }

    // A name that stands for an existing file, also once its suffix is added, is replaced only
    // when the user says so.
    const QString kept = QDir(home()).absoluteFilePath("kept");
    for (const auto& target :
         {std::make_pair(kVcf, kept + ".vcf"), std::make_pair(kPdf, kept + ".pdf"),
          std::make_pair(kHtml, kept + ".html"), std::make_pair(kDoc, kept + ".doc")}) {
        QFile old(target.second);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("earlier");
        old.close();
        Boxes::instance().reset();
        Boxes::instance().answerNext(false);
        answerSave(kept, target.first);
        QMetaObject::invokeMethod(win.get(), "miTreeExport");
        EXPECT_EQ(readAll(target.second), QByteArray("earlier")) << target.first;
        ASSERT_EQ(Boxes::instance().shown.size(), 1u) << Boxes::instance().dump().toStdString();
        EXPECT_EQ(Boxes::instance().shown[0].icon, QMessageBox::Question);
        EXPECT_TRUE(Boxes::instance().shown[0].text.contains(QFileInfo(target.second).fileName()));

        Boxes::instance().reset();
        Boxes::instance().answerNext(true);
        QMetaObject::invokeMethod(win.get(), "miTreeExport");
        EXPECT_NE(readAll(target.second), QByteArray("earlier")) << target.first;
        EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                               "IDS_SUC_EXPORT_3_CONTACTS_TO_FILE"))
            << Boxes::instance().dump().toStdString();
    }
}

TEST_F(FlowsTest, PrintReachesThePrinterWithTheChosenContacts) {
    // The print preview is modal: once it has drawn its pages, note the cards and close it.
    int cards = -2;
    bool previewSeen = false;
    std::function<void()> closePreview = [&] {
        auto* dlg = qobject_cast<CardPreview*>(QApplication::activeModalWidget());
        auto* printer = win->findChild<ContactsPrinter*>();
        if (!dlg || !printer) {
            QTimer::singleShot(20, closePreview);
            return;
        }
        previewSeen = true;
        waitFor([&] { return printer->cardCount() > 0; }, 5000);
        cards = printer->cardCount();
        dlg->reject();
    };
    QTimer::singleShot(0, closePreview);
    ui()->treeContacts->clearSelection();
    QMetaObject::invokeMethod(win.get(), "miFilePrint");
    EXPECT_TRUE(previewSeen);
    EXPECT_EQ(cards, 3);
    EXPECT_EQ(win->findChild<ContactsPrinter*>(), nullptr);  // released after the preview

    cards = -2;
    selectRows({1});
    QTimer::singleShot(0, closePreview);
    QMetaObject::invokeMethod(win.get(), "miFilePrint");
    EXPECT_EQ(cards, 1);
    EXPECT_TRUE(Boxes::instance().shown.empty()) << Boxes::instance().dump().toStdString();
}
