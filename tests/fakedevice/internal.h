// Internals shared by the simulator's translation units. Not part of the public interface.
#pragma once

#include "fakedevice.h"
#include "tls.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace fakedevice {

// ---- plist helpers -------------------------------------------------------------------------

bool plistUint(plist_t node, uint64_t* out);
Plist plistUintNode(uint64_t v);
Plist plistBool(bool v);
Plist plistData(const std::string& bytes);
Plist plistArrayOf(std::initializer_list<Plist> items);
// Keys and values of a dictionary, in stored order (values are borrowed).
std::vector<std::pair<std::string, plist_t>> dictItems(plist_t dict);
std::string jsonEscape(const std::string& s);

// ---- socket helpers ------------------------------------------------------------------------

bool recvFull(int fd, void* buf, size_t n);
bool sendFull(int fd, const void* buf, size_t n);  // one send call when possible, MSG_NOSIGNAL
void putBe32(std::string& out, uint32_t v);
uint32_t getBe32(const unsigned char* p);
void putLe64(std::string& out, uint64_t v);
uint64_t getLe64(const unsigned char* p);

// ---- AFC tree ------------------------------------------------------------------------------

struct AfcNode {
    bool dir = false;
    std::string data;
    uint64_t mtimeNs = 0;
    uint64_t birthNs = 0;
};

struct AfcHandle {
    std::string path;
    uint64_t pos = 0;
    bool writable = false;
    bool readable = true;
    bool append = false;
};

std::string afcNormalize(const std::string& path);  // absolute, no "//", no trailing "/"
std::string afcParent(const std::string& path);

// ---- per-phone state -----------------------------------------------------------------------

struct Phone::State {
    mutable std::mutex mu;
    mutable std::condition_variable cv;

    Plist values;                          // top-level lockdown values
    std::map<std::string, Plist> domains;  // domain -> dictionary
    std::vector<SetValueCall> setCalls;
    std::string hostId = "5A6B7C8D-1111-2222-3333-444455556666";
    std::string systemBuid = "0F1E2D3C-AAAA-BBBB-CCCC-DDDDEEEEFFFF";
    int sessionCounter = 0;

    Scenario scenario;
    std::vector<int> faultFired;  // parallel to scenario.faults
    int iosMajor = 17;

    // The pair record the computer saved after a Pair (served instead of the built-in one),
    // and whether the computer deleted it after an Unpair.
    std::string savedPairRecord;
    bool pairRecordDeleted = false;

    Plist records;  // dictionary id -> record
    uint64_t nextContactId = 1001;
    std::map<std::string, int> nextChildIndex;  // "<code>/<contact>" -> next n

    std::map<std::string, AfcNode> afc;  // normalized path -> node ("/" is the root)
    std::map<uint64_t, AfcHandle> afcHandles;
    uint64_t nextAfcHandle = 1;

    std::vector<JournalEntry> journal;
    FILE* journalFile = nullptr;
    std::vector<SyncSession> sessions;

    BackupScript backupScript;
    std::vector<BackupSession> backupSessions;
    Plist installedApps;  // array served by the installation proxy

    std::map<uint16_t, std::string> servicePorts;  // port -> service name
    std::set<uint16_t> tlsPorts;                   // services started with EnableServiceSSL
    uint16_t nextPort = 49152;

    // All of these expect mu to be held.
    void addJournalLocked(JournalEntry e);
    void bumpNextContactIdLocked();
    std::optional<Fault> fireFaultLocked(const std::string& service, const std::string& name,
                                         int nthOnConnection);
};

void applyIosProtocol(Scenario& sc, int major);
// Sets the version values and the protocol fields of the scenario; expects the lock held.
void emulateIosLocked(Phone::State& st, int major);

// Creates a directory and its missing parents; expects the phone's lock to be held.
void afcMkdirsLocked(Phone::State& st, const std::string& path);

// Records the entry (taking the phone's lock) and wakes waiters.
void journalAdd(Phone& phone, JournalEntry e);
// Matches a fault of the phone's scenario, counting it as fired.
std::optional<Fault> phoneFault(Phone& phone, const std::string& service, const std::string& name,
                                int nthOnConnection);
bool faultMatches(const Fault& f, const std::string& service, const std::string& name,
                  int nthOnConnection);

// Applies a client's records dictionary to a store; fills remap and deletions. sessionMap holds
// the provisional ids remapped earlier in the session and gains this message's.
void applyChanges(Phone::State& st, Plist& store, plist_t changes, Plist& remap,
                  std::map<std::string, std::string>& sessionMap, std::vector<std::string>& deleted,
                  std::vector<std::string>& notes);

// A stalled phone: it sends nothing more on the connection and takes what arrives until the
// connection goes (the client gives up, the phone is detached, the server stops).
void stallUntilClosed(int fd);

// Connection context handed to the service handlers.
struct ConnContext {
    Server::Impl* server = nullptr;
    int fd = -1;
    int id = 0;
    std::shared_ptr<Phone> phone;
    std::map<std::string, int> seen;  // request name -> count on this connection
    std::unique_ptr<TlsServer> tls;   // set while the connection runs over TLS
    int nth(const std::string& name) { return ++seen[name]; }
};

// A journal entry of this connection, stamped now.
JournalEntry journalEntry(ConnContext& c, const char* service, const std::string& name,
                          bool fromClient);
// Byte I/O on a service connection, through TLS while it is on.
bool connRecv(ConnContext& c, void* buf, size_t n);
bool connSend(ConnContext& c, const void* buf, size_t n);
// The server handshake; false (with a journal note) when it fails.
bool connStartTls(ConnContext& c, const char* service);
// One length-prefixed plist frame. A client that ends TLS (close_notify) between frames goes
// on in plain text, as libimobiledevice does after StopSession.
bool recvFrame(ConnContext& c, std::string* body);
bool sendFrame(ConnContext& c, const std::string& body);
// The guarded parse of a client's frame; null when refused or not a plist.
Plist parseFrame(const std::string& body);

void serveLockdown(ConnContext& c);
void serveSync(ConnContext& c);
void serveAfc(ConnContext& c);
void serveBackup(ConnContext& c);     // backup_services.cpp
void serveInstProxy(ConnContext& c);  // backup_services.cpp
void serveNotificationProxy(ConnContext& c);

// Sleeps unless the server is stopping; false when interrupted.
bool serverSleep(Server::Impl* s, int ms);
// Pulls the phone's cable: Detached to every listener, every connection to it broken.
void serverUnplug(Server::Impl* s, const std::string& udid);

}  // namespace fakedevice
