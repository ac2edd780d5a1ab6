#include "iossendchangesthread.h"

#include <QSet>
#include <exception>
#include <stdexcept>

#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "contactrecords.h"
#include "remapreply.h"
#include "store/localdb.h"
#include "store/runreporter.h"

namespace {

const char* const kDeleteMarker = "___EmptyParameterString___";

}  // namespace

IOSSendChangesThread::IOSSendChangesThread(RunReporter* reporter, QString udid, LocalDb* db,
                                           pim::_Contact* contact,
                                           const QList<contactchanges::_ChangeData>& changes,
                                           const QList<pim::_Contact>& contactsToDelete,
                                           QObject* parent)
    : QThread(parent),
      m_udid(udid),
      m_db(db),
      m_contact(contact),
      m_changes(changes),
      m_toDelete(contactsToDelete),
      m_reporter(reporter) {}

IOSSendChangesThread::~IOSSendChangesThread() = default;

void IOSSendChangesThread::run() {
    try {
        send();
    } catch (const std::exception& e) {
        // The mirror is read afresh from the phone after a failed write: the edit is to be
        // made again, and the user is told so beside the cause.
        QString text = QString::fromUtf8(e.what());
        const int cause = text.indexOf(QLatin1Char('\n'));
        text.insert(cause < 0 ? text.size() : cause, keptText());
        m_reporter->error(text);
        return;
    } catch (...) {
        m_reporter->error(QStringLiteral("IOSSendChangesThread: unexpected failure."));
        return;
    }
    m_reporter->succeed(QString());
}

QString IOSSendChangesThread::keptText() const {
    if (m_finishing) {
        return tr(
            " The phone did not accept the end of the session, so it may have kept none of "
            "this edit: make it again if it is missing once the phone is connected.");
    }
    if (m_ledger.onPhone() == BatchOnPhone::NotWritten) {
        return tr(
            " This edit was not saved on the phone in full: make it again once the phone "
            "is connected.");
    }
    // Made again whole, a new contact that did reach the phone would be there twice.
    return tr(
        " This edit was not saved on the phone in full as far as the phone answered: the "
        "part being sent when it failed may be on it. Once the phone is connected, check "
        "the contact and make again only what is missing.");
}

void IOSSendChangesThread::send() {
    m_finishing = false;
    m_ledger.clear();
    m_reporter->progress(tr("IDS_SENGING_CHANGES_TO_DEVICE"), 99, QString());
    if (!m_contact && !m_changes.isEmpty()) {
        throw std::runtime_error("IOSSendChangesThread: change records without a contact.");
    }

    mobiledevice_sync_client client;  // says goodbye to the device when it goes
    // A confirmed cancel ends the wait for the phone at once; the mirror is then read afresh,
    // with whatever the phone kept.
    client.cancelFlag = m_reporter->cancelFlag();
    mobiledevice_sync_start_throw(m_udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);

    // Contact message: a change of anything the contact record carries (or carried until this
    // edit, such as a birthday turned into another date) resends the whole contact record.
    bool sentContact = false;
    bool contactRecordNeeded = false;
    for (const contactchanges::_ChangeData& c : m_changes) {
        // A contact the phone has no id for goes out whole before its details.
        const bool unknownContact =
            m_contact->srcId.isEmpty() && c.action != contactchanges::ACTION_DELETED;
        if (unknownContact || contactrecords::needsContactRecord(c.type, c.entity)) {
            contactRecordNeeded = true;
            break;
        }
    }
    if (contactRecordNeeded) {
        PlistCFType contactRecords = PlistCFType::createCFDictionary();
        contactrecords::addContact(contactRecords, *m_contact,
                                   contactrecords::unshownKeysOf(*m_db, m_contact->srcId));
        const QString sentId = contactrecords::contactRecordId(*m_contact);
        m_ledger.sending();
        const PlistCFType remap =
            mobiledevice_sync_send_throw(client, contactRecords, false, PlistCFType());
        remapreply::checkNewIdsGiven(contactRecords, remap);
        m_ledger.contactsAnswered();
        sentContact = true;
        const QString newId = remapreply::applyOwnContactId(remap, sentId, m_contact->_id, *m_db);
        if (!newId.isEmpty()) {
            m_contact->srcId = newId;
        }
    }

    // Child and deletion message.
    PlistCFType records = PlistCFType::createCFDictionary();
    QSet<unsigned long long> offered;
    // Details that now live in the contact record but had a record of their own.
    QList<unsigned long long> movedIntoContact;
    const QString owner = m_contact ? contactrecords::contactRecordId(*m_contact) : QString();
    for (const contactchanges::_ChangeData& c : m_changes) {
        switch (c.action) {
            case contactchanges::ACTION_ADDED:
            case contactchanges::ACTION_UPDATED:
                contactrecords::addEntityChange(
                    records, owner, c.type, -static_cast<long long>(c.entity._id), c.entity,
                    contactrecords::unshownKeysOf(*m_db, c.entity.srcId));
                if (contactrecords::isContactLevel(c.type, c.entity)) {
                    if (contactrecords::childIdCode(c.entity.srcId) != 0) {
                        movedIntoContact.append(c.entity._id);
                    }
                } else {
                    offered.insert(c.entity._id);
                }
                break;
            case contactchanges::ACTION_DELETED:
                // A detail the phone never gave an id to is not on the phone; one kept in the
                // contact record went with the contact record above.
                contactrecords::addEntityDeletion(records, c.entity);
                break;
        }
    }
    for (const pim::_Contact& c : m_toDelete) {
        if (!c.srcId.isEmpty()) {
            records.put(c.srcId, PlistCFType::createCFString(QString::fromLatin1(kDeleteMarker)));
        }
    }

    if (records.dict_size() > 0) {
        m_ledger.sending();
        const PlistCFType remap =
            mobiledevice_sync_send_throw(client, records, false, PlistCFType());
        remapreply::checkNewIdsGiven(records, remap);
        remapreply::applyEntityIds(remap, offered, *m_db);
        // The phone keeps these inside the contact record now, as the reader will give them.
        for (unsigned long long rowId : movedIntoContact) {
            m_db->updateEntitySrcId(rowId, m_contact->srcId);
        }
        m_finishing = true;
        mobiledevice_sync_send_finish_throw(client);
    } else if (sentContact) {
        m_finishing = true;
        mobiledevice_sync_send_finish_throw(client);
    }
    client.free();
}
