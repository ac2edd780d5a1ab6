#include "internal.h"

#include "platform/mobilesync/plistguard.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace fakedevice {

namespace {

bool allDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uint64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

// Splits "<code>/<contact>/<n>"; false unless there are exactly three parts.
bool splitChildId(const std::string& id, std::string* code, std::string* contact,
                  std::string* last) {
    size_t a = id.find('/');
    if (a == std::string::npos)
        return false;
    size_t b = id.find('/', a + 1);
    if (b == std::string::npos || id.find('/', b + 1) != std::string::npos)
        return false;
    *code = id.substr(0, a);
    *contact = id.substr(a + 1, b - a - 1);
    *last = id.substr(b + 1);
    return true;
}

bool isProvisional(const std::string& s) {
    return s.size() > 1 && s[0] == '-' && allDigits(s.substr(1));
}

}  // namespace

// ---- State ---------------------------------------------------------------------------------

void Phone::State::addJournalLocked(JournalEntry e) {
    if (journalFile) {
        auto secs = std::chrono::duration_cast<std::chrono::milliseconds>(e.when.time_since_epoch())
                        .count();
        fprintf(journalFile,
                "{\"time_ms\":%lld,\"udid\":\"%s\",\"service\":\"%s\",\"conn\":%d,"
                "\"dir\":\"%s\",\"name\":\"%s\",\"xml\":\"%s\",\"text\":\"%s\"}\n",
                static_cast<long long>(secs), jsonEscape(e.udid).c_str(),
                jsonEscape(e.service).c_str(), e.connection, e.fromClient ? "in" : "out",
                jsonEscape(e.name).c_str(), jsonEscape(e.xml).c_str(), jsonEscape(e.text).c_str());
        fflush(journalFile);
    }
    // Bounded, so that a long-running fake-iphone does not grow without end.
    if (journal.size() >= 200000)
        journal.erase(journal.begin(), journal.begin() + 100000);
    journal.push_back(std::move(e));
    cv.notify_all();
}

void Phone::State::bumpNextContactIdLocked() {
    uint64_t next = 1001;
    for (const std::string& k : records.keys()) {
        if (allDigits(k) && k.size() < 19)
            next = std::max<uint64_t>(next, std::stoull(k) + 1);
    }
    nextContactId = std::max(nextContactId, next);
}

bool faultMatches(const Fault& f, const std::string& service, const std::string& name,
                  int nthOnConnection) {
    if (!f.service.empty() && f.service != service)
        return false;
    if (!f.request.empty() && f.request != name)
        return false;
    return f.nth == 0 || f.nth == nthOnConnection;
}

std::optional<Fault> Phone::State::fireFaultLocked(const std::string& service,
                                                   const std::string& name, int nth) {
    faultFired.resize(scenario.faults.size(), 0);
    for (size_t i = 0; i < scenario.faults.size(); ++i) {
        const Fault& f = scenario.faults[i];
        if (!faultMatches(f, service, name, nth))
            continue;
        if (f.times > 0 && faultFired[i] >= f.times)
            continue;
        ++faultFired[i];
        return f;
    }
    return std::nullopt;
}

void journalAdd(Phone& phone, JournalEntry e) {
    Phone::State& st = phone.state();
    std::lock_guard<std::mutex> lock(st.mu);
    st.addJournalLocked(std::move(e));
}

std::optional<Fault> phoneFault(Phone& phone, const std::string& service, const std::string& name,
                                int nth) {
    Phone::State& st = phone.state();
    std::lock_guard<std::mutex> lock(st.mu);
    return st.fireFaultLocked(service, name, nth);
}

// ---- changes from a client -----------------------------------------------------------------

// contact id -> ids of the records whose "contact" array names it.
using ChildIndex = std::map<std::string, std::vector<std::string>>;

static ChildIndex indexChildren(plist_t store) {
    ChildIndex index;
    for (auto& kv : dictItems(store)) {
        plist_t arr = plist_dict_get_item(kv.second, "contact");
        if (!arr || plist_get_node_type(arr) != PLIST_ARRAY)
            continue;
        for (uint32_t i = 0; i < plist_array_get_size(arr); ++i)
            index[plistString(plist_array_get_item(arr, i))].push_back(kv.first);
    }
    return index;
}

// index is built on the first contact deletion of a message (one pass over the store).
static void deleteRecord(Plist& store, const std::string& id, std::vector<std::string>& deleted,
                         std::optional<ChildIndex>& index) {
    plist_t rec = plist_dict_get_item(store.get(), id.c_str());
    if (!rec)
        return;
    bool isContact =
        plistString(plist_dict_get_item(rec, kEntityNameKey)) == "com.apple.contacts.Contact";
    if (isContact && !index)
        index = indexChildren(store.get());
    plist_dict_remove_item(store.get(), id.c_str());
    deleted.push_back(id);
    if (!isContact)
        return;
    // A deleted contact takes its children with it; a child shared with another contact only
    // loses the link.
    for (const std::string& childId : (*index)[id]) {
        plist_t child = plist_dict_get_item(store.get(), childId.c_str());
        plist_t arr = child ? plist_dict_get_item(child, "contact") : nullptr;
        if (!arr || plist_get_node_type(arr) != PLIST_ARRAY)
            continue;
        bool named = false;
        for (uint32_t i = plist_array_get_size(arr); i > 0; --i) {
            if (plistString(plist_array_get_item(arr, i - 1)) == id) {
                plist_array_remove_item(arr, i - 1);
                named = true;
            }
        }
        if (named && plist_array_get_size(arr) == 0) {
            plist_dict_remove_item(store.get(), childId.c_str());
            deleted.push_back(childId);
        }
    }
}

void applyChanges(Phone::State& st, Plist& store, plist_t changes, Plist& remap,
                  std::map<std::string, std::string>& map, std::vector<std::string>& deleted,
                  std::vector<std::string>& notes) {
    if (!changes || plist_get_node_type(changes) != PLIST_DICT) {
        notes.push_back("records are not a dictionary");
        return;
    }
    std::optional<ChildIndex> index;
    for (auto& kv : dictItems(changes)) {
        const std::string& key = kv.first;
        plist_t val = kv.second;
        if (plist_get_node_type(val) == PLIST_STRING) {
            if (plistString(val) == kEmptyParameter) {
                if (plist_dict_get_item(store.get(), key.c_str()))
                    deleteRecord(store, key, deleted, index);
                else
                    notes.push_back("delete of unknown record " + key);
            } else {
                notes.push_back("string value for record " + key);
            }
            continue;
        }
        if (plist_get_node_type(val) != PLIST_DICT) {
            notes.push_back("record " + key + " is neither a dictionary nor a deletion");
            continue;
        }
        std::string newId = key;
        std::string code, mid, last;
        auto known = map.find(key);
        if (known != map.end()) {
            newId = known->second;  // sent again in the same session: replaces that record
        } else if (isProvisional(key)) {
            newId = std::to_string(st.nextContactId++);
        } else if (splitChildId(key, &code, &mid, &last) && isProvisional(last)) {
            if (map.count(mid))
                mid = map[mid];
            std::string base = code + "/" + mid;
            int& n = st.nextChildIndex[base];
            while (plist_dict_get_item(store.get(), (base + "/" + std::to_string(n)).c_str()))
                ++n;
            newId = base + "/" + std::to_string(n++);
        } else if (!plist_dict_get_item(store.get(), key.c_str())) {
            notes.push_back("record " + key + " is not on the device; stored under that id");
        }
        if (newId != key) {
            map[key] = newId;
            remap.set(key, Plist::string(newId));
        }
        plist_t rec = plist_copy(val);
        plist_t arr = plist_dict_get_item(rec, "contact");
        if (arr && plist_get_node_type(arr) == PLIST_ARRAY) {
            for (uint32_t i = 0; i < plist_array_get_size(arr); ++i) {
                plist_t item = plist_array_get_item(arr, i);
                std::string ref = plistString(item);
                if (map.count(ref))
                    plist_set_string_val(item, map[ref].c_str());
            }
        }
        plist_dict_set_item(store.get(), newId.c_str(), rec);
    }
}

// ---- Phone ---------------------------------------------------------------------------------

Phone::Phone(std::string udid, std::string deviceName)
    : udid_(std::move(udid)), state_(std::make_unique<State>()) {
    State& st = *state_;
    st.values = Plist::dict();
    st.values.set("BasebandVersion", Plist::string("2.50.01"));
    st.values.set("DeviceClass", Plist::string("iPhone"));
    st.values.set("DeviceColor", Plist::string("1"));
    st.values.set("DeviceName", Plist::string(deviceName));
    st.values.set("DevicePublicKey", plistData(tlsIdentity().devicePublicKey));
    st.values.set("ModelNumber", Plist::string("MQ0T3"));
    st.values.set("PhoneNumber", Plist::string("+1 555 0100"));
    st.values.set("ProductName", Plist::string("iPhone OS"));
    st.values.set("SerialNumber",
                  Plist::string("F" + udid_.substr(0, std::min<size_t>(11, udid_.size()))));
    st.values.set("TimeZone", Plist::string("UTC"));
    st.values.set("UniqueDeviceID", Plist::string(udid_));
    st.values.set("WiFiAddress", Plist::string("02:00:00:00:00:01"));

    Plist tethered = Plist::dict();
    Plist contacts = Plist::dict();
    contacts.set("DisableTethered", plistBool(true));
    contacts.set("SyncingOS", Plist::string("Mac OS X"));
    tethered.set("Contacts", contacts);
    st.domains["com.apple.mobile.tethered_sync"] = tethered;
    Plist itunes = Plist::dict();
    Plist classes = Plist::array();
    for (const char* c : {"Contacts", "Calendars", "Bookmarks", "Mail Accounts", "Notes"})
        classes.append(Plist::string(c));
    itunes.set("SyncDataClasses", classes);
    st.domains["com.apple.mobile.iTunes"] = itunes;

    st.records = Plist::dict();
    emulateIosLocked(st, 17);
    AfcNode root;
    root.dir = true;
    root.mtimeNs = root.birthNs = nowNs();
    st.afc["/"] = root;
}

Phone::~Phone() {
    if (state_->journalFile)
        fclose(state_->journalFile);
}

std::string Phone::deviceName() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->values.stringAt("DeviceName");
}

void Phone::setDeviceName(const std::string& name) {
    setLockdownValue("", "DeviceName", Plist::string(name));
}

void Phone::setLockdownValue(const std::string& domain, const std::string& key, Plist value) {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (domain.empty()) {
        state_->values.set(key, std::move(value));
        return;
    }
    Plist& d = state_->domains[domain];
    if (!d)
        d = Plist::dict();
    d.set(key, std::move(value));
}

void Phone::removeLockdownValue(const std::string& domain, const std::string& key) {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (domain.empty()) {
        plist_dict_remove_item(state_->values.get(), key.c_str());
        return;
    }
    auto it = state_->domains.find(domain);
    if (it != state_->domains.end() && it->second.type() == PLIST_DICT)
        plist_dict_remove_item(it->second.get(), key.c_str());
}

Plist Phone::lockdownValue(const std::string& domain, const std::string& key) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (domain.empty())
        return state_->values.item(key);
    auto it = state_->domains.find(domain);
    return it == state_->domains.end() ? Plist() : it->second.item(key);
}

Plist Phone::lockdownValues(const std::string& domain) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (domain.empty())
        return state_->values;
    auto it = state_->domains.find(domain);
    return it == state_->domains.end() ? Plist() : it->second;
}

std::vector<SetValueCall> Phone::setValueCalls() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->setCalls;
}

void applyIosProtocol(Scenario& sc, int major) {
    sc.sessionSsl = true;         // every version
    sc.serviceSsl = major >= 13;  // the sync service since iOS 13
    sc.syncVersionMajor = major >= 14 ? 400 : 300;
    sc.syncVersionMinor = major >= 14 ? 0 : 100;
    sc.sevenElementStart = major >= 14;
    sc.syncType = major >= 14 ? "SDSyncTypeReset" : "SDSyncTypeSlow";
}

Scenario scenarioFor(int iosMajor) {
    Scenario sc;
    applyIosProtocol(sc, iosMajor);
    return sc;
}

void emulateIosLocked(Phone::State& st, int major) {
    struct Model {
        int major;
        const char *version, *build, *type, *hardware;
    };
    // Version values as the phones report them.
    static const Model models[] = {
        {12, "12.5.7", "16H81", "iPhone7,2", "N61AP"},
        {13, "13.7", "17H35", "iPhone9,1", "D10AP"},
        {14, "14.8", "18H17", "iPhone10,4", "D201AP"},
        {15, "15.8", "19H370", "iPhone12,1", "N104AP"},
        {16, "16.7.8", "20H343", "iPhone13,2", "D53gAP"},
        {17, "17.5.1", "21F90", "iPhone15,2", "D73AP"},
        {18, "18.1", "22B83", "iPhone16,1", "D83AP"},
    };
    // The newest listed version not above the one asked for (the oldest listed one below it).
    const Model* m = &models[0];
    for (const Model& each : models)
        if (each.major <= major)
            m = &each;
    st.iosMajor = m->major;
    st.values.set("ProductVersion", Plist::string(m->version));
    st.values.set("BuildVersion", Plist::string(m->build));
    st.values.set("ProductType", Plist::string(m->type));
    st.values.set("HardwareModel", Plist::string(m->hardware));
    applyIosProtocol(st.scenario, m->major);
}

void Phone::setTrust(Trust trust) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->scenario.trust = trust;
    if (trust != Trust::Trusted) {
        state_->savedPairRecord.clear();
        state_->pairRecordDeleted = true;
    }
}

void Phone::emulateICloudContacts(bool refuse) {
    std::lock_guard<std::mutex> lock(state_->mu);
    Scenario& sc = state_->scenario;
    sc.refuseSync = refuse;
    sc.refuseDescription = refuse ? "No Data Store available for data class" : "";
    if (!refuse)
        state_->records = Plist::dict();
    Plist contacts = Plist::dict();
    contacts.set("DisableTethered", plistBool(true));
    contacts.set("SyncingOS", Plist::string("iOS"));
    Plist& tethered = state_->domains["com.apple.mobile.tethered_sync"];
    if (!tethered)
        tethered = Plist::dict();
    tethered.set("Contacts", contacts);
}

void Phone::emulateIos(int major) {
    std::lock_guard<std::mutex> lock(state_->mu);
    emulateIosLocked(*state_, major);
}

int Phone::iosMajor() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->iosMajor;
}

Scenario Phone::scenario() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->scenario;
}

void Phone::setScenario(const Scenario& s) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->scenario = s;
    state_->faultFired.assign(s.faults.size(), 0);
}

void Phone::updateScenario(const std::function<void(Scenario&)>& change) {
    std::lock_guard<std::mutex> lock(state_->mu);
    const std::vector<Fault> before = state_->scenario.faults;
    change(state_->scenario);
    // A changed fault list starts counting afresh; an unchanged one keeps its counts.
    const std::vector<Fault>& after = state_->scenario.faults;
    auto same = [](const Fault& a, const Fault& b) {
        return a.service == b.service && a.request == b.request && a.nth == b.nth &&
               a.kind == b.kind && a.delayMs == b.delayMs && a.times == b.times;
    };
    if (before.size() != after.size() ||
        !std::equal(before.begin(), before.end(), after.begin(), same))
        state_->faultFired.assign(after.size(), 0);
}

void Phone::rearmFaults() {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->faultFired.assign(state_->scenario.faults.size(), 0);
}

void Phone::setRecords(const Plist& records) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->records = records.type() == PLIST_DICT ? records : Plist::dict();
    state_->nextChildIndex.clear();
    state_->bumpNextContactIdLocked();
}

void Phone::addRecord(const std::string& id, const Plist& record) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->records.set(id, record);
    if (allDigits(id) && id.size() < 19)
        state_->nextContactId = std::max<uint64_t>(state_->nextContactId, std::stoull(id) + 1);
}

void Phone::removeRecord(const std::string& id) {
    std::lock_guard<std::mutex> lock(state_->mu);
    plist_dict_remove_item(state_->records.get(), id.c_str());
}

void Phone::clearRecords() {
    setRecords(Plist::dict());
}

Plist Phone::records() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->records;
}

Plist Phone::record(const std::string& id) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->records.item(id);
}

size_t Phone::recordCount() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return plist_dict_get_size(state_->records.get());
}

std::vector<std::string> Phone::recordIds(const std::string& kind) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    std::vector<std::string> out;
    for (auto& kv : dictItems(state_->records.get())) {
        if (kind.empty() || plistString(plist_dict_get_item(kv.second, kEntityNameKey)) == kind)
            out.push_back(kv.first);
    }
    return out;
}

bool Phone::loadFixture(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string bytes = ss.str();
    Plist records(plistguard::parse(bytes.data(), bytes.size()));
    if (records.type() != PLIST_DICT) {
        if (error)
            *error = path + ": not a property-list dictionary of records";
        return false;
    }
    for (auto& kv : dictItems(records.get())) {
        if (plist_get_node_type(kv.second) != PLIST_DICT ||
            plistString(plist_dict_get_item(kv.second, kEntityNameKey)).empty()) {
            if (error)
                *error = path + ": record " + kv.first + " has no " + kEntityNameKey;
            return false;
        }
    }
    setRecords(records);
    return true;
}

bool Phone::saveFixture(const std::string& path, std::string* error) const {
    std::string xml = records().toXml();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(xml.data(), static_cast<std::streamsize>(xml.size()))) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

// ---- AFC tree (direct access) --------------------------------------------------------------

std::string afcNormalize(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (cur == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!cur.empty() && cur != ".") {
                parts.push_back(cur);
            }
            cur.clear();
        } else {
            cur += path[i];
        }
    }
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string afcParent(const std::string& path) {
    std::string n = afcNormalize(path);
    size_t slash = n.rfind('/');
    return slash == 0 ? "/" : n.substr(0, slash);
}

void afcMkdirsLocked(Phone::State& st, const std::string& path) {
    std::string n = afcNormalize(path);
    if (st.afc.count(n))
        return;
    afcMkdirsLocked(st, afcParent(n));
    AfcNode d;
    d.dir = true;
    d.mtimeNs = d.birthNs = nowNs();
    st.afc[n] = d;
}

void Phone::afcPut(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> lock(state_->mu);
    std::string n = afcNormalize(path);
    afcMkdirsLocked(*state_, afcParent(n));
    AfcNode f;
    f.data = content;
    f.mtimeNs = f.birthNs = nowNs();
    state_->afc[n] = f;
}

bool Phone::afcGet(const std::string& path, std::string* content) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    auto it = state_->afc.find(afcNormalize(path));
    if (it == state_->afc.end() || it->second.dir)
        return false;
    if (content)
        *content = it->second.data;
    return true;
}

bool Phone::afcExists(const std::string& path) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->afc.count(afcNormalize(path)) > 0;
}

bool Phone::afcIsDir(const std::string& path) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    auto it = state_->afc.find(afcNormalize(path));
    return it != state_->afc.end() && it->second.dir;
}

void Phone::afcMkdir(const std::string& path) {
    std::lock_guard<std::mutex> lock(state_->mu);
    afcMkdirsLocked(*state_, path);
}

std::vector<std::string> Phone::afcList(const std::string& dir) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    std::vector<std::string> out;
    std::string n = afcNormalize(dir);
    for (auto& kv : state_->afc) {
        if (kv.first != "/" && afcParent(kv.first) == n)
            out.push_back(kv.first.substr(kv.first.rfind('/') + 1));
    }
    return out;
}

// ---- journal -------------------------------------------------------------------------------

std::vector<JournalEntry> Phone::journal() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->journal;
}

void Phone::clearJournal() {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->journal.clear();
    state_->sessions.clear();
    state_->setCalls.clear();
}

void Phone::setJournalFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->journalFile)
        fclose(state_->journalFile);
    state_->journalFile = path.empty() ? nullptr : fopen(path.c_str(), "a");
}

std::vector<JournalEntry> Phone::requests(const std::string& service,
                                          const std::string& name) const {
    std::lock_guard<std::mutex> lock(state_->mu);
    std::vector<JournalEntry> out;
    for (const JournalEntry& e : state_->journal) {
        if (e.fromClient && (service.empty() || e.service == service) &&
            (name.empty() || e.name == name))
            out.push_back(e);
    }
    return out;
}

size_t Phone::countRequests(const std::string& service, const std::string& name) const {
    return requests(service, name).size();
}

bool Phone::waitForRequest(const std::string& service, const std::string& name,
                           std::chrono::milliseconds timeout, size_t count) const {
    std::unique_lock<std::mutex> lock(state_->mu);
    return state_->cv.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const JournalEntry& e : state_->journal) {
            if (e.fromClient && (service.empty() || e.service == service) &&
                (name.empty() || e.name == name))
                ++n;
        }
        return n >= count;
    });
}

bool Phone::waitForJournal(const std::function<bool(const JournalEntry&)>& match,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mu);
    return state_->cv.wait_for(lock, timeout, [&] {
        return std::any_of(state_->journal.begin(), state_->journal.end(), match);
    });
}

std::vector<SyncSession> Phone::syncSessions() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->sessions;
}

bool Phone::waitForSyncEnd(std::chrono::milliseconds timeout, size_t sessions) const {
    std::unique_lock<std::mutex> lock(state_->mu);
    return state_->cv.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const SyncSession& s : state_->sessions)
            n += s.ended ? 1 : 0;
        return n >= sessions;
    });
}

}  // namespace fakedevice
