// Which stored contact of a name an incoming contact merges into: only the same person.
#include "store_test_util.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

pim::Entity phone(const char* number) {
    return makeEntity({{"data1", number}, {"data2", 2}});
}
pim::Entity email(const char* address) {
    return makeEntity({{"data1", address}, {"data2", 1}});
}
pim::Entity birthday(const QVariant& day) {
    return makeEntity({{"data1", day}, {"data2", 3}});
}

class SamePerson : public ::testing::TestWithParam<bool> {
protected:
    SamePerson()
        : t(GetParam() ? static_cast<AbsContactCombineRule*>(new IOSContactCombineRule)
                       : new LocalDbCombineRule) {}
    // Row id of the stored contact the incoming one went into.
    unsigned long long merge(const pim::_Contact& in, bool* existed = nullptr) {
        pim::_Contact out;
        bool e = false;
        t.db->combineContact(in, out, e);
        if (existed)
            *existed = e;
        return out._id;
    }
    int contacts() { return t.count("select count(*) from contact"); }
    QStringList numbers(unsigned long long id) {
        QStringList l;
        for (const pim::Entity& e : t.db->contact(id).entities.value(pim::ENTITY_PHONE))
            l << e.text("data1");
        l.sort();
        return l;
    }
    TempDb t;
};

}  // namespace

TEST_P(SamePerson, NamesakesWithTheirOwnNumbersStayTwo) {
    const auto first = merge(
        makeContact("Bruno Zhang", {{3, phone("+1 555 001 0001")}, {6, birthday("1970-01-02")}}));
    const auto second = merge(makeContact(
        "Bruno Zhang", {{3, phone("+1 555 002 0002")}, {10, makeEntity({{"data1", "Globex"}})}}));
    EXPECT_NE(first, second);
    EXPECT_EQ(contacts(), 2);

    // Each repeat finds its own person, the second one too, whatever the case of the name; a
    // new number joins the person it shares another number with.
    bool existed = false;
    EXPECT_EQ(merge(makeContact("bruno zhang",
                                {{3, phone("+1 555 002 0002")}, {3, phone("+1 555 002 0003")}}),
                    &existed),
              second);
    EXPECT_TRUE(existed);
    EXPECT_EQ(merge(makeContact("Bruno Zhang", {{3, phone("+1 555 001 0001")}})), first);
    EXPECT_EQ(contacts(), 2);
    EXPECT_EQ(numbers(first), QStringList{"+1 555 001 0001"});
    EXPECT_EQ(numbers(second), (QStringList{"+1 555 002 0002", "+1 555 002 0003"}));
    EXPECT_TRUE(t.db->contact(first).entities.value(pim::ENTITY_ORG).isEmpty());

    // A third namesake with a number of their own is a third person.
    merge(makeContact("Bruno Zhang", {{3, phone("+1 555 003 0003")}}), &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(contacts(), 3);
}

TEST_P(SamePerson, NumbersCompareByDigitsAddressesWithoutCase) {
    const auto id = merge(makeContact("Ann", {{3, phone("+1 (555) 010-0100")}}));
    EXPECT_EQ(merge(makeContact("Ann", {{3, phone("+1 555 0100 100")}})), id);
    EXPECT_EQ(
        merge(makeContact("Ann", {{4, email("Ann@Example.com")}, {3, phone("+15550100100")}})), id);
    // Number and address are one person's reach together: sharing either is enough.
    EXPECT_EQ(merge(makeContact("Ann", {{4, email("ann@example.COM ")}, {3, phone("999")}})), id);
    EXPECT_EQ(contacts(), 1);
    // A number written with a country or area code, or without its trunk 0, is the same
    // number when at least seven digits agree; fewer are too little to tell.
    const auto abroad = merge(makeContact("Ole", {{3, phone("030 1234567")}}));
    EXPECT_EQ(merge(makeContact("Ole", {{3, phone("+49 30 1234567")}})), abroad);
    EXPECT_EQ(merge(makeContact("Ole", {{3, phone("1234567")}})), abroad);
    EXPECT_NE(merge(makeContact("Ole", {{3, phone("+49 30 7654321")}})), abroad);
    const auto shortNumber = merge(makeContact("Kim", {{3, phone("55 123")}}));
    EXPECT_NE(merge(makeContact("Kim", {{3, phone("1 55 123")}})), shortNumber);
    // Text without digits counts as its text.
    const auto desk = merge(makeContact("Desk", {{3, phone("Ask at the desk")}}));
    EXPECT_EQ(merge(makeContact("Desk", {{3, phone("ask at the desk")}})), desk);
    EXPECT_NE(merge(makeContact("Desk", {{3, phone("Call the office")}})), desk);
}

TEST_P(SamePerson, BirthdaysThatDifferAreTwoPeople) {
    const auto id = merge(makeContact("Mia", {{6, birthday("1980-05-04T00:00:00")}}));
    // The same day at another hour (a phone keeps noon) is the same person.
    EXPECT_EQ(merge(makeContact(
                  "Mia", {{6, birthday(QDateTime(QDate(1980, 5, 4), QTime(12, 0), Qt::UTC))}})),
              id);
    bool existed = true;
    merge(makeContact("Mia", {{6, birthday("1981-05-04")}}), &existed);
    EXPECT_FALSE(existed);
    // Even with a number in common: one name, one number, two birthdays are a family.
    merge(makeContact("Leo", {{3, phone("555")}, {6, birthday("1950-01-01")}}));
    merge(makeContact("Leo", {{3, phone("555")}, {6, birthday("1990-01-01")}}), &existed);
    EXPECT_FALSE(existed);
    // Of two stored birthdays, either day agrees.
    const auto twice = merge(makeContact("Eve", {{6, birthday("1970-01-01")}}));
    t.db->beginEdit();
    pim::Entity second = birthday("1971-02-02");
    t.db->insertEntity(twice, pim::ENTITY_EVENT, second);
    t.db->endEdit(true);
    EXPECT_EQ(merge(makeContact("Eve", {{6, birthday("1971-02-02")}})), twice);
    // Another kind of date is no birthday.
    merge(makeContact("Mia", {{6, makeEntity({{"data1", "2000-01-01"}, {"data2", 1}})}}), &existed);
    EXPECT_TRUE(existed);
}

TEST_P(SamePerson, WhatOneSideLacksDoesNotContradict) {
    // A name alone, or a name and a birthday, joins the first of the name that agrees.
    const auto first = merge(makeContact("Noah", {{3, phone("1")}}));
    const auto second = merge(makeContact("Noah", {{3, phone("2")}, {6, birthday("1999-09-09")}}));
    ASSERT_NE(first, second);
    EXPECT_EQ(merge(makeContact("Noah", {{9, makeEntity({{"data1", "note"}})}})), first);
    EXPECT_EQ(merge(makeContact("Noah", {{6, birthday("1999-09-09")}})), first);
    // ... but one that shares a number is preferred over an earlier one that only agrees.
    EXPECT_EQ(merge(makeContact("Noah", {{3, phone("2")}, {6, birthday("1999-09-09")}})), second);
    // The first now holds that birthday, so a different one no longer joins it.
    bool existed = true;
    merge(makeContact("Noah", {{6, birthday("2001-01-01")}}), &existed);
    EXPECT_FALSE(existed);
}

TEST_P(SamePerson, ContactsKnownByDetailsFollowTheSameRule) {
    // No full name: known by the company; two companies' contacts with other numbers stay two.
    const auto a =
        merge(makeContact(QString(), {{10, makeEntity({{"data1", "Acme"}})}, {3, phone("100")}}));
    const auto b =
        merge(makeContact(QString(), {{10, makeEntity({{"data1", "Acme"}})}, {3, phone("200")}}));
    EXPECT_NE(a, b);
    EXPECT_EQ(
        merge(makeContact(QString(), {{10, makeEntity({{"data1", "Acme"}})}, {3, phone("200")}})),
        b);
}

INSTANTIATE_TEST_SUITE_P(Rules, SamePerson, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "Mirror" : "Local");
                         });
