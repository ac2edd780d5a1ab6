// PlistCFType: ownership (run under ASan to catch leaks and double frees), readers, binary
// and XML round trips, the text form, keyed archives and dates. Registered once per time zone.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <QFile>
#include <QTemporaryDir>

#include "device/plistcftype.h"

namespace {

using P = PlistCFType;

QPair<int, int> rawDate(const P& v) {
    int32_t sec = 0, usec = 0;
    plist_get_date_val(static_cast<plist_t>(v.ref()), &sec, &usec);
    return qMakePair(int(sec), int(usec));
}

P sampleTree() {
    P d = P::createCFDictionary();
    d.put("name", P::createCFString(QString::fromUtf8("Zoë \xe2\x98\x83")));
    d.put("count", P::createCFNumberInt64(-42));
    d.put("ratio", P::createCFNumberDouble(2.5));
    d.put("flag", P::createCFBoolean(true));
    d.put("blob", P::createCFData(QByteArray("\x00\x01\xff", 3)));
    d.put("when", P::createCFDate(QDateTime(QDate(2019, 7, 4), QTime(12, 30, 15))));
    P arr = P::createCFArray();
    arr.append(P::createCFNumberInt32(1));
    arr.append(P::createCFString("two"));
    P inner = P::createCFDictionary();
    inner.put("nested", P::createCFNumberInt64(1LL << 40));
    arr.append(inner);
    d.put("list", arr);
    return d;
}

}  // namespace

TEST(PlistOwnership, EmptyValueReadsDefaultsAndFreesNothing) {
    P v(nullptr, true);
    EXPECT_EQ(v.typeId(), 16);
    EXPECT_EQ(v.CFNumberInt64(7), 7);
    EXPECT_TRUE(v.CFStringQString().isEmpty());
    EXPECT_TRUE(v.dict_keys().isEmpty());
    EXPECT_EQ(v.toString(), "NULL");
    EXPECT_FALSE(v.isCFDictionary() || v.isCFArray() || v.isCFString() || v.isCFNumber());
    EXPECT_TRUE(v.CFPropertyListToBytes(200).isEmpty());
    EXPECT_TRUE(P::clone(v).isNull());
}

TEST(PlistOwnership, HandOverMovesTheNodeIntoTheContainer) {
    P dict = P::createCFDictionary();
    P value = P::createCFString("hello");
    P copy = value;  // shares the record
    EXPECT_TRUE(copy.isOwned());
    dict.put("k", value);
    EXPECT_FALSE(value.isOwned());
    EXPECT_FALSE(copy.isOwned());  // the change is seen through every copy
    // The caller's handle still reads the node in place.
    EXPECT_EQ(copy.CFStringQString(), "hello");
    EXPECT_EQ(dict.get("k").ref(), value.ref());

    // Empty value and wrong container kind change nothing and keep ownership.
    P other = P::createCFNumberInt32(5);
    dict.put("empty", P());
    dict.append(other);
    EXPECT_EQ(dict.dict_size(), 1);
    EXPECT_TRUE(other.isOwned());

    // A second put under the same key replaces the entry; the library frees the old node.
    dict.put("k", P::createCFString("world"));
    EXPECT_EQ(dict.dict_size(), 1);
    EXPECT_EQ(dict.get("k").CFStringQString(), "world");
}

TEST(PlistOwnership, BorrowedNodesArePlacedAsCopies) {
    // Putting a node that already sits in one container into another must not leave it in
    // two places (that would free it twice).
    P a = P::createCFDictionary();
    a.put("x", P::createCFString("shared"));
    P b = P::createCFArray();
    b.append(a.get("x"));
    b.append(a.get("x"));
    EXPECT_EQ(b.array_size(), 2);
    EXPECT_NE(b.at(0).ref(), a.get("x").ref());
    EXPECT_EQ(b.at(1).CFStringQString(), "shared");

    // A container into itself is refused.
    P self = P::createCFArray();
    self.append(self);
    EXPECT_EQ(self.array_size(), 0);

    // array_replace outside the array leaves the value with its owner.
    P item = P::createCFString("kept");
    b.array_replace(9, item);
    EXPECT_TRUE(item.isOwned());
    b.array_replace(0, item);
    EXPECT_FALSE(item.isOwned());
    EXPECT_EQ(b.at(0).CFStringQString(), "kept");
}

TEST(PlistOwnership, NodesFromOutsideAreWrappedOwnedOrBorrowed) {
    plist_t raw = plist_new_dict();
    plist_dict_set_item(raw, "a", plist_new_uint(1));
    {
        P borrowed(raw, false);
        EXPECT_EQ(borrowed.get("a").CFNumberInt(0), 1);
    }                    // nothing freed
    P owned(raw, true);  // freed with the last handle
    P second = owned;
    EXPECT_EQ(second.dict_size(), 1);
}

// A batch's records used inside the message they came in: the message lasts as long as any
// handle on a part of it, and a part placed elsewhere goes as a copy (the message still frees
// its own).
TEST(PlistOwnership, PartsOfAMessageKeepItAndArePlacedAsCopies) {
    plist_t message = plist_new_array();
    plist_t records = plist_new_dict();
    plist_dict_set_item(records, "r1", plist_new_string("one"));
    plist_array_append_item(message, plist_new_string("SDMessageProcessChanges"));
    plist_array_append_item(message, records);
    plist_array_append_item(message, plist_new_dict());
    P entities, actions;
    {
        const std::shared_ptr<void> tree(message, [](void* p) { plist_free(plist_t(p)); });
        entities = P::within(records, tree);
        actions = P::within(plist_array_get_item(message, 2), tree);
    }
    actions = P();  // the message stays for the records
    EXPECT_FALSE(entities.isOwned());
    EXPECT_EQ(entities.get("r1").CFStringQString(), "one");
    P elsewhere = P::createCFArray();
    elsewhere.append(entities);
    EXPECT_NE(elsewhere.at(0).ref(), entities.ref());
    EXPECT_EQ(elsewhere.at(0).get("r1").CFStringQString(), "one");
    EXPECT_TRUE(P::within(nullptr, nullptr).isNull());

    // Records handed into a message to send: their handles keep the message, and a borrowed
    // value goes in as a copy.
    P outgoing = P::createCFDictionary();
    outgoing.put("r2", P::createCFString("two"));
    const P copy = outgoing;
    bool own = false;
    plist_t node = plist_t(outgoing.handOver(&own));
    EXPECT_TRUE(own);
    EXPECT_EQ(node, outgoing.ref());
    {
        plist_t sent = plist_new_array();
        plist_array_append_item(sent, node);
        outgoing.keepInside(std::shared_ptr<void>(sent, [](void* p) { plist_free(plist_t(p)); }));
    }
    outgoing = P();
    EXPECT_EQ(copy.get("r2").CFStringQString(), "two");
    plist_t copied = plist_t(copy.handOver(&own));
    EXPECT_NE(copied, copy.ref());
    EXPECT_FALSE(own);
    plist_free(copied);
}

TEST(PlistReaders, KindsAndDefaults) {
    EXPECT_EQ(P::createCFNumberDouble(2.5).CFNumberInt64(-1), -1);
    EXPECT_EQ(P::createCFNumberInt32(3).CFNumberDouble(1.5), 1.5);
    EXPECT_TRUE(P::createCFNumberInt32(0).CFNumberBool(true));

    P minus = P::createCFNumberInt8(-1);
    EXPECT_EQ(minus.CFNumberInt8(0), -1);
    EXPECT_EQ(minus.CFNumberInt(0), -1);
    EXPECT_EQ(minus.CFNumberInt64(0), -1);
    EXPECT_EQ(P::createCFNumberInt16(-300).CFNumberInt16(0), -300);

    P big = P::createCFNumberInt32(65537);
    EXPECT_EQ(big.CFNumberInt(0), 65537);
    EXPECT_EQ(big.CFNumberInt16(0), 1);
    EXPECT_EQ(big.CFNumberInt8(0), 1);

    EXPECT_FLOAT_EQ(P::createCFNumberFloat(1.25f).CFNumberFloat(0), 1.25f);
    EXPECT_EQ(P::createCFKeyedArchiverUID(12).CFKeyedArchiverUIDGetValue(), 12u);
    EXPECT_EQ(P::createCFString("x").CFKeyedArchiverUIDGetValue(), 0u);

    // Text is cut at a NUL character, in values and in keys.
    QString withNul = QStringLiteral("ab");
    withNul.append(QChar(0)).append("cd");
    EXPECT_EQ(P::createCFString(withNul).CFStringQString(), "ab");
    P d = P::createCFDictionary();
    d.put(withNul, P::createCFBoolean(true));
    EXPECT_TRUE(d.get("ab").CFNumberBool(false));
    EXPECT_EQ(P::createCFString(QString::fromUtf8("\xf0\x9f\x98\x80")).CFStringLength(), 2);

    EXPECT_TRUE(P::createCFData(QByteArray()).CFDataBytes().isEmpty());
    EXPECT_EQ(P::createCFData("abc").CFDataLength(), 3);
}

TEST(PlistReaders, NavigationOnWrongKindsGivesEmptyValues) {
    P arr = P::createCFArray();
    for (int i = 0; i < 5; ++i)
        arr.append(P::createCFNumberInt32(i));
    EXPECT_TRUE(arr.get("k").isNull());
    EXPECT_TRUE(P::createCFString("s").get("k").isNull());
    EXPECT_TRUE(P::createCFDictionary().get("k").isNull());
    EXPECT_TRUE(arr.at(5).isNull());
    EXPECT_TRUE(arr.at(-1).isNull());
    EXPECT_EQ(arr.at(4).CFNumberInt(0), 4);
    EXPECT_EQ(arr.dict_size(), 0);
    EXPECT_EQ(P::createCFDictionary().array_size(), 0);
}

TEST(PlistReaders, DictionaryOrderAndWalks) {
    P d = P::createCFDictionary();
    d.put("zeta", P::createCFNumberInt32(1));
    d.put("alpha", P::createCFNumberInt32(2));
    d.put("mid", P::createCFNumberInt32(3));
    d.put("zeta", P::createCFNumberInt32(4));  // replaced entry keeps its place
    QStringList keys;
    for (const P& k : d.dict_keys())
        keys << k.CFStringQString();
    EXPECT_EQ(keys, QStringList({"zeta", "alpha", "mid"}));

    QStringList walked;
    int sum = 0;
    d.dict_foreach([&](const char* k, const P& v) {
        walked << QString::fromUtf8(k);
        sum += v.CFNumberInt(0);
    });
    EXPECT_EQ(walked, keys);
    EXPECT_EQ(sum, 9);
    EXPECT_EQ(d.dict_items().value(1).first, "alpha");

    P made = P::createCFDictionary({P::createCFString("a"), P::createCFString("b"), P()},
                                   {P::createCFNumberInt32(1), P::createCFNumberInt32(2)});
    EXPECT_EQ(made.dict_size(), 2);
    P withEmptyKey = P::createCFDictionary({P()}, {P::createCFBoolean(true)});
    EXPECT_TRUE(withEmptyKey.get("NULL").CFNumberBool(false));
    EXPECT_EQ(P::createCFArray({P::createCFNumberInt32(1), P::createCFNumberInt32(2)}).toString(),
              "[1, 2]");
}

TEST(PlistConversions, BinaryAndXmlRoundTrips) {
    const P tree = sampleTree();
    const QString text = tree.toString();
    const QByteArray bin = tree.CFPropertyListToBytes(200);
    EXPECT_TRUE(bin.startsWith("bplist"));
    EXPECT_EQ(tree.CFPropertyListToBytes(1), bin);
    EXPECT_EQ(P::createCFPropertyList(bin).toString(), text);

    const QByteArray xml = tree.CFPropertyListToBytes(100);
    EXPECT_TRUE(xml.contains("<plist"));
    EXPECT_EQ(P::createCFPropertyList(xml).toString(), text);
    EXPECT_EQ(P::createCFPropertyList("\n  " + xml).toString(), text);

    // Archiver UIDs survive the binary form (libplist writes them to XML as CF$UID
    // dictionaries, which is what the backup files hold anyway).
    P withUid = P::createCFArray({P::createCFKeyedArchiverUID(7)});
    EXPECT_TRUE(
        P::createCFPropertyList(withUid.CFPropertyListToBytes(200)).at(0).isCFKeyedArchiverUID());

    const P data = tree.CFPropertyListToData(200);
    EXPECT_EQ(data.CFDataBytes(), bin);

    QTemporaryDir dir;
    QFile f(dir.filePath("t.plist"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bin);
    f.close();
    EXPECT_EQ(P::createCFPropertyListFromFile(f.fileName()).toString(), text);
    EXPECT_TRUE(P::createCFPropertyListFromFile(dir.filePath("missing")).isNull());
}

TEST(PlistConversions, BadInputGivesEmptyValues) {
    EXPECT_TRUE(P::createCFPropertyList("bplist").isNull());
    EXPECT_TRUE(P::createCFPropertyList(QByteArray()).isNull());
    EXPECT_TRUE(P::createCFPropertyList("not a plist at all").isNull());
    EXPECT_TRUE(P::createCFPropertyList("bplist00\xff\xff\xff\xff garbage").isNull());
    // Truncated binary forms of a real tree never crash and never give a partial value.
    const QByteArray bin = sampleTree().CFPropertyListToBytes(200);
    for (int n = 7; n < bin.size(); n += 3)
        EXPECT_TRUE(P::createCFPropertyList(bin.left(n)).isNull()) << n;
    const QByteArray xml = sampleTree().CFPropertyListToBytes(100);
    EXPECT_TRUE(P::createCFPropertyList(xml.left(xml.size() / 2)).isNull());
}

TEST(PlistConversions, TextForms) {
    EXPECT_EQ(P::createCFBoolean(true).toString(), "1");
    EXPECT_EQ(P::createCFBoolean(false).toString(), "0");
    EXPECT_EQ(P::createCFNumberInt64(-1).toString(), "-1");
    EXPECT_EQ(P::createCFNumberDouble(0.1).toString(), "0.1");
    EXPECT_EQ(P::createCFNumberDouble(1234567).toString(), "1.23457e+06");
    EXPECT_EQ(P::createCFData(QByteArray()).toString(), "");
    EXPECT_EQ(P::createCFData("hi!").toString(), "aGkh");
    EXPECT_EQ(P::createCFArray().toString(), "[]");
    EXPECT_EQ(P::createCFDictionary().toString(), "{}");
    P d = P::createCFDictionary();
    d.put("a", P::createCFString("b"));
    EXPECT_EQ(d.toString(), "{a : b}");
    EXPECT_EQ(P::createCFKeyedArchiverUID(3).toString(), "3");
    // get() with a key value uses its text form.
    P byNumber = P::createCFDictionary();
    byNumber.put(P::createCFNumberInt32(5), P::createCFString("five"));
    EXPECT_EQ(byNumber.get(P::createCFNumberInt32(5)).CFStringQString(), "five");

    // Deep nesting (as a hostile file could bring) is cut off instead of exhausting the stack.
    P deep = P::createCFArray();
    P cur = deep;
    for (int i = 0; i < 5000; ++i) {
        P next = P::createCFArray();
        cur.append(next);
        cur = next;
    }
    EXPECT_TRUE(deep.toString().contains("..."));
}

TEST(PlistConversions, ClonesAreIndependent) {
    P src = sampleTree();
    P copy = P::createCFDictionaryCreateMutableCopy(src);
    copy.put("name", P::createCFString("changed"));
    copy.put("extra", P::createCFBoolean(false));
    EXPECT_EQ(src.get("name").CFStringQString(), QString::fromUtf8("Zoë \xe2\x98\x83"));
    EXPECT_EQ(src.dict_size(), 7);
    EXPECT_TRUE(P::createCFDictionaryCreateMutableCopy(P::createCFArray()).isCFDictionary());
    EXPECT_EQ(P::createCFDictionaryCreateMutableCopy(P()).dict_size(), 0);
}

TEST(PlistKeyedArchive, WriteThenReadBack) {
    QHash<QString, P> in;
    in.insert("name", P::createCFString("Ann"));
    in.insert("age", P::createCFNumberInt32(41));
    in.insert("tags", P::createCFArray({P::createCFString("x")}));
    QHash<QString, QString> texts;
    for (auto it = in.begin(); it != in.end(); ++it)
        texts.insert(it.key(), it.value().toString());

    QHash<QString, P> out;
    {
        P archive = P::createNSDictionaryStringCFType(in, true);
        EXPECT_EQ(archive.get("$archiver").CFStringQString(), "NSKeyedArchiver");
        EXPECT_EQ(archive.get("$version").CFNumberInt(0), 100000);
        const P objects = archive.get("$objects");
        EXPECT_EQ(objects.array_size(), 2 * 3 + 3);
        EXPECT_EQ(objects.at(8).get("$classname").CFStringQString(), "NSMutableDictionary");
        // Through the binary form, as a backup stores it.
        P parsed = P::createCFPropertyList(archive.CFPropertyListToBytes(200));
        out = P::parseNSDictionaryStringCFType(parsed);

        const QHash<QString, P> root = parsed.NSKeyedArchiver();
        EXPECT_TRUE(root.value("NS.keys").isCFArray());
        EXPECT_EQ(root.value("$class").get("$classname").CFStringQString(), "NSMutableDictionary");
    }  // archive gone: the parsed values are deep copies
    ASSERT_EQ(out.size(), 3);
    for (auto it = texts.begin(); it != texts.end(); ++it)
        EXPECT_EQ(out.value(it.key()).toString(), it.value()) << it.key().toStdString();
}

TEST(PlistKeyedArchive, EmptyAndMalformedArchives) {
    P archive = P::createNSDictionaryStringCFType({}, false);
    const P objects = archive.get("$objects");
    ASSERT_EQ(objects.array_size(), 3);
    EXPECT_EQ(objects.at(0).CFStringQString(), "$null");
    EXPECT_EQ(objects.at(1).get("NS.keys").array_size(), 0);
    EXPECT_EQ(objects.at(1).get("$class").CFKeyedArchiverUIDGetValue(), 2u);
    EXPECT_EQ(objects.at(2).get("$classname").CFStringQString(), "NSDictionary");

    // No root: element 0 ("$null") is no dictionary.
    P noRoot = P::createCFDictionary();
    P objs = P::createCFArray();
    objs.append(P::createCFString("$null"));
    P root = P::createCFDictionary();
    root.put("far", P::createCFKeyedArchiverUID(99));
    root.put("near", P::createCFKeyedArchiverUID(0));
    root.put("plain", P::createCFNumberInt32(3));
    objs.append(root);
    noRoot.put("$objects", objs);
    EXPECT_TRUE(noRoot.NSKeyedArchiver().isEmpty());
    EXPECT_TRUE(P::parseNSDictionaryStringCFType(noRoot).isEmpty());

    P top = P::createCFDictionary();
    top.put("root", P::createCFKeyedArchiverUID(1));
    noRoot.put("$top", top);
    const QHash<QString, P> h = noRoot.NSKeyedArchiver();
    EXPECT_TRUE(h.value("far").isNull());
    EXPECT_EQ(h.value("near").CFStringQString(), "$null");
    EXPECT_EQ(h.value("plain").CFNumberInt(0), 3);
    // A root with no NS.keys gives an empty dictionary, not a crash.
    EXPECT_TRUE(P::parseNSDictionaryStringCFType(noRoot).isEmpty());
    EXPECT_TRUE(P::createCFString("x").NSKeyedArchiver().isEmpty());
}

// ---- dates: run under several TZ settings ----

TEST(PlistDates, WriterTakesWallClockFieldsAsUtc) {
    EXPECT_EQ(rawDate(P::createCFDate(QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0, 250)))),
              qMakePair(0, 250000));
    EXPECT_EQ(rawDate(P::createCFDate(QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0, 250), Qt::UTC))),
              qMakePair(0, 250000));
    EXPECT_EQ(rawDate(P::createCFDate(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)))).first,
              -31622401);
}

// The library's own date accessors stop at 32-bit seconds; a phone's birthdays do not (a
// birthday without a year is kept in 1604). Exact both ways, and through both stored forms.
TEST(PlistDates, FullRangeBothWaysAndThroughBothForms) {
    const QList<QDateTime> samples = {
        QDateTime(QDate(1604, 3, 15), QTime(0, 0)),
        QDateTime(QDate(1604, 12, 31), QTime(0, 0)),
        QDateTime(QDate(1890, 7, 4), QTime(0, 0)),
        QDateTime(QDate(1925, 2, 28), QTime(0, 0)),
        QDateTime(QDate(1932, 12, 13), QTime(20, 45, 51)),
        QDateTime(QDate(2075, 11, 2), QTime(0, 0)),
        QDateTime(QDate(2200, 1, 1), QTime(9, 30, 0, 5)),
    };
    for (const QDateTime& dt : samples) {
        const P node = P::createCFDate(dt);
        EXPECT_EQ(node.CFDateToDateTime(0), dt) << dt.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(P::createCFPropertyList(node.CFPropertyListToBytes(200)).CFDateToDateTime(0), dt);
        const QDateTime whole(dt.date(),
                              QTime(dt.time().hour(), dt.time().minute(), dt.time().second()));
        const QByteArray xml = P::createCFDate(whole).CFPropertyListToBytes(100);
        EXPECT_TRUE(xml.contains(whole.toString("yyyy-MM-ddTHH:mm:ss").toLatin1())) << xml.data();
        EXPECT_EQ(P::createCFPropertyList(xml).CFDateToDateTime(0), whole);
    }
    // A node another writer made out of the accessors' range (a phone's 1604 birthday).
    const QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">"
        "<date>1604-06-09T00:00:00Z</date></plist>";
    EXPECT_EQ(P::createCFPropertyList(xml).CFDateToDateTime(0),
              QDateTime(QDate(1604, 6, 9), QTime(0, 0)));
}

TEST(PlistDates, ReadAndWriteAreInversesInThisZone) {
    const QList<QDateTime> samples = {
        QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0, 250)),
        QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 750)),  // just before the epoch
        QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 250)),
        QDateTime(QDate(1960, 3, 15), QTime(6, 7, 8, 9)),  // before 1970
        QDateTime(QDate(2021, 1, 15), QTime(10, 0)),       // northern winter
        QDateTime(QDate(2021, 7, 15), QTime(10, 0)),       // northern summer
        QDateTime(QDate(2024, 2, 29), QTime(23, 30, 1, 123)),
        QDateTime(QDate(2038, 6, 1), QTime(12, 0, 0, 999)),
    };
    for (const QDateTime& dt : samples) {
        const P node = P::createCFDate(dt);
        const QDateTime back = node.CFDateToDateTime(0);
        EXPECT_EQ(back, dt) << dt.toString(Qt::ISODateWithMs).toStdString() << " read as "
                            << back.toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(back.timeSpec(), Qt::LocalTime);
        // And through both serialised forms (XML keeps whole seconds only).
        EXPECT_EQ(P::createCFPropertyList(node.CFPropertyListToBytes(200)).CFDateToDateTime(0), dt);
        const QDateTime whole(dt.date(),
                              QTime(dt.time().hour(), dt.time().minute(), dt.time().second()));
        EXPECT_EQ(P::createCFPropertyList(P::createCFDate(whole).CFPropertyListToBytes(100))
                      .CFDateToDateTime(0),
                  whole);
    }
    // Every millisecond survives (the library hands out truncated microseconds).
    for (int ms = 0; ms < 1000; ++ms) {
        const QDateTime dt(QDate(2020, 5, 5), QTime(5, 5, 5, ms));
        ASSERT_EQ(P::createCFDate(dt).CFDateToDateTime(0), dt) << ms;
    }
}

TEST(PlistDates, BirthdayKeepsItsCalendarDay) {
    // A device stores a birthday as midnight UTC of the day.
    for (const QDate& day : {QDate(1985, 1, 31), QDate(1990, 7, 1), QDate(2004, 10, 30)}) {
        const qint64 sec = QDateTime(day, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() - 978307200;
        const P node(plist_new_date(int32_t(sec), 0), true);
        const QDateTime read = node.CFDateToDateTime(0);
        EXPECT_EQ(read.date(), day);
        EXPECT_EQ(read.time(), QTime(0, 0));
        EXPECT_EQ(read.toString(Qt::ISODate), day.toString(Qt::ISODate) + "T00:00:00");
        EXPECT_EQ(P::createCFDate(read).ref() != nullptr, true);
        EXPECT_EQ(rawDate(P::createCFDate(read)).first, int(sec));
    }
}

TEST(PlistDates, BirthdayOnADayWhoseMidnightIsSkippedKeepsItsDay) {
    // Santiago de Chile went from 23:59:59 on 7 September 2019 straight to 01:00 on the 8th.
    const QDate day(2019, 9, 8);
    const qint64 sec = QDateTime(day, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() - 978307200;
    const QDateTime read = P(plist_new_date(int32_t(sec), 0), true).CFDateToDateTime(0);
    ASSERT_TRUE(read.isValid());
    EXPECT_EQ(read.date(), day) << read.toString(Qt::ISODate).toStdString();
    if (QDateTime(day, QTime(0, 0)).isValid())
        EXPECT_EQ(read.time(), QTime(0, 0));
    else
        EXPECT_LE(read.time(), QTime(1, 0));
}

TEST(PlistDates, OffsetAndOverloads) {
    const P node(plist_new_date(0, 0), true);
    const QDateTime base = node.CFDateToDateTime(0);
    EXPECT_EQ(base.secsTo(node.CFDateToDateTime(3600)), 3600);
    EXPECT_EQ(node.CFDateToDateTime(QString("Europe/Paris")), base);
    EXPECT_EQ(node.CFDateToDateTime(static_cast<const __CFTimeZone*>(nullptr)), base);
    EXPECT_FALSE(P::createCFString("x").CFDateToDateTime(0).isValid());
    EXPECT_EQ(base, QDateTime(QDate(2001, 1, 1), QTime(0, 0)));
    EXPECT_EQ(node.toString(), base.toString(Qt::TextDate));
}

TEST(PlistDates, TheRequestedZoneIsInEffect) {
    // Without time-zone data the zone runs would silently test UTC only.
    const QByteArray tz = qgetenv("TZ");
    if (tz.isEmpty() || tz == "UTC")
        GTEST_SKIP();
    EXPECT_NE(QDateTime(QDate(2021, 7, 15), QTime(12, 0)).offsetFromUtc(), 0)
        << "is the tzdata package installed?";
}
