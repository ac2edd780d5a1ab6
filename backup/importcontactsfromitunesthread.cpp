#include "importcontactsfromitunesthread.h"

#include <localdb.h>
#include <mergerun.h>
#include <runreporter.h>

#include <stdexcept>

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

bool ImportContactsFromiTunesThread::readPersons(QList<pim::_Contact>& contacts) {
    AddressBookReader::Progress steps;
    steps.cancelled = [this] { return progress->cancelled(); };
    steps.step = [this](int percent, int i, int n) {
        progress->progress(tr("IDS_READING_CONTACTS_FROM_ITUNES"), percent,
                           QStringLiteral("Contacts:%1/%2").arg(i).arg(n));
    };
    reader.reset(new AddressBookReader(backup, db->combineRule(), steps));
    const bool complete = reader->read(contacts);
    photoError = reader->photoError();
    return complete;
}

void ImportContactsFromiTunesThread::storeUnnamed(pim::_Contact contact) {
    // Nothing to know it by: stored as it is, never merged into another nameless contact.
    db->insertContactBase(contact);
    for (auto t = contact.entities.begin(); t != contact.entities.end(); ++t) {
        for (pim::Entity& e : t.value())
            db->insertEntity(contact._id, t.key(), e);
    }
}

void ImportContactsFromiTunesThread::run() {
    QList<pim::_Contact> contacts;
    try {
        const bool complete = readPersons(contacts);
        // The temporary copies go on every road, a cancel included.
        closeAndRemoveCopies();
        if (!complete)
            return;
    } catch (const std::exception& e) {
        closeAndRemoveCopies();
        progress->error(QString::fromUtf8(e.what()));
        return;
    }

    // Reading filled the first half of the bar; writing fills the second.
    MergeRun merge(*db, *progress);
    merge.setProgress(tr("IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB"), 50, 100);
    merge.setStep([this, &merge, &contacts](int index, const pim::_Contact&) {
        pim::_Contact& incoming = contacts[index];
        MergeRun::Result result = MergeRun::ADDED;
        if (incoming.fullName.isEmpty()) {
            storeUnnamed(incoming);
        } else {
            // The address book leaves out what a person has no value for; what an earlier
            // import stored of it reads back as empty text, and must compare equal to it, or a
            // second import would add the same details again.
            result = merge.merge(incoming, LocalDb::ABSENT_IS_EMPTY_TEXT);
        }
        // Nothing reads a merged contact again: its memory goes back now, for the next
        // merges to take, rather than all at once after the last.
        incoming = pim::_Contact();
        return result;
    });
    ListSource source(contacts);
    if (merge.run(source) != MergeRun::FINISHED)
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
    progress->succeed(text);
}
