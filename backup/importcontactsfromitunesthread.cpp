#include "importcontactsfromitunesthread.h"

#include "contactfeed.h"
#include "namelesscontacts.h"

#include "store/localdb.h"
#include "store/mergerun.h"
#include "store/runreporter.h"

#include <stdexcept>

namespace {

// The reader hashed each photo as it read it (the photo's "data4"): for the length of one
// merge the store takes those hashes instead of hashing the bytes again on the merging thread.
class ReadHashes {
public:
    ReadHashes(LocalDb& db, const pim::_Contact& contact) : m_db(db) {
        const auto photos = contact.entities.constFind(pim::ENTITY_PHOTO);
        if (photos == contact.entities.constEnd())
            return;
        LocalDb::KnownPhotoHashes hashes;
        for (const pim::Entity& photo : *photos) {
            const QString hash = photo.fields.value(QStringLiteral("data4")).toString();
            if (!hash.isEmpty())
                hashes.append(
                    qMakePair(photo.fields.value(QStringLiteral("data15")).toByteArray(), hash));
        }
        m_db.setKnownPhotoHashes(hashes);
    }
    ~ReadHashes() { m_db.setKnownPhotoHashes(LocalDb::KnownPhotoHashes()); }
    ReadHashes(const ReadHashes&) = delete;
    ReadHashes& operator=(const ReadHashes&) = delete;

private:
    LocalDb& m_db;
};

}  // namespace

ImportContactsFromiTunesThread::ImportContactsFromiTunesThread(BackupManifest& b, LocalDb* d,
                                                               RunReporter* p, QObject* parent)
    : QThread(parent), backup(b), db(d), progress(p) {}

ImportContactsFromiTunesThread::~ImportContactsFromiTunesThread() = default;

QString ImportContactsFromiTunesThread::dateText(long long seconds) {
    return AddressBookReader::dateText(seconds);
}

void ImportContactsFromiTunesThread::readAddr(unsigned long long uid, pim::Entity& e) {
    if (reader)
        reader->readAddr(uid, e);
}

void ImportContactsFromiTunesThread::readIM(unsigned long long uid, pim::Entity& e) {
    if (reader)
        reader->readIM(uid, e);
}

void ImportContactsFromiTunesThread::closeAndRemoveCopies() {
    // The copies, their logs and their folder go with the reader.
    reader.reset();
}

void ImportContactsFromiTunesThread::storeUnnamed(pim::_Contact contact) {
    // No name to merge under: stored as it is, never merged into another nameless contact.
    db->insertContactBase(contact);
    for (auto t = contact.entities.begin(); t != contact.entities.end(); ++t) {
        for (pim::Entity& e : t.value())
            db->insertEntity(contact._id, t.key(), e);
    }
}

void ImportContactsFromiTunesThread::run() {
    progress->progress(tr("IDS_READING_CONTACTS_FROM_ITUNES"), 0, QString());
    reader.reset(new AddressBookReader(backup, db->combineRule()));
    MergeRun merge(*db, *progress);
    merge.setProgress(tr("IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB"), 0, 100);
    NamelessContacts nameless(*db);
    merge.setStep([this, &merge, &nameless](int, const pim::_Contact& incoming) {
        const ReadHashes known(*db, incoming);
        if (incoming.fullName.isEmpty()) {
            // Known by its values alone: stored with the same ones before, it is that contact.
            if (nameless.take(incoming) != 0)
                return MergeRun::MERGED;
            storeUnnamed(incoming);
            return MergeRun::ADDED;
        }
        // The address book leaves out what a person has no value for; what an earlier import
        // stored of it reads back as empty text, and must compare equal to it, or a second
        // import would add the same details again.
        return merge.merge(incoming, LocalDb::ABSENT_IS_EMPTY_TEXT);
    });
    MergeRun::Outcome outcome = MergeRun::FAILED;
    {
        // Read on a thread of its own while the contacts read so far are merged.
        ContactFeed feed(*reader, [this] { return progress->cancelled(); });
        outcome = merge.run(feed);
        feed.stop();
    }
    photoError = reader->photoError();
    const QString lostChanges = reader->lostChanges();
    // The temporary copies go on every road, a cancel included.
    closeAndRemoveCopies();
    if (outcome != MergeRun::FINISHED)
        return;
    const int count = merge.counts().done;
    const int merged = merge.counts().merged;
    QString text = merged == 0 ? tr("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES").arg(count)
                               : tr("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES_%2_MERGED")
                                     .arg(count - merged)
                                     .arg(merged);
    if (!photoError.isEmpty())
        text += QLatin1Char('\n') +
                tr("The photos could not be read (%1); the contacts were imported without them.")
                    .arg(photoError);
    if (!lostChanges.isEmpty())
        text += QLatin1Char('\n') + lostChanges;
    progress->succeed(text);
}
