#include "combinerule.h"

namespace {

QStringList keys(std::initializer_list<const char*> names) {
    QStringList l;
    l.reserve(int(names.size()));
    for (const char* n : names)
        l << QLatin1String(n);
    return l;
}

// Each list is built once and then shared: a merge asks for them for every contact it takes.
#define KEYS(...)                                            \
    [] {                                                     \
        static const QStringList list = keys({__VA_ARGS__}); \
        return list;                                         \
    }()

bool isDateValue(const QVariant& v) {
    return v.userType() == QMetaType::QDateTime || v.userType() == QMetaType::QDate;
}

}  // namespace

AbsContactCombineRule::~AbsContactCombineRule() = default;

bool AbsContactCombineRule::isValueEqual(const QVariant& first, const QVariant& second) {
    if (!first.isValid() || !second.isValid())
        return first.isValid() == second.isValid();
    // A date compares in its one stored text form, whichever side holds it.
    if (isDateValue(first) || isDateValue(second))
        return pim::fieldText(first) == pim::fieldText(second);
    return first == second;
}

bool AbsContactCombineRule::isEntityEqual(const pim::Entity& a, const pim::Entity& b,
                                          QStringList list) {
    // Read only: the lists are shared, and a loop over a mutable one would copy it.
    for (const QString& k : qAsConst(list)) {
        if (!isValueEqual(a.fields.value(k), b.fields.value(k)))
            return false;
    }
    return true;
}

bool AbsContactCombineRule::isEntityEmpty(const pim::Entity& e, QStringList list) {
    for (const QString& k : qAsConst(list)) {
        if (!pim::isFieldEmpty(e.fields.value(k)))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Local databases

LocalDbCombineRule::~LocalDbCombineRule() = default;

QStringList LocalDbCombineRule::checkEmptyFields(int type) {
    switch (type) {
        case pim::ENTITY_PHOTO:
            return KEYS("data4");
        case pim::ENTITY_PHONE:
        case pim::ENTITY_EMAIL:
        case pim::ENTITY_NICKNAME:
        case pim::ENTITY_EVENT:
        case pim::ENTITY_GROUP:
        case pim::ENTITY_IM:
        case pim::ENTITY_NOTES:
        case pim::ENTITY_REL:
        case pim::ENTITY_ADDR:
        case pim::ENTITY_URL:
            return KEYS("data1");
        case pim::ENTITY_ORG:
            return KEYS("data1", "data5", "data4");
        default:
            return QStringList();
    }
}

QStringList LocalDbCombineRule::checkEqualFieldsMin(int type) {
    switch (type) {
        case pim::ENTITY_PHOTO:
            return KEYS("data4");
        case pim::ENTITY_PHONE:
        case pim::ENTITY_EMAIL:
        case pim::ENTITY_NICKNAME:
        case pim::ENTITY_EVENT:
        case pim::ENTITY_GROUP:
        case pim::ENTITY_NOTES:
        case pim::ENTITY_REL:
        case pim::ENTITY_ADDR:
        case pim::ENTITY_URL:
            return KEYS("data1");
        case pim::ENTITY_IM:
            return KEYS("data1", "data5", "data6");
        case pim::ENTITY_ORG:
            return KEYS("data1", "data5", "data4");
        default:
            return QStringList();
    }
}

QStringList LocalDbCombineRule::checkEqualFieldsFull(int type) {
    switch (type) {
        case pim::ENTITY_PHOTO:
            return KEYS("data4");
        case pim::ENTITY_PHONE:
        case pim::ENTITY_EMAIL:
        case pim::ENTITY_EVENT:
        case pim::ENTITY_REL:
        case pim::ENTITY_URL:
            return KEYS("data1", "data2", "data3");
        case pim::ENTITY_NICKNAME:
        case pim::ENTITY_GROUP:
        case pim::ENTITY_NOTES:
            return KEYS("data1");
        case pim::ENTITY_IM:
            return KEYS("data1", "data5", "data6", "data2", "data3");
        case pim::ENTITY_ORG:
            return KEYS("data1", "data5", "data4");
        case pim::ENTITY_ADDR:
            return KEYS("data10", "data11", "data8", "data7", "data4", "data9", "data2", "data3");
        default:
            return QStringList();
    }
}

QStringList LocalDbCombineRule::validFields(int type, bool& single) {
    single = false;
    switch (type) {
        case pim::ENTITY_PHOTO:
            single = true;
            return KEYS("data4", "data15");
        case pim::ENTITY_PHONE:
        case pim::ENTITY_EMAIL:
        case pim::ENTITY_EVENT:
        case pim::ENTITY_REL:
        case pim::ENTITY_URL:
            return KEYS("data1", "data2", "data3");
        case pim::ENTITY_NICKNAME:
            single = true;
            return KEYS("data1");
        case pim::ENTITY_GROUP:
            single = true;
            return KEYS("data1", "data2");
        case pim::ENTITY_IM:
            return KEYS("data1", "data5", "data6", "data2", "data3");
        case pim::ENTITY_NOTES:
            return KEYS("data1");
        case pim::ENTITY_ORG:
            single = true;
            return KEYS("data1", "data5", "data4");
        case pim::ENTITY_ADDR:
            return KEYS("data1", "data10", "data11", "data8", "data7", "data4", "data9", "data2",
                        "data3");
        default:
            return QStringList();
    }
}

// ---------------------------------------------------------------------------------------------
// Device mirrors: like the local rule except for dates, groups, IM, notes and relations.

IOSContactCombineRule::~IOSContactCombineRule() = default;

QStringList IOSContactCombineRule::checkEmptyFields(int type) {
    if (type == pim::ENTITY_GROUP)
        return QStringList();
    return LocalDbCombineRule().checkEmptyFields(type);
}

QStringList IOSContactCombineRule::checkEqualFieldsMin(int type) {
    switch (type) {
        case pim::ENTITY_GROUP:
            return QStringList();
        case pim::ENTITY_EVENT:
        case pim::ENTITY_REL:
            return KEYS("data1", "data2");
        case pim::ENTITY_IM:
            return KEYS("data1", "data5");
        default:
            return LocalDbCombineRule().checkEqualFieldsMin(type);
    }
}

QStringList IOSContactCombineRule::checkEqualFieldsFull(int type) {
    switch (type) {
        case pim::ENTITY_GROUP:
            return QStringList();
        // A phone keeps a service it has no word for by its name (data6): a mirror keeps it too.
        case pim::ENTITY_IM:
            return KEYS("data1", "data5", "data6", "data2", "data3");
        default:
            return LocalDbCombineRule().checkEqualFieldsFull(type);
    }
}

QStringList IOSContactCombineRule::validFields(int type, bool& single) {
    single = false;
    switch (type) {
        case pim::ENTITY_GROUP:
            return QStringList();
        case pim::ENTITY_IM:
            return KEYS("data1", "data5", "data6", "data2", "data3");
        case pim::ENTITY_NOTES:
            single = true;
            return KEYS("data1");
        default:
            return LocalDbCombineRule().validFields(type, single);
    }
}

// ---------------------------------------------------------------------------------------------
// Same person

namespace {

// A birthday is a date of type code 3.
const int BIRTHDAY = 3;

QString numberKey(const QString& number) {
    QString digits;
    digits.reserve(number.size());
    for (const QChar c : number) {
        if (c.isDigit())
            digits += c;
    }
    // A "number" without digits ("ask at the desk") counts as its text.
    return digits.isEmpty() ? number.trimmed().toLower() : digits;
}

// Numbers as one person writes them in several ways: the same digits, or one with the other's
// trailing digits (a country or area code added, a trunk 0 dropped) when at least the length
// of a subscriber number is left.
bool sameNumber(const QString& a, const QString& b) {
    if (a == b)
        return true;
    enum { MIN_DIGITS = 7 };
    auto significant = [](const QString& n) {
        int zeros = 0;
        while (zeros < n.size() && n.at(zeros) == QLatin1Char('0'))
            ++zeros;
        return n.mid(zeros);
    };
    const QString x = significant(a);
    const QString y = significant(b);
    if (x.size() < MIN_DIGITS || y.size() < MIN_DIGITS || !x.at(0).isDigit() || !y.at(0).isDigit())
        return false;
    return x.size() >= y.size() ? x.endsWith(y) : y.endsWith(x);
}

bool anyShared(const QStringList& a, const QStringList& b) {
    for (const QString& x : a) {
        if (b.contains(x))
            return true;
    }
    return false;
}

}  // namespace

PersonMarks::PersonMarks(const pim::_Contact& contact) {
    static const QString data1 = QStringLiteral("data1");
    static const QString data2 = QStringLiteral("data2");
    static const int types[] = {pim::ENTITY_PHONE, pim::ENTITY_EMAIL, pim::ENTITY_EVENT};
    for (int type : types) {
        for (const pim::Entity& e : contact.entities.value(type))
            add(type, e.fields.value(data1), e.fields.value(data2));
    }
}

void PersonMarks::add(int type, const QVariant& value, const QVariant& typeCode) {
    const QString text = pim::fieldText(value).trimmed();
    if (text.isEmpty())
        return;
    switch (type) {
        case pim::ENTITY_PHONE:
            m_numbers << numberKey(text);
            break;
        case pim::ENTITY_EMAIL:
            m_emails << text.toLower();
            break;
        case pim::ENTITY_EVENT:
            // The day alone: one source keeps a birthday at midnight, another at noon.
            if (pim::fieldText(typeCode).trimmed().toInt() == BIRTHDAY)
                m_birthdays << text.left(10);
            break;
        default:
            break;
    }
}

bool PersonMarks::sharesReachWith(const PersonMarks& other) const {
    if (anyShared(m_emails, other.m_emails))
        return true;
    for (const QString& a : m_numbers) {
        for (const QString& b : other.m_numbers) {
            if (sameNumber(a, b))
                return true;
        }
    }
    return false;
}

bool PersonMarks::agreesWith(const PersonMarks& other) const {
    if (!m_birthdays.isEmpty() && !other.m_birthdays.isEmpty() &&
        !anyShared(m_birthdays, other.m_birthdays))
        return false;
    const bool reach = !m_numbers.isEmpty() || !m_emails.isEmpty();
    const bool otherReach = !other.m_numbers.isEmpty() || !other.m_emails.isEmpty();
    if (reach && otherReach)
        return sharesReachWith(other);
    return true;
}
