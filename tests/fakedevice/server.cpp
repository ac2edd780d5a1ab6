// The usbmuxd side: accepting clients, device lists, events and Connect.
#include "internal.h"

#include "platform/mobilesync/plistguard.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fakedevice {

namespace {

constexpr uint32_t kMuxVersion = 1;
constexpr uint32_t kMuxPlist = 8;
constexpr uint32_t kMaxMuxPayload = 1u << 20;
constexpr uint16_t kLockdownPort = 62078;

}  // namespace

struct Server::Impl {
    std::string path;
    int listenFd = -1;
    std::thread acceptThread;
    std::atomic<bool> stopping{false};

    mutable std::mutex mu;
    mutable std::condition_variable cv;

    struct Device {
        uint32_t id;
        std::shared_ptr<Phone> phone;
        Connection type;
    };
    std::vector<Device> devices;
    uint32_t nextDeviceId = 1;

    struct Listener {
        int fd;
    };
    std::vector<Listener> listeners;

    struct Conn {
        int id = 0;
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
        std::string udid;  // set once the connection is a pipe to a device
    };
    std::list<std::unique_ptr<Conn>> conns;
    int nextConnId = 1;

    std::vector<JournalEntry> muxJournal;
    std::vector<Fault> muxFaults;
    std::vector<int> muxFaultFired;

    void acceptLoop();
    void serveClient(Conn* conn);
    void reapLocked();
    void addMuxJournal(JournalEntry e) {
        std::lock_guard<std::mutex> lock(mu);
        // Bounded, so that a long-running fake-iphone does not grow without end.
        if (muxJournal.size() >= 100000)
            muxJournal.erase(muxJournal.begin(), muxJournal.begin() + 50000);
        muxJournal.push_back(std::move(e));
        cv.notify_all();
    }
    std::optional<Fault> muxFault(const std::string& name, int nth) {
        std::lock_guard<std::mutex> lock(mu);
        muxFaultFired.resize(muxFaults.size(), 0);
        for (size_t i = 0; i < muxFaults.size(); ++i) {
            const Fault& f = muxFaults[i];
            if (!faultMatches(f, kServiceMux, name, nth))
                continue;
            if (f.times > 0 && muxFaultFired[i] >= f.times)
                continue;
            ++muxFaultFired[i];
            return f;
        }
        return std::nullopt;
    }
    const Device* findLocked(uint32_t id) const {
        for (const Device& d : devices)
            if (d.id == id)
                return &d;
        return nullptr;
    }
    bool detachLocked(const std::string& udid);
    const Device* findLocked(const std::string& udid) const {
        for (const Device& d : devices)
            if (d.phone->udid() == udid)
                return &d;
        return nullptr;
    }
};

bool serverSleep(Server::Impl* s, int ms) {
    std::unique_lock<std::mutex> lock(s->mu);
    return !s->cv.wait_for(lock, std::chrono::milliseconds(ms), [s] { return s->stopping.load(); });
}

namespace {

std::string muxPacket(uint32_t tag, const Plist& body) {
    std::string xml = body.toXml();
    std::string out;
    uint32_t hdr[4] = {static_cast<uint32_t>(16 + xml.size()), kMuxVersion, kMuxPlist, tag};
    out.append(reinterpret_cast<const char*>(hdr), sizeof hdr);
    out += xml;
    return out;
}

Plist muxResult(uint64_t number) {
    Plist d = Plist::dict();
    d.set("MessageType", Plist::string("Result"));
    d.set("Number", plistUintNode(number));
    return d;
}

Plist deviceProperties(const Server::Impl::Device& d) {
    Plist p = Plist::dict();
    p.set("ConnectionSpeed", plistUintNode(480000000));
    p.set("ConnectionType", Plist::string(d.type == Connection::Usb ? "USB" : "Network"));
    p.set("DeviceID", plistUintNode(d.id));
    if (d.type == Connection::Usb) {
        p.set("LocationID", plistUintNode(0x14100000 + d.id));
        p.set("ProductID", plistUintNode(0x12a8));
    } else {
        // BSD-style sockaddr_in: length byte first, then family, port and address.
        std::string sa(16, '\0');
        sa[0] = 16;
        sa[1] = 2;  // AF_INET
        sa[2] = static_cast<char>(0xf2);
        sa[3] = static_cast<char>(0x7e);
        sa[4] = 127;
        sa[7] = 1;
        p.set("EscapedFullServiceName", Plist::string(d.phone->udid() + "._apple-mobdev2._tcp"));
        p.set("InterfaceIndex", plistUintNode(1));
        p.set("NetworkAddress", plistData(sa));
        p.set("ProductID", plistUintNode(0x12a8));
    }
    p.set("SerialNumber", Plist::string(d.phone->udid()));
    return p;
}

Plist attachedEvent(const Server::Impl::Device& d) {
    Plist e = Plist::dict();
    e.set("DeviceID", plistUintNode(d.id));
    e.set("MessageType", Plist::string("Attached"));
    e.set("Properties", deviceProperties(d));
    return e;
}

Plist pairRecord(Phone& phone, const Scenario& sc) {
    Phone::State& st = phone.state();
    std::string hostId, buid;
    {
        std::lock_guard<std::mutex> lock(st.mu);
        hostId = st.hostId;
        buid = st.systemBuid;
    }
    // Real certificates: the client runs TLS with the root pair on every session.
    const TlsIdentity& id = tlsIdentity();
    Plist r = Plist::dict();
    r.set("DeviceCertificate", plistData(id.deviceCert));
    if (!sc.pairRecordWithoutEscrowBag)
        r.set("EscrowBag", plistData(std::string(32, '\x5a')));
    r.set("HostCertificate", plistData(id.hostCert));
    if (!sc.pairRecordWithoutHostId)
        r.set("HostID", Plist::string(hostId));
    r.set("HostPrivateKey", plistData(id.hostKey));
    if (sc.damagedPairRecord) {
        r.set("RootCertificate", plistData(id.rootCert.substr(0, id.rootCert.size() / 2)));
        r.set("RootPrivateKey", plistData(id.rootKey.substr(0, id.rootKey.size() / 2)));
    } else {
        r.set("RootCertificate", plistData(id.rootCert));
        r.set("RootPrivateKey", plistData(id.rootKey));
    }
    r.set("SystemBUID", Plist::string(buid));
    r.set("WiFiMACAddress", Plist::string("02:00:00:00:00:01"));
    return r;
}

// Hostile answers on the usbmuxd socket. Returns true when the connection must close.
bool muxHostile(int fd, uint32_t tag, FaultKind kind) {
    switch (kind) {
        case FaultKind::HugeLength: {
            uint32_t hdr[4] = {0x7ffffff0u, kMuxVersion, kMuxPlist, tag};
            std::string out(reinterpret_cast<const char*>(hdr), sizeof hdr);
            out += "<?xml";
            sendFull(fd, out.data(), out.size());
            return true;
        }
        case FaultKind::Garbage: {
            std::string junk = "\x01\x02garbage\xff\xfe not a plist";
            uint32_t hdr[4] = {static_cast<uint32_t>(16 + junk.size()), kMuxVersion, kMuxPlist,
                               tag};
            std::string out(reinterpret_cast<const char*>(hdr), sizeof hdr);
            out += junk;
            sendFull(fd, out.data(), out.size());
            return true;
        }
        case FaultKind::WrongNodeType: {
            std::string out = muxPacket(tag, Plist::string("wrong node type"));
            sendFull(fd, out.data(), out.size());
            return false;
        }
        case FaultKind::MissingKeys: {
            Plist d = Plist::dict();
            d.set("MessageType", Plist::string("Result"));
            std::string out = muxPacket(tag, d);
            sendFull(fd, out.data(), out.size());
            return false;
        }
        default:
            return false;
    }
}

}  // namespace

void Server::Impl::reapLocked() {
    for (auto it = conns.begin(); it != conns.end();) {
        if ((*it)->done) {
            if ((*it)->thread.joinable())
                (*it)->thread.join();
            it = conns.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::Impl::acceptLoop() {
    while (!stopping) {
        pollfd pfd{listenFd, POLLIN, 0};
        int r = ::poll(&pfd, 1, 100);
        if (r <= 0)
            continue;
        int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        // A client that stops reading must not block a sender for ever.
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        std::lock_guard<std::mutex> lock(mu);
        reapLocked();
        if (stopping) {
            ::close(fd);
            break;
        }
        auto conn = std::make_unique<Conn>();
        conn->id = nextConnId++;
        conn->fd = fd;
        Conn* raw = conn.get();
        conns.push_back(std::move(conn));
        raw->thread = std::thread([this, raw] {
            serveClient(raw);
            {
                std::lock_guard<std::mutex> l(mu);
                for (auto it = listeners.begin(); it != listeners.end();) {
                    if (it->fd == raw->fd)
                        it = listeners.erase(it);
                    else
                        ++it;
                }
                ::close(raw->fd);
                raw->fd = -1;
                cv.notify_all();
            }
            raw->done = true;
        });
    }
}

void Server::Impl::serveClient(Conn* conn) {
    const int fd = conn->fd;
    std::map<std::string, int> seen;
    for (;;) {
        unsigned char hdr[16];
        if (!recvFull(fd, hdr, sizeof hdr))
            return;
        uint32_t h[4];
        memcpy(h, hdr, sizeof h);
        const uint32_t length = h[0], tag = h[3];
        if (length < 16 || length - 16 > kMaxMuxPayload)
            return;
        std::string payload(length - 16, '\0');
        if (!payload.empty() && !recvFull(fd, &payload[0], payload.size()))
            return;
        Plist req;
        // usbmuxd speaks XML only; the guard comes first, as for every client frame.
        if (h[2] == kMuxPlist && !payload.empty() && payload.compare(0, 6, "bplist") != 0)
            req = Plist(plistguard::parse(payload.data(), payload.size()));
        JournalEntry je;
        je.when = std::chrono::system_clock::now();
        je.service = kServiceMux;
        je.connection = conn->id;
        if (req.type() != PLIST_DICT) {
            je.name = "(invalid)";
            je.text = "message type " + std::to_string(h[2]) + ", " +
                      std::to_string(payload.size()) + " bytes";
            addMuxJournal(je);
            // The old binary protocol is not offered; a plist client never sends it.
            std::string out = muxPacket(tag, muxResult(1));
            sendFull(fd, out.data(), out.size());
            return;
        }
        const std::string type = req.stringAt("MessageType");
        je.name = type;
        je.xml = req.toXml();

        // Find the phone a request concerns (for its journal and faults).
        std::shared_ptr<Phone> phone;
        Connection connType = Connection::Usb;
        uint32_t deviceId = 0;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (type == "Connect") {
                uint64_t id = 0;
                plistUint(plist_dict_get_item(req.get(), "DeviceID"), &id);
                if (const Device* d = findLocked(static_cast<uint32_t>(id))) {
                    phone = d->phone;
                    connType = d->type;
                    deviceId = d->id;
                }
            } else if (type == "ReadPairRecord" || type == "SavePairRecord" ||
                       type == "DeletePairRecord") {
                if (const Device* d = findLocked(req.stringAt("PairRecordID")))
                    phone = d->phone;
            }
        }
        je.udid = phone ? phone->udid() : std::string();
        addMuxJournal(je);
        if (phone)
            journalAdd(*phone, je);

        const int nth = ++seen[type];
        std::optional<Fault> fault =
            phone ? phoneFault(*phone, kServiceMux, type, nth) : muxFault(type, nth);
        if (fault) {
            if (fault->kind == FaultKind::Drop)
                return;
            if (fault->kind == FaultKind::Stall) {
                stallUntilClosed(fd);
                return;
            }
            if (fault->kind == FaultKind::Delay) {
                if (!serverSleep(this, fault->delayMs))
                    return;
            } else {
                if (muxHostile(fd, tag, fault->kind))
                    return;
                continue;
            }
        }

        if (type == "ListDevices") {
            Plist list = Plist::array();
            {
                std::lock_guard<std::mutex> lock(mu);
                for (const Device& d : devices) {
                    Plist e = Plist::dict();
                    e.set("DeviceID", plistUintNode(d.id));
                    e.set("MessageType", Plist::string("Attached"));
                    e.set("Properties", deviceProperties(d));
                    list.append(e);
                }
            }
            Plist reply = Plist::dict();
            reply.set("DeviceList", list);
            std::string out = muxPacket(tag, reply);
            if (!sendFull(fd, out.data(), out.size()))
                return;
        } else if (type == "Listen") {
            // Registering and sending the present devices under the lock keeps events in order.
            {
                std::lock_guard<std::mutex> lock(mu);
                std::string out = muxPacket(tag, muxResult(0));
                for (const Device& d : devices)
                    out += muxPacket(0, attachedEvent(d));
                if (!sendFull(fd, out.data(), out.size()))
                    return;
                listeners.push_back(Listener{fd});
                cv.notify_all();
            }
            // The connection now only carries events; wait until the client goes away.
            char buf[256];
            while (::recv(fd, buf, sizeof buf, 0) > 0) {
            }
            return;
        } else if (type == "Connect") {
            uint64_t portRaw = 0;
            plistUint(plist_dict_get_item(req.get(), "PortNumber"), &portRaw);
            const uint16_t port = ntohs(static_cast<uint16_t>(portRaw));
            if (!phone) {
                std::string out = muxPacket(tag, muxResult(2));
                sendFull(fd, out.data(), out.size());
                continue;
            }
            std::string service;
            bool refuse = false;
            {
                Phone::State& st = phone->state();
                std::lock_guard<std::mutex> lock(st.mu);
                refuse = st.scenario.refuseConnect;
                if (port == kLockdownPort)
                    service = kServiceLockdown;
                else if (st.servicePorts.count(port))
                    service = st.servicePorts[port];
            }
            bool tls = false;
            {
                Phone::State& st = phone->state();
                std::lock_guard<std::mutex> lock(st.mu);
                tls = st.tlsPorts.count(port) > 0;
            }
            (void)connType;
            (void)deviceId;
            if (refuse || service.empty()) {
                std::string out = muxPacket(tag, muxResult(3));
                sendFull(fd, out.data(), out.size());
                continue;
            }
            std::string out = muxPacket(tag, muxResult(0));
            if (!sendFull(fd, out.data(), out.size()))
                return;
            {
                std::lock_guard<std::mutex> lock(mu);
                conn->udid = phone->udid();
                // Detached between the lookup and now: behave like a pulled cable.
                if (!findLocked(phone->udid()))
                    return;
            }
            ConnContext ctx;
            ctx.server = this;
            ctx.fd = fd;
            ctx.id = conn->id;
            ctx.phone = phone;
            // A service started with EnableServiceSSL speaks TLS from its first byte.
            if (tls && !connStartTls(ctx, service.c_str()))
                return;
            if (service == kServiceLockdown)
                serveLockdown(ctx);
            else if (service == kServiceSync)
                serveSync(ctx);
            else if (service == kServiceAfc)
                serveAfc(ctx);
            else if (service == kServiceBackup)
                serveBackup(ctx);
            else if (service == kServiceInstProxy)
                serveInstProxy(ctx);
            else if (service == kServiceNotification)
                serveNotificationProxy(ctx);
            return;
        } else if (type == "ReadPairRecord") {
            Plist reply;
            if (phone) {
                Scenario sc = phone->scenario();
                std::string saved;
                bool deleted = false;
                {
                    Phone::State& st = phone->state();
                    std::lock_guard<std::mutex> lock(st.mu);
                    saved = st.savedPairRecord;
                    deleted = st.pairRecordDeleted;
                }
                if (!sc.noPairRecord && !deleted) {
                    reply = Plist::dict();
                    // A damaged copy replaces whatever the computer saved.
                    reply.set("PairRecordData", plistData(saved.empty() || sc.damagedPairRecord
                                                              ? pairRecord(*phone, sc).toBinary()
                                                              : saved));
                }
            }
            std::string out = muxPacket(tag, reply ? reply : muxResult(2));
            if (!sendFull(fd, out.data(), out.size()))
                return;
        } else if (type == "ReadBUID") {
            Plist reply = Plist::dict();
            reply.set("BUID", Plist::string("0F1E2D3C-AAAA-BBBB-CCCC-DDDDEEEEFFFF"));
            std::string out = muxPacket(tag, reply);
            if (!sendFull(fd, out.data(), out.size()))
                return;
        } else if (type == "SavePairRecord" || type == "DeletePairRecord") {
            // What the computer saved after pairing is what it reads back, as from usbmuxd.
            if (phone) {
                std::string data;
                if (plist_t d = plist_dict_get_item(req.get(), "PairRecordData"))
                    if (plist_get_node_type(d) == PLIST_DATA) {
                        char* bytes = nullptr;
                        uint64_t n = 0;
                        plist_get_data_val(d, &bytes, &n);
                        data.assign(bytes ? bytes : "", bytes ? n : 0);
                        free(bytes);
                    }
                Phone::State& st = phone->state();
                std::lock_guard<std::mutex> lock(st.mu);
                if (type == "SavePairRecord") {
                    st.savedPairRecord = data;
                    st.pairRecordDeleted = false;
                } else {
                    st.savedPairRecord.clear();
                    st.pairRecordDeleted = true;
                }
            }
            std::string out = muxPacket(tag, muxResult(0));
            if (!sendFull(fd, out.data(), out.size()))
                return;
        } else {
            std::string out = muxPacket(tag, muxResult(1));
            if (!sendFull(fd, out.data(), out.size()))
                return;
        }
    }
}

// ---- Server --------------------------------------------------------------------------------

Server::Server(const std::string& socketPath) : path_(socketPath), impl_(std::make_unique<Impl>()) {
    ignoreSigpipe();
    impl_->path = socketPath;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path))
        throw std::runtime_error("fakedevice: socket path too long: " + socketPath);
    memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ::unlink(socketPath.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("fakedevice: socket: ") + strerror(errno));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
        int e = errno;
        ::close(fd);
        throw std::runtime_error("fakedevice: cannot listen on " + socketPath + ": " + strerror(e));
    }
    impl_->listenFd = fd;
    impl_->acceptThread = std::thread([this] { impl_->acceptLoop(); });
}

Server::~Server() {
    stop();
}

void Server::stop() {
    if (!impl_ || impl_->stopping.exchange(true))
        return;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->cv.notify_all();
    }
    if (impl_->acceptThread.joinable())
        impl_->acceptThread.join();
    ::close(impl_->listenFd);
    impl_->listenFd = -1;
    ::unlink(path_.c_str());
    std::list<std::unique_ptr<Impl::Conn>> conns;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        for (auto& c : impl_->conns)
            if (c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR);
        conns.swap(impl_->conns);
    }
    for (auto& c : conns)
        if (c->thread.joinable())
            c->thread.join();
}

uint32_t Server::attach(std::shared_ptr<Phone> phone, Connection type) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (const Impl::Device* d = impl_->findLocked(phone->udid()))
        return d->id;
    Impl::Device d{impl_->nextDeviceId++, std::move(phone), type};
    impl_->devices.push_back(d);
    std::string out = muxPacket(0, attachedEvent(d));
    for (const Impl::Listener& l : impl_->listeners)
        sendFull(l.fd, out.data(), out.size());
    impl_->cv.notify_all();
    return d.id;
}

bool Server::Impl::detachLocked(const std::string& udid) {
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        if (it->phone->udid() != udid)
            continue;
        Plist e = Plist::dict();
        e.set("DeviceID", plistUintNode(it->id));
        e.set("MessageType", Plist::string("Detached"));
        std::string out = muxPacket(0, e);
        for (const Listener& l : listeners)
            sendFull(l.fd, out.data(), out.size());
        devices.erase(it);
        // Like a pulled cable: every open pipe to the device breaks.
        for (auto& c : conns)
            if (c->udid == udid && c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR);
        cv.notify_all();
        return true;
    }
    return false;
}

bool Server::detach(const std::string& udid) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->detachLocked(udid);
}

void serverUnplug(Server::Impl* s, const std::string& udid) {
    std::lock_guard<std::mutex> lock(s->mu);
    s->detachLocked(udid);
}

std::shared_ptr<Phone> Server::phone(const std::string& udid) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const Impl::Device* d = impl_->findLocked(udid);
    return d ? d->phone : nullptr;
}

std::vector<std::shared_ptr<Phone>> Server::phones() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    std::vector<std::shared_ptr<Phone>> out;
    for (const Impl::Device& d : impl_->devices)
        out.push_back(d.phone);
    return out;
}

void Server::sendMalformedEvent() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Plist e = Plist::dict();
    e.set("DeviceID", plistUintNode(999));
    e.set("MessageType", Plist::string("Attached"));
    Plist props = Plist::dict();
    props.set("DeviceID", plistUintNode(999));
    props.set("SerialNumber", Plist::string("malformed"));
    e.set("Properties", props);
    std::string out = muxPacket(0, e);
    for (const Impl::Listener& l : impl_->listeners)
        sendFull(l.fd, out.data(), out.size());
}

size_t Server::listenerCount() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->listeners.size();
}

bool Server::waitForListeners(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, timeout, [&] { return impl_->listeners.size() >= count; });
}

std::vector<JournalEntry> Server::muxJournal() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->muxJournal;
}

void Server::setMuxFaults(const std::vector<Fault>& faults) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->muxFaults = faults;
    impl_->muxFaultFired.assign(faults.size(), 0);
}

}  // namespace fakedevice
