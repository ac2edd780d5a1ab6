#include "iossynctodevicethread.h"

#include <malloc.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "device/mobiledevice_sync.h"
#include "contactrecords.h"
#include "phoneforms.h"
#include "store/localdb.h"
#include "store/runreporter.h"

namespace {

const int kBatchSize = 10;
// How long an answer due from the phone may still come after a confirmed cancel.
const int kCancelGraceMs = 700;
// Batches merged while those before are on their way nest their parts inside theirs; every so
// many the phone's answers are awaited before the next is merged, so that the parts can be kept
// and the nesting stays shallow.
const int kBatchesPerKeep = 32;

// The name under which a merge looks for the contact among the mirror's, folded so that names
// the lookup takes for one (ASCII letters in either case) are equal.
QString matchKey(const pim::_Contact& contact) {
    return LocalDb::knownAs(contact).toCaseFolded();
}

}  // namespace

IOSSyncToDeviceThread::IOSSyncToDeviceThread(QString udid, LocalDb* db,
                                             QList<pim::_Contact> contacts, RunReporter* reporter)
    : QThread(nullptr), m_udid(udid), m_db(db), m_contacts(contacts), m_reporter(reporter) {}

IOSSyncToDeviceThread::~IOSSyncToDeviceThread() = default;

void IOSSyncToDeviceThread::run() {
    m_reporter->progress(tr("IDS_MERGING_CONTACTS"), 0, QString());
    m_done = 0;
    m_merged = 0;
    m_taken = 0;
    m_cancelled = false;
    m_finished = false;
    m_lastBatch = BatchOnPhone::NotWritten;
    m_finishFailed = false;
    m_endedByPhone = false;
    m_handedBatches = 0;
    m_takenBatches = 0;
    m_namesOnItsWay.clear();
    m_openBatchNames.clear();
    m_idsSinceKept.clear();
    m_idMap.clear();
    m_changeMap.clear();
    m_contactRecords.clear();
    // Ended with the run, on every path: their threads are stopped and joined.
    struct ThreadsOfRun {
        std::unique_ptr<PhoneForms>& forms;
        std::unique_ptr<BatchSender>& sender;
        ~ThreadsOfRun() {
            sender.reset();
            forms.reset();
        }
    } threadsOfRun{m_phoneForms, m_sender};
    // Reading the contacts (on threads that have ended) left their allocator's memory strewn with
    // small free blocks; this run's threads take those heaps over, and every large message
    // they make would first sort through the blocks. Merged and given back, they cost nothing.
    malloc_trim(0);
    m_phoneForms.reset(new PhoneForms(m_contacts));

    // The whole restore is one edit of the mirror, each batch a part of it kept once the phone
    // took the batch, so a batch costs no commit of its own. As for a file import, a large
    // restore leaves the indexes that merges never read to one build at the end.
    MergeRun merge(*m_db, *m_reporter);
    merge.setProgress(tr("IDS_MERGING_CONTACTS"));
    merge.setStep([this](int index, const pim::_Contact&) { return mergeIntoBatch(index); });
    merge.setBatches(kBatchSize,
                     MergeRun::Hand([this](bool batchDone) { return hand(batchDone); }));
    merge.setAfterUndo([this] {
        for (const BatchReply& reply : m_idsSinceKept)
            writeIds(reply);
    });
    merge.setBeforeCommit([this] { finishSession(); });
    merge.setUnexpectedFailureText(QStringLiteral("IOSSyncToDeviceThread: unexpected failure."));
    merge.setFailureText([this, &merge](const QString& cause) {
        m_taken = merge.counts().taken;
        m_endedByPhone = m_sender && m_sender->endedByPhone();
        m_lastBatch = m_sender ? m_sender->endedOnPhone() : BatchOnPhone::NotWritten;
        return failureText(cause);
    });
    MergeRun::Outcome outcome = MergeRun::FAILED;
    try {
        // The mirror is a cache that every connection of the phone rebuilds. Its pages go to
        // the file as the restore writes them (a journal in a file keeps a crash from leaving
        // it half-written): held until the commit, every photo sent would be in memory twice.
        LocalDb::CacheWrites cacheWrites(*m_db, LocalDb::CacheWrites::SpilledWithJournal);
        m_sender.reset(new BatchSender(m_udid, m_reporter->cancelFlag(), kCancelGraceMs));
        ListSource source(m_contacts);
        outcome = merge.run(source);
        m_taken = merge.counts().taken;
        m_lastBatch = m_sender->endedOnPhone();
    } catch (const std::exception& e) {
        m_reporter->error(QString::fromUtf8(e.what()));
        return;
    }
    switch (outcome) {
        case MergeRun::CANCELLED:
            m_cancelled = true;
            // The batches the phone took stay: the session is finished so that it keeps them.
            try {
                finishSession();
            } catch (const std::exception& e) {
                qWarning("IOSSyncToDeviceThread: finishing after a cancel failed: %s", e.what());
            }
            return;
        case MergeRun::FAILED:
            // The session ends without the finish step (with the sender, at the run's end).
            return;
        case MergeRun::FINISHED:
            break;
    }
    if (m_merged == 0) {
        m_reporter->succeed(tr("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS").arg(m_done));
    } else {
        m_reporter->succeed(tr("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2")
                                .arg(m_done - m_merged)
                                .arg(m_merged));
    }
}

void IOSSyncToDeviceThread::finishSession() {
    try {
        m_finished = m_sender->finish();
    } catch (...) {
        m_finishFailed = true;
        throw;
    }
}

QString IOSSyncToDeviceThread::failureText(const QString& cause) const {
    // Said beside the cause, before the detail line with the failing call.
    QString said;
    if (m_finishFailed) {
        // The phone acknowledged the batches but not the end of the session: it may have
        // dropped every one of them.
        said = tr(" The phone acknowledged %1 of the %2 contacts but did not accept the end of "
                  "the session, so it may have kept none of them.")
                   .arg(m_taken)
                   .arg(m_contacts.size());
    } else if (m_finished && m_taken == m_contacts.size()) {
        // Only the mirror failed (a full disk, say): the phone has every contact.
        said = tr(" The phone took all %1 contacts; only this computer's copy of them could not "
                  "be saved, and it is read again from the phone.")
                   .arg(m_taken);
    } else if (m_endedByPhone) {
        // What a phone keeps of a session it ended itself is not known, also of the batches
        // it acknowledged: the re-read shows it.
        said = tr(" %1 of the %2 contacts had been sent and acknowledged when the phone ended the "
                  "session; the phone's contacts are read again now to show what it kept.")
                   .arg(m_taken)
                   .arg(m_contacts.size());
    } else if (m_taken == m_contacts.size()) {
        said = tr(" The phone took all %1 contacts, but the session with it did not end "
                  "properly.")
                   .arg(m_taken);
    } else if (!batchInDoubt()) {
        said = tr(" The phone took %1 of the %2 contacts; the others were not written to it.")
                   .arg(m_taken)
                   .arg(m_contacts.size());
    } else if (m_taken + inDoubtCount() < m_contacts.size()) {
        said = tr(" The phone took %1 of the %2 contacts; those after the batch being sent when "
                  "it failed were not written to it.")
                   .arg(m_taken)
                   .arg(m_contacts.size());
    } else {
        said = tr(" The phone took %1 of the %2 contacts.").arg(m_taken).arg(m_contacts.size());
    }
    switch (m_lastBatch) {
        case BatchOnPhone::NotWritten:
            break;
        case BatchOnPhone::MayBeOnPhone:
            said +=
                tr(" The phone did not answer for the contacts being sent when it failed: "
                   "they may be on it too.");
            break;
        case BatchOnPhone::WithoutDetails:
            said +=
                tr(" Contacts of the batch being sent when it failed may be on the phone "
                   "without all their details: restoring again completes them.");
            break;
    }
    QString text = cause;
    const int end = text.indexOf(QLatin1Char('\n'));
    text.insert(end < 0 ? text.size() : end, said);
    return text;
}

int IOSSyncToDeviceThread::inDoubtCount() const {
    // Batches are taken in order: the one in doubt follows those taken.
    return batchInDoubt() ? std::min(kBatchSize, m_contacts.size() - m_taken) : 0;
}

int IOSSyncToDeviceThread::hand(bool batchDone) {
    if (!batchDone) {
        takeReplies();
        return m_takenBatches;
    }
    if (m_sender->onItsWay() == BatchSender::kMostOnItsWay)
        takeReply();
    // The phone may have kept the run waiting long after the batch was merged: a cancel
    // meanwhile sends nothing more.
    if (m_reporter->cancelled())
        throw RunCancelled();
    OutgoingBatch batch;
    batch.ids = std::move(m_idMap);
    batch.changes = std::move(m_changeMap);
    batch.contactRecords = std::move(m_contactRecords);
    m_idMap.clear();
    m_changeMap.clear();
    m_contactRecords.clear();
    // The mirror is read here, on the thread that writes it; the records are made on the
    // sending thread.
    for (const pim::_Contact& c : batch.contactRecords) {
        if (!c.srcId.isEmpty())
            batch.keptKeys.insert(c.srcId, contactrecords::unshownKeyBytesOf(*m_db, c.srcId));
    }
    for (const OutgoingBatch::ChangeMap& changes : batch.changes) {
        for (const QList<pim::Entity>& list : changes) {
            for (const pim::Entity& e : list) {
                if (!e.srcId.isEmpty() && !batch.keptKeys.contains(e.srcId))
                    batch.keptKeys.insert(e.srcId,
                                          contactrecords::unshownKeyBytesOf(*m_db, e.srcId));
            }
        }
    }
    // A batch that changed nothing goes the same way, so that batches are taken in order.
    m_sender->hand(std::move(batch));
    m_namesOnItsWay.push_back(std::move(m_openBatchNames));
    m_openBatchNames.clear();
    if (++m_handedBatches % kBatchesPerKeep == 0)
        takeReplies();
    // Every batch handed is taken: the run keeps every part now.
    if (m_sender->onItsWay() == 0)
        m_idsSinceKept.clear();
    return m_takenBatches;
}

void IOSSyncToDeviceThread::takeReplies() {
    while (m_sender->onItsWay() > 0)
        takeReply();
}

void IOSSyncToDeviceThread::takeReply() {
    m_namesOnItsWay.pop_front();
    BatchReply reply;
    try {
        reply = m_sender->reply();
    } catch (const BatchSender::NotSent&) {
        throw RunCancelled();
    } catch (const std::exception&) {
        if (!m_reporter->cancelled())
            throw;
        // Cancelled while the phone kept its answer back past the grace: the session is given
        // up without its finish, and the batch counts as not taken (what of it may be on the
        // phone is the sender's to say).
        m_sender->abandon();
        throw RunCancelled();
    }
    writeIds(reply);
    ++m_takenBatches;

    m_idsSinceKept.append(reply);
}

void IOSSyncToDeviceThread::writeIds(const BatchReply& reply) {
    for (const auto& given : reply.contactIds)
        m_db->updateContactBaseSrcId(given.first, given.second);
    for (const auto& given : reply.entityIds)
        m_db->updateEntitySrcId(given.first, given.second);
}

MergeRun::Result IOSSyncToDeviceThread::mergeIntoBatch(int index) {
    ++m_done;
    // Merged in the form the phone gives back: a detail read from the phone is then the same
    // detail the next restore of the same contact brings.
    pim::_Contact merged;
    bool wasMerged = false;
    const pim::_Contact& form = m_phoneForms->at(index);
    // A merge finds stored contacts by name: one that may find a contact of a batch on its
    // way needs the ids the phone gives that batch first.
    if (m_sender->onItsWay() > 0) {
        const QString key = matchKey(form);
        if (!key.isEmpty() &&
            std::any_of(m_namesOnItsWay.begin(), m_namesOnItsWay.end(),
                        [&](const QSet<QString>& names) { return names.contains(key); }))
            takeReplies();
    }
    // The form's photos carry their hashes: the mirror takes them rather than hashing again.
    LocalDb::KnownPhotoHashes hashes;
    for (const pim::Entity& photo : form.entities.value(pim::ENTITY_PHOTO)) {
        hashes.append(qMakePair(photo.fields.value(QStringLiteral("data15")).toByteArray(),
                                photo.fields.value(QStringLiteral("data4")).toString()));
    }
    struct KnownForThisMerge {
        LocalDb& db;
        ~KnownForThisMerge() { db.setKnownPhotoHashes(LocalDb::KnownPhotoHashes()); }
    } known{*m_db};
    m_db->setKnownPhotoHashes(hashes);
    const ChangeMap changes = m_db->combineContact(form, merged, wasMerged);
    if (wasMerged)
        ++m_merged;
    const MergeRun::Result result = wasMerged ? MergeRun::MERGED : MergeRun::ADDED;
    if (changes.isEmpty())
        return result;
    m_openBatchNames.insert(matchKey(form));
    const unsigned long long rowId = merged._id;
    m_idMap[rowId] = merged.srcId;
    // Two contacts of one batch can land on the same mirror contact: keep what both merges
    // changed, the later version of an entity replacing the earlier.
    ChangeMap& all = m_changeMap[rowId];
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        QList<pim::Entity>& list = all[it.key()];
        for (const pim::Entity& e : it.value()) {
            auto same = std::find_if(list.begin(), list.end(), [&](const pim::Entity& x) {
                return e._id != 0 && x._id == e._id;
            });
            if (same != list.end()) {
                *same = e;
            } else {
                list.append(e);
            }
        }
    }
    bool contactLevel = false;
    for (auto it = all.constBegin(); it != all.constEnd() && !contactLevel; ++it) {
        for (const pim::Entity& e : it.value()) {
            if (contactrecords::needsContactRecord(it.key(), e)) {
                contactLevel = true;
                break;
            }
        }
    }
    // A contact the phone does not know yet needs its contact record, or the phone would get
    // details that belong to no contact.
    if (contactLevel || merged.srcId.isEmpty()) {
        auto same = std::find_if(m_contactRecords.begin(), m_contactRecords.end(),
                                 [&](const pim::_Contact& c) { return c._id == rowId; });
        if (same != m_contactRecords.end()) {
            *same = merged;
        } else {
            m_contactRecords.append(merged);
        }
    }
    return result;
}
