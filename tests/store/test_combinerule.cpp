#include "store/combinerule.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

// One row of a rule table: the four lists (keys without the "data" prefix) and single.
struct RuleRow {
    int code;
    const char* empty;
    const char* min;
    const char* full;
    const char* valid;
    bool single;
};

QStringList expand(const char* spec) {
    QStringList l;
    for (const QString& n : QString::fromLatin1(spec).split(' ', Qt::SkipEmptyParts))
        l << "data" + n;
    return l;
}

void checkTable(AbsContactCombineRule& rule, const std::vector<RuleRow>& rows) {
    for (const RuleRow& r : rows) {
        SCOPED_TRACE(r.code);
        EXPECT_EQ(rule.checkEmptyFields(r.code), expand(r.empty));
        EXPECT_EQ(rule.checkEqualFieldsMin(r.code), expand(r.min));
        EXPECT_EQ(rule.checkEqualFieldsFull(r.code), expand(r.full));
        for (bool start : {true, false}) {
            bool single = start;
            EXPECT_EQ(rule.validFields(r.code, single), expand(r.valid));
            EXPECT_EQ(single, r.single);
        }
    }
}

const char* const ADDR_FULL = "10 11 8 7 4 9 2 3";
const char* const ADDR_VALID = "1 10 11 8 7 4 9 2 3";

TEST(CombineRule, LocalTable) {
    LocalDbCombineRule rule;
    checkTable(rule, {
                         {1, "", "", "", "", false},
                         {2, "4", "4", "4", "4 15", true},
                         {3, "1", "1", "1 2 3", "1 2 3", false},
                         {4, "1", "1", "1 2 3", "1 2 3", false},
                         {5, "1", "1", "1", "1", true},
                         {6, "1", "1", "1 2 3", "1 2 3", false},
                         {7, "1", "1", "1", "1 2", true},
                         {8, "1", "1 5 6", "1 5 6 2 3", "1 5 6 2 3", false},
                         {9, "1", "1", "1", "1", false},
                         {10, "1 5 4", "1 5 4", "1 5 4", "1 5 4", true},
                         {11, "1", "1", "1 2 3", "1 2 3", false},
                         {12, "1", "1", ADDR_FULL, ADDR_VALID, false},
                         {13, "1", "1", "1 2 3", "1 2 3", false},
                         {0, "", "", "", "", false},
                         {-1, "", "", "", "", false},
                         {14, "", "", "", "", false},
                         {1000, "", "", "", "", false},
                     });
}

TEST(CombineRule, DeviceTable) {
    IOSContactCombineRule rule;
    checkTable(rule, {
                         {1, "", "", "", "", false},
                         {2, "4", "4", "4", "4 15", true},
                         {3, "1", "1", "1 2 3", "1 2 3", false},
                         {4, "1", "1", "1 2 3", "1 2 3", false},
                         {5, "1", "1", "1", "1", true},
                         {6, "1", "1 2", "1 2 3", "1 2 3", false},
                         {7, "", "", "", "", false},
                         {8, "1", "1 5", "1 5 6 2 3", "1 5 6 2 3", false},
                         {9, "1", "1", "1", "1", true},
                         {10, "1 5 4", "1 5 4", "1 5 4", "1 5 4", true},
                         {11, "1", "1 2", "1 2 3", "1 2 3", false},
                         {12, "1", "1", ADDR_FULL, ADDR_VALID, false},
                         {13, "1", "1", "1 2 3", "1 2 3", false},
                         {0, "", "", "", "", false},
                         {-1, "", "", "", "", false},
                         {14, "", "", "", "", false},
                     });
}

TEST(CombineRule, ListsAreIndependentCopies) {
    LocalDbCombineRule rule;
    QStringList l = rule.checkEqualFieldsFull(12);
    l.clear();
    EXPECT_EQ(rule.checkEqualFieldsFull(12).size(), 8);
}

// isEntityEqual: first value decides; absent vs empty; text vs number; dates in one form.
TEST(CombineRule, ValueEquality) {
    struct Case {
        QVariant a, b;
        bool equal;
    } cases[] = {
        {QVariant(), QVariant(), true},
        {QVariant(), QString(""), false},
        {QString(""), QVariant(), false},
        {QString(), QString(""), true},
        {QString("Ab"), QString("ab"), false},
        {QString("2"), 2, true},
        {QString("02"), 2, false},
        {2, qulonglong(2), true},
        {QString("5"), qulonglong(5), true},
        {QByteArray("\0a", 2), QByteArray("\0a", 2), true},
        {QByteArray("\0a", 2), QByteArray("\0b", 2), false},
        {QString("2021-03-04T05:06:07"), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 890)), true},
        {QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 1)), QString("2021-03-04T05:06:07"), true},
        {QString("2021-03-04T05:06:08"), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7)), false},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(i++);
        pim::Entity a, b;
        if (c.a.isValid())
            a.fields["data1"] = c.a;
        if (c.b.isValid())
            b.fields["data1"] = c.b;
        EXPECT_EQ(AbsContactCombineRule::isEntityEqual(a, b, {"data1"}), c.equal);
    }
    pim::Entity x, y;
    x.fields["data1"] = "a";
    EXPECT_TRUE(AbsContactCombineRule::isEntityEqual(x, y, {}));
}

TEST(CombineRule, Emptiness) {
    LocalDbCombineRule rule;
    pim::Entity org;
    org.fields["data2"] = 1;
    org.fields["data3"] = "custom";
    EXPECT_TRUE(AbsContactCombineRule::isEntityEmpty(org, rule.checkEmptyFields(pim::ENTITY_ORG)));
    org.fields["data4"] = "Engineer";
    EXPECT_FALSE(AbsContactCombineRule::isEntityEmpty(org, rule.checkEmptyFields(pim::ENTITY_ORG)));
    pim::Entity n;
    n.fields["data1"] = 0;  // a number is never empty
    EXPECT_FALSE(AbsContactCombineRule::isEntityEmpty(n, {"data1"}));
    EXPECT_TRUE(AbsContactCombineRule::isEntityEmpty(n, {}));
    pim::Entity photo;
    photo.fields["data15"] = QByteArray("\0\1", 2);  // starts with a 0 byte, still a picture
    EXPECT_FALSE(AbsContactCombineRule::isEntityEmpty(photo, {"data15"}));
    pim::Entity date;
    date.fields["data1"] = QDateTime();
    EXPECT_TRUE(AbsContactCombineRule::isEntityEmpty(date, {"data1"}));
}

}  // namespace
