// When a backup was made, as the chooser shows it and orders by: the "Date" of Manifest.plist
// (a backup without Status.plist) and the time of Status.plist are both moments, shown in this
// computer's zone. Also run in zones either side of UTC.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/loaditunesbackupdlg.h"
#include "device/plistcftype.h"

#include "tests/messageboxhook.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/time.h>

using namespace fixture;

namespace {

// The moment the backups below were made, around a change to summer time in Europe.
const QDateTime kMade(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC);

// Manifest.plist as a phone's backup holds it: the date is an instant in UTC ("Z").
QByteArray manifestXml(const QString& udid, const QString& name) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\"><dict>\n"
               "<key>Date</key><date>2026-03-29T00:30:00Z</date>\n"
               "<key>IsEncrypted</key><false/>\n"
               "<key>Lockdown</key><dict>\n"
               "<key>DeviceName</key><string>%2</string>\n"
               "<key>ProductVersion</key><string>17.5</string>\n"
               "<key>UniqueDeviceID</key><string>%1</string>\n"
               "</dict>\n"
               "<key>Version</key><string>10.0</string>\n"
               "</dict></plist>\n")
        .arg(udid, name)
        .toUtf8();
}

void setTime(const QString& path, const QDateTime& when) {
    struct timeval tv[2];
    tv[0].tv_sec = tv[1].tv_sec = when.toSecsSinceEpoch();
    tv[0].tv_usec = tv[1].tv_usec = 0;
    ASSERT_EQ(utimes(QFile::encodeName(path).constData(), tv), 0) << path.toStdString();
}

QString shown(const QDateTime& moment) {
    return QLocale::system().toString(moment.toLocalTime(), QLocale::ShortFormat);
}

}  // namespace

TEST(BackupOwnDate, ManifestDateAndStatusTimeAreMomentsInLocalTime) {
    // A zone copy of this test whose zone is not there would pass without testing anything.
    const QByteArray tz = qgetenv("TZ");
    if (!tz.isEmpty() && tz != "UTC") {
        ASSERT_NE(kMade.toLocalTime().offsetFromUtc(), 0) << "no zone data for " << tz.data();
    }

    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const QDir root(
        QDir(home.path()).absoluteFilePath("Library/Application Support/MobileSync/Backup"));

    // Without Status.plist: the date of Manifest.plist, written as a phone writes it.
    const QString manifestOnly = root.absoluteFilePath("manifest");
    {
        BackupBuilder b(manifestOnly, BackupBuilder::DB);
        b.setDevice("manifest", "Manifest");
        b.build();
    }
    writeFile(QDir(manifestOnly).absoluteFilePath("Manifest.plist"),
              manifestXml("manifest", "Manifest"));
    // With Status.plist: its time, an hour either side, so that a date off by the zone's
    // offset sorts on the wrong side of one of them.
    for (const auto& [name, hours] : {std::pair<QString, int>{"earlier", -1}, {"later", 1}}) {
        const QString dir = root.absoluteFilePath(name);
        BackupBuilder b(dir, BackupBuilder::DB);
        b.setDevice(name, name);
        b.setDate(kMade.addSecs(hours * 3600));
        b.setSnapshotState("finished");
        b.build();
        setTime(QDir(dir).absoluteFilePath("Status.plist"), kMade.addSecs(hours * 3600));
    }

    {
        BackupManifest bm(manifestOnly);
        bm.readManifestInfo();
        EXPECT_EQ(bm.info.date.toMSecsSinceEpoch(), kMade.toMSecsSinceEpoch());
        // The same file in the binary form, as newer backups hold it.
        writeFile(QDir(manifestOnly).absoluteFilePath("Manifest.plist"),
                  PlistCFType::createCFPropertyList(manifestXml("manifest", "Manifest"))
                      .CFPropertyListToBytes(kCFPropertyListBinaryFormat_v1_0));
        BackupManifest binary(manifestOnly);
        binary.readManifestInfo();
        EXPECT_EQ(binary.info.date.toMSecsSinceEpoch(), kMade.toMSecsSinceEpoch());
        EXPECT_EQ(binary.info.deviceName, QString("Manifest"));
    }

    g_setMessageBoxHook([](QMessageBox&) { return int(QMessageBox::Ok); });
    {
        LoadItunesBackupDlg dlg(nullptr);
        QStringList names, dates;
        for (int r = 0; r < dlg.model()->rowCount(); ++r) {
            names << dlg.model()->index(r, 0).data().toString();
            dates << dlg.model()->index(r, 1).data().toString();
        }
        EXPECT_EQ(names, (QStringList{"later", "Manifest", "earlier"}))
            << names.join(",").toStdString();
        EXPECT_EQ(dates, (QStringList{shown(kMade.addSecs(3600)), shown(kMade),
                                      shown(kMade.addSecs(-3600))}))
            << dates.join(" | ").toStdString();
    }
    g_setMessageBoxHook(MessageBoxHook());
    qputenv("HOME", oldHome);
}
