// Merge rules: per entity type, the field lists that decide emptiness, identity, equality and
// what a merge carries over.
#pragma once

#include "pim.h"

#include <QStringList>

class AbsContactCombineRule {
public:
    virtual ~AbsContactCombineRule();

    // Keys that must all be empty for an entity of the type to count as blank.
    virtual QStringList checkEmptyFields(int type) = 0;
    // Keys on which two entities are the same item (merge identity).
    virtual QStringList checkEqualFieldsMin(int type) = 0;
    // Keys on which an edited entity equals its stored version (unchanged).
    virtual QStringList checkEqualFieldsFull(int type) = 0;
    // Keys a merge compares and copies; empty = never merged. Sets single (false first).
    virtual QStringList validFields(int type, bool& single) = 0;

    // True when both entities hold equal values under every key (true for no keys).
    // The first entity's value decides the kind of comparison; date values compare in their
    // one text form.
    static bool isEntityEqual(const pim::Entity& a, const pim::Entity& b, QStringList keys);
    // True when every key's value has empty text (true for no keys).
    static bool isEntityEmpty(const pim::Entity& e, QStringList keys);
    // The value equality used by isEntityEqual (exposed for tests and the editor).
    static bool isValueEqual(const QVariant& first, const QVariant& second);
};

// Rule of the user's local databases.
class LocalDbCombineRule : public AbsContactCombineRule {
public:
    ~LocalDbCombineRule() override;
    QStringList checkEmptyFields(int type) override;
    QStringList checkEqualFieldsMin(int type) override;
    QStringList checkEqualFieldsFull(int type) override;
    QStringList validFields(int type, bool& single) override;
};

// Rule of device mirror databases.
class IOSContactCombineRule : public AbsContactCombineRule {
public:
    ~IOSContactCombineRule() override;
    QStringList checkEmptyFields(int type) override;
    QStringList checkEqualFieldsMin(int type) override;
    QStringList checkEqualFieldsFull(int type) override;
    QStringList validFields(int type, bool& single) override;
};

// What tells two contacts of one full name apart: their numbers, e-mail addresses and birthdays.
// Two contacts of one name are the same person unless these contradict each other: when both
// hold numbers or e-mail addresses they must share one, and when both hold a birthday they must
// share its day. Numbers compare by their digits, one also matching another that ends with its
// last 7 or more digits (leading zeros aside: "030 1234567" = "+49 30 1234567"); addresses
// compare without regard to case. Joining two people loses who owns which detail; keeping one
// person twice loses nothing.
class PersonMarks {
public:
    PersonMarks() = default;
    explicit PersonMarks(const pim::_Contact& contact);

    // One detail row: its type code, main value ("data1") and type code ("data2").
    void add(int type, const QVariant& value, const QVariant& typeCode);

    // False when the two cannot be one person.
    bool agreesWith(const PersonMarks& other) const;
    // True when the two hold a number or e-mail address in common.
    bool sharesReachWith(const PersonMarks& other) const;

private:
    // A handful each, so lists: a set would cost more to build than the few comparisons.
    QStringList m_numbers;    // digits of each number (its text in lower case when it has none)
    QStringList m_emails;     // in lower case
    QStringList m_birthdays;  // "yyyy-MM-dd"
};
