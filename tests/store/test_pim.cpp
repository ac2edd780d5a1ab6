#include "store/pim.h"

#include <QDateTime>

#include <algorithm>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using pim::Entity;

namespace {

Entity withFields(const std::vector<std::pair<const char*, const char*> >& kv) {
    Entity e;
    for (const auto& p : kv)
        e.fields.insert(p.first, QString::fromUtf8(p.second));
    return e;
}

TEST(PimEntity, FullName) {
    struct Case {
        std::vector<std::pair<const char*, const char*> > f;
        const char* expected;
    } cases[] = {
        {{}, ""},
        {{{"data2", ""}, {"data3", ""}}, ""},
        {{{"data3", "Lee"}}, "Lee"},
        {{{"data5", "Dr."}, {"data2", "Ann"}, {"data3", "Lee"}, {"data4", ""}, {"data6", ""}},
         "Dr. Ann Lee"},
        {{{"data2", "Ann"}, {"data4", " "}, {"data3", "Lee"}}, "Ann   Lee"},
        {{{"data5", "Dr."},
          {"data2", "A"},
          {"data4", "B"},
          {"data3", "C"},
          {"data6", "Jr."},
          {"data1", "ignored"},
          {"data7", "x"}},
         "Dr. A B C Jr."},
        {{{"data2", "\t Ann"}, {"data6", "III\n"}}, "Ann III"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withFields(c.f).fullName(), QString::fromUtf8(c.expected));
}

TEST(PimEntity, FormattedAddr) {
    struct Case {
        std::vector<std::pair<const char*, const char*> > f;
        const char* expected;
    } cases[] = {
        {{{"data4", "1 Main St"},
          {"data7", "Springfield"},
          {"data8", "IL"},
          {"data9", "62701"},
          {"data10", "USA"}},
         "1 Main St\nSpringfield, IL 62701\nUSA"},
        {{{"data7", "Oslo"}, {"data9", "0150"}}, "Oslo, 0150"},
        {{{"data7", "Oslo"}}, "Oslo"},
        {{{"data4", "Street"}, {"data8", "State"}}, "Street\n State"},
        {{{"data8", "State"}}, "State"},
        {{{"data4", "Street"}, {"data9", "12345"}, {"data10", "Land"}}, "Street\nLand"},
        {{{"data10", "Land"}}, "Land"},
        {{{"data1", "x"}, {"data5", "y"}, {"data11", "NO"}}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withFields(c.f).formattedAddr(), QString::fromUtf8(c.expected));
}

TEST(PimEntity, PhotoHash) {
    EXPECT_EQ(Entity::photoHash(QByteArray()), "1B2M2Y8AsgTpgAmY7PhCfg==");
    EXPECT_EQ(Entity().photoHash(), "1B2M2Y8AsgTpgAmY7PhCfg==");
    Entity p;
    p.fields["data15"] = QByteArray("abc");
    EXPECT_EQ(p.photoHash(), "kAFQmDzST7DWlj99KOF/cg==");
    p.fields["data15"] = QByteArray("\0abc", 4);  // bytes after a 0 count
    EXPECT_NE(p.photoHash(), "kAFQmDzST7DWlj99KOF/cg==");
    EXPECT_EQ(p.photoHash().size(), 24);
}

TEST(PimFieldText, DatesHaveOneForm) {
    const QDateTime dt(QDate(2020, 2, 29), QTime(13, 4, 5, 678));
    EXPECT_EQ(pim::fieldText(dt), "2020-02-29T13:04:05");
    EXPECT_EQ(pim::fieldText(QDate(1999, 12, 31)), "1999-12-31T00:00:00");
    EXPECT_EQ(pim::fieldText(QVariant(3)), "3");
    EXPECT_EQ(pim::fieldText(QVariant(qulonglong(18446744073709551615ULL))),
              "18446744073709551615");
    EXPECT_EQ(pim::fieldText(QVariant()), "");
    EXPECT_FALSE(pim::isFieldEmpty(QByteArray("\0\x89PNG", 5)));
    EXPECT_TRUE(pim::isFieldEmpty(QByteArray()));
    EXPECT_TRUE(pim::isFieldEmpty(QString("")));
    EXPECT_FALSE(pim::isFieldEmpty(0));
    // Every kind answers as its stored text does.
    const QVariant kinds[] = {QVariant(),
                              QString(),
                              QString(""),
                              QString(" "),
                              QVariant(0u),
                              QVariant(qlonglong(-1)),
                              QVariant(qulonglong(0)),
                              QVariant(0.0),
                              QVariant(false),
                              QDateTime(),
                              QDate(2001, 2, 3),
                              QByteArray(),
                              QByteArray("\0", 1)};
    for (const QVariant& v : kinds) {
        const bool byText = v.userType() == QMetaType::QByteArray ? v.toByteArray().isEmpty()
                                                                  : pim::fieldText(v).isEmpty();
        EXPECT_EQ(pim::isFieldEmpty(v), byText) << v.typeName();
    }
}

// The text of a date-time is written without Qt's format parser; it must still be Qt's text for
// every date, in local time and in UTC, and nothing for an invalid one.
TEST(PimFieldText, DateTimesAsQtWritesThem) {
    const QDate dates[] = {QDate(1604, 3, 7),  QDate(1970, 1, 1),   QDate(2000, 2, 29),
                           QDate(2024, 3, 31), QDate(9999, 12, 31), QDate(999, 5, 6),
                           QDate(12, 1, 2),    QDate(-44, 3, 15),   QDate(10000, 1, 1)};
    const QTime times[] = {QTime(0, 0), QTime(2, 30), QTime(9, 8, 7, 999), QTime(23, 59, 59)};
    for (const QDate& d : dates) {
        for (const QTime& t : times) {
            for (Qt::TimeSpec spec : {Qt::LocalTime, Qt::UTC}) {
                const QDateTime dt(d, t, spec);
                EXPECT_EQ(pim::fieldText(dt), dt.toString(pim::DATE_TIME_FORMAT))
                    << dt.toString(Qt::ISODateWithMs).toStdString();
            }
        }
    }
    EXPECT_EQ(pim::fieldText(QDateTime()), "");
    EXPECT_EQ(pim::fieldText(QDateTime(QDate(2001, 2, 30), QTime(1, 2))), "");
}

TEST(PimMaps, Contents) {
    const std::vector<QMap<int, QString> > maps = {
        pim::phoneTypeMap(), pim::emailTypeMap(),    pim::eventTypeMap(), pim::imProtocolMap(),
        pim::imTypeMap(),    pim::nicknameTypeMap(), pim::orgTypeMap(),   pim::relTypeMap(),
        pim::addrTypeMap(),  pim::urlTypeMap()};
    const int sizes[] = {20, 4, 3, 12, 3, 6, 2, 15, 3, 7};
    for (size_t i = 0; i < maps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(maps[i].size(), sizes[i]);
        EXPECT_EQ(maps[i].constBegin().key(), 0);
        EXPECT_EQ(maps[i].constBegin().value(), "Other");
    }
    EXPECT_FALSE(pim::phoneTypeMap().contains(7));
    EXPECT_EQ(pim::nicknameTypeMap().value(2), "Other");
    EXPECT_EQ(pim::imTypeMap(), pim::addrTypeMap());
    QMap<int, QString> copy = pim::phoneTypeMap();
    EXPECT_TRUE(copy[7].isEmpty());
    EXPECT_FALSE(pim::phoneTypeMap().contains(7));
}

TEST(PimMaps, ConcurrentFirstUse) {
    std::vector<std::thread> threads;
    std::vector<int> sizes(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &sizes] {
            sizes[i] =
                pim::relTypeMap().size() + pim::urlTypeMap().size() + pim::orgTypeMap().size();
        });
    }
    for (auto& t : threads)
        t.join();
    for (int s : sizes)
        EXPECT_EQ(s, 15 + 7 + 2);
}

TEST(PimPhoneOrder, Ranks) {
    auto phone = [](const QVariant& type) {
        Entity e;
        if (type.isValid())
            e.fields["data2"] = type;
        return e;
    };
    // In rank order: mobile, main (as text and as int), home, work, then the rest.
    EXPECT_TRUE(pim::comparePhoneLess(phone(2), phone("12")));
    EXPECT_FALSE(pim::comparePhoneLess(phone("12"), phone(12)));
    EXPECT_FALSE(pim::comparePhoneLess(phone(12), phone("12")));
    EXPECT_TRUE(pim::comparePhoneLess(phone(12), phone(1)));
    EXPECT_TRUE(pim::comparePhoneLess(phone(1), phone(3)));
    EXPECT_TRUE(pim::comparePhoneLess(phone(3), phone(17)));
    EXPECT_FALSE(pim::comparePhoneLess(phone(17), phone(QVariant())));
    EXPECT_FALSE(pim::comparePhoneLess(phone("abc"), phone(0)));
    EXPECT_FALSE(pim::comparePhoneLess(phone(3), phone(3)));
    std::vector<Entity> list = {phone(0), phone(3), phone(1), phone(2), phone("12")};
    std::stable_sort(list.begin(), list.end(), pim::comparePhoneLess);
    QStringList order;
    for (const Entity& e : list)
        order << pim::fieldText(e.fields.value("data2"));
    EXPECT_EQ(order.join(","), "2,12,1,3,0");
}

}  // namespace
