// The guard every outside property list passes: hostile binary and XML lists are refused before
// libplist sees them (they would exhaust memory, overflow the stack or abort the process), while
// real lists of every size and kind still parse.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <string>

#include "platform/mobilesync/devicelink.h"
#include "tests/fakedevice/fakedevice.h"
#include "platform/mobilesync/mobilesync_session.h"
#include "device/plistcftype.h"
#include "platform/mobilesync/plistguard.h"
#include "tests/timing.h"

namespace {

std::string refusal(const std::string& bytes) {
    return plistguard::check(bytes.data(), bytes.size());
}

std::string body(fakedevice::HostileFrame kind) {
    return fakedevice::hostileFrameBytes(kind);
}

std::string binaryOf(const PlistCFType& v) {
    return v.CFPropertyListToBytes(200).toStdString();
}

}  // namespace

TEST(PlistGuard, HostileBinaryListsAreRefusedQuickly) {
    struct Case {
        fakedevice::HostileFrame kind;
        const char* why;
    } cases[] = {
        {fakedevice::HostileFrame::Nested, "nested too deeply"},
        {fakedevice::HostileFrame::SharedReferences,
         "too many objects once shared references are expanded"},
        {fakedevice::HostileFrame::NulString, "NUL inside a string"},
    };
    for (const Case& c : cases) {
        const std::string bytes = body(c.kind);
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(refusal(bytes), c.why);
        EXPECT_LT(t.elapsed(), kMarginMs);  // (tw_bench_plistguard times it)
        // The one parse of outside bytes refuses them too, without a crash or an abort.
        EXPECT_TRUE(PlistCFType::createCFPropertyList(QByteArray::fromStdString(bytes)).isNull());
        plist_t message = nullptr;
        std::string why;
        EXPECT_EQ(devicelink::Connection::decodeFrame(bytes.data(), bytes.size(), &message, &why),
                  MOBILESYNC_E_PLIST_ERROR);
        EXPECT_EQ(why, std::string("The phone sent an invalid message (") + c.why + ").");
    }

    // A list that contains itself, a reference past the table, a truncated trailer, a key that
    // is not a string, a UTF-16 NUL.
    PlistCFType a = PlistCFType::createCFArray({PlistCFType::createCFString("x")});
    std::string loop = binaryOf(a);
    // Object 1 is the string; point the array's only reference (1 byte, after the marker) at 0.
    loop[9] = 0;
    EXPECT_EQ(refusal(loop), "an object contains itself");
    std::string nowhere = binaryOf(a);
    nowhere[9] = 7;
    EXPECT_EQ(refusal(nowhere), "a reference points nowhere");
    EXPECT_FALSE(refusal(binaryOf(a).substr(0, 20)).empty());
    EXPECT_FALSE(refusal("bplist00").empty());

    PlistCFType intKey = PlistCFType::createCFDictionary();
    intKey.put("k", PlistCFType::createCFNumberInt32(1));
    std::string badKey = binaryOf(intKey);
    // Objects: 0 dict, 1 key "k", 2 value 1; swap the dict's key and value references.
    std::swap(badKey[9], badKey[10]);
    EXPECT_EQ(refusal(badKey), "a dictionary key is not a string");

    // A NUL inside a dictionary key (a Manifest.db file record's, say): refused, so walking
    // the record never reaches libplist's abort.
    PlistCFType record = PlistCFType::createCFDictionary();
    record.put("RelativePath", PlistCFType::createCFString("Library/AddressBook"));
    std::string nulKey = binaryOf(record);
    const size_t at = nulKey.find("RelativePath");
    ASSERT_NE(at, std::string::npos);
    nulKey[at + 8] = '\0';
    EXPECT_EQ(refusal(nulKey), "NUL inside a string");
    int visited = 0;
    PlistCFType::createCFPropertyList(QByteArray::fromStdString(nulKey))
        .dict_foreach([&](const char*, const PlistCFType&) { ++visited; });
    EXPECT_EQ(visited, 0);

    PlistCFType wide = PlistCFType::createCFString(QString::fromUtf8("Zoë"));
    std::string utf16 = binaryOf(wide);
    ASSERT_EQ(uint8_t(utf16[8]), 0x63u);  // three UTF-16 units
    utf16[11] = 0;
    utf16[12] = 0;
    EXPECT_EQ(refusal(utf16), "NUL inside a string");
}

TEST(PlistGuard, HostileXmlListsAreRefused) {
    std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100; ++i)
        deep += "<array>";
    for (int i = 0; i < 100; ++i)
        deep += "</array>";
    deep += "</plist>";
    EXPECT_EQ(refusal(deep), "nested too deeply");
    EXPECT_EQ(refusal("<plist><string>a&#0;b</string></plist>"), "NUL inside a string");
    EXPECT_EQ(refusal("<plist><string>a&#x000;b</string></plist>"), "NUL inside a string");
    EXPECT_EQ(refusal(std::string("<plist><string>a\0b</string></plist>", 34)),
              "NUL byte in an XML list");
    // Self-closing containers do not nest, and 64 levels are fine.
    std::string ok = "<plist>";
    for (int i = 0; i < 63; ++i)
        ok += "<array><dict/>";
    for (int i = 0; i < 63; ++i)
        ok += "</array>";
    ok += "</plist>";
    EXPECT_EQ(refusal(ok), "");
    EXPECT_FALSE(PlistCFType::createCFPropertyList(QByteArray::fromStdString(ok)).isNull());
    EXPECT_EQ(refusal(std::string(65u << 20, ' ')), "larger than 64 MiB");
}

TEST(PlistGuard, RealListsStillParse) {
    // A phone's worth of records with photos, in both forms: libplist's writer shares equal
    // strings between records, which the guard must accept.
    fakedevice::Phone phone(fakedevice::makeUdid(9));
    phone.generateContacts(2000);
    const fakedevice::Plist records = phone.records();
    for (const std::string& bytes : {records.toBinary(), records.toXml()}) {
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(refusal(bytes), "");
        EXPECT_LT(t.elapsed(), kMarginMs);  // (tw_bench_plistguard times it)
        const PlistCFType parsed =
            PlistCFType::createCFPropertyList(QByteArray::fromStdString(bytes));
        EXPECT_EQ(parsed.dict_size(), int(phone.recordCount()));
    }
}

TEST(PlistGuard, SessionReadsOfMalformedMessages) {
    // The message readers of the sync session on decoded frames a phone might send.
    auto decode = [](const fakedevice::Plist& p, plist_t* out) {
        const std::string bytes = p.toBinary();
        std::string why;
        return devicelink::Connection::decodeFrame(bytes.data(), bytes.size(), out, &why);
    };
    plist_t msg = nullptr;
    EXPECT_EQ(decode(fakedevice::Plist::dict(), &msg), MOBILESYNC_E_PLIST_ERROR);
    EXPECT_EQ(msg, nullptr);

    fakedevice::Plist start = fakedevice::Plist::array();
    for (const char* s : {"SDMessageSyncDataClassWithComputer", "com.apple.Contacts",
                          "___EmptyParameterString___", "now", "SDSyncTypeReset"})
        start.append(fakedevice::Plist::string(s));
    start.append(fakedevice::Plist(plist_new_uint(106)));
    start.append(fakedevice::Plist::string("___EmptyParameterString___"));
    ASSERT_EQ(decode(start, &msg), MOBILESYNC_E_SUCCESS);
    MobileSyncStart answer;
    std::string description;
    EXPECT_EQ(MobileSyncSession::readStartAnswer(msg, &answer, &description), MOBILESYNC_E_SUCCESS);
    EXPECT_EQ(answer.syncType, "SDSyncTypeReset");
    EXPECT_EQ(answer.deviceVersion, 106u);
    plist_free(msg);

    fakedevice::Plist bye = fakedevice::Plist::array();
    bye.append(fakedevice::Plist::string("DLMessageDisconnect"));
    bye.append(fakedevice::Plist::string("Locked"));
    ASSERT_EQ(decode(bye, &msg), MOBILESYNC_E_SUCCESS);
    MobileSyncBatch batch;
    EXPECT_EQ(MobileSyncSession::readChanges(msg, &batch, &description), MOBILESYNC_E_CANCELLED);
    EXPECT_EQ(description, "The phone ended the session: Locked");
    plist_t mapping = nullptr;
    EXPECT_EQ(MobileSyncSession::readRemap(msg, &mapping, &description), MOBILESYNC_E_CANCELLED);
    plist_free(msg);
}
