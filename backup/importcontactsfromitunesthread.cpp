#include "importcontactsfromitunesthread.h"

#include "ui/progressform.h"

#include <localdb.h>

#include <stdexcept>

ImportContactsFromiTunesThread::ImportContactsFromiTunesThread(BackupManifest& b, LocalDb* d,
                                                               ProgressForm* p, QObject* parent)
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
    steps.cancelled = [this] { return bool(progress->rejected); };
    steps.step = [this](int percent, int i, int n) {
        progress->invokeUpdateProgress(tr("IDS_READING_CONTACTS_FROM_ITUNES"), percent,
                                       QStringLiteral("Contacts:%1/%2").arg(i).arg(n));
    };
    reader.reset(new AddressBookReader(backup, db->combineRule(), steps));
    const bool complete = reader->read(contacts);
    photoError = reader->photoError();
    return complete;
}

void ImportContactsFromiTunesThread::fillComparedFields(pim::_Contact& contact) {
    // The merge compares stored values with incoming ones; a field the import leaves out reads
    // back as empty text and would never compare equal, so a second import would add the same
    // value again. Give every compared field its empty value.
    const QSharedPointer<AbsContactCombineRule> rule = db->combineRule();
    if (!rule)
        return;
    for (auto t = contact.entities.begin(); t != contact.entities.end(); ++t) {
        auto known = comparedKeys.find(t.key());
        if (known == comparedKeys.end()) {
            bool single = false;
            QStringList keys = rule->validFields(t.key(), single);
            keys += rule->checkEqualFieldsMin(t.key());
            keys += rule->checkEqualFieldsFull(t.key());
            keys.removeDuplicates();
            known = comparedKeys.insert(t.key(), keys);
        }
        const QStringList& keys = known.value();
        for (pim::Entity& e : t.value()) {
            for (const QString& key : qAsConst(keys)) {
                if (!e.fields.contains(key))
                    e.fields.insert(key, QString(QLatin1String("")));
            }
        }
    }
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
        progress->invokeErrorOccurred(QString::fromUtf8(e.what()));
        return;
    }

    bool editOpen = false;
    try {
        const int m = contacts.size();
        int merged = 0;
        int count = 0;
        // The store's batch path: one transaction, indexes rebuilt once for a large import.
        db->beginBulkEdit(m);
        editOpen = true;
        int shownPercent = -1;
        for (int k = 1; k <= m; ++k) {
            if (progress->rejected) {
                db->endEdit(false);
                return;
            }
            const int percent = int(double(k) / m * 50.0 + 50.0);
            if (percent != shownPercent || k == m) {
                shownPercent = percent;
                progress->invokeUpdateProgress(tr("IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB"),
                                               percent,
                                               QStringLiteral("Contacts:%1/%2").arg(k).arg(m));
            }
            pim::_Contact& incoming = contacts[k - 1];
            fillComparedFields(incoming);
            ++count;
            if (incoming.fullName.isEmpty()) {
                storeUnnamed(incoming);
                continue;
            }
            pim::_Contact stored;
            bool wasMerged = false;
            db->combineContact(incoming, stored, wasMerged);
            if (wasMerged)
                ++merged;
        }
        db->endEdit(true);
        editOpen = false;
        QString text = merged == 0 ? tr("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES").arg(count)
                                   : tr("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES_%2_MERGED")
                                         .arg(count - merged)
                                         .arg(merged);
        if (!photoError.isEmpty())
            text += QLatin1Char('\n') +
                    tr("The photos could not be read (%1); the contacts were imported without "
                       "them.")
                        .arg(photoError);
        progress->invokeSucceed(text);
    } catch (const std::exception& e) {
        if (editOpen) {
            try {
                db->endEdit(false);
            } catch (const std::exception&) {
                // The rollback failing leaves nothing more to undo; report the first error.
            }
        }
        progress->invokeErrorOccurred(QString::fromUtf8(e.what()));
    }
}
