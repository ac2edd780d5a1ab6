// The device's AFC service: a file system held in memory, with the faults a scenario asks for.
#include "internal.h"

#include <algorithm>
#include <cstring>

namespace fakedevice {

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
        JournalEntry je = journalEntry(c, kServiceAfc, name, true);
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
                case FaultKind::Unplug:
                case FaultKind::UnplugBeforeAnswer:
                    serverUnplug(c.server, phone.udid());
                    return;
                case FaultKind::Stall:
                    stallUntilClosed(c.fd);
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
