// The phone's record store: generated contacts and fixture files.
#include "tests/fakedevice/fakedevice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using fakedevice::Phone;
using fakedevice::Plist;

namespace {

std::string kindOf(const Plist& rec) {
    return rec.stringAt(fakedevice::kEntityNameKey);
}

}  // namespace

TEST(PhoneStore, GeneratedContactsAreVariedAndDeterministic) {
    Phone a(fakedevice::makeUdid(1)), b(fakedevice::makeUdid(2));
    a.generateContacts(60);
    b.generateContacts(60);
    EXPECT_EQ(a.records().toXml(), b.records().toXml()) << "same seed, same records";
    fakedevice::GenerateOptions other;
    other.seed = 2;
    b.generateContacts(60, other);
    EXPECT_NE(a.records().toXml(), b.records().toXml());

    std::set<std::string> kinds;
    size_t photos = 0;
    Plist all = a.records();
    for (const std::string& id : all.keys()) {
        Plist rec = all.item(id);
        const std::string kind = kindOf(rec);
        kinds.insert(kind);
        if (kind == "com.apple.contacts.Contact") {
            EXPECT_TRUE(std::all_of(id.begin(), id.end(), ::isdigit)) << id;
            if (rec.item("image").type() == PLIST_DATA)
                ++photos;
        } else {
            // Children: "<code>/<contact>/<n>" naming an existing contact.
            Plist refs = rec.item("contact");
            ASSERT_EQ(refs.type(), PLIST_ARRAY) << id;
            const std::string owner = fakedevice::plistString(plist_array_get_item(refs.get(), 0));
            EXPECT_TRUE(all.item(owner)) << id;
            EXPECT_EQ(id.substr(id.find('/') + 1, owner.size() + 1), owner + "/");
        }
    }
    EXPECT_EQ(kinds.size(), 8u);
    EXPECT_EQ(photos, 12u);
    EXPECT_EQ(a.recordIds("com.apple.contacts.Contact").size(), 60u);
}

TEST(PhoneStore, GeneratorOptionsMakeTheEdgeCases) {
    Phone p(fakedevice::makeUdid(1));
    fakedevice::GenerateOptions o;
    o.order = fakedevice::GenerateOptions::Order::ChildrenFirst;
    o.childNamingTwoContacts = o.unknownKind = o.wrongValueTypes = o.wrongCaseTypes = true;
    p.generateContacts(3, o);
    auto ids = p.recordIds();
    EXPECT_NE(ids.front(), "1") << "children come before their contact";
    EXPECT_EQ(kindOf(p.record("group/1")), "com.apple.contacts.Group");
    EXPECT_EQ(p.record("1").item("image").type(), PLIST_STRING);
    EXPECT_EQ(p.record("12/1/99").item("value").type(), PLIST_STRING);
    EXPECT_EQ(p.record("3/1/98").stringAt("type"), "Mobile");
    EXPECT_EQ(plist_array_get_size(p.record("3/1/97").item("contact").get()), 2u);

    o = {};
    o.order = fakedevice::GenerateOptions::Order::ContactsFirst;
    p.generateContacts(3, o);
    ids = p.recordIds();
    EXPECT_EQ(std::vector<std::string>(ids.begin(), ids.begin() + 3),
              (std::vector<std::string>{"1", "2", "3"}));
    p.generateContacts(0);
    EXPECT_EQ(p.recordCount(), 0u);
}

TEST(PhoneStore, FixtureFilesRoundTripAndBadFilesAreRejected) {
    fakedevice::TempDir dir;
    Phone a(fakedevice::makeUdid(1)), b(fakedevice::makeUdid(2));
    a.generateContacts(15);
    std::string err;
    ASSERT_TRUE(a.saveFixture(dir.path() + "/f.plist", &err)) << err;
    ASSERT_TRUE(b.loadFixture(dir.path() + "/f.plist", &err)) << err;
    EXPECT_EQ(a.records().toXml(), b.records().toXml());

    // A binary plist loads too.
    {
        std::ofstream out(dir.path() + "/f.bin", std::ios::binary);
        std::string bin = a.records().toBinary();
        out.write(bin.data(), static_cast<std::streamsize>(bin.size()));
    }
    b.clearRecords();
    ASSERT_TRUE(b.loadFixture(dir.path() + "/f.bin", &err)) << err;
    EXPECT_EQ(b.recordCount(), a.recordCount());

    const size_t before = b.recordCount();
    auto bad = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir.path() + "/" + name) << content;
        err.clear();
        EXPECT_FALSE(b.loadFixture(dir.path() + "/" + name, &err)) << name;
        EXPECT_FALSE(err.empty()) << name;
        EXPECT_EQ(b.recordCount(), before) << "a bad file loses nothing: " << name;
    };
    bad("empty.plist", "");
    bad("garbage.plist", "\x01\x02 not a plist at all");
    bad("array.plist", Plist::array().toXml());
    Plist noKind = Plist::dict();
    noKind.set("1", Plist::dict());
    bad("nokind.plist", noKind.toXml());
    EXPECT_FALSE(b.loadFixture(dir.path() + "/does-not-exist", &err));
}

TEST(PhoneStore, SampleFixtureHoldsAllEightKinds) {
    Phone p(fakedevice::makeUdid(1));
    std::string err;
    ASSERT_TRUE(p.loadFixture(FAKEDEVICE_FIXTURES "/sample-contacts.plist", &err)) << err;
    std::set<std::string> kinds;
    Plist all = p.records();
    for (const std::string& id : all.keys())
        kinds.insert(kindOf(all.item(id)));
    EXPECT_EQ(kinds.size(), 8u);
    EXPECT_EQ(p.record("1").item("birthday").type(), PLIST_DATE);
    EXPECT_EQ(p.record("1").item("image").type(), PLIST_DATA);
    EXPECT_EQ(p.record("1").stringAt("last name"), "Müller");
}
