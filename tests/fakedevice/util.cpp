#include "internal.h"

#include "platform/mobilesync/plistguard.h"

#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace fakedevice {

// ---- Plist ---------------------------------------------------------------------------------

Plist::Plist(const Plist& other) : node_(other.node_ ? plist_copy(other.node_) : nullptr) {}

Plist& Plist::operator=(Plist other) noexcept {
    std::swap(node_, other.node_);
    return *this;
}

Plist::~Plist() {
    if (node_)
        plist_free(node_);
}

Plist Plist::copyOf(plist_t node) {
    return Plist(node ? plist_copy(node) : nullptr);
}

Plist Plist::fromXml(const std::string& xml) {
    if (xml.compare(0, 6, "bplist") == 0)
        return Plist();
    return Plist(plistguard::parse(xml.data(), xml.size()));
}

Plist Plist::fromBinary(const std::string& bin) {
    if (bin.compare(0, 6, "bplist") != 0)
        return Plist();
    return Plist(plistguard::parse(bin.data(), bin.size()));
}

Plist Plist::string(const std::string& s) {
    return Plist(plist_new_string(s.c_str()));
}
Plist Plist::dict() {
    return Plist(plist_new_dict());
}
Plist Plist::array() {
    return Plist(plist_new_array());
}

plist_t Plist::release() {
    plist_t p = node_;
    node_ = nullptr;
    return p;
}

plist_type Plist::type() const {
    return node_ ? plist_get_node_type(node_) : PLIST_NONE;
}

std::string Plist::toXml() const {
    if (!node_)
        return std::string();
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(node_, &xml, &len);
    std::string out = xml ? std::string(xml, len) : std::string();
    if (xml)
        plist_to_xml_free(xml);
    return out;
}

std::string Plist::toBinary() const {
    if (!node_)
        return std::string();
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(node_, &bin, &len);
    std::string out = bin ? std::string(bin, len) : std::string();
    if (bin)
        plist_to_bin_free(bin);
    return out;
}

void Plist::set(const std::string& key, Plist value) {
    if (type() != PLIST_DICT || !value)
        return;
    plist_dict_set_item(node_, key.c_str(), value.release());
}

Plist Plist::item(const std::string& key) const {
    if (type() != PLIST_DICT)
        return Plist();
    return copyOf(plist_dict_get_item(node_, key.c_str()));
}

std::string Plist::stringAt(const std::string& key) const {
    if (type() != PLIST_DICT)
        return std::string();
    return plistString(plist_dict_get_item(node_, key.c_str()));
}

std::vector<std::string> Plist::keys() const {
    std::vector<std::string> out;
    for (auto& kv : dictItems(node_))
        out.push_back(kv.first);
    return out;
}

void Plist::append(Plist value) {
    if (type() != PLIST_ARRAY || !value)
        return;
    plist_array_append_item(node_, value.release());
}

// ---- plist helpers -------------------------------------------------------------------------

std::string plistString(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::string();
    char* s = nullptr;
    plist_get_string_val(node, &s);
    std::string out = s ? s : "";
    free(s);
    return out;
}

bool plistUint(plist_t node, uint64_t* out) {
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return false;
    plist_get_uint_val(node, out);
    return true;
}

Plist plistUintNode(uint64_t v) {
    return Plist(plist_new_uint(v));
}
Plist plistBool(bool v) {
    return Plist(plist_new_bool(v ? 1 : 0));
}
Plist plistData(const std::string& bytes) {
    return Plist(plist_new_data(bytes.data(), bytes.size()));
}

Plist plistArrayOf(std::initializer_list<Plist> items) {
    Plist a = Plist::array();
    for (const Plist& p : items)
        a.append(p);
    return a;
}

std::vector<std::pair<std::string, plist_t>> dictItems(plist_t dict) {
    std::vector<std::pair<std::string, plist_t>> out;
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    if (!it)
        return out;
    for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(dict, it, &key, &val);
        if (!key)
            break;
        out.emplace_back(key, val);
        free(key);
    }
    free(it);
    return out;
}

std::string jsonEscape(const std::string& s) {
    std::string out;
    out.reserve(s.size() + 8);
    for (unsigned char ch : s) {
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (ch < 0x20) {
                    char buf[8];
                    snprintf(buf, sizeof buf, "\\u%04x", ch);
                    out += buf;
                } else {
                    out += static_cast<char>(ch);
                }
        }
    }
    return out;
}

// ---- socket helpers ------------------------------------------------------------------------

bool recvFull(int fd, void* buf, size_t n) {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = ::recv(fd, p, n, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool sendFull(int fd, const void* buf, size_t n) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

void putBe32(std::string& out, uint32_t v) {
    out += static_cast<char>((v >> 24) & 0xff);
    out += static_cast<char>((v >> 16) & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
    out += static_cast<char>(v & 0xff);
}

uint32_t getBe32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void putLe64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
}

uint64_t getLe64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// ---- test helpers --------------------------------------------------------------------------

static void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != "..")
                    removeTree(path + "/" + name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/fdXXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error(std::string("mkdtemp failed: ") + strerror(errno));
    path_ = tmpl;
}

TempDir::~TempDir() {
    removeTree(path_);
}

ScopedMuxAddress::ScopedMuxAddress(const std::string& address) {
    if (const char* old = getenv("USBMUXD_SOCKET_ADDRESS")) {
        hadOld_ = true;
        old_ = old;
    }
    setenv("USBMUXD_SOCKET_ADDRESS", address.c_str(), 1);
}

ScopedMuxAddress::~ScopedMuxAddress() {
    if (hadOld_)
        setenv("USBMUXD_SOCKET_ADDRESS", old_.c_str(), 1);
    else
        unsetenv("USBMUXD_SOCKET_ADDRESS");
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ignoreSigpipe() {
    signal(SIGPIPE, SIG_IGN);
}

std::string makeUdid(unsigned n) {
    char buf[48];
    snprintf(buf, sizeof buf, "%08x%032x", 0xfade0000u + n, n * 2654435761u);
    return buf;
}

}  // namespace fakedevice
