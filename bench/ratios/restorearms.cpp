#include "restorearms.h"

#include "arms.h"

#include "bench/onesession.h"
#include "device/workers/iossynctodevicethread.h"
#include "store/combinerule.h"
#include "store/localdb.h"
#include "store/mirrorfile.h"
#include "ui/progressform.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <exception>

namespace arms {

namespace {

const char* const kUdid = "00008030-0000BE7C40000001";

// The book as the restore command takes it: the listed contacts with their stored photos.
QList<pim::_Contact> bookWithPhotos(const QString& dir, double* photoMb) {
    LocalDb db(refDbPath(dir, "vcard"),
               QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    QList<pim::_Contact> contacts = db.contacts();
    db.loadPhotos(contacts);
    qint64 bytes = 0;
    for (const pim::_Contact& c : contacts) {
        for (const pim::Entity& p : c.entities.value(pim::ENTITY_PHOTO))
            bytes += p.fields.value(QStringLiteral("data15")).toByteArray().size();
    }
    *photoMb = bytes / 1e6;
    return contacts;
}

int restoreArm(const QString& dir, const QList<pim::_Contact>& contacts) {
    const QString mirror = dir + QStringLiteral("/run-restore-mirror.db");
    QFile::remove(mirror);
    LocalDb db(mirror, QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    db.create();
    // As the read of the phone at its connection leaves it.
    mirrorfile::useLargePages(db);
    QElapsedTimer t;
    t.start();
    int result = 0;
    {
        ProgressForm form(QString(), nullptr);
        IOSSyncToDeviceThread worker(QString::fromLatin1(kUdid), &db, contacts, &form);
        worker.start();
        result = form.exec();
        worker.wait();
    }
    const double s = t.nsecsElapsed() / 1e9;
    // The mirror stays until the next run, for comparing what runs stored. Counted, not read:
    // the contacts read back would weigh in the restore's peak memory.
    Sqlite3Cursor count = db.db().queryThrow("select count(*) from contact");
    const int stored = count.moveNext() ? count.getInt(0) : -1;
    if (result != 1 || stored != contacts.size()) {
        std::fprintf(stderr, "the restore failed: %d of %d stored\n", stored, contacts.size());
        return 1;
    }
    report(s);
    return 0;
}

int sendArm(const QList<pim::_Contact>& contacts) {
    QElapsedTimer t;
    t.start();
    try {
        onesession::send(QString::fromLatin1(kUdid), contacts);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the send failed: %s\n", e.what());
        return 1;
    }
    report(t.nsecsElapsed() / 1e9);
    return 0;
}

}  // namespace

QString restoreControlPath(const QString& dir) {
    return dir + QStringLiteral("/restore-ctl");
}

int runRestoreArm(const QString& arm, const QString& dir) {
    const bool restore = arm == QLatin1String("restore");
    if (!restore && arm != QLatin1String("restore-send"))
        return -1;
    if (!onesession::emptyPhone(restoreControlPath(dir))) {
        std::fprintf(stderr, "the restore's phone does not answer\n");
        return 1;
    }
    double photoMb = 0;
    const QList<pim::_Contact> contacts = bookWithPhotos(dir, &photoMb);
    const int rc = restore ? restoreArm(dir, contacts) : sendArm(contacts);
    if (rc != 0)
        return rc;
    // Both arms leave every contact on the phone with its details, or they did not do the
    // same work.
    const std::string count = onesession::answer(restoreControlPath(dir), "count");
    if (count.rfind("ok ", 0) != 0 || std::stoi(count.substr(3)) < contacts.size()) {
        std::fprintf(stderr, "the phone holds %s records for %d contacts\n", count.c_str(),
                     contacts.size());
        return 1;
    }
    std::printf("phone_records %s\n", count.substr(3).c_str());
    std::printf("photo_mb %.1f\n", photoMb);
    return 0;
}

}  // namespace arms
