// Fuzz target: arbitrary bytes from a client on the usbmuxd socket and on each device service.
// The simulator must neither crash nor hang, whatever a client sends.
#include "internal.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr uint16_t kAfcPort = 50001;
constexpr uint16_t kSyncPort = 50002;

struct Sim {
    fakedevice::TempDir dir;
    fakedevice::Server server{dir.socketPath()};
    std::shared_ptr<fakedevice::Phone> phone =
        std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(1));
    uint32_t deviceId = 0;
    fakedevice::Plist initialRecords;
    Sim() {
        phone->generateContacts(3);
        phone->afcPut("/a/b.txt", "hello");
        // Plain text throughout: fuzz bytes are no TLS client.
        phone->updateScenario([](fakedevice::Scenario& s) { s.sessionSsl = false; });
        {
            auto& st = phone->state();
            std::lock_guard<std::mutex> lock(st.mu);
            st.servicePorts[kAfcPort] = fakedevice::kServiceAfc;
            st.servicePorts[kSyncPort] = fakedevice::kServiceSync;
        }
        deviceId = server.attach(phone);
        initialRecords = phone->records();
    }
};

std::string connectPacket(uint32_t deviceId, uint16_t port) {
    fakedevice::Plist d = fakedevice::Plist::dict();
    d.set("MessageType", fakedevice::Plist::string("Connect"));
    d.set("DeviceID", fakedevice::Plist(plist_new_uint(deviceId)));
    d.set("PortNumber", fakedevice::Plist(plist_new_uint(htons(port))));
    std::string xml = d.toXml();
    uint32_t hdr[4] = {static_cast<uint32_t>(16 + xml.size()), 1, 8, 1};
    return std::string(reinterpret_cast<const char*>(hdr), sizeof hdr) + xml;
}

// Well-formed frames built from the input, so that the fuzzer gets past the plist parser:
// the input is split at NUL bytes into the fields of one message per line ('\n').
const char* const kLockdownRequests[] = {"QueryType",    "GetValue",    "SetValue",
                                         "StartSession", "StopSession", "StartService",
                                         "ValidatePair", "Goodbye"};
const char* const kSyncMessages[] = {"DLMessageVersionExchange",
                                     "SDMessageSyncDataClassWithDevice",
                                     "SDMessageGetAllRecordsFromDevice",
                                     "SDMessageAcknowledgeChangesFromDevice",
                                     "SDMessageProcessChanges",
                                     "SDMessageFinishSessionOnDevice",
                                     "SDMessageCancelSession",
                                     "SDMessageClearAllRecordsOnDevice",
                                     "DLMessagePing",
                                     "DLMessageDisconnect"};

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::string frame(const std::string& body) {
    std::string out;
    fakedevice::putBe32(out, static_cast<uint32_t>(body.size()));
    return out + body;
}

std::string structured(int target, const std::string& rest) {
    using fakedevice::Plist;
    std::string out;
    for (const std::string& line : split(rest, '\n')) {
        std::vector<std::string> f = split(line, '\0');
        const unsigned pick = f[0].empty() ? 0 : static_cast<unsigned char>(f[0][0]);
        if (target == 1) {
            Plist d = Plist::dict();
            d.set("Request", Plist::string(kLockdownRequests[pick % 8]));
            const char* keys[] = {"Key", "Domain", "Service", "HostID"};
            for (size_t i = 1; i < f.size() && i <= 4; ++i)
                d.set(keys[i - 1], Plist::string(f[i]));
            if (f.size() > 5)
                d.set("Value", Plist::string(f[5]));
            out += frame(d.toXml());
        } else if (target == 3) {
            Plist a = Plist::array();
            a.append(Plist::string(kSyncMessages[pick % 10]));
            Plist records = Plist::dict();
            for (size_t i = 1; i < f.size(); ++i) {
                if (i == 1) {
                    a.append(Plist::string(f[i]));  // data class or DLVersionsOk
                    continue;
                }
                Plist rec = Plist::dict();
                rec.set(fakedevice::kEntityNameKey,
                        Plist::string(i % 2 ? "com.apple.contacts.Contact"
                                            : "com.apple.contacts.Phone Number"));
                Plist refs = Plist::array();
                refs.append(Plist::string(f[i].substr(0, 2)));
                rec.set("contact", refs);
                records.set(f[i], i % 3 ? rec : Plist::string(fakedevice::kEmptyParameter));
            }
            a.append(records);
            a.append(Plist(plist_new_bool(1)));
            out += frame(a.toBinary());
        } else if (target == 2) {
            // An AFC request: operation from the first byte, the fields as header data.
            std::string hd;
            for (size_t i = 1; i < f.size(); ++i)
                hd += f[i] + std::string(1, '\0');
            out += "CFA6LPAA";
            fakedevice::putLe64(out, 40 + hd.size());
            fakedevice::putLe64(out, 40 + hd.size());
            fakedevice::putLe64(out, 1);
            fakedevice::putLe64(out, pick % 0x24);
            out += hd;
        } else {
            Plist d = Plist::dict();
            const char* types[] = {"ListDevices", "Listen", "ReadBUID", "ReadPairRecord",
                                   "Connect"};
            d.set("MessageType", Plist::string(types[pick % 5]));
            if (f.size() > 1)
                d.set("PairRecordID", Plist::string(f[1]));
            std::string xml = d.toXml();
            uint32_t hdr[4] = {static_cast<uint32_t>(16 + xml.size()), 1, 8, 1};
            out += std::string(reinterpret_cast<const char*>(hdr), sizeof hdr) + xml;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sim* sim = [] {
        fakedevice::ignoreSigpipe();
        return new Sim;
    }();
    if (size < 1)
        return 0;
    std::string out;
    switch (data[0] % 4) {
        case 1:
            out = connectPacket(sim->deviceId, 62078);
            break;
        case 2:
            out = connectPacket(sim->deviceId, kAfcPort);
            break;
        case 3:
            out = connectPacket(sim->deviceId, kSyncPort);
            break;
        default:
            break;
    }
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 0x80)
        out += structured(data[0] % 4, rest);
    else
        out += rest;

    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, sim->server.socketPath().c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return 0;
    }
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    // Reading the answers as they come keeps the simulator from blocking on a full socket.
    std::thread drain([fd] {
        char buf[4096];
        while (recv(fd, buf, sizeof buf, 0) > 0) {
        }
    });
    fakedevice::sendFull(fd, out.data(), out.size());
    shutdown(fd, SHUT_WR);
    drain.join();
    close(fd);
    sim->phone->clearJournal();
    // Start every input from the same records and the same small file tree.
    auto& st = sim->phone->state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.records = sim->initialRecords;
    st.servicePorts.erase(st.servicePorts.upper_bound(kSyncPort), st.servicePorts.end());
    st.afc.erase(st.afc.upper_bound("/"), st.afc.end());
    st.afc.erase(st.afc.begin(), st.afc.lower_bound("/"));
    return 0;
}
