// What the frame guard lets through must cost little to parse and to write back out, whatever
// its bytes: nested shared references blow a few hundred bytes up into a million nodes. Real
// frames of any size, with their shared strings and photos, still pass.
#include <gtest/gtest.h>

#include <plist/plist.h>

#include <QElapsedTimer>
#include <string>
#include <vector>

#include "platform/mobilesync/devicelink.h"
#include "platform/mobilesync/plistguard.h"
#include "tests/timing.h"

namespace {

// A binary list written by hand from raw objects: 2-byte offsets, 1-byte references.
std::string binaryList(const std::vector<std::string>& objects, int root) {
    std::string out = "bplist00";
    std::string table;
    for (const std::string& o : objects) {
        table += char(out.size() >> 8);
        table += char(out.size() & 0xff);
        out += o;
    }
    std::string trailer(32, '\0');
    trailer[6] = 2;  // offset size
    trailer[7] = 1;  // reference size
    trailer[15] = char(objects.size());
    trailer[23] = char(root);
    trailer[30] = char(out.size() >> 8);
    trailer[31] = char(out.size() & 0xff);
    return out + table + trailer;
}

std::string arrayOf(const std::vector<int>& refs) {
    std::string o(1, char(0xA0 | refs.size()));
    for (int r : refs)
        o += char(r);
    return o;
}

// A device-link message whose third element is a chain of `levels` arrays, each holding the
// next twice: 2^(levels+1) - 1 nodes once expanded, from 3 bytes per level.
std::string sharedChainMessage(int levels) {
    std::vector<std::string> objects = {arrayOf({1, 2, 3}),
                                        "\x5c"
                                        "SDMessagePro",
                                        "\x5c"
                                        "com.apple.Co"};
    for (int i = 0; i < levels; ++i)
        objects.push_back(arrayOf({4 + i, 4 + i}));
    objects.push_back(
        "\x54"
        "leaf");
    return binaryList(objects, 0);
}

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using Holder = std::unique_ptr<void, PlistFree>;

// A read batch as a phone sends it: a message with a dictionary of contact records.
std::string recordsFrame(int records, const std::string& photo) {
    plist_t entities = plist_new_dict();
    for (int i = 0; i < records; ++i) {
        plist_t r = plist_new_dict();
        plist_dict_set_item(r, "com.apple.syncservices.RecordEntityName",
                            plist_new_string("com.apple.contacts.Contact"));
        plist_dict_set_item(r, "first name", plist_new_string("Anna"));
        plist_dict_set_item(r, "last name",
                            plist_new_string(("Berg " + std::to_string(i)).c_str()));
        plist_dict_set_item(r, "display as company", plist_new_string("person"));
        if (!photo.empty())
            plist_dict_set_item(r, "image", plist_new_data(photo.data(), photo.size()));
        plist_dict_set_item(entities, std::to_string(1000 + i).c_str(), r);
    }
    Holder message(plist_new_array());
    plist_array_append_item(message.get(), plist_new_string("SDMessageProcessChanges"));
    plist_array_append_item(message.get(), plist_new_string("com.apple.Contacts"));
    plist_array_append_item(message.get(), entities);
    plist_array_append_item(message.get(), plist_new_bool(1));
    plist_array_append_item(message.get(), plist_new_dict());
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(message.get(), &bin, &length);
    std::string out(bin, length);
    free(bin);
    return out;
}

}  // namespace

TEST(PlistGuardExpansion, SharedReferenceBombIsRefusedQuickly) {
    // 19 levels: a million nodes from under 200 bytes, just under the absolute cap, so only
    // the cap relative to the frame's size stops it; 17 levels stay under the old cap; a
    // deeper chain meets the absolute cap.
    for (int levels : {17, 19, 40}) {
        SCOPED_TRACE(levels);
        const std::string frame = sharedChainMessage(levels);
        QElapsedTimer t;
        t.start();
        plist_t message = nullptr;
        std::string why;
        EXPECT_EQ(devicelink::Connection::decodeFrame(frame.data(), frame.size(), &message, &why),
                  MOBILESYNC_E_PLIST_ERROR);
        EXPECT_EQ(message, nullptr);
        EXPECT_EQ(why,
                  "The phone sent an invalid message (too many objects once shared references "
                  "are expanded).");
        EXPECT_LT(t.elapsed(), kMarginMs);  // (tw_bench_plistguard times it)
    }
    // A shallow chain stays well within what its size allows and parses.
    const std::string small = sharedChainMessage(6);
    EXPECT_EQ(plistguard::check(small.data(), small.size()), "");
    Holder parsed(plistguard::parse(small.data(), small.size()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(plist_array_get_size(parsed.get()), 3u);
}

TEST(PlistGuardExpansion, LargeRealFramesStillPass) {
    // libplist's writer, like a phone's, shares every equal string: thousands of near-equal
    // records are the most sharing a real frame has, and a default photo on every record the
    // most data it repeats.
    const std::string photo(20000, '\x7f');
    for (const auto& [records, image] :
         std::vector<std::pair<int, std::string>>{{30000, ""}, {1500, photo}}) {
        SCOPED_TRACE(records);
        const std::string frame = recordsFrame(records, image);
        plist_t message = nullptr;
        std::string why;
        ASSERT_EQ(devicelink::Connection::decodeFrame(frame.data(), frame.size(), &message, &why),
                  MOBILESYNC_E_SUCCESS)
            << why;
        Holder held(message);
        EXPECT_EQ(plist_dict_get_size(plist_array_get_item(message, 2)), uint32_t(records));
    }
}

TEST(PlistGuardExpansion, SharedDataIsCappedBySize) {
    // One 8 KiB data object referenced by 8192 array entries: 64 MiB from 16 KiB.
    const std::string data = std::string("\x4f\x11\x20\x00", 4) + std::string(0x2000, 'p');
    const std::string array = std::string("\xaf\x11\x20\x00", 4) + std::string(0x2000, '\0');
    const std::string frame = binaryList({data, array}, 1);
    EXPECT_EQ(plistguard::check(frame.data(), frame.size()),
              "too much data once shared references are expanded");
}
