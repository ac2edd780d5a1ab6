// A simulated iPhone for tests: a usbmuxd socket server with lockdownd, the contacts sync
// service (mobilesync) and AFC behind it, driven by the real libimobiledevice client.
//
// Typical in-process use:
//
//   fakedevice::TempDir dir;
//   fakedevice::Server server(dir.socketPath());
//   fakedevice::ScopedMuxAddress mux(server.socketAddress());
//   auto phone = std::make_shared<fakedevice::Phone>("0123...", "Test Phone");
//   phone->generateContacts(20);
//   server.attach(phone);
//   ... libimobiledevice calls ...
//   EXPECT_TRUE(phone->waitForRequest("lockdownd", "StartSession", std::chrono::seconds(5)));
//
// Everything here is thread-safe; the server runs one thread per client connection.
// With device events: start the server before idevice_event_subscribe(), call
// libusbmuxd_set_use_inotify(0) first (or the client never reconnects to a restarted server on
// a UNIX: path), and unsubscribe before the server goes away. A client whose lookup fails
// silently probably has USBMUXD_SOCKET_ADDRESS without the exact "UNIX:" prefix.
#pragma once

#include <plist/plist.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fakedevice {

// Service names used in the journal and in faults.
inline constexpr const char* kServiceMux = "usbmuxd";
inline constexpr const char* kServiceLockdown = "lockdownd";
inline constexpr const char* kServiceSync = "com.apple.mobilesync";
inline constexpr const char* kServiceAfc = "com.apple.afc";
inline constexpr const char* kServiceNotification = "com.apple.mobile.notification_proxy";

inline constexpr const char* kEmptyParameter = "___EmptyParameterString___";
inline constexpr const char* kEntityNameKey = "com.apple.syncservices.RecordEntityName";

// Owning handle on one plist node; copies deep-copy the node.
class Plist {
public:
    Plist() = default;
    explicit Plist(plist_t node) : node_(node) {}  // takes ownership
    Plist(const Plist& other);
    Plist(Plist&& other) noexcept : node_(other.node_) { other.node_ = nullptr; }
    Plist& operator=(Plist other) noexcept;
    ~Plist();

    static Plist copyOf(plist_t node);             // deep copy, caller keeps its node
    static Plist fromXml(const std::string& xml);  // null on a parse error
    static Plist fromBinary(const std::string& bin);
    static Plist string(const std::string& s);
    static Plist dict();
    static Plist array();

    plist_t get() const { return node_; }
    plist_t release();
    explicit operator bool() const { return node_ != nullptr; }
    plist_type type() const;

    std::string toXml() const;     // empty for a null node
    std::string toBinary() const;  // empty for a null node

    // Dictionary helpers (no-ops on other node types).
    void set(const std::string& key, Plist value);
    Plist item(const std::string& key) const;            // copy; null when missing
    std::string stringAt(const std::string& key) const;  // empty when missing / not a string
    std::vector<std::string> keys() const;               // in stored order
    // Array helper.
    void append(Plist value);

private:
    plist_t node_ = nullptr;
};

enum class Connection { Usb, Network };

// What a hostile or broken device does when a fault fires.
enum class FaultKind {
    Drop,           // close the connection instead of answering
    Delay,          // wait delayMs, then answer normally
    HugeLength,     // send a frame whose length prefix is huge, then close
    Garbage,        // send a well-framed body of non-plist bytes, then close
    WrongNodeType,  // answer with a plist of the wrong node type (string instead of dict/array)
    MissingKeys,    // answer with the reply stripped of its keys / elements beyond the name
    Unplug,         // the cable is pulled: the phone is detached and every connection breaks
    Stall,          // the phone stops sending on that connection (it still takes what comes)
                    // until the client gives up, the phone is detached or the server stops
    // On the sync service, the cable is pulled once the phone has handled the message (a change
    // message applied), before its answer goes out; elsewhere the same as Unplug.
    UnplugBeforeAnswer,
};

// Whether the phone trusts this computer.
enum class Trust {
    Trusted,   // paired (the default)
    Pending,   // "Trust this computer?" on screen: Pair answers "PairingDialogResponsePending"
    Declined,  // "Don't Trust" tapped: Pair answers "UserDeniedPairing"
};

// Frames a hostile phone sends in place of a batch of records.
enum class HostileFrame {
    None,
    Nested,            // a record nested 200,000 arrays deep (about 1.8 MB)
    SharedReferences,  // a few hundred bytes whose shared references expand beyond any memory
    NulString,         // a record whose name holds a NUL
    Oversized,         // a frame that announces 256 MiB and one byte (beyond any batch)
};

// A fault fires on a message received from the client on one service connection.
// service: kServiceMux, kServiceLockdown, kServiceSync, kServiceAfc, or empty for any.
// request: lockdown "Request" (e.g. "StartService", or with its domain after a space:
// "GetValue com.apple.mobile.tethered_sync"), usbmuxd "MessageType" (e.g. "Connect"),
// device-link element 0 (e.g. "SDMessageAcknowledgeChangesFromDevice"), AFC operation name
// (e.g. "FILE_READ", "READ_DIR"); empty for any.
// nth: fire on the nth matching message of that connection (1-based); 0 = on every match.
// times: how many times in total the fault fires; 0 = no limit.
struct Fault {
    std::string service;
    std::string request;
    int nth = 0;
    FaultKind kind = FaultKind::Drop;
    int delayMs = 0;
    int times = 0;
};

// Scenario switches of one phone. Defaults give a well-behaved, trusting iPhone.
struct Scenario {
    // usbmuxd
    bool noPairRecord = false;                // ReadPairRecord answers Result 2 (the library then
                                              // tries to pair and fails: no DevicePublicKey)
    bool pairRecordWithoutHostId = false;     // handshake fails with LOCKDOWN_E_INVALID_CONF
    bool pairRecordWithoutEscrowBag = false;  // (only the backup service start needs it)
    bool refuseConnect = false;               // every usbmuxd Connect answers Result 3
    // The computer's copy of the pair record is damaged (its root certificate and key cut
    // short): the computer presents no certificate, and the phone, which asks for the one it
    // paired with, ends the TLS handshake while it stays attached.
    bool damagedPairRecord = false;

    // lockdownd
    // Request name -> device Error text, e.g. {"StartSession","InvalidHostID"} (untrusted),
    // {"StartService","InvalidService"}, {"SetValue","SetProhibited"}, {"GetValue","MissingValue"}.
    std::map<std::string, std::string> lockdownErrors;
    bool queryTypeWithoutType = false;
    bool startServiceWithoutPort = false;
    // Whether the phone trusts this computer (Phone::setTrust also forgets the pairing).
    Trust trust = Trust::Trusted;
    // Locked with its passcode since it was started: StartService of the sync, file and
    // backup services answers "PasswordProtected" (values are still read).
    bool locked = false;
    // The phone refuses the lockdown session's TLS handshake (it closes the connection).
    bool tlsRefused = false;
    // The phone stalls inside the TLS handshake of that service (kServiceLockdown for the
    // lockdown session, kServiceSync for the sync service): it takes the client's hello and
    // sends nothing more. Empty: none.
    std::string stallTlsOf;
    // The phone completes the TLS handshake of that service and then closes the connection
    // without a word (a sync agent that restarts). Empty: none.
    std::string hangUpAfterTlsOf;
    // StartSession answers EnableSessionSSL true and the session goes on over TLS, as on
    // every real phone; false only for tests of the plain protocol.
    bool sessionSsl = true;
    // StartService of the sync service answers EnableServiceSSL true and the service runs
    // over TLS (iOS 13 and later).
    bool serviceSsl = true;

    // mobilesync (the defaults are those of a current phone, iOS 14 and later)
    uint64_t syncVersionMajor = 400;  // announced device-link version (300 before iOS 14)
    uint64_t syncVersionMinor = 0;
    std::string syncType = "SDSyncTypeReset";  // answer to the start request
    bool sevenElementStart = true;  // the start answer ends with an empty parameter (iOS 14)
    uint64_t dataClassVersion = 106;
    bool refuseSync = false;         // answer start with SDMessageRefuseToSyncDataClassWithComputer
    std::string refuseDescription;   // its description ("" = "___EmptyParameterString___")
    bool cancelSyncAtStart = false;  // answer start with SDMessageCancelSession
    size_t batchSize = 50;           // records per SDMessageProcessChanges (0 = all in one)
    int cancelAtBatch = -1;          // send SDMessageCancelSession instead of batch k (0-based)
    int dropAtBatch = -1;            // close the connection instead of sending batch k
    std::string cancelReason = "Sync cancelled by the device";
    bool readyToReceiveInWriteSession = false;  // volunteer DeviceReadyToReceiveChanges after start
    bool remapAsEmptyParameter = false;  // every remap answer is "___EmptyParameterString___"
    int cancelAtProcessChanges = -1;  // answer the client's kth ProcessChanges (0-based) by cancel
    bool commitOnFinish = false;      // client changes take effect only at FinishSession
    int disconnectAtBatch = -1;       // send DLMessageDisconnect instead of batch k, then close
    int malformedAtBatch = -1;        // batch k's records are an array, not a record dictionary
    HostileFrame hostileFrame = HostileFrame::None;  // sent instead of batch hostileAtBatch
    int hostileAtBatch = 0;
    // FinishSession is answered with SDMessageCancelSession and this reason (a phone that cannot
    // commit the changes: "Couldn't commit changes on device"), and the session's changes are
    // dropped; empty: the finish is accepted.
    std::string finishRefusal;

    // generic faults
    std::vector<Fault> faults;
};

// The default scenario of a phone on that iOS major version (see Phone::emulateIos).
Scenario scenarioFor(int iosMajor);

struct JournalEntry {
    std::chrono::system_clock::time_point when;
    std::string udid;        // empty for usbmuxd traffic not tied to a device
    std::string service;     // kService*
    int connection = 0;      // server-wide connection number
    bool fromClient = true;  // false: something the simulator sent (name only, no body)
    std::string name;        // request name as used by Fault::request
    std::string xml;         // the decoded plist as XML text (plist services)
    std::string text;        // AFC: operation and arguments, e.g. "FILE_OPEN 3 /a/b"; notes
};

struct SetValueCall {
    std::string domain;  // empty when the client sent none
    std::string key;
    Plist value;
};

// What happened in one mobilesync session.
struct SyncSession {
    int connection = 0;
    std::string dataClass;
    std::string deviceAnchor;
    std::string computerAnchor;
    uint64_t version = 0;  // data-class version the computer announced
    bool started = false;  // the start was answered with SyncDataClassWithComputer
    bool recordsRequested = false;
    int batchesSent = 0;
    int acknowledgements = 0;
    bool pingReceived = false;
    std::vector<Plist> changesReceived;  // each SDMessageProcessChanges records dictionary
    std::vector<Plist> remapsSent;       // each remap dictionary (null: empty parameter sent)
    std::vector<std::string> deleted;    // record ids deleted by the client (incl. cascaded)
    bool finished = false;
    bool cancelledByClient = false;
    bool cancelledByDevice = false;
    bool disconnected = false;  // DLMessageDisconnect received
    bool ended = false;         // connection closed
};

// Options of the contact generator. Deterministic from the seed.
struct GenerateOptions {
    uint32_t seed = 1;
    enum class Order {
        ContactFirst,   // each contact followed by its children
        ChildrenFirst,  // each contact's children before it
        ContactsFirst,  // all contacts, then all children
    } order = Order::ContactFirst;
    int photoEvery = 5;                   // every nth contact has an image (0 = none)
    size_t photoBytes = 0;                // each image at least this large (a camera photo)
    bool childNamingTwoContacts = false;  // add one phone record naming two contacts
    bool unknownKind = false;             // add a "com.apple.contacts.Group" record
    bool wrongValueTypes = false;         // one image as string, one Date value as string
    bool wrongCaseTypes = false;          // one phone with type "Mobile"
};

// The bytes of a hostile frame body (a binary list) as the phone sends it; for Oversized only
// the 4-byte length word.
std::string hostileFrameBytes(HostileFrame kind);

// ---- Backup service (com.apple.mobilebackup2) and installation proxy ------------------------

inline constexpr const char* kServiceBackup = "com.apple.mobilebackup2";
inline constexpr const char* kServiceInstProxy = "com.apple.mobile.installation_proxy";

// One step of the simulated backup device. After the version exchange and the host's request
// the phone runs its backup script step by step; when the script is done it waits for the
// host's DLMessageDisconnect or for the connection to close.
struct BackupStep {
    enum class Kind {
        Message,       // send `message` (a device-link array) as one frame
        Raw,           // send `bytes` unframed (file frames after DLMessageUploadFiles)
        ReadStatus,    // read the host's DLMessageStatusResponse
        ReadDownload,  // read the host's file frames up to its four zero bytes
        Drop,          // close the connection
    } kind = Kind::Message;
    Plist message;
    std::string bytes;
};

// A file the phone sends during DLMessageUploadFiles.
struct BackupUpload {
    std::string deviceName;  // the device's own name of the file
    std::string path;        // where the host is to store it, relative to the backup root
    std::string data;
};

// Builds a backup script. Every builder appends and returns *this.
class BackupScript {
public:
    BackupScript& message(Plist array);  // no answer expected
    BackupScript& ask(Plist array);      // message, then ReadStatus
    BackupScript& raw(const std::string& bytes);
    BackupScript& readStatus();
    BackupScript& drop();
    // DLMessageUploadFiles, the files' frames (data in blocks of at most 32768 bytes, each file
    // ended by 00 00 00 01 00), the four zero bytes, then ReadStatus.
    BackupScript& upload(const std::vector<BackupUpload>& files, double progress = 0.5);
    // DLMessageDownloadFiles, then ReadDownload and ReadStatus.
    BackupScript& download(const std::vector<std::string>& paths, double progress = 0.5);
    // The final DLMessageProcessMessage with "ErrorCode" (and "ErrorDescription" when given).
    BackupScript& finish(int64_t errorCode, const std::string& description = std::string());
    BackupScript& disconnect();  // DLMessageDisconnect

    // Raw frame pieces for hostile scripts.
    static std::string be32(uint32_t v);
    static std::string nameFrame(const std::string& name);
    static std::string block(char code, const std::string& payload = std::string());

    std::vector<BackupStep> steps;
};

// What the host sent for one requested file.
struct BackupDownload {
    std::string path;
    std::string data;
    bool failed = false;  // the host answered with a local error block (code 0x06)
    std::string errorText;
};

// What happened in one backup service session.
struct BackupSession {
    int connection = 0;
    bool hello = false;                 // the host's Hello arrived
    std::vector<double> helloVersions;  // its SupportedProtocolVersions
    std::string request;                // "Backup", "Restore", ...
    Plist requestDict;                  // the whole request dictionary
    std::vector<Plist> statuses;        // every DLMessageStatusResponse array, in order
    std::vector<BackupDownload> downloads;
    bool scriptDone = false;
    bool disconnected = false;  // DLMessageDisconnect received
    bool ended = false;         // connection closed
};

// One simulated iPhone.
class Phone {
public:
    explicit Phone(std::string udid, std::string deviceName = "Fake iPhone");
    ~Phone();
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    const std::string& udid() const { return udid_; }

    // Lockdown values. Empty domain = the top-level dictionary (DeviceName, ProductVersion, ...).
    std::string deviceName() const;
    void setDeviceName(const std::string& name);
    void setLockdownValue(const std::string& domain, const std::string& key, Plist value);
    void removeLockdownValue(const std::string& domain, const std::string& key);
    Plist lockdownValue(const std::string& domain, const std::string& key) const;  // null if none
    Plist lockdownValues(const std::string& domain = std::string()) const;  // whole dictionary
    std::vector<SetValueCall> setValueCalls() const;

    // The trust prompt: Pending or Declined also make the phone forget this computer's pairing
    // (the computer has no pair record for it), so that the computer has to Pair; once
    // Trusted again ("Trust" tapped), the computer's next Pair succeeds.
    void setTrust(Trust trust);
    // Contacts kept in iCloud. refuse: the sync start is refused with "No Data Store available
    // for data class", as phones with iCloud Contacts on answer; otherwise the phone syncs, with
    // none of the cloud's contacts in its own store. Either way its tethered-sync value for
    // "Contacts" says tethered sync is off (DisableTethered true, SyncingOS).
    void emulateICloudContacts(bool refuse);

    // Makes the phone behave as one on the given iOS major version: 17 (the default: device-link
    // 400, the session and the sync service over TLS, the seven-element start answer) or an
    // older one such as 12 (device-link 300, no service TLS, the six-element answer). Sets
    // the version values and the scenario's protocol fields; other switches stay.
    void emulateIos(int major);
    int iosMajor() const;

    // Scenario. setScenario re-arms every fault (their `times` count from zero again);
    // updateScenario does so only when the change altered the fault list.
    Scenario scenario() const;
    void setScenario(const Scenario& s);
    void updateScenario(const std::function<void(Scenario&)>& change);
    void rearmFaults();

    // Contact records: a dictionary record id -> record, served in this order. Changes from a
    // client apply at once (or at FinishSession with commitOnFinish): new contacts "-N" get the
    // next decimal id, new children "<code>/<contact>/-N" get "<code>/<contact id>/<n>", and
    // "___EmptyParameterString___" deletes (a contact with its children). After the last batch
    // of a read, SDMessageDeviceReadyToReceiveChanges follows unless the client speaks (or hangs
    // up) within 100 ms.
    void setRecords(const Plist& records);
    void addRecord(const std::string& id, const Plist& record);
    void removeRecord(const std::string& id);
    void clearRecords();
    Plist records() const;
    Plist record(const std::string& id) const;  // null when missing
    size_t recordCount() const;
    std::vector<std::string> recordIds(const std::string& kind = std::string()) const;
    // Replaces the records with n generated contacts (ids "1".."n", children "<code>/<i>/<n>").
    void generateContacts(size_t n, const GenerateOptions& options = GenerateOptions());
    // Loads records from a fixture file: a plist (XML or binary) dictionary id -> record.
    bool loadFixture(const std::string& path, std::string* error = nullptr);
    bool saveFixture(const std::string& path, std::string* error = nullptr) const;  // XML plist

    // AFC file tree (absolute paths).
    void afcPut(const std::string& path, const std::string& content);  // creates parents
    bool afcGet(const std::string& path, std::string* content) const;
    bool afcExists(const std::string& path) const;
    bool afcIsDir(const std::string& path) const;
    void afcMkdir(const std::string& path);                          // with parents
    std::vector<std::string> afcList(const std::string& dir) const;  // names, no "." / ".."

    // Journal.
    std::vector<JournalEntry> journal() const;
    void clearJournal();  // also forgets the sync sessions and SetValue calls
    void setJournalFile(const std::string& path);  // also append entries as JSON lines
    std::vector<JournalEntry> requests(const std::string& service,
                                       const std::string& name = std::string()) const;
    size_t countRequests(const std::string& service, const std::string& name) const;
    bool waitForRequest(const std::string& service, const std::string& name,
                        std::chrono::milliseconds timeout, size_t count = 1) const;
    bool waitForJournal(const std::function<bool(const JournalEntry&)>& match,
                        std::chrono::milliseconds timeout) const;

    // Sync sessions, oldest first.
    std::vector<SyncSession> syncSessions() const;
    bool waitForSyncEnd(std::chrono::milliseconds timeout, size_t sessions = 1) const;

    // Backup service: the script every later session runs, and the sessions seen so far.
    void setBackupScript(const BackupScript& script);
    std::vector<BackupSession> backupSessions() const;
    bool waitForBackupEnd(std::chrono::milliseconds timeout, size_t sessions = 1) const;
    // Installation proxy: the applications a "Browse" lists, an array of dictionaries
    // ("CFBundleIdentifier", "Container", "GroupContainers", ...).
    void setInstalledApps(const Plist& apps);

    struct State;  // internal
    State& state() { return *state_; }

private:
    std::string udid_;
    std::unique_ptr<State> state_;
};

// The usbmuxd socket server. Starts listening in the constructor (throws std::runtime_error
// when the socket cannot be made); the destructor stops and joins every thread.
class Server {
public:
    explicit Server(const std::string& socketPath);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    const std::string& socketPath() const { return path_; }
    std::string socketAddress() const { return "UNIX:" + path_; }

    // Attaching sends Attached to every Listen subscriber; returns the usbmuxd DeviceID (> 0).
    uint32_t attach(std::shared_ptr<Phone> phone, Connection type = Connection::Usb);
    // Detaching sends Detached and closes the device's open connections. False if not attached.
    bool detach(const std::string& udid);
    std::shared_ptr<Phone> phone(const std::string& udid) const;
    std::vector<std::shared_ptr<Phone>> phones() const;

    // Sends an Attached event without ConnectionType to every subscriber (the client then
    // reports every device removed and listens again).
    void sendMalformedEvent();
    size_t listenerCount() const;
    bool waitForListeners(size_t count, std::chrono::milliseconds timeout) const;

    // usbmuxd traffic (ListDevices, Listen, ReadBUID, ...), also entries tied to devices.
    std::vector<JournalEntry> muxJournal() const;
    // Faults on usbmuxd requests not tied to a device (ListDevices, Listen, ReadBUID).
    void setMuxFaults(const std::vector<Fault>& faults);

    void stop();  // idempotent; the destructor calls it

    struct Impl;  // internal

private:
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// Test helpers.

// A fresh directory /tmp/fdXXXXXX, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string socketPath() const { return path_ + "/mux"; }

private:
    std::string path_;
};

// Sets USBMUXD_SOCKET_ADDRESS for its lifetime and restores the previous value.
// A usbmuxd socket that no working usbmuxd serves, as computers have them: none at the path, one
// left behind by a usbmuxd that ended (nothing listens), another program's server at it (it
// answers every request with "HTTP/1.1 400 Bad Request" and closes), or a usbmuxd that takes
// connections and never answers. Point USBMUXD_SOCKET_ADDRESS at socketAddress().
enum class BrokenMuxKind { Missing, NothingListening, OtherProtocol, Silent };

class BrokenMux {
public:
    BrokenMux(const std::string& path, BrokenMuxKind kind);
    ~BrokenMux();
    BrokenMux(const BrokenMux&) = delete;
    BrokenMux& operator=(const BrokenMux&) = delete;
    std::string socketAddress() const { return "UNIX:" + path_; }

private:
    void serve();

    std::string path_;
    BrokenMuxKind kind_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

class ScopedMuxAddress {
public:
    explicit ScopedMuxAddress(const std::string& address);
    ~ScopedMuxAddress();
    ScopedMuxAddress(const ScopedMuxAddress&) = delete;
    ScopedMuxAddress& operator=(const ScopedMuxAddress&) = delete;

private:
    bool hadOld_ = false;
    std::string old_;
};

// Polls pred every few milliseconds until it is true or the timeout passes.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

// Ignores SIGPIPE process-wide (a client dropping a socket must not kill the process).
void ignoreSigpipe();

// Text of a string node; empty for null or any other node type.
std::string plistString(plist_t node);

// A 40-hex-digit udid derived from a number, e.g. for several phones in one test.
std::string makeUdid(unsigned n);

}  // namespace fakedevice
