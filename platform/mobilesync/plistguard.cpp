#include "plistguard.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace plistguard {

namespace {

// ---- binary lists ----------------------------------------------------------------------------

uint64_t readBe(const unsigned char* p, unsigned n) {
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

enum Kind : uint8_t { Leaf, Array, Dict };

struct Object {
    uint64_t refs = 0;     // offset of the first reference (containers)
    uint64_t count = 0;    // entries (a dictionary's keys; its values follow them)
    uint64_t payload = 0;  // string or data bytes this object adds to the parsed tree
    uint64_t nodes = 0;    // nodes of the expanded subtree, once known
    uint64_t bytes = 0;    // payload of the expanded subtree, once known
    int height = 0;        // nesting below this object, once known
    Kind kind = Leaf;
    bool isString = false;
    uint8_t state = 0;  // 0 not read, 3 read, 1 being walked, 2 done
};

class BinaryCheck {
public:
    BinaryCheck(const unsigned char* data, size_t size, const Limits& limits)
        : d_(data), size_(size), lim_(limits) {}

    std::string run() {
        if (size_ < 8 + 32 || std::memcmp(d_, "bplist00", 8) != 0)
            return "not a binary property list";
        const unsigned char* t = d_ + size_ - 32;
        offSize_ = t[6];
        refSize_ = t[7];
        const uint64_t count = readBe(t + 8, 8);
        const uint64_t root = readBe(t + 16, 8);
        const uint64_t table = readBe(t + 24, 8);
        if (offSize_ < 1 || offSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return "bad sizes in the binary list's trailer";
        if (count == 0 || count > lim_.maxNodes)
            return "too many objects";
        if (root >= count)
            return "the root object is missing";
        if (table < 8 || table > size_ - 32 || count > (size_ - 32 - table) / offSize_)
            return "the offset table lies outside the list";
        end_ = table;
        table_ = table;
        count_ = count;
        maxNodes_ = std::min(lim_.maxNodes, std::max(lim_.minNodes, size_ * lim_.nodesPerByte));
        maxPayload_ =
            std::min(lim_.maxPayload, std::max(lim_.minPayload, size_ * lim_.payloadPerByte));
        // Only what the root reaches is read, as libplist reads it: a deep chain is refused
        // after a few dozen objects, not after all of them.
        return walk(root, 0);
    }

private:
    // Reads an object's header at off and the extent of its body.
    std::string scan(uint64_t off, Object& o) {
        if (off < 8 || off >= end_)
            return "an object lies outside the list";
        const unsigned marker = d_[off];
        const unsigned type = marker >> 4, info = marker & 0x0f;
        uint64_t pos = off + 1;
        auto need = [&](uint64_t n) { return n <= end_ - pos; };
        switch (type) {
            case 0x0:
                return (info == 0x8 || info == 0x9) ? std::string() : "unknown object type";
            case 0x1:
                return info <= 4 && need(1u << info) ? std::string() : "bad integer";
            case 0x2:
                return (info == 2 || info == 3) && need(1u << info) ? std::string() : "bad real";
            case 0x3:
                return info == 3 && need(8) ? std::string() : "bad date";
            case 0x8:
                return need(info + 1) ? std::string() : "bad UID";
            case 0x4:
            case 0x5:
            case 0x6:
            case 0xA:
            case 0xC:
            case 0xD:
                break;
            default:
                return "unknown object type";
        }
        uint64_t n = info;
        if (info == 0x0f) {
            if (!need(1) || (d_[pos] >> 4) != 0x1 || (d_[pos] & 0x0f) > 3)
                return "bad length";
            const unsigned w = 1u << (d_[pos] & 0x0f);
            ++pos;
            if (!need(w))
                return "bad length";
            n = readBe(d_ + pos, w);
            pos += w;
        }
        const uint64_t room = end_ - pos;
        switch (type) {
            case 0x4:
                if (n > room)
                    return "data runs past the end";
                o.payload = n;
                break;
            case 0x5:
                if (n > room)
                    return "string runs past the end";
                if (std::memchr(d_ + pos, 0, n))
                    return "NUL inside a string";
                o.payload = n;
                o.isString = true;
                break;
            case 0x6:
                if (n > room / 2)
                    return "string runs past the end";
                for (uint64_t i = 0; i < n; ++i)
                    if (d_[pos + 2 * i] == 0 && d_[pos + 2 * i + 1] == 0)
                        return "NUL inside a string";
                o.payload = 3 * n;  // as UTF-8
                o.isString = true;
                break;
            default: {  // containers
                const uint64_t refs = type == 0xD ? 2 : 1;
                if (n > room / refSize_ / refs)
                    return "container runs past the end";
                if (n > lim_.maxNodes)
                    return "too many objects";
                o.kind = type == 0xD ? Dict : Array;
                o.refs = pos;
                o.count = n;
            }
        }
        return std::string();
    }

    uint64_t ref(const Object& o, uint64_t i) const {
        return readBe(d_ + o.refs + i * refSize_, refSize_);
    }

    // Depth-first over references: a cycle, too deep a nesting or too large an expanded tree
    // (shared references are parsed once per reference) refuses the list.
    std::string walk(uint64_t index, int depth) {
        // A map of what was read (its nodes stay put as it grows): a table of a million
        // entries would cost more to clear than the walk itself.
        Object& o = objects_[index];
        if (o.state == 0) {
            std::string why = scan(readBe(d_ + table_ + index * offSize_, offSize_), o);
            if (!why.empty())
                return why;
            o.state = 3;  // read, not yet walked
        }
        if (o.state == 1)
            return "an object contains itself";
        if (o.state == 2)
            return depth + o.height > lim_.maxDepth ? "nested too deeply" : std::string();
        if (o.kind == Leaf) {
            o.state = 2;
            o.nodes = 1;
            o.bytes = o.payload;
            return std::string();
        }
        if (depth >= lim_.maxDepth)
            return "nested too deeply";
        o.state = 1;
        uint64_t nodes = 1, bytes = 0;
        int height = 0;
        const uint64_t entries = o.kind == Dict ? 2 * o.count : o.count;
        for (uint64_t i = 0; i < entries; ++i) {
            const uint64_t child = ref(o, i);
            if (child >= count_)
                return "a reference points nowhere";
            std::string why = walk(child, depth + 1);
            if (!why.empty())
                return why;
            if (o.kind == Dict && i < o.count && !objects_[child].isString)
                return "a dictionary key is not a string";
            // Map nodes do not move, so o stays valid.
            const Object& c = objects_[child];
            nodes += c.nodes;
            bytes += c.bytes;
            if (c.height + 1 > height)
                height = c.height + 1;
            if (nodes > maxNodes_)
                return "too many objects once shared references are expanded";
            if (bytes > maxPayload_)
                return "too much data once shared references are expanded";
        }
        o.nodes = nodes;
        o.bytes = bytes;
        o.height = height;
        o.state = 2;
        return std::string();
    }

    const unsigned char* d_;
    size_t size_;
    const Limits& lim_;
    unsigned offSize_ = 0, refSize_ = 0;
    uint64_t end_ = 0, table_ = 0, count_ = 0;
    uint64_t maxNodes_ = 0, maxPayload_ = 0;  // of the expanded tree, for this list's size
    std::unordered_map<uint64_t, Object> objects_;
};

// ---- XML lists -------------------------------------------------------------------------------

bool startsWith(const char* p, const char* end, const char* word) {
    const size_t n = std::strlen(word);
    return size_t(end - p) >= n && std::memcmp(p, word, n) == 0;
}

std::string checkXml(const char* data, size_t size, const Limits& lim) {
    if (std::memchr(data, 0, size))
        return "NUL byte in an XML list";
    const char* p = data;
    const char* end = data + size;
    int depth = 0;
    uint64_t nodes = 0;
    while (p < end) {
        const char c = *p;
        if (c == '&' && startsWith(p, end, "&#")) {
            // A character reference to NUL would put a NUL inside a string.
            const char* q = p + 2;
            const bool hex = q < end && (*q == 'x' || *q == 'X');
            if (hex)
                ++q;
            while (q < end && *q == '0')
                ++q;
            if (q < end && *q == ';' && q > p + 2 + (hex ? 1 : 0))
                return "NUL inside a string";
            p = q;
            continue;
        }
        if (c != '<') {
            ++p;
            continue;
        }
        if (startsWith(p, end, "<!--")) {
            const char* close = static_cast<const char*>(memmem(p, end - p, "-->", 3));
            p = close ? close + 3 : end;
            continue;
        }
        if (startsWith(p, end, "</dict") || startsWith(p, end, "</array"))
            --depth;
        else if (p + 1 < end && ((p[1] >= 'a' && p[1] <= 'z') || (p[1] >= 'A' && p[1] <= 'Z'))) {
            if (++nodes > lim.maxNodes)
                return "too many objects";
            if (startsWith(p, end, "<dict") || startsWith(p, end, "<array")) {
                const char* close = static_cast<const char*>(std::memchr(p, '>', end - p));
                if (close && close[-1] != '/' && ++depth > lim.maxDepth)
                    return "nested too deeply";
            }
        }
        ++p;
    }
    return std::string();
}

bool isBinary(const char* data, size_t size) {
    return size >= 6 && std::memcmp(data, "bplist", 6) == 0;
}

}  // namespace

std::string check(const char* data, size_t size, const Limits& limits) {
    if (!data || size == 0)
        return "empty";
    if (size > limits.maxBytes)
        return "larger than " + std::to_string(limits.maxBytes >> 20) + " MiB";
    if (isBinary(data, size))
        return BinaryCheck(reinterpret_cast<const unsigned char*>(data), size, limits).run();
    return checkXml(data, size, limits);
}

plist_t parse(const char* data, size_t size, std::string* why, const Limits& limits) {
    std::string refused = check(data, size, limits);
    if (why)
        *why = refused;
    if (!refused.empty())
        return nullptr;
    plist_t node = nullptr;
    if (isBinary(data, size))
        plist_from_bin(data, static_cast<uint32_t>(size), &node);
    else
        plist_from_xml(data, static_cast<uint32_t>(size), &node);
    return node;
}

}  // namespace plistguard
