// The device's services behind a usbmuxd Connect: lockdownd, the contacts sync service and AFC.
#include "internal.h"

#include "plistguard.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace fakedevice {

namespace {

constexpr uint32_t kMaxPlistFrame = 64u << 20;
constexpr const char* kDataClass = "com.apple.Contacts";

JournalEntry entry(ConnContext& c, const char* service, const std::string& name, bool fromClient) {
    JournalEntry e;
    e.when = std::chrono::system_clock::now();
    e.udid = c.phone->udid();
    e.service = service;
    e.connection = c.id;
    e.fromClient = fromClient;
    e.name = name;
    return e;
}

void journalSent(ConnContext& c, const char* service, const std::string& name) {
    journalAdd(*c.phone, entry(c, service, name, false));
}

}  // namespace

bool connRecv(ConnContext& c, void* buf, size_t n) {
    if (c.tls)
        return c.tls->read(buf, n) == TlsServer::Read::Ok;
    return recvFull(c.fd, buf, n);
}

bool connSend(ConnContext& c, const void* buf, size_t n) {
    if (c.tls)
        return c.tls->write(buf, n);
    return sendFull(c.fd, buf, n);
}

bool connStartTls(ConnContext& c, const char* service) {
    std::string error;
    c.tls = TlsServer::accept(c.fd, &error);
    if (c.tls)
        return true;
    JournalEntry e = entry(c, service, "note", false);
    e.text = "TLS handshake failed: " + error;
    journalAdd(*c.phone, e);
    return false;
}

bool recvFrame(ConnContext& c, std::string* body) {
    unsigned char len[4];
    if (c.tls) {
        const TlsServer::Read r = c.tls->read(len, 4);
        if (r == TlsServer::Read::Closed) {
            c.tls.reset();
            if (!recvFull(c.fd, len, 4))
                return false;
        } else if (r != TlsServer::Read::Ok) {
            return false;
        }
    } else if (!recvFull(c.fd, len, 4)) {
        return false;
    }
    uint32_t n = getBe32(len);
    if (n == 0 || n > kMaxPlistFrame)
        return false;
    body->assign(n, '\0');
    return connRecv(c, &(*body)[0], n);
}

Plist parseFrame(const std::string& body) {
    return Plist(plistguard::parse(body.data(), body.size()));
}

bool sendFrame(ConnContext& c, const std::string& body) {
    std::string out;
    out.reserve(body.size() + 4);
    putBe32(out, static_cast<uint32_t>(body.size()));
    out += body;
    return connSend(c, out.data(), out.size());
}

namespace {

enum class After { Normal, Skip, Close };

// Applies a fault on a plist-framed service. `missing` is the reply stripped of its keys.
After plistFault(ConnContext& c, const std::optional<Fault>& f, const Plist& missing) {
    if (!f)
        return After::Normal;
    switch (f->kind) {
        case FaultKind::Drop:
            return After::Close;
        case FaultKind::Delay:
            return serverSleep(c.server, f->delayMs) ? After::Normal : After::Close;
        case FaultKind::HugeLength: {
            std::string out;
            putBe32(out, 0x7ffffff0u);
            out += "bplist00";
            connSend(c, out.data(), out.size());
            return After::Close;
        }
        case FaultKind::Garbage:
            sendFrame(c, std::string("\x00\x01garbage\xff\xfe\x03 not a plist", 24));
            return After::Close;
        case FaultKind::WrongNodeType:
            sendFrame(c, Plist::string("wrong node type").toBinary());
            return After::Skip;
        case FaultKind::MissingKeys:
            sendFrame(c, missing.toBinary());
            return After::Skip;
    }
    return After::Normal;
}

// ---- lockdownd -----------------------------------------------------------------------------

Plist lockdownReply(const std::string& request) {
    Plist r = Plist::dict();
    r.set("Request", Plist::string(request));
    return r;
}

}  // namespace

void serveLockdown(ConnContext& c) {
    Phone& phone = *c.phone;
    Phone::State& st = phone.state();
    std::string sessionId;
    for (;;) {
        std::string body;
        if (!recvFrame(c, &body))
            return;
        Plist req = parseFrame(body);
        if (req.type() != PLIST_DICT) {
            JournalEntry e = entry(c, kServiceLockdown, "(invalid)", true);
            e.text = std::to_string(body.size()) + " bytes that are not a dictionary";
            journalAdd(phone, e);
            return;
        }
        const std::string request = req.stringAt("Request");
        JournalEntry e = entry(c, kServiceLockdown, request, true);
        e.xml = req.toXml();
        journalAdd(phone, e);

        After a = plistFault(c, phoneFault(phone, kServiceLockdown, request, c.nth(request)),
                             Plist::dict());
        if (a == After::Close)
            return;
        if (a == After::Skip)
            continue;

        Scenario sc = phone.scenario();
        Plist reply = lockdownReply(request);
        bool closeAfter = false;
        bool startTls = false;
        auto err = sc.lockdownErrors.find(request);
        if (err != sc.lockdownErrors.end()) {
            reply.set("Error", Plist::string(err->second));
        } else if (request == "QueryType") {
            reply = Plist::dict();
            if (!sc.queryTypeWithoutType)
                reply.set("Type", Plist::string("com.apple.mobile.lockdown"));
        } else if (request == "GetValue") {
            const std::string domain = req.stringAt("Domain");
            const std::string key = req.stringAt("Key");
            const bool hasKey = plist_dict_get_item(req.get(), "Key") != nullptr;
            Plist value;
            {
                std::lock_guard<std::mutex> lock(st.mu);
                Plist* dict = nullptr;
                if (domain.empty())
                    dict = &st.values;
                else if (st.domains.count(domain))
                    dict = &st.domains[domain];
                if (dict)
                    value = hasKey ? dict->item(key) : *dict;
            }
            // The phone's clock, as a real (what idevicedate reads).
            if (domain.empty() && hasKey && key == "TimeIntervalSince1970" && !value)
                value =
                    Plist(plist_new_real(std::chrono::duration<double>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count()));
            if (!domain.empty())
                reply.set("Domain", Plist::string(domain));
            if (hasKey)
                reply.set("Key", Plist::string(key));
            if (value)
                reply.set("Value", value);
            else
                reply.set("Error", Plist::string("MissingValue"));
        } else if (request == "SetValue") {
            const std::string domain = req.stringAt("Domain");
            const std::string key = req.stringAt("Key");
            Plist value = req.item("Value");
            if (!value || key.empty()) {
                reply.set("Error", Plist::string(value ? "MissingKey" : "MissingValue"));
            } else {
                std::lock_guard<std::mutex> lock(st.mu);
                st.setCalls.push_back(SetValueCall{domain, key, value});
                if (domain.empty()) {
                    st.values.set(key, value);
                } else {
                    Plist& d = st.domains[domain];
                    if (!d)
                        d = Plist::dict();
                    d.set(key, value);
                }
                st.cv.notify_all();
            }
        } else if (request == "StartSession") {
            std::string expected;
            {
                std::lock_guard<std::mutex> lock(st.mu);
                expected = st.hostId;
                sessionId =
                    "S-" + std::to_string(++st.sessionCounter) + "-" + phone.udid().substr(0, 8);
            }
            if (req.stringAt("HostID") != expected) {
                reply.set("Error", Plist::string("InvalidHostID"));
            } else {
                reply.set("EnableSessionSSL", plistBool(sc.sessionSsl));
                reply.set("SessionID", Plist::string(sessionId));
                startTls = sc.sessionSsl;
            }
        } else if (request == "StopSession") {
            sessionId.clear();
        } else if (request == "StartService") {
            const std::string service = req.stringAt("Service");
            if (service != kServiceSync && service != kServiceAfc && service != kServiceBackup &&
                service != kServiceInstProxy && service != kServiceNotification) {
                reply.set("Error", Plist::string("InvalidService"));
            } else if (sessionId.empty()) {
                reply.set("Error", Plist::string("SessionInactive"));
            } else {
                const bool tls = service == kServiceSync && sc.serviceSsl;
                uint16_t port;
                {
                    std::lock_guard<std::mutex> lock(st.mu);
                    port = st.nextPort++;
                    if (st.nextPort < 49152)
                        st.nextPort = 49152;
                    st.servicePorts[port] = service;
                    if (tls)
                        st.tlsPorts.insert(port);
                    else
                        st.tlsPorts.erase(port);
                }
                reply.set("EnableServiceSSL", plistBool(tls));
                if (!sc.startServiceWithoutPort)
                    reply.set("Port", plistUintNode(port));
                reply.set("Service", Plist::string(service));
            }
        } else if (request == "Pair" || request == "ValidatePair" || request == "Unpair") {
            Plist record = req.item("PairRecord");
            const std::string hostId = record ? record.stringAt("HostID") : std::string();
            std::lock_guard<std::mutex> lock(st.mu);
            if (request == "Pair") {
                // An untrusted phone waits for the user to tap "Trust".
                if (sc.noPairRecord || hostId.empty()) {
                    reply.set("Error",
                              Plist::string(hostId.empty() ? "InvalidPairRecord"
                                                           : "PairingDialogResponsePending"));
                } else {
                    st.hostId = hostId;
                    st.pairRecordDeleted = false;
                    if (!sc.pairRecordWithoutEscrowBag)
                        reply.set("EscrowBag", plistData(std::string(32, '\x5a')));
                }
            } else if (hostId != st.hostId || st.pairRecordDeleted) {
                reply.set("Error", Plist::string("InvalidHostID"));
            } else if (request == "Unpair") {
                st.hostId = "unpaired-" + phone.udid();
            }
        } else if (request == "Goodbye") {
            reply.set("Result", Plist::string("Success"));
            closeAfter = true;
        } else {
            reply.set("Error", Plist::string("InvalidRequest"));
        }
        if (!sendFrame(c, reply.toXml()))
            return;
        journalSent(c, kServiceLockdown, request);
        if (closeAfter)
            return;
        // The rest of the session runs over TLS, until the client ends it after StopSession.
        if (startTls && !c.tls && !connStartTls(c, kServiceLockdown))
            return;
    }
}

// ---- notification proxy --------------------------------------------------------------------

// Takes observations and posts and sends nothing until the client shuts the proxy down;
// idevicebackup2 needs it before it starts a backup.
void serveNotificationProxy(ConnContext& c) {
    for (;;) {
        std::string body;
        if (!recvFrame(c, &body))
            return;
        Plist req = parseFrame(body);
        const std::string command = req.stringAt("Command");
        JournalEntry e =
            entry(c, kServiceNotification, command.empty() ? "(invalid)" : command, true);
        e.xml = req.toXml();
        journalAdd(*c.phone, e);
        if (command == "Shutdown") {
            Plist death = Plist::dict();
            death.set("Command", Plist::string("ProxyDeath"));
            sendFrame(c, death.toXml());
            return;
        }
        if (command != "ObserveNotification" && command != "PostNotification")
            return;
    }
}

// ---- mobilesync ----------------------------------------------------------------------------

namespace {

struct SyncRun {
    ConnContext& c;
    size_t index;  // into the phone's sessions
    explicit SyncRun(ConnContext& ctx) : c(ctx) {}

    template <class F>
    void update(F f) {
        Phone::State& st = c.phone->state();
        std::lock_guard<std::mutex> lock(st.mu);
        if (index < st.sessions.size())
            f(st.sessions[index]);
        st.cv.notify_all();
    }

    bool send(const Plist& message) {
        std::string name;
        if (plist_t first = plist_array_get_item(message.get(), 0))
            name = plistString(first);
        if (!sendFrame(c, message.toBinary()))
            return false;
        journalSent(c, kServiceSync, name);
        return true;
    }
};

Plist dlArray(std::initializer_list<Plist> items) {
    return plistArrayOf(items);
}

// The name of the device's answer to a computer message (its own name when there is none).
std::string expectedReply(const std::string& request) {
    if (request == "SDMessageAcknowledgeChangesFromDevice" ||
        request == "SDMessageGetAllRecordsFromDevice" || request == "SDMessageGetChangesFromDevice")
        return "SDMessageProcessChanges";
    if (request == "SDMessageSyncDataClassWithDevice")
        return "SDMessageSyncDataClassWithComputer";
    if (request == "SDMessageProcessChanges")
        return "SDMessageRemapRecordIdentifiers";
    if (request == "SDMessageFinishSessionOnDevice")
        return "SDMessageDeviceFinishedSession";
    if (request == "SDMessageClearAllRecordsOnDevice")
        return "SDMessageDeviceWillClearAllRecords";
    return request;
}

}  // namespace

void serveSync(ConnContext& c) {
    Phone& phone = *c.phone;
    Phone::State& st = phone.state();
    SyncRun run(c);
    {
        std::lock_guard<std::mutex> lock(st.mu);
        SyncSession s;
        s.connection = c.id;
        st.sessions.push_back(s);
        run.index = st.sessions.size() - 1;
    }
    struct EndMark {
        SyncRun& r;
        ~EndMark() {
            r.update([](SyncSession& s) { s.ended = true; });
        }
    } endMark{run};

    Scenario sc = phone.scenario();
    if (!run.send(
            dlArray({Plist::string("DLMessageVersionExchange"), plistUintNode(sc.syncVersionMajor),
                     plistUintNode(sc.syncVersionMinor)})))
        return;

    std::string dataClass = kDataClass;
    // Records served to the computer, and the working store for commit-on-finish sessions.
    std::vector<std::pair<std::string, Plist>> outgoing;
    size_t nextBatch = 0, batchCount = 0;
    bool readySent = false;
    int processCount = 0;
    Plist working;                                  // only with commitOnFinish
    std::map<std::string, std::string> sessionMap;  // provisional id -> device id

    auto sendBatch = [&]() -> bool {
        Scenario now = phone.scenario();
        const size_t k = nextBatch++;
        if (static_cast<int>(k) == now.dropAtBatch)
            return false;
        if (static_cast<int>(k) == now.cancelAtBatch) {
            run.update([](SyncSession& s) { s.cancelledByDevice = true; });
            return run.send(dlArray({Plist::string("SDMessageCancelSession"),
                                     Plist::string(dataClass), Plist::string(now.cancelReason)}));
        }
        if (static_cast<int>(k) == now.disconnectAtBatch) {
            // The phone hangs up in the middle of the read (a locked or unplugged phone).
            run.send(dlArray(
                {Plist::string("DLMessageDisconnect"), Plist::string("The device is locked")}));
            return false;
        }
        if (now.hostileFrame != HostileFrame::None && static_cast<int>(k) == now.hostileAtBatch) {
            const std::string bytes = hostileFrameBytes(now.hostileFrame);
            if (now.hostileFrame == HostileFrame::Oversized)
                connSend(c, bytes.data(), bytes.size());
            else
                sendFrame(c, bytes);
            journalSent(c, kServiceSync, "(hostile frame)");
            return false;
        }
        const size_t bs = now.batchSize ? now.batchSize : std::max<size_t>(outgoing.size(), 1);
        Plist batch = Plist::dict();
        std::set<std::string> kinds;
        for (size_t i = k * bs; i < std::min(outgoing.size(), (k + 1) * bs); ++i) {
            batch.set(outgoing[i].first, outgoing[i].second);
            kinds.insert(
                plistString(plist_dict_get_item(outgoing[i].second.get(), kEntityNameKey)));
        }
        if (static_cast<int>(k) == now.malformedAtBatch) {
            batch = Plist::array();
            batch.append(Plist::string("not a record dictionary"));
        }
        const bool more = nextBatch < batchCount;
        // What the phone says about the batch: the record kinds in it, and whether every
        // record of those kinds has now been sent.
        Plist actions = Plist::dict();
        Plist names = Plist::array();
        for (const std::string& kind : kinds)
            names.append(Plist::string(kind));
        actions.set("SyncDeviceLinkEntityNamesKey", names);
        actions.set("SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", plistBool(!more));
        run.update([](SyncSession& s) { ++s.batchesSent; });
        return run.send(dlArray({Plist::string("SDMessageProcessChanges"), Plist::string(dataClass),
                                 batch, plistBool(more), actions}));
    };

    for (;;) {
        std::string body;
        if (!recvFrame(c, &body))
            return;
        Plist msg = parseFrame(body);
        std::string name;
        if (msg.type() == PLIST_ARRAY && plist_array_get_size(msg.get()) > 0)
            name = plistString(plist_array_get_item(msg.get(), 0));
        if (name.empty()) {
            JournalEntry e = entry(c, kServiceSync, "(invalid)", true);
            e.xml = msg.toXml();
            e.text = std::to_string(body.size()) + " bytes that are not a device-link message";
            journalAdd(phone, e);
            return;
        }
        JournalEntry e = entry(c, kServiceSync, name, true);
        e.xml = msg.toXml();
        journalAdd(phone, e);
        auto arg = [&](uint32_t i) { return plist_array_get_item(msg.get(), i); };

        After a = plistFault(c, phoneFault(phone, kServiceSync, name, c.nth(name)),
                             dlArray({Plist::string(expectedReply(name))}));
        if (a == After::Close)
            return;
        if (a == After::Skip)
            continue;
        sc = phone.scenario();

        if (name == "DLMessageVersionExchange") {
            if (plistString(arg(1)) != "DLVersionsOk")
                return;
            if (!run.send(dlArray({Plist::string("DLMessageDeviceReady")})))
                return;
        } else if (name == "DLMessagePing") {
            run.update([](SyncSession& s) { s.pingReceived = true; });
        } else if (name == "DLMessageDisconnect") {
            run.update([](SyncSession& s) { s.disconnected = true; });
            return;
        } else if (name == "SDMessageSyncDataClassWithDevice") {
            dataClass = plistString(arg(1));
            uint64_t version = 0;
            plistUint(arg(4), &version);
            const std::string devAnchor = plistString(arg(2));
            const std::string compAnchor = plistString(arg(3));
            run.update([&](SyncSession& s) {
                s.dataClass = dataClass;
                s.deviceAnchor = devAnchor;
                s.computerAnchor = compAnchor;
                s.version = version;
            });
            if (sc.refuseSync || dataClass != kDataClass) {
                std::string desc = sc.refuseSync
                                       ? sc.refuseDescription
                                       : "The data class " + dataClass + " is not supported";
                if (!run.send(dlArray({Plist::string("SDMessageRefuseToSyncDataClassWithComputer"),
                                       Plist::string(dataClass),
                                       Plist::string(desc.empty() ? kEmptyParameter : desc)})))
                    return;
                continue;
            }
            if (sc.cancelSyncAtStart) {
                run.update([](SyncSession& s) { s.cancelledByDevice = true; });
                if (!run.send(dlArray({Plist::string("SDMessageCancelSession"),
                                       Plist::string(dataClass), Plist::string(sc.cancelReason)})))
                    return;
                continue;
            }
            if (sc.commitOnFinish) {
                std::lock_guard<std::mutex> lock(st.mu);
                working = st.records;
            }
            char anchor[32];
            snprintf(anchor, sizeof anchor, "%ld", static_cast<long>(time(nullptr)));
            Plist answer =
                dlArray({Plist::string("SDMessageSyncDataClassWithComputer"),
                         Plist::string(dataClass), Plist::string(anchor),
                         Plist::string(compAnchor.empty() ? kEmptyParameter : compAnchor),
                         Plist::string(sc.syncType), plistUintNode(sc.dataClassVersion)});
            if (sc.sevenElementStart)
                answer.append(Plist::string(kEmptyParameter));
            if (!run.send(answer))
                return;
            run.update([](SyncSession& s) { s.started = true; });
            if (sc.readyToReceiveInWriteSession) {
                // A client that only reads may have said goodbye and hung up already; its
                // goodbye is still to be read, so a failed send does not end the session here.
                readySent = true;
                run.send(dlArray({Plist::string("SDMessageDeviceReadyToReceiveChanges")}));
            }
        } else if (name == "SDMessageGetAllRecordsFromDevice" ||
                   name == "SDMessageGetChangesFromDevice") {
            outgoing.clear();
            {
                std::lock_guard<std::mutex> lock(st.mu);
                const Plist& src = working ? working : st.records;
                for (auto& kv : dictItems(src.get()))
                    outgoing.emplace_back(kv.first, Plist::copyOf(kv.second));
            }
            const size_t bs = sc.batchSize ? sc.batchSize : std::max<size_t>(outgoing.size(), 1);
            batchCount = outgoing.empty() ? 1 : (outgoing.size() + bs - 1) / bs;
            nextBatch = 0;
            run.update([](SyncSession& s) { s.recordsRequested = true; });
            if (!sendBatch())
                return;
        } else if (name == "SDMessageAcknowledgeChangesFromDevice") {
            run.update([](SyncSession& s) { ++s.acknowledgements; });
            if (nextBatch < batchCount) {
                if (!sendBatch())
                    return;
            } else if (batchCount > 0 && !readySent) {
                // After the last batch the phone is ready for the computer's changes and says
                // so at once.
                // A client that only reads may have said goodbye and hung up already; its
                // goodbye is still to be read, so a failed send does not end the session here.
                readySent = true;
                run.send(dlArray({Plist::string("SDMessageDeviceReadyToReceiveChanges")}));
            }
        } else if (name == "SDMessageProcessChanges") {
            const int k = processCount++;
            plist_t records = arg(2);
            run.update(
                [&](SyncSession& s) { s.changesReceived.push_back(Plist::copyOf(records)); });
            if (k == sc.cancelAtProcessChanges) {
                run.update([](SyncSession& s) { s.cancelledByDevice = true; });
                if (!run.send(dlArray({Plist::string("SDMessageCancelSession"),
                                       Plist::string(dataClass), Plist::string(sc.cancelReason)})))
                    return;
                continue;
            }
            Plist remap = Plist::dict();
            std::vector<std::string> deleted, notes;
            {
                std::lock_guard<std::mutex> lock(st.mu);
                applyChanges(st, working ? working : st.records, records, remap, sessionMap,
                             deleted, notes);
            }
            for (const std::string& n : notes) {
                JournalEntry ne = entry(c, kServiceSync, "note", false);
                ne.text = n;
                journalAdd(phone, ne);
            }
            const bool empty = sc.remapAsEmptyParameter || plist_dict_get_size(remap.get()) == 0;
            run.update([&](SyncSession& s) {
                s.remapsSent.push_back(empty ? Plist() : remap);
                s.deleted.insert(s.deleted.end(), deleted.begin(), deleted.end());
            });
            if (!run.send(dlArray({Plist::string("SDMessageRemapRecordIdentifiers"),
                                   Plist::string(dataClass),
                                   empty ? Plist::string(kEmptyParameter) : remap})))
                return;
        } else if (name == "SDMessageFinishSessionOnDevice") {
            if (working) {
                std::lock_guard<std::mutex> lock(st.mu);
                st.records = working;
                working = Plist();
            }
            run.update([](SyncSession& s) { s.finished = true; });
            if (!run.send(dlArray(
                    {Plist::string("SDMessageDeviceFinishedSession"), Plist::string(dataClass)})))
                return;
        } else if (name == "SDMessageCancelSession") {
            working = Plist();
            run.update([](SyncSession& s) { s.cancelledByClient = true; });
        } else if (name == "SDMessageClearAllRecordsOnDevice") {
            {
                std::lock_guard<std::mutex> lock(st.mu);
                (working ? working : st.records) = Plist::dict();
            }
            if (!run.send(dlArray({Plist::string("SDMessageDeviceWillClearAllRecords"),
                                   Plist::string(dataClass)})))
                return;
        } else {
            JournalEntry ne = entry(c, kServiceSync, "note", false);
            ne.text = "unexpected message " + name + "; connection closed";
            journalAdd(phone, ne);
            return;
        }
    }
}

// ---- AFC -----------------------------------------------------------------------------------

namespace {

constexpr uint64_t kAfcMaxPacket = 64ull << 20;
// Files are held in memory: a client may not grow one beyond this ("no space left").
constexpr uint64_t kAfcMaxFile = 64ull << 20;

enum AfcOp : uint64_t {
    AFC_STATUS = 1,
    AFC_DATA = 2,
    AFC_READ_DIR = 3,
    AFC_TRUNCATE = 7,
    AFC_REMOVE_PATH = 8,
    AFC_MAKE_DIR = 9,
    AFC_GET_FILE_INFO = 0x0a,
    AFC_GET_DEVINFO = 0x0b,
    AFC_FILE_OPEN = 0x0d,
    AFC_FILE_OPEN_RES = 0x0e,
    AFC_FILE_READ = 0x0f,
    AFC_FILE_WRITE = 0x10,
    AFC_FILE_SEEK = 0x11,
    AFC_FILE_TELL = 0x12,
    AFC_FILE_TELL_RES = 0x13,
    AFC_FILE_CLOSE = 0x14,
    AFC_FILE_SET_SIZE = 0x15,
    AFC_RENAME_PATH = 0x18,
    AFC_FILE_LOCK = 0x1b,
    AFC_MAKE_LINK = 0x1c,
    AFC_SET_FILE_TIME = 0x1e,
    AFC_REMOVE_PATH_AND_CONTENTS = 0x22,
};

enum AfcErr : uint64_t {
    E_SUCCESS = 0,
    E_UNKNOWN = 1,
    E_INVALID_ARG = 7,
    E_NOT_FOUND = 8,
    E_IS_DIR = 9,
    E_PERM = 10,
    E_NOT_SUPPORTED = 15,
    E_EXISTS = 16,
    E_NO_SPACE = 18,
};

std::string opName(uint64_t op) {
    switch (op) {
        case AFC_READ_DIR:
            return "READ_DIR";
        case AFC_TRUNCATE:
            return "TRUNCATE";
        case AFC_REMOVE_PATH:
            return "REMOVE_PATH";
        case AFC_MAKE_DIR:
            return "MAKE_DIR";
        case AFC_GET_FILE_INFO:
            return "GET_FILE_INFO";
        case AFC_GET_DEVINFO:
            return "GET_DEVINFO";
        case AFC_FILE_OPEN:
            return "FILE_OPEN";
        case AFC_FILE_READ:
            return "FILE_READ";
        case AFC_FILE_WRITE:
            return "FILE_WRITE";
        case AFC_FILE_SEEK:
            return "FILE_SEEK";
        case AFC_FILE_TELL:
            return "FILE_TELL";
        case AFC_FILE_CLOSE:
            return "FILE_CLOSE";
        case AFC_FILE_SET_SIZE:
            return "FILE_SET_SIZE";
        case AFC_RENAME_PATH:
            return "RENAME_PATH";
        case AFC_FILE_LOCK:
            return "FILE_LOCK";
        case AFC_MAKE_LINK:
            return "MAKE_LINK";
        case AFC_SET_FILE_TIME:
            return "SET_FILE_TIME";
        case AFC_REMOVE_PATH_AND_CONTENTS:
            return "REMOVE_PATH_AND_CONTENTS";
        default:
            return "OP_" + std::to_string(op);
    }
}

std::string afcPacket(uint64_t num, uint64_t op, const std::string& headerData,
                      const std::string& payload) {
    std::string out = "CFA6LPAA";
    putLe64(out, 40 + headerData.size() + payload.size());
    putLe64(out, 40 + headerData.size());
    putLe64(out, num);
    putLe64(out, op);
    out += headerData;
    out += payload;
    return out;
}

std::string le64(uint64_t v) {
    std::string s;
    putLe64(s, v);
    return s;
}

uint64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

// Text of a NUL-terminated string starting at off (to the end when there is no NUL).
std::string cstrAt(const std::string& s, size_t off) {
    if (off >= s.size())
        return std::string();
    size_t end = s.find('\0', off);
    return s.substr(off, end == std::string::npos ? std::string::npos : end - off);
}

bool isUnder(const std::string& path, const std::string& dir) {
    if (dir == "/")
        return path != "/";
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

}  // namespace

void serveAfc(ConnContext& c) {
    Phone& phone = *c.phone;
    Phone::State& st = phone.state();
    std::vector<uint64_t> myHandles;
    struct Cleanup {
        Phone::State& st;
        std::vector<uint64_t>& handles;
        ~Cleanup() {
            std::lock_guard<std::mutex> lock(st.mu);
            for (uint64_t h : handles)
                st.afcHandles.erase(h);
        }
    } cleanup{st, myHandles};

    for (;;) {
        unsigned char hdr[40];
        if (!recvFull(c.fd, hdr, sizeof hdr))
            return;
        if (memcmp(hdr, "CFA6LPAA", 8) != 0)
            return;
        const uint64_t entire = getLe64(hdr + 8), thisLen = getLe64(hdr + 16);
        const uint64_t num = getLe64(hdr + 24), op = getLe64(hdr + 32);
        if (thisLen < 40 || entire < thisLen || entire > kAfcMaxPacket)
            return;
        std::string hd(thisLen - 40, '\0'), payload(entire - thisLen, '\0');
        if (!hd.empty() && !recvFull(c.fd, &hd[0], hd.size()))
            return;
        if (!payload.empty() && !recvFull(c.fd, &payload[0], payload.size()))
            return;

        const std::string name = opName(op);
        JournalEntry je = entry(c, kServiceAfc, name, true);
        // Arguments as text: numbers first where the operation has them, then the path(s).
        switch (op) {
            case AFC_FILE_OPEN:
            case AFC_TRUNCATE:
            case AFC_SET_FILE_TIME:
                je.text =
                    name + " " +
                    std::to_string(hd.size() >= 8
                                       ? getLe64(reinterpret_cast<const unsigned char*>(hd.data()))
                                       : 0) +
                    " " + cstrAt(hd, 8);
                break;
            case AFC_RENAME_PATH:
            case AFC_MAKE_LINK: {
                size_t off = op == AFC_MAKE_LINK ? 8 : 0;
                std::string a = cstrAt(hd, off);
                je.text = name + " " + a + " " + cstrAt(hd, off + a.size() + 1);
                break;
            }
            case AFC_FILE_READ:
            case AFC_FILE_WRITE:
            case AFC_FILE_CLOSE:
            case AFC_FILE_SEEK:
            case AFC_FILE_TELL:
            case AFC_FILE_LOCK:
            case AFC_FILE_SET_SIZE:
                je.text =
                    name + " handle " +
                    std::to_string(hd.size() >= 8
                                       ? getLe64(reinterpret_cast<const unsigned char*>(hd.data()))
                                       : 0) +
                    (op == AFC_FILE_WRITE ? " " + std::to_string(payload.size()) + " bytes"
                                          : std::string());
                break;
            default:
                je.text = name + " " + cstrAt(hd, 0);
        }
        journalAdd(phone, je);

        if (auto f = phoneFault(phone, kServiceAfc, name, c.nth(name))) {
            std::string out;
            bool close = false, skip = true;
            switch (f->kind) {
                case FaultKind::Drop:
                    return;
                case FaultKind::Delay:
                    if (!serverSleep(c.server, f->delayMs))
                        return;
                    skip = false;
                    break;
                case FaultKind::HugeLength:
                    // The huge part is the header data, which the client reads in one go; a huge
                    // payload followed by a close would make the 1.3 client wait for ever.
                    out = "CFA6LPAA" + le64(40 + 0x7ffffff0ull) + le64(40 + 0x7ffffff0ull) +
                          le64(num) + le64(AFC_DATA);
                    close = true;
                    break;
                case FaultKind::Garbage:
                    out = std::string("XXXXXXXX garbage that is not an AFC header \x01\x02", 40);
                    close = true;
                    break;
                case FaultKind::WrongNodeType:
                    out =
                        afcPacket(num, 0x99, le64(7), "");  // an operation the client does not know
                    break;
                case FaultKind::MissingKeys:
                    out = afcPacket(num, AFC_STATUS, "", "");
                    break;
            }
            if (!out.empty())
                sendFull(c.fd, out.data(), out.size());
            if (close)
                return;
            if (skip)
                continue;
        }

        const unsigned char* h = reinterpret_cast<const unsigned char*>(hd.data());
        auto u64 = [&](size_t off) -> uint64_t {
            return hd.size() >= off + 8 ? getLe64(h + off) : 0;
        };
        std::string reply;
        auto status = [&](uint64_t code) { reply = afcPacket(num, AFC_STATUS, le64(code), ""); };
        auto data = [&](const std::string& bytes) { reply = afcPacket(num, AFC_DATA, "", bytes); };

        std::unique_lock<std::mutex> lock(st.mu);
        auto& fs = st.afc;
        switch (op) {
            case AFC_READ_DIR: {
                std::string dir = afcNormalize(cstrAt(hd, 0));
                auto it = fs.find(dir);
                if (it == fs.end()) {
                    status(E_NOT_FOUND);
                } else if (!it->second.dir) {
                    status(E_INVALID_ARG);
                } else {
                    std::string list = std::string(".") + '\0' + ".." + '\0';
                    for (auto& kv : fs)
                        if (kv.first != "/" && afcParent(kv.first) == dir)
                            list += kv.first.substr(kv.first.rfind('/') + 1) + '\0';
                    data(list);
                }
                break;
            }
            case AFC_GET_FILE_INFO: {
                auto it = fs.find(afcNormalize(cstrAt(hd, 0)));
                if (it == fs.end()) {
                    status(E_NOT_FOUND);
                    break;
                }
                const AfcNode& n = it->second;
                size_t size =
                    n.dir ? 64 * (1 + std::count_if(fs.begin(), fs.end(),
                                                    [&](auto& kv) {
                                                        return kv.first != "/" &&
                                                               afcParent(kv.first) == it->first;
                                                    }))
                          : n.data.size();
                std::string info;
                auto kv = [&](const std::string& k, const std::string& v) {
                    info += k + '\0' + v + '\0';
                };
                kv("st_size", std::to_string(size));
                kv("st_blocks", std::to_string((size + 511) / 512));
                kv("st_nlink", n.dir ? "2" : "1");
                kv("st_ifmt", n.dir ? "S_IFDIR" : "S_IFREG");
                kv("st_mtime", std::to_string(n.mtimeNs));
                kv("st_birthtime", std::to_string(n.birthNs));
                data(info);
                break;
            }
            case AFC_GET_DEVINFO: {
                std::string info;
                for (const char* p : {"Model", "iPhone8,1", "FSTotalBytes", "63978983424",
                                      "FSFreeBytes", "31989491712", "FSBlockSize", "4096"}) {
                    info += p;
                    info += '\0';
                }
                data(info);
                break;
            }
            case AFC_MAKE_DIR: {
                std::string path = afcNormalize(cstrAt(hd, 0));
                auto it = fs.find(path);
                if (it != fs.end()) {
                    status(it->second.dir ? E_SUCCESS : E_EXISTS);
                    break;
                }
                // Missing parents are made too, as the device does.
                for (std::string up = afcParent(path); up != "/"; up = afcParent(up)) {
                    auto p = fs.find(up);
                    if (p != fs.end() && !p->second.dir) {
                        status(E_EXISTS);
                        break;
                    }
                }
                if (!reply.empty())
                    break;
                afcMkdirsLocked(st, path);
                status(E_SUCCESS);
                break;
            }
            case AFC_REMOVE_PATH:
            case AFC_REMOVE_PATH_AND_CONTENTS: {
                std::string path = afcNormalize(cstrAt(hd, 0));
                auto it = fs.find(path);
                if (it == fs.end() || path == "/") {
                    status(path == "/" ? E_PERM : E_NOT_FOUND);
                    break;
                }
                bool hasChildren = std::any_of(fs.begin(), fs.end(),
                                               [&](auto& kv) { return isUnder(kv.first, path); });
                if (hasChildren && op == AFC_REMOVE_PATH) {
                    status(E_UNKNOWN);  // the client reports "directory not empty"
                    break;
                }
                for (auto i = fs.begin(); i != fs.end();)
                    i = (i->first == path || isUnder(i->first, path)) ? fs.erase(i) : std::next(i);
                status(E_SUCCESS);
                break;
            }
            case AFC_RENAME_PATH: {
                std::string a = cstrAt(hd, 0);
                std::string from = afcNormalize(a), to = afcNormalize(cstrAt(hd, a.size() + 1));
                auto it = fs.find(from);
                auto parent = fs.find(afcParent(to));
                if (it == fs.end() || parent == fs.end() || !parent->second.dir || from == "/") {
                    status(E_NOT_FOUND);
                    break;
                }
                if (to == from) {
                    status(E_SUCCESS);
                    break;
                }
                if (isUnder(to, from)) {
                    status(E_INVALID_ARG);
                    break;
                }
                auto target = fs.find(to);
                if (target != fs.end() && target->second.dir) {
                    status(E_EXISTS);
                    break;
                }
                std::vector<std::pair<std::string, AfcNode>> moved;
                for (auto i = fs.begin(); i != fs.end();) {
                    if (i->first == from || isUnder(i->first, from)) {
                        moved.emplace_back(to + i->first.substr(from.size()), i->second);
                        i = fs.erase(i);
                    } else {
                        ++i;
                    }
                }
                for (auto& m : moved)
                    fs[m.first] = m.second;
                for (auto& hnd : st.afcHandles)
                    if (hnd.second.path == from)
                        hnd.second.path = to;
                status(E_SUCCESS);
                break;
            }
            case AFC_FILE_OPEN: {
                const uint64_t mode = u64(0);
                std::string path = afcNormalize(cstrAt(hd, 8));
                if (mode < 1 || mode > 6) {
                    status(E_INVALID_ARG);
                    break;
                }
                auto it = fs.find(path);
                if (it != fs.end() && it->second.dir) {
                    status(E_IS_DIR);
                    break;
                }
                if (it == fs.end()) {
                    auto parent = fs.find(afcParent(path));
                    if (mode == 1 || parent == fs.end() || !parent->second.dir) {
                        status(E_NOT_FOUND);
                        break;
                    }
                    AfcNode f;
                    f.mtimeNs = f.birthNs = nowNs();
                    it = fs.emplace(path, f).first;
                }
                if (mode == 3 || mode == 4) {
                    it->second.data.clear();
                    it->second.mtimeNs = nowNs();
                }
                AfcHandle hnd;
                hnd.path = path;
                hnd.readable = mode == 1 || mode == 2 || mode == 4 || mode == 6;
                hnd.writable = mode != 1;
                hnd.append = mode == 5 || mode == 6;
                const uint64_t id = st.nextAfcHandle++;
                st.afcHandles[id] = hnd;
                myHandles.push_back(id);
                reply = afcPacket(num, AFC_FILE_OPEN_RES, le64(id), "");
                break;
            }
            case AFC_FILE_READ:
            case AFC_FILE_WRITE:
            case AFC_FILE_SEEK:
            case AFC_FILE_TELL:
            case AFC_FILE_CLOSE:
            case AFC_FILE_SET_SIZE:
            case AFC_FILE_LOCK: {
                auto hit = st.afcHandles.find(u64(0));
                if (hit == st.afcHandles.end()) {
                    status(E_INVALID_ARG);
                    break;
                }
                AfcHandle& hnd = hit->second;
                auto fit = fs.find(hnd.path);
                if (op == AFC_FILE_CLOSE) {
                    st.afcHandles.erase(hit);
                    status(E_SUCCESS);
                    break;
                }
                if (op == AFC_FILE_LOCK) {
                    status(E_SUCCESS);
                    break;
                }
                if (fit == fs.end() || fit->second.dir) {
                    status(E_NOT_FOUND);  // removed while open
                    break;
                }
                std::string& content = fit->second.data;
                if (op == AFC_FILE_READ) {
                    if (!hnd.readable) {
                        status(E_PERM);
                        break;
                    }
                    uint64_t want = std::min<uint64_t>(u64(8), 16u << 20);
                    uint64_t pos = std::min<uint64_t>(hnd.pos, content.size());
                    uint64_t n = std::min<uint64_t>(want, content.size() - pos);
                    data(content.substr(pos, n));
                    hnd.pos = pos + n;
                } else if (op == AFC_FILE_WRITE) {
                    if (!hnd.writable) {
                        status(E_PERM);
                        break;
                    }
                    if (hnd.append)
                        hnd.pos = content.size();
                    if (hnd.pos > kAfcMaxFile || payload.size() > kAfcMaxFile - hnd.pos) {
                        status(E_NO_SPACE);
                        break;
                    }
                    if (hnd.pos > content.size())
                        content.resize(hnd.pos, '\0');
                    content.replace(hnd.pos,
                                    std::min<size_t>(payload.size(), content.size() - hnd.pos),
                                    payload);
                    hnd.pos += payload.size();
                    fit->second.mtimeNs = nowNs();
                    status(E_SUCCESS);
                } else if (op == AFC_FILE_SEEK) {
                    const uint64_t whence = u64(8);
                    const int64_t off = static_cast<int64_t>(u64(16));
                    int64_t base = whence == 0   ? 0
                                   : whence == 1 ? static_cast<int64_t>(hnd.pos)
                                                 : static_cast<int64_t>(content.size());
                    if (whence > 2 || off < -static_cast<int64_t>(kAfcMaxFile) ||
                        off > static_cast<int64_t>(kAfcMaxFile) || base + off < 0 ||
                        base + off > static_cast<int64_t>(kAfcMaxFile)) {
                        status(E_INVALID_ARG);
                        break;
                    }
                    hnd.pos = static_cast<uint64_t>(base + off);
                    status(E_SUCCESS);
                } else if (op == AFC_FILE_TELL) {
                    reply = afcPacket(num, AFC_FILE_TELL_RES, le64(hnd.pos), "");
                } else {  // FILE_SET_SIZE
                    const uint64_t size = u64(8);
                    if (size > kAfcMaxFile) {
                        status(E_INVALID_ARG);
                        break;
                    }
                    content.resize(size, '\0');
                    status(E_SUCCESS);
                }
                break;
            }
            case AFC_TRUNCATE: {
                auto it = fs.find(afcNormalize(cstrAt(hd, 8)));
                if (it == fs.end() || it->second.dir) {
                    status(it == fs.end() ? E_NOT_FOUND : E_IS_DIR);
                    break;
                }
                if (u64(0) > kAfcMaxFile) {
                    status(E_INVALID_ARG);
                    break;
                }
                it->second.data.resize(u64(0), '\0');
                status(E_SUCCESS);
                break;
            }
            case AFC_SET_FILE_TIME: {
                auto it = fs.find(afcNormalize(cstrAt(hd, 8)));
                if (it == fs.end()) {
                    status(E_NOT_FOUND);
                    break;
                }
                it->second.mtimeNs = u64(0);
                status(E_SUCCESS);
                break;
            }
            default:
                status(E_NOT_SUPPORTED);
        }
        lock.unlock();
        if (!sendFull(c.fd, reply.data(), reply.size()))
            return;
    }
}

}  // namespace fakedevice
