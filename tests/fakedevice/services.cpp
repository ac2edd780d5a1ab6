// The device's services behind a usbmuxd Connect: lockdownd, the notification proxy and the
// contacts sync service (AFC is in afc.cpp).
#include "internal.h"

#include "platform/mobilesync/plistguard.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace fakedevice {

namespace {

constexpr uint32_t kMaxPlistFrame = 64u << 20;
constexpr const char* kDataClass = "com.apple.Contacts";

void journalSent(ConnContext& c, const char* service, const std::string& name) {
    journalAdd(*c.phone, journalEntry(c, service, name, false));
}

}  // namespace

JournalEntry journalEntry(ConnContext& c, const char* service, const std::string& name,
                          bool fromClient) {
    JournalEntry e;
    e.when = std::chrono::system_clock::now();
    e.udid = c.phone->udid();
    e.service = service;
    e.connection = c.id;
    e.fromClient = fromClient;
    e.name = name;
    return e;
}

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

void stallUntilClosed(int fd) {
    char buf[512];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        return;
    }
}

bool connStartTls(ConnContext& c, const char* service) {
    if (c.phone->scenario().stallTlsOf == service) {
        JournalEntry e = journalEntry(c, service, "note", false);
        e.text = "TLS handshake stalled";
        journalAdd(*c.phone, e);
        stallUntilClosed(c.fd);
        return false;
    }
    std::string error;
    c.tls = TlsServer::accept(c.fd, &error, c.phone->scenario().damagedPairRecord);
    if (c.tls && c.phone->scenario().hangUpAfterTlsOf == service) {
        JournalEntry e = journalEntry(c, service, "note", false);
        e.text = "hung up after the TLS handshake";
        journalAdd(*c.phone, e);
        return false;
    }
    if (c.tls)
        return true;
    JournalEntry e = journalEntry(c, service, "note", false);
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
        case FaultKind::Unplug:
        case FaultKind::UnplugBeforeAnswer:
            serverUnplug(c.server, c.phone->udid());
            return After::Close;
        case FaultKind::Stall:
            stallUntilClosed(c.fd);
            return After::Close;
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
            JournalEntry e = journalEntry(c, kServiceLockdown, "(invalid)", true);
            e.text = std::to_string(body.size()) + " bytes that are not a dictionary";
            journalAdd(phone, e);
            return;
        }
        const std::string request = req.stringAt("Request");
        JournalEntry e = journalEntry(c, kServiceLockdown, request, true);
        e.xml = req.toXml();
        journalAdd(phone, e);

        std::optional<Fault> fault = phoneFault(phone, kServiceLockdown, request, c.nth(request));
        // A fault may also name the request with its domain, e.g. "GetValue
        // com.apple.mobile.tethered_sync": one step among those that use the same request.
        if (!fault && !req.stringAt("Domain").empty()) {
            const std::string inDomain = request + " " + req.stringAt("Domain");
            fault = phoneFault(phone, kServiceLockdown, inDomain, c.nth(inDomain));
        }
        After a = plistFault(c, fault, Plist::dict());
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
            } else if (sc.locked && service != kServiceNotification &&
                       service != kServiceInstProxy) {
                // Locked since it was started: its data stay sealed until the passcode is given.
                reply.set("Error", Plist::string("PasswordProtected"));
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
                if (sc.trust != Trust::Trusted && !hostId.empty()) {
                    reply.set("Error", Plist::string(sc.trust == Trust::Pending
                                                         ? "PairingDialogResponsePending"
                                                         : "UserDeniedPairing"));
                } else if (sc.noPairRecord || hostId.empty()) {
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
        if (startTls && !c.tls && sc.tlsRefused) {
            JournalEntry note = journalEntry(c, kServiceLockdown, "note", false);
            note.text = "TLS handshake refused";
            journalAdd(phone, note);
            return;
        }
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
            journalEntry(c, kServiceNotification, command.empty() ? "(invalid)" : command, true);
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

    // Set by an UnplugBeforeAnswer fault: the cable goes instead of the next message sent.
    bool unplugBeforeAnswer = false;

    bool send(const Plist& message) {
        if (unplugBeforeAnswer) {
            serverUnplug(c.server, c.phone->udid());
            return false;
        }
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
            JournalEntry e = journalEntry(c, kServiceSync, "(invalid)", true);
            e.xml = msg.toXml();
            e.text = std::to_string(body.size()) + " bytes that are not a device-link message";
            journalAdd(phone, e);
            return;
        }
        JournalEntry e = journalEntry(c, kServiceSync, name, true);
        e.xml = msg.toXml();
        journalAdd(phone, e);
        auto arg = [&](uint32_t i) { return plist_array_get_item(msg.get(), i); };

        std::optional<Fault> fault = phoneFault(phone, kServiceSync, name, c.nth(name));
        if (fault && fault->kind == FaultKind::UnplugBeforeAnswer) {
            run.unplugBeforeAnswer = true;
            fault.reset();
        }
        After a = plistFault(c, fault, dlArray({Plist::string(expectedReply(name))}));
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
            // A phone that may refuse the finish applies nothing before it.
            if (sc.commitOnFinish || !sc.finishRefusal.empty()) {
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
                JournalEntry ne = journalEntry(c, kServiceSync, "note", false);
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
        } else if (name == "SDMessageFinishSessionOnDevice" && !sc.finishRefusal.empty()) {
            // It cannot commit the changes: it cancels the session in words and keeps none.
            working = Plist();
            run.update([](SyncSession& s) { s.cancelledByDevice = true; });
            if (!run.send(dlArray({Plist::string("SDMessageCancelSession"),
                                   Plist::string(dataClass), Plist::string(sc.finishRefusal)})))
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
            JournalEntry ne = journalEntry(c, kServiceSync, "note", false);
            ne.text = "unexpected message " + name + "; connection closed";
            journalAdd(phone, ne);
            return;
        }
    }
}

}  // namespace fakedevice
