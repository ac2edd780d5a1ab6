#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "app/ui/aboutusform.h"
#include "app/ui/datasourceselform.h"
#include "app/ui/groupform.h"
#include "app/ui/localdbselform.h"
#include "ui/stylesheet.h"
#include "ui/winmovable.h"
#include "store/combinerule.h"
#include "store/localdb.h"
#include "testsupport.h"

namespace {

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button) {
    // Moves carry a held button, as in a real drag (plain hover moves are not delivered).
    QMouseEvent e(
        type, pos, w->mapToGlobal(pos), button,
        type == QEvent::MouseMove ? Qt::MouseButtons(Qt::LeftButton) : Qt::MouseButtons(button),
        Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void pressOk(QDialog& dialog, const char* name) {
    QTest::mousePress(dialog.findChild<QPushButton*>(name), Qt::LeftButton);
}

// Runs `steps` inside the dialog's modal loop, then closes it with Cancel if still open.
void whileOpen(QDialog& dialog, std::function<void()> steps, const char* cancel = "btnClose") {
    QTimer::singleShot(0, [&dialog, steps, cancel]() {
        steps();
        if (dialog.isVisible()) {
            QTest::mousePress(dialog.findChild<QPushButton*>(cancel), Qt::LeftButton);
        }
    });
}

// Types text (unless null) and confirms; a refused name is then closed with Cancel.
QString typeAndConfirm(const QString& text, const QString& defaultName = {}) {
    LocalDbSelForm form(nullptr, defaultName);
    whileOpen(form, [&]() {
        if (!text.isNull()) {
            form.findChild<QComboBox*>("cbLocalDbNames")->setEditText(text);
        }
        pressOk(form, "btnOK");
    });
    return form.execGetDbName();
}

void touchDb(const QString& name, int ageSeconds) {
    const QString path = LocalDb::dbDir().absoluteFilePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.close();
    f.open(QIODevice::ReadWrite);
    f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                  QFileDevice::FileModificationTime);
}

}  // namespace

TEST(WinMovable, DragsWithTheLeftButtonOnly) {
    QWidget w;
    w.setGeometry(100, 100, 200, 100);
    WinMovable movable(&w);

    sendMouse(&w, QEvent::MouseMove, {30, 20}, Qt::NoButton);  // no press yet
    EXPECT_EQ(w.geometry().topLeft(), QPoint(100, 100));

    sendMouse(&w, QEvent::MouseButtonPress, {10, 5}, Qt::LeftButton);
    sendMouse(&w, QEvent::MouseMove, {30, 20}, Qt::NoButton);
    EXPECT_EQ(w.geometry().topLeft(), QPoint(120, 115));

    sendMouse(&w, QEvent::MouseButtonRelease, {30, 20}, Qt::LeftButton);
    sendMouse(&w, QEvent::MouseMove, {50, 50}, Qt::NoButton);
    EXPECT_EQ(w.geometry().topLeft(), QPoint(120, 115));

    sendMouse(&w, QEvent::MouseButtonPress, {10, 5}, Qt::RightButton);
    sendMouse(&w, QEvent::MouseMove, {50, 50}, Qt::NoButton);
    EXPECT_EQ(w.geometry().topLeft(), QPoint(120, 115));

    sendMouse(&w, QEvent::MouseButtonPress, {0, 0}, Qt::LeftButton);  // the corner pixel
    sendMouse(&w, QEvent::MouseMove, {50, 50}, Qt::NoButton);
    EXPECT_EQ(w.geometry().topLeft(), QPoint(120, 115));

    // The filter never consumes: a button inside still gets its click.
    QPushButton button(&w);
    WinMovable onButton(&button);
    bool clicked = false;
    QObject::connect(&button, &QPushButton::clicked, [&clicked]() { clicked = true; });
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(clicked);
}

TEST(StyleSheet, ReadOnceAndCachedWhateverThePath) {
    g_resetStyleSheetCache();
    EXPECT_TRUE(getStyleSheet(":/no/such.css").isEmpty());  // failure is not cached
    const QString css = getStyleSheet(":/res/style.css");
    ASSERT_FALSE(css.isEmpty());
    EXPECT_TRUE(css.contains("#ProgressForm"));
    EXPECT_TRUE(css.contains("\r\n"));
    EXPECT_EQ(getStyleSheet(":/no/such.css"), css);
    EXPECT_EQ(getStyleSheet(":res/style.css"), css);
}

TEST(Resources, ImagesAndTranslationAreBuiltIn) {
    getStyleSheet(":/res/style.css");  // registers the resources
    for (const char* path : {":res/new_ct.png",
                             ":res/backup.png",
                             ":res/from_itunes.png",
                             ":res/i2i.png",
                             ":res/db2i.png",
                             ":res/import.png",
                             ":res/export.png",
                             ":res/print.png",
                             ":res/del.png",
                             ":res/open_db_folder.png",
                             ":res/exit.png",
                             ":res/help.png",
                             ":/res/search.png",
                             ":res/drop-arrow.png",
                             ":res/subwin-bg.png",
                             ":res/main-bg.png",
                             ":res/iphone.png",
                             ":res/icon_database.png",
                             ":res/icon_databases.png",
                             ":res/icon_devices.png",
                             ":res/group.png",
                             ":res/edit.png",
                             ":res/unmount.png",
                             ":res/add.png",
                             ":res/remove.png",
                             ":res/empty_contact.png",
                             ":res/iphone_setting1.jpg",
                             ":/main_icon"}) {
        EXPECT_FALSE(QImage(path).isNull()) << path;
    }
    EXPECT_EQ(QImage(":res/empty_contact.png").size(), QSize(128, 128));
    EXPECT_TRUE(QFile::exists(":/en.qm"));
}

TEST(LocalDbSelForm, ValidatesTheNameAndAppendsTheExtension) {
    BoxRecorder rec;
    EXPECT_EQ(typeAndConfirm("Work"), "Work.db");
    EXPECT_EQ(typeAndConfirm("Work.db"), "Work.db");
    EXPECT_EQ(typeAndConfirm("Work.DB"), "Work.DB.db");
    EXPECT_EQ(typeAndConfirm(" Work"), " Work.db");
    EXPECT_TRUE(rec.boxes.isEmpty());

    // Refused names keep the dialog open (closed here by Cancel: empty result).
    EXPECT_EQ(typeAndConfirm(""), "");
    EXPECT_EQ(typeAndConfirm("   "), "");
    ASSERT_EQ(rec.boxes.size(), 2);
    EXPECT_EQ(rec.boxes[0].text, "Select one Database or enter a new Database name");

    rec.boxes.clear();
    for (const char* bad : {"a/b", "c:d", "x\\y", "q?", "t\tt", ".hidden", "..", ".db"}) {
        EXPECT_EQ(typeAndConfirm(bad), "") << bad;
    }
    ASSERT_EQ(rec.boxes.size(), 8);
    for (const RecordedBox& box : rec.boxes) {
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        EXPECT_TRUE(box.text.contains("can't contain")) << box.text.toStdString();
    }
}

TEST(LocalDbSelForm, ListsDatabasesOldestFirstAfterAnEmptyEntry) {
    QDir dir = LocalDb::dbDir();
    for (const QString& f : dir.entryList(QDir::Files | QDir::Hidden)) {
        dir.remove(f);
    }
    {
        LocalDbSelForm form(nullptr, "");
        auto* combo = form.findChild<QComboBox*>("cbLocalDbNames");
        EXPECT_EQ(combo->count(), 1);
        EXPECT_EQ(combo->itemText(0), "");
        EXPECT_EQ(combo->currentText(), "");
    }
    touchDb("Newest.db", 10);
    touchDb("Oldest.db", 1000);
    touchDb("Middle.db", 100);
    touchDb("notes.txt", 50);
    touchDb(".Hidden.db", 50);
    LocalDbSelForm form(nullptr, "Phone-backup");
    auto* combo = form.findChild<QComboBox*>("cbLocalDbNames");
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(1), "Oldest.db");
    EXPECT_EQ(combo->itemText(2), "Middle.db");
    EXPECT_EQ(combo->itemText(3), "Newest.db");
    EXPECT_EQ(combo->currentText(), "Phone-backup");
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);

    // Picking an existing entry gives it back as it is.
    whileOpen(form, [&]() {
        combo->setCurrentIndex(2);
        pressOk(form, "btnOK");
    });
    EXPECT_EQ(form.execGetDbName(), "Middle.db");
}

TEST(LocalDbSelForm, DefaultNameIsReturnedWhenConfirmed) {
    BoxRecorder rec;
    EXPECT_EQ(typeAndConfirm(QString(), "iPhone of Ann-backup"), "iPhone of Ann-backup.db");
}

TEST(DataSourceSelForm, ReturnsTheChosenEntrysPointer) {
    BoxRecorder rec;
    int a = 1, b = 2;
    {
        DataSourceSelForm form(nullptr);
        whileOpen(form, [&]() { pressOk(form, "btnOK"); });
        EXPECT_EQ(form.execSel("Pick", {}), nullptr);
        ASSERT_EQ(rec.boxes.size(), 1);
        EXPECT_EQ(rec.boxes[0].text, "Please select one datasource.");
    }
    {
        DataSourceSelForm form(nullptr);
        whileOpen(form, [&]() {
            EXPECT_EQ(form.findChild<QLabel*>("lbSelDevice")->text(), "Select a phone");
            pressOk(form, "btnOK");
        });
        EXPECT_EQ(form.execSel("Select a phone", {{":res/iphone.png", "Ann", &a}}), &a);
    }
    {
        DataSourceSelForm form(nullptr);
        whileOpen(form, [&]() {
            form.findChild<QComboBox*>("cbDevice")->setCurrentIndex(1);
            pressOk(form, "btnOK");
        });
        EXPECT_EQ(
            form.execSel("x", {{":res/iphone.png", "Ann", &a}, {":res/iphone.png", "Bob", &b}}),
            &b);
    }
    {
        DataSourceSelForm form(nullptr);
        whileOpen(form, []() {});  // Cancel
        EXPECT_EQ(form.execSel("x", {{":res/iphone.png", "Ann", &a}}), nullptr);
    }
}

class GroupFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = LocalDb::dbDir().absoluteFilePath("groups-test.db");
        db.reset(new LocalDb(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
        db->create();
        db->beginEdit();
        workId = db->getGroupIdOrAdd("Work");
        familyId = db->getGroupIdOrAdd("Family");
        db->endEdit(true);
    }
    void TearDown() override { db->removeDB(); }

    // Opens the dialog, sets the field (unless null), presses OK, returns exec's result.
    int run(GroupForm& form, const QString& text, bool cancel = false) {
        int result = -1;
        QTimer::singleShot(0, [&]() {
            if (!text.isNull()) {
                form.findChild<QComboBox*>("cbGroups")->setEditText(text);
            }
            pressOk(form, cancel ? "btnCancel" : "btnOK");
            if (form.isVisible()) {
                QTest::mousePress(form.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
            }
        });
        result = form.exec();
        return result;
    }

    QString path;
    QScopedPointer<LocalDb> db;
    quint64 workId = 0, familyId = 0;
};

TEST_F(GroupFormTest, PicksListedGroupsAndNamesNewOnes) {
    {
        GroupForm form(db.data(), nullptr);
        auto* combo = form.findChild<QComboBox*>("cbGroups");
        ASSERT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->itemText(0), "Family");
        EXPECT_EQ(combo->currentText(), "Family");
        EXPECT_EQ(run(form, QString()), 1);
        EXPECT_EQ(form.groupName, "Family");
        EXPECT_EQ(form.groupId, familyId);
    }
    {
        GroupForm form(db.data(), nullptr);
        EXPECT_EQ(run(form, "  Work "), 1);
        EXPECT_EQ(form.groupName, "Work");
        EXPECT_EQ(form.groupId, workId);
    }
    {
        GroupForm form(db.data(), nullptr);
        EXPECT_EQ(run(form, "family"), 1);  // another letter case is another group
        EXPECT_EQ(form.groupName, "family");
        EXPECT_EQ(form.groupId, 0u);
    }
    {
        GroupForm form(db.data(), nullptr);
        EXPECT_EQ(run(form, "Work", true), 0);
    }
}

TEST_F(GroupFormTest, EmptyNameAsksBeforeUngrouping) {
    BoxRecorder rec({"No", "Yes"});
    GroupForm form(db.data(), nullptr);
    EXPECT_EQ(run(form, "   "), 0);  // No: stays open, closed by Cancel
    ASSERT_EQ(rec.boxes.size(), 1);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(rec.boxes[0].text, "Confirm to remove seleted member from the Group?");

    GroupForm again(db.data(), nullptr);
    EXPECT_EQ(run(again, ""), 1);
    EXPECT_EQ(again.groupName, "");
    EXPECT_EQ(again.groupId, 0u);
}

TEST_F(GroupFormTest, UnreadableDatabaseShowsOneErrorAndAnEmptyList) {
    BoxRecorder rec;
    LocalDb broken(LocalDb::dbDir().absoluteFilePath("missing-<b>x</b>.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    GroupForm form(&broken, nullptr);
    EXPECT_EQ(form.findChild<QComboBox*>("cbGroups")->count(), 0);
    ASSERT_EQ(rec.boxes.size(), 1);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(rec.boxes[0].text.contains("<b>x</b>"));
}

TEST(AboutUsForm, ShowsTheIconAndClosesWithOk) {
    AboutUsForm form(nullptr);
    auto* view = form.findChild<QGraphicsView*>("picApp");
    ASSERT_NE(view->scene(), nullptr);
    EXPECT_EQ(view->scene()->itemsBoundingRect().height(), 64);
    QTimer::singleShot(0, [&]() { pressOk(form, "btnOK"); });
    EXPECT_EQ(form.exec(), 1);
}
