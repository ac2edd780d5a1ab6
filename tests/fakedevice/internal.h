// Internals shared by the simulator's translation units. Not part of the public interface.
#pragma once

#include "fakedevice.h"

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
    uint16_t nextPort = 49152;

    // All of these expect mu to be held.
    void addJournalLocked(JournalEntry e);
    void bumpNextContactIdLocked();
    std::optional<Fault> fireFaultLocked(const std::string& service, const std::string& name,
                                         int nthOnConnection);
};

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

// Connection context handed to the service handlers.
struct ConnContext {
    Server::Impl* server = nullptr;
    int fd = -1;
    int id = 0;
    std::shared_ptr<Phone> phone;
    std::map<std::string, int> seen;  // request name -> count on this connection
    int nth(const std::string& name) { return ++seen[name]; }
};

void serveLockdown(ConnContext& c);
void serveSync(ConnContext& c);
void serveAfc(ConnContext& c);
void serveBackup(ConnContext& c);     // backup_services.cpp
void serveInstProxy(ConnContext& c);  // backup_services.cpp

// Sleeps unless the server is stopping; false when interrupted.
bool serverSleep(Server::Impl* s, int ms);

}  // namespace fakedevice
