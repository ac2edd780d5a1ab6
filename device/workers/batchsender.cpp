#include "batchsender.h"

#include <QSet>
#include <algorithm>

#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "contactrecords.h"
#include "remapreply.h"

namespace {

// Contacts per message to the phone.
const int kContactsPerMessage = 20;

}  // namespace

BatchSender::BatchSender(QString udid, const std::atomic<bool>* cancelFlag, int graceMs)
    : m_udid(std::move(udid)), m_cancelFlag(cancelFlag), m_graceMs(graceMs) {
    m_thread = std::thread([this] { run(); });
}

BatchSender::~BatchSender() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
    abandon();
}

void BatchSender::hand(OutgoingBatch batch) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Slot& slot = m_slots[(m_oldest + m_onItsWay) % kMostOnItsWay];
        slot.batch = std::move(batch);
        slot.state = Slot::WAITING;
    }
    ++m_onItsWay;
    m_changed.notify_all();
}

BatchReply BatchSender::reply() {
    std::unique_lock<std::mutex> lock(m_mutex);
    Slot& slot = m_slots[m_oldest];
    m_changed.wait(lock, [&] { return slot.state == Slot::DONE; });
    slot.state = Slot::FREE;
    m_oldest = (m_oldest + 1) % kMostOnItsWay;
    --m_onItsWay;
    const OutgoingBatch spent = std::move(slot.batch);
    slot.batch = OutgoingBatch();
    if (!slot.sent) {
        throw NotSent();
    }
    if (slot.failure) {
        m_endedOnPhone = slot.ledger.onPhone();
        m_endedByPhone = slot.endedByPhone;
        std::exception_ptr failure;
        std::swap(failure, slot.failure);
        std::rethrow_exception(failure);
    }
    BatchReply reply;
    reply.contactIds = slot.given.list(slot.given.contacts);
    reply.entityIds = slot.given.list(slot.given.entities);
    return reply;
}

bool BatchSender::finish() {
    if (!m_session) {
        return false;
    }
    std::unique_ptr<mobiledevice_sync_client> client = std::move(m_session);
    mobiledevice_sync_send_finish_throw(*client);
    client->free();
    return true;
}

void BatchSender::abandon() {
    m_session.reset();
}

void BatchSender::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || m_slots[m_next].state == Slot::WAITING; });
        if (m_stop) {
            return;
        }
        Slot& slot = m_slots[m_next];
        m_next = (m_next + 1) % kMostOnItsWay;
        slot.state = Slot::SENDING;
        lock.unlock();
        // A cancel sends nothing more, and nor does a batch that failed: the phone would get
        // the details of contacts it may not have.
        if (m_cancelFlag && m_cancelFlag->load()) {
            m_sendNoMore = true;
        }
        slot.sent = !m_sendNoMore;
        if (slot.sent) {
            send(slot);
            m_sendNoMore = bool(slot.failure);
        }
        lock.lock();
        slot.state = Slot::DONE;
        m_changed.notify_all();
    }
}

void BatchSender::send(Slot& slot) {
    slot.given.clear();
    slot.failure = nullptr;
    slot.ledger.clear();
    slot.endedByPhone = false;
    try {
        sendContactRecords(slot);
        sendChildRecords(slot);
    } catch (const DeviceError& e) {
        // Only once the session is open has the phone anything of this run to keep.
        slot.endedByPhone = m_session && e.kind() == DeviceFailure::EndedByPhone;
        slot.failure = std::current_exception();
    } catch (...) {
        slot.failure = std::current_exception();
    }
}

mobiledevice_sync_client& BatchSender::session() {
    if (!m_session) {
        std::unique_ptr<mobiledevice_sync_client> client(new mobiledevice_sync_client);
        // A confirmed cancel ends a wait for the phone: an answer already due still has a
        // moment to come, so that a phone that answers keeps its batch whole.
        client->cancelFlag = m_cancelFlag;
        client->cancelGraceMs = m_graceMs;
        mobiledevice_sync_start_throw(m_udid, _mobiledevice_sync_ctx::contacts(), *client);
        mobiledevice_sync_start_send_to_device_throw(*client);
        m_session = std::move(client);
    }
    return *m_session;
}

namespace {

PlistCFType sendRecords(mobiledevice_sync_client& session, const PlistCFType& records) {
    const PlistCFType remap = mobiledevice_sync_send_throw(session, records, false, PlistCFType());
    remapreply::checkNewIdsGiven(records, remap);
    return remap;
}

}  // namespace

void BatchSender::GivenIds::clear() {
    contacts.clear();
    entities.clear();
    text.clear();
}

void BatchSender::GivenIds::add(std::vector<Given>& to, unsigned long long row, const QString& id) {
    const QByteArray bytes = id.toUtf8();
    to.push_back({row, text.size(), size_t(bytes.size())});
    text.append(bytes.constData(), size_t(bytes.size()));
}

QString BatchSender::GivenIds::idOf(const Given& given) const {
    return QString::fromUtf8(text.data() + given.at, int(given.size));
}

QList<QPair<unsigned long long, QString>> BatchSender::GivenIds::list(
    const std::vector<Given>& given) const {
    QList<QPair<unsigned long long, QString>> out;
    out.reserve(int(given.size()));
    for (const Given& g : given) {
        out.append(qMakePair(g.row, idOf(g)));
    }
    return out;
}

void BatchSender::sendContactRecords(Slot& slot) {
    const OutgoingBatch& batch = slot.batch;
    QSet<unsigned long long> offered;
    for (auto it = batch.ids.constBegin(); it != batch.ids.constEnd(); ++it) {
        offered.insert(it.key());
    }
    const QList<pim::_Contact>& contacts = batch.contactRecords;
    for (int first = 0; first < contacts.size(); first += kContactsPerMessage) {
        PlistCFType records = PlistCFType::createCFDictionary();
        const int last = std::min(first + kContactsPerMessage, contacts.size());
        for (int i = first; i < last; ++i) {
            const pim::_Contact& c = contacts.at(i);
            contactrecords::addContact(
                records, c, contactrecords::unshownKeysFrom(batch.keptKeys.value(c.srcId)));
        }
        mobiledevice_sync_client& to = session();
        slot.ledger.sending();
        const QMap<unsigned long long, QString> given =
            remapreply::contactIdsGiven(sendRecords(to, records), offered);
        slot.ledger.contactsAnswered();
        for (auto it = given.constBegin(); it != given.constEnd(); ++it) {
            slot.given.add(slot.given.contacts, it.key(), it.value());
        }
    }
}

void BatchSender::sendChildRecords(Slot& slot) {
    const OutgoingBatch& batch = slot.batch;
    const QList<unsigned long long> rowIds = batch.changes.keys();
    for (int first = 0; first < rowIds.size(); first += kContactsPerMessage) {
        PlistCFType records = PlistCFType::createCFDictionary();
        QSet<unsigned long long> offered;
        const int last = std::min(first + kContactsPerMessage, rowIds.size());
        for (int i = first; i < last; ++i) {
            const unsigned long long rowId = rowIds.at(i);
            // The id the phone gave the contact in this batch, else the one it had, else its
            // provisional id.
            QString owner = batch.ids.value(rowId);
            for (const GivenIds::Given& given : slot.given.contacts) {
                if (given.row == rowId) {
                    owner = slot.given.idOf(given);
                }
            }
            if (owner.isEmpty()) {
                owner = QStringLiteral("-") + QString::number(rowId);
            }
            const OutgoingBatch::ChangeMap& changes = *batch.changes.constFind(rowId);
            for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
                for (const pim::Entity& e : it.value()) {
                    contactrecords::addEntityChange(
                        records, owner, it.key(), -static_cast<long long>(e._id), e,
                        contactrecords::unshownKeysFrom(batch.keptKeys.value(e.srcId)));
                    offered.insert(e._id);
                }
            }
        }
        if (records.dict_size() == 0) {
            continue;
        }
        mobiledevice_sync_client& to = session();
        slot.ledger.sending();
        for (const auto& given : remapreply::entityIdsGiven(sendRecords(to, records), offered)) {
            slot.given.add(slot.given.entities, given.first, given.second);
        }
    }
}
