// Every dialog of the program, built as the flows build it: a title of its own (not empty, not
// the designer's "Dialog", not an untranslated key) and an accessible name on every field the
// user types into or picks from.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextEdit>

#include "app/mainwindow.h"
#include "app/ui/aboutusform.h"
#include "app/ui/datasourceselform.h"
#include "app/ui/groupform.h"
#include "app/ui/localdbselform.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"
#include "editor/editcontactform.h"
#include "testutil.h"
#include "ui/progressform.h"
#include "ui/translator.h"
#include "resources/ui/uiresources.h"

namespace {

using namespace twtest;

// The fields a screen reader must be able to name; the line edit inside an editable combo box
// or a spin box belongs to that widget and is named with it.
bool isField(const QWidget* w) {
    if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
        qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w)) {
        return true;
    }
    if (qobject_cast<const QLineEdit*>(w)) {
        const QWidget* p = w->parentWidget();
        return !(qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p));
    }
    return false;
}

// Everything wrong with one window, one line each; empty when it is right.
QStringList problems(const QWidget& window) {
    QStringList out;
    const QString title = window.windowTitle().trimmed();
    const QString who = window.metaObject()->className();
    if (title.isEmpty() || title == "Dialog" || title.startsWith("IDS_")) {
        out << who + ": title \"" + title + "\"";
    }
    int fields = 0;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!isField(w)) {
            continue;
        }
        ++fields;
        const QString name = w->accessibleName().trimmed();
        if (name.isEmpty() || name.startsWith("IDS_")) {
            out << who + ": unnamed " + w->metaObject()->className() + " \"" + w->objectName() +
                       "\" name \"" + name + "\"";
        }
    }
    return out;
}

pim::Entity entity(std::initializer_list<std::pair<const char*, QVariant>> kv) {
    pim::Entity e;
    for (const auto& p : kv) {
        e.fields.insert(QLatin1String(p.first), p.second);
    }
    return e;
}

// A contact with two of every detail, so that every kind of editor row exists.
pim::_Contact everyDetail() {
    pim::_Contact c = makeContact("Ada", "Lovelace", "+44 20 1234", "ada@example.org");
    c.entities[pim::ENTITY_PHONE].append(entity({{"data1", "555"}, {"data2", 1}}));
    c.entities[pim::ENTITY_EMAIL].append(entity({{"data1", "a@b.c"}, {"data2", 2}}));
    for (int i = 0; i < 2; ++i) {
        c.entities[pim::ENTITY_EVENT].append(entity({{"data1", "1815-12-10"}, {"data2", 3 - i}}));
        c.entities[pim::ENTITY_IM].append(entity({{"data1", "ada"}, {"data2", 1}, {"data5", 0}}));
        c.entities[pim::ENTITY_REL].append(entity({{"data1", "Byron"}, {"data2", 1}}));
        c.entities[pim::ENTITY_ADDR].append(entity({{"data4", "12 St James's Square"},
                                                    {"data7", "London"},
                                                    {"data10", "UK"},
                                                    {"data2", 1}}));
        c.entities[pim::ENTITY_URL].append(entity({{"data1", "http://x.example"}, {"data2", 1}}));
    }
    c.entities[pim::ENTITY_NICKNAME].append(entity({{"data1", "Enchantress"}}));
    c.entities[pim::ENTITY_NOTES].append(entity({{"data1", "Notes on the engine"}}));
    c.entities[pim::ENTITY_ORG].append(entity({{"data1", "Analytical"}, {"data4", "Countess"}}));
    return c;
}

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
    }
};

TEST_F(DialogsTest, EveryDialogHasATitleAndNamedFields) {
    QTemporaryDir dir;
    const QString dbPath = dir.filePath("family.db");
    makeDb(dbPath, {makeContact("Ann", "Lee")});
    LocalDb db(dbPath, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    const pim::_Contact full = everyDetail();
    const pim::_Contact blank;

    QStringList found;
    {
        AboutUsForm about(nullptr);
        found << problems(about);
    }
    {
        DataSourceSelForm source(nullptr);
        found << problems(source);
    }
    {
        GroupForm group(&db, nullptr);
        found << problems(group);
    }
    {
        LocalDbSelForm name(nullptr, "family-backup.db");
        found << problems(name);
    }
    {
        ProgressForm untitled{QString()};
        // The flows hand the form a translated heading.
        const QString heading =
            QCoreApplication::translate("MainWindow", "IDS_STARTING_IMPORT_CONTACTS_FROM_FILE");
        ProgressForm titled(heading);
        found << problems(untitled) << problems(titled);
        EXPECT_EQ(titled.windowTitle(), heading);
    }
    {
        LoadItunesBackupDlg chooser;
        PasscodeDlg passcode(nullptr);
        found << problems(chooser) << problems(passcode);
    }
    {
        EditContactForm fresh(nullptr, &db);
        EditContactForm empty(&blank, &db);
        EditContactForm edit(&full, nullptr);
        found << problems(fresh) << problems(empty) << problems(edit);
        // The edit really has every kind of row the walk is meant to see.
        EXPECT_GE(edit.findChildren<QTextEdit*>().size(), 3);
        EXPECT_GE(edit.findChildren<QAbstractSpinBox*>().size(), 2);
        EXPECT_GE(edit.findChildren<QComboBox*>().size(), 14);
    }
    {
        MainWindow window;
        found << problems(window);
    }
    EXPECT_TRUE(found.isEmpty()) << found.join("\n").toStdString();
}

TEST_F(DialogsTest, FieldNamesComeFromTheirLabels) {
    const pim::_Contact full = everyDetail();
    EditContactForm edit(&full, nullptr);
    QStringList names;
    for (QWidget* w : edit.findChildren<QWidget*>()) {
        if (isField(w)) {
            names << w->accessibleName();
        }
    }
    for (const char* expected : {"First Name", "Last Name", "Phone", "Phone type", "E-Mail",
                                 "Notes", "City", "Street", "IM service", "Company"}) {
        EXPECT_TRUE(names.contains(expected) ||
                    std::any_of(names.begin(), names.end(),
                                [&](const QString& n) { return n.startsWith(expected); }))
            << expected << " not among " << names.join(", ").toStdString();
    }

    DataSourceSelForm source(nullptr);
    // The question the caller asks becomes the title and the chooser's name.
    QMetaObject::invokeMethod(&source, "reject", Qt::QueuedConnection);
    source.execSel("Pick the phone to write to.", {});
    EXPECT_EQ(source.windowTitle(), "Pick the phone to write to.");
    EXPECT_EQ(source.findChild<QComboBox*>()->accessibleName(), "Pick the phone to write to.");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    tw_initUiResources();
    TwTranslator translator;
    if (!translator.load(":/en.qm")) {
        return 2;
    }
    app.installTranslator(&translator);
    Boxes::instance().install();
    const int rc = RUN_ALL_TESTS();
    g_setMessageBoxHook(MessageBoxHook());
    app.removeTranslator(&translator);
    return rc;
}
