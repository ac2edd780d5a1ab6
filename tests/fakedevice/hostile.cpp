// Frames of a hostile phone, written byte by byte: libplist would refuse to write them (a NUL in
// a string) or would write them far larger (shared references).
#include "internal.h"

namespace fakedevice {

namespace {

// A binary list of raw objects; object 0 is the root. References and offsets are 4 bytes.
class RawBplist {
public:
    size_t add(const std::string& object) {
        objects_.push_back(object);
        return objects_.size() - 1;
    }
    void set(size_t index, const std::string& object) { objects_[index] = object; }

    static std::string length(unsigned char marker, uint64_t n) {
        std::string out;
        if (n < 15) {
            out += char(marker | n);
        } else {
            out += char(marker | 0x0f);
            out += char(0x12);
            putBe32(out, uint32_t(n));
        }
        return out;
    }
    static std::string ascii(const std::string& s) { return length(0x50, s.size()) + s; }
    static std::string refs(unsigned char marker, const std::vector<size_t>& items) {
        std::string out = length(marker, marker == 0xD0 ? items.size() / 2 : items.size());
        for (size_t i : items)
            putBe32(out, uint32_t(i));
        return out;
    }

    std::string bytes() const {
        std::string out = "bplist00";
        std::vector<uint32_t> offsets;
        for (const std::string& o : objects_) {
            offsets.push_back(uint32_t(out.size()));
            out += o;
        }
        const uint64_t table = out.size();
        for (uint32_t off : offsets)
            putBe32(out, off);
        out += std::string(6, '\0');
        out += char(4);  // offset size
        out += char(4);  // reference size
        putBe32(out, 0);
        putBe32(out, uint32_t(objects_.size()));
        putBe32(out, 0);
        putBe32(out, 0);  // root object
        putBe32(out, 0);
        putBe32(out, uint32_t(table));
        return out;
    }

private:
    std::vector<std::string> objects_;
};

// ["SDMessageProcessChanges", "com.apple.Contacts", {"1": <record>}, true, {}], with the
// record's object index returned for the caller to fill.
size_t batchFrame(RawBplist& b) {
    const size_t root = b.add("");
    const size_t name = b.add(RawBplist::ascii("SDMessageProcessChanges"));
    const size_t dataClass = b.add(RawBplist::ascii("com.apple.Contacts"));
    const size_t records = b.add("");
    const size_t more = b.add(std::string(1, char(0x09)));
    const size_t actions = b.add(std::string(1, char(0xD0)));
    const size_t id = b.add(RawBplist::ascii("1"));
    const size_t record = b.add("");
    b.set(root, RawBplist::refs(0xA0, {name, dataClass, records, more, actions}));
    b.set(records, RawBplist::refs(0xD0, {id, record}));
    return record;
}

}  // namespace

namespace {

std::string buildHostileFrame(HostileFrame kind) {
    RawBplist b;
    switch (kind) {
        case HostileFrame::None:
            return std::string();
        case HostileFrame::Nested: {
            size_t at = batchFrame(b);
            for (int i = 0; i < 200000; ++i) {
                const size_t next = b.add("");
                b.set(at, RawBplist::refs(0xA0, {next}));
                at = next;
            }
            b.set(at, std::string(1, char(0xA0)));
            return b.bytes();
        }
        case HostileFrame::SharedReferences: {
            // Each level holds the next one 16 times: 16^24 nodes once expanded.
            size_t at = batchFrame(b);
            for (int level = 0; level < 24; ++level) {
                const size_t next = b.add("");
                b.set(at, RawBplist::refs(0xA0, std::vector<size_t>(16, next)));
                at = next;
            }
            b.set(at, RawBplist::ascii("x"));
            return b.bytes();
        }
        case HostileFrame::NulString: {
            const size_t record = batchFrame(b);
            const size_t kindKey = b.add(RawBplist::ascii(kEntityNameKey));
            const size_t kindValue = b.add(RawBplist::ascii("com.apple.contacts.Contact"));
            const size_t nameKey = b.add(RawBplist::ascii("first name"));
            const size_t nameValue = b.add(RawBplist::ascii(std::string("An\0na", 5)));
            b.set(record, RawBplist::refs(0xD0, {kindKey, nameKey, kindValue, nameValue}));
            return b.bytes();
        }
        case HostileFrame::Oversized: {
            std::string out;
            putBe32(out, (256u << 20) + 1);
            out += "bplist00";
            return out;
        }
    }
    return std::string();
}

}  // namespace

std::string hostileFrameBytes(HostileFrame kind) {
    // Made once per process: the nested one takes a moment to build.
    static std::mutex mu;
    static std::map<HostileFrame, std::string> made;
    std::lock_guard<std::mutex> lock(mu);
    auto it = made.find(kind);
    if (it == made.end())
        it = made.emplace(kind, buildHostileFrame(kind)).first;
    return it->second;
}

}  // namespace fakedevice
