// Whole imports of backups whose dates lie at midnight and at noon UTC (as phones of different
// years store them), birthdays without a year included, plain and encrypted, in the zone the
// test runs in (CTest runs it from UTC-11 to UTC+14): every date keeps the calendar day the
// phone shows and is stored as the phone road stores the same record.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "phone_road.h"

#include "tests/messageboxhook.h"
#include "ui/progressform.h"
#include "ui/translator.h"
#include "resources/ui/uiresources.h"

#include "store/combinerule.h"
#include "store/localdb.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fixture;

namespace {

long long at(int y, int m, int d, int hour) {
    static const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return ref.secsTo(QDateTime(QDate(y, m, d), QTime(hour, 0), Qt::UTC));
}

struct Dated {
    const char* first;
    long long birthday;
    long long anniversary;  // 0: none
    QString day;            // the calendar day the phone shows for the birthday
};

// Summer and winter on both sides of the equator, the nights clocks change (New York, Berlin,
// Auckland in 2024), leap days, the first and last day of a year without a year (1604).
QList<Dated> dated() {
    QList<Dated> out;
    struct Day {
        int y, m, d;
    };
    const Day days[] = {{1986, 8, 8},  {1604, 12, 31}, {1604, 1, 1}, {1990, 1, 15}, {1990, 7, 15},
                        {2024, 3, 10}, {2024, 3, 31},  {2024, 4, 7}, {2024, 9, 29}, {2024, 11, 3},
                        {2000, 2, 29}, {1969, 12, 31}, {1970, 1, 1}, {1955, 6, 30}, {2040, 10, 28}};
    static QList<QByteArray> names;
    for (const Day& d : days) {
        for (int hour : {0, 12}) {
            names << QStringLiteral("P%1-%2-%3h%4").arg(d.y).arg(d.m).arg(d.d).arg(hour).toUtf8();
            const long long s = at(d.y, d.m, d.d, hour);
            out << Dated{names.last().constData(), s, s - 86400 * 400,
                         QDate(d.y, d.m, d.d).toString(Qt::ISODate)};
        }
    }
    return out;
}

QByteArray addressBook() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("ab");
    QString sql = QStringLiteral(
        "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
        "Middle TEXT, Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday "
        "TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT);"
        "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
        "INTEGER, identifier INTEGER, label INTEGER, value TEXT);"
        "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));"
        "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT);"
        "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));"
        "INSERT INTO ABMultiValueLabel(rowid, value) VALUES (1,'_$!<Anniversary>!$_');");
    int row = 0;
    for (const Dated& d : dated()) {
        ++row;
        // Phones write dates as text with a fraction.
        sql += QStringLiteral(
                   "INSERT INTO ABPerson(ROWID, First, Last, Kind, Birthday) VALUES "
                   "(%1, '%2', 'Dated', 0, '%3.000000');"
                   "INSERT INTO ABMultiValue VALUES (%1, %1, 12, 0, 1, '%4');")
                   .arg(row)
                   .arg(d.first)
                   .arg(d.birthday)
                   .arg(d.anniversary);
    }
    runSql(path, sql + "PRAGMA journal_mode=WAL;");
    return readFile(path);
}

QString event(const pim::_Contact& c, int label) {
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
        if (e.fields.value("data2").toInt() == label)
            return e.text("data1");
    }
    return QStringLiteral("(none)");
}

QStringList import(BackupManifest& bm, LocalDb& db) {
    QStringList boxes;
    g_setMessageBoxHook([&boxes](QMessageBox& box) {
        boxes << box.text();
        return int(QMessageBox::Ok);
    });
    ProgressForm form{QString()};
    ImportContactsFromiTunesThread worker(bm, &db, &form);
    worker.start(QThread::InheritPriority);
    form.exec();
    worker.wait();
    g_setMessageBoxHook(MessageBoxHook());
    return boxes;
}

}  // namespace

TEST(BackupDates, EveryDateKeepsThePhonesDayAsThePhoneRoadStoresIt) {
    // A zone that the system lacks would quietly be UTC and prove nothing.
    const QByteArray zone = qgetenv("TZ");
    SCOPED_TRACE(zone.constData());
    if (!zone.isEmpty() && zone != "UTC") {
        ASSERT_NE(QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).toLocalTime().time(),
                  QTime(0, 0));
    }
    const QByteArray book = addressBook();
    struct Kind {
        BackupBuilder::Layout layout;
        bool encrypted;
        bool dp;
    };
    for (const Kind& k :
         {Kind{BackupBuilder::MBDB, false, false}, Kind{BackupBuilder::DB, true, true}}) {
        SCOPED_TRACE(k.encrypted);
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("backup");
        BackupBuilder b(folder, k.layout);
        if (k.encrypted)
            b.setEncrypted("1234", k.dp);
        b.addFile({"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", book, 3, false});
        b.build();
        LocalDb db(tmp.filePath("target.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        BackupManifest bm(folder);
        bm.readManifestInfo();
        if (k.encrypted) {
            ASSERT_TRUE(bm.setPasscodeNoUIThrow("1234"));
        }
        bm.parseInfo();
        const QStringList boxes = import(bm, db);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(
            boxes[0].startsWith(QString("Successfully imported %1 contacts").arg(dated().size())))
            << boxes[0].toStdString();
        QMap<QString, pim::_Contact> stored;
        for (const pim::_Contact& c : db.contacts())
            stored.insert(c.fullName, db.contact(c._id));
        for (const Dated& d : dated()) {
            SCOPED_TRACE(d.first);
            const pim::_Contact c = stored.value(QString(d.first) + " Dated");
            EXPECT_EQ(event(c, 3), phoneroad::birthday(double(d.birthday)));
            EXPECT_EQ(event(c, 3).left(10), d.day);
            EXPECT_EQ(event(c, 1), phoneroad::dateValue(double(d.anniversary)));
            EXPECT_EQ(event(c, 1).left(10),
                      QDate::fromString(d.day, Qt::ISODate).addDays(-400).toString(Qt::ISODate));
        }
    }
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The English texts come from the embedded translation, as in the program.
    tw_initUiResources();
    TwTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QApplication::installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
