#include "device/workers/iossynctodevicethread.h"

#include <QSet>
#include <algorithm>
#include <exception>
#include <memory>

#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "device/workers/contactrecords.h"
#include "device/workers/phoneforms.h"
#include "device/workers/remapreply.h"
#include "store/localdb.h"
#include "store/runreporter.h"

namespace {

// Contacts per message to the device.
const int kContactsPerMessage = 20;
const int kBatchSize = 10;
// How long an answer due from the phone may still come after a confirmed cancel.
const int kCancelGraceMs = 700;

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
    m_halfSent = false;
    m_abandoned = false;
    m_finishFailed = false;
    m_idMap.clear();
    m_changeMap.clear();
    m_contactRecords.clear();
    // Ended with the run, on every path: its thread is stopped and joined.
    struct FormsOfRun {
        std::unique_ptr<PhoneForms>& forms;
        ~FormsOfRun() { forms.reset(); }
    } formsOfRun{m_phoneForms};
    m_phoneForms.reset(new PhoneForms(m_contacts));

    // The whole restore is one edit of the mirror, each batch a part of it kept once the phone
    // took the batch, so a batch costs no commit of its own. As for a file import, a large
    // restore leaves the indexes that merges never read to one build at the end.
    MergeRun merge(*m_db, *m_reporter);
    merge.setProgress(tr("IDS_MERGING_CONTACTS"));
    merge.setStep([this](int index, const pim::_Contact&) { return mergeIntoBatch(index); });
    merge.setBatches(kBatchSize, [this] { sendBatch(); });
    merge.setBeforeCommit([this] { finishSession(); });
    merge.setUnexpectedFailureText(QStringLiteral("IOSSyncToDeviceThread: unexpected failure."));
    merge.setFailureText([this, &merge](const QString& cause) {
        m_taken = merge.counts().taken;
        return failureText(cause);
    });
    MergeRun::Outcome outcome = MergeRun::FAILED;
    try {
        // The mirror is a cache that every connection of the phone rebuilds. Its pages go to
        // the file as the restore writes them (a journal in a file keeps a crash from leaving
        // it half-written): held until the commit, every photo sent would be in memory twice.
        LocalDb::CacheWrites cacheWrites(*m_db, LocalDb::CacheWrites::SpilledWithJournal);
        ListSource source(m_contacts);
        outcome = merge.run(source);
        m_taken = merge.counts().taken;
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
            // The session ends without the finish step.
            m_session.reset();
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

mobiledevice_sync_client& IOSSyncToDeviceThread::session() {
    if (!m_session) {
        std::unique_ptr<mobiledevice_sync_client> client(new mobiledevice_sync_client);
        // A confirmed cancel ends a wait for the phone: an answer already due still has a
        // moment to come, so that a phone that answers keeps its batch whole.
        client->cancelFlag = m_reporter->cancelFlag();
        client->cancelGraceMs = kCancelGraceMs;
        mobiledevice_sync_start_throw(m_udid, _mobiledevice_sync_ctx::contacts(), *client);
        mobiledevice_sync_start_send_to_device_throw(*client);
        m_session = std::move(client);
    }
    return *m_session;
}

void IOSSyncToDeviceThread::finishSession() {
    if (!m_session) {
        return;
    }
    std::unique_ptr<mobiledevice_sync_client> client = std::move(m_session);
    try {
        mobiledevice_sync_send_finish_throw(*client);
    } catch (...) {
        m_finishFailed = true;
        throw;
    }
    client->free();
    m_finished = true;
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
    } else if (m_taken == m_contacts.size()) {
        said = tr(" The phone took all %1 contacts, but the session with it did not end "
                  "properly.")
                   .arg(m_taken);
    } else {
        said = tr(" The phone took %1 of the %2 contacts; the others were not written to it.")
                   .arg(m_taken)
                   .arg(m_contacts.size());
    }
    if (m_halfSent) {
        said +=
            tr(" Contacts of the batch being sent when it failed may be on the phone without "
               "all their details: restoring again completes them.");
    }
    QString text = cause;
    const int end = text.indexOf(QLatin1Char('\n'));
    text.insert(end < 0 ? text.size() : end, said);
    return text;
}

PlistCFType IOSSyncToDeviceThread::send(const PlistCFType& records) {
    PlistCFType remap;
    try {
        remap = mobiledevice_sync_send_throw(session(), records, false, PlistCFType());
    } catch (const std::exception&) {
        if (!m_reporter->cancelled())
            throw;
        // Cancelled while the phone kept its answer back past the grace: the session is given
        // up without its finish, and the batch counts as not taken.
        m_session.reset();
        m_abandoned = true;
        throw RunCancelled();
    }
    remapreply::checkNewIdsGiven(records, remap);
    return remap;
}

MergeRun::Result IOSSyncToDeviceThread::mergeIntoBatch(int index) {
    ++m_done;
    // Merged in the form the phone gives back: a detail read from the phone is then the same
    // detail the next restore of the same contact brings.
    pim::_Contact merged;
    bool wasMerged = false;
    const pim::_Contact& form = m_phoneForms->at(index);
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

void IOSSyncToDeviceThread::sendBatch() {
    sendContactRecords();
    // From here until the details are sent, the batch's new contacts are on the phone without
    // them.
    m_halfSent = !m_contactRecords.isEmpty();
    sendChildRecords();
    m_halfSent = false;
    m_idMap.clear();
    m_changeMap.clear();
    m_contactRecords.clear();
}

void IOSSyncToDeviceThread::sendContactRecords() {
    QSet<unsigned long long> offeredContacts;
    for (auto it = m_idMap.constBegin(); it != m_idMap.constEnd(); ++it)
        offeredContacts.insert(it.key());
    for (int first = 0; first < m_contactRecords.size(); first += kContactsPerMessage) {
        PlistCFType records = PlistCFType::createCFDictionary();
        const int last = std::min(first + kContactsPerMessage, m_contactRecords.size());
        for (int i = first; i < last; ++i) {
            const pim::_Contact& c = m_contactRecords.at(i);
            contactrecords::addContact(records, c, contactrecords::unshownKeysOf(*m_db, c.srcId));
        }
        const PlistCFType remap = send(records);
        const QMap<unsigned long long, QString> given =
            remapreply::applyContactIds(remap, offeredContacts, *m_db);
        for (auto it = given.constBegin(); it != given.constEnd(); ++it)
            m_idMap[it.key()] = it.value();
    }
}

void IOSSyncToDeviceThread::sendChildRecords() {
    const QList<unsigned long long> rowIds = m_changeMap.keys();
    for (int first = 0; first < rowIds.size(); first += kContactsPerMessage) {
        PlistCFType records = PlistCFType::createCFDictionary();
        QSet<unsigned long long> offered;
        const int last = std::min(first + kContactsPerMessage, rowIds.size());
        for (int i = first; i < last; ++i) {
            const unsigned long long rowId = rowIds.at(i);
            QString owner = m_idMap.value(rowId);
            if (owner.isEmpty())
                owner = QStringLiteral("-") + QString::number(rowId);
            const ChangeMap& changes = m_changeMap[rowId];
            for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
                for (const pim::Entity& e : it.value()) {
                    contactrecords::addEntityChange(records, owner, it.key(),
                                                    -static_cast<long long>(e._id), e,
                                                    contactrecords::unshownKeysOf(*m_db, e.srcId));
                    offered.insert(e._id);
                }
            }
        }
        if (records.dict_size() == 0)
            continue;
        remapreply::applyEntityIds(send(records), offered, *m_db);
    }
}
