#include "pim.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>

namespace pim {

const char* const DATE_TIME_FORMAT = "yyyy-MM-dd'T'HH:mm:ss";

namespace {

// DATE_TIME_FORMAT written out by hand: Qt's format parser costs more than a merge of the
// value, and an import writes a date with most contacts. Years of other widths go through Qt.
QString dateTimeText(const QDate& d, const QTime& t) {
    const int year = d.year();
    if (year < 1000 || year > 9999)
        return QDateTime(d, t).toString(QLatin1String(DATE_TIME_FORMAT));
    char buf[20];
    auto put = [&buf](int at, int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            buf[at + i] = char('0' + value % 10);
            value /= 10;
        }
    };
    put(0, year, 4);
    buf[4] = '-';
    put(5, d.month(), 2);
    buf[7] = '-';
    put(8, d.day(), 2);
    buf[10] = 'T';
    put(11, t.hour(), 2);
    buf[13] = ':';
    put(14, t.minute(), 2);
    buf[16] = ':';
    put(17, t.second(), 2);
    return QString::fromLatin1(buf, 19);
}

}  // namespace

QString fieldText(const QVariant& v) {
    switch (v.userType()) {
        case QMetaType::QDateTime: {
            // Qt 5's own conversion adds milliseconds; dates are kept in one form only.
            const QDateTime dt = v.toDateTime();
            if (dt.isValid())
                return dateTimeText(dt.date(), dt.time());
            return dt.toString(QLatin1String(DATE_TIME_FORMAT));
        }
        case QMetaType::QDate: {
            const QDate d = v.toDate();
            return d.isValid() ? QDateTime(d, QTime(0, 0)).toString(QLatin1String(DATE_TIME_FORMAT))
                               : QString();
        }
        case QMetaType::QByteArray: {
            // QVariant's own conversion stops at the first 0 byte; keep the whole value.
            const QByteArray b = v.toByteArray();
            return QString::fromUtf8(b.constData(), b.size());
        }
        default:
            return v.toString();
    }
}

bool isFieldEmpty(const QVariant& v) {
    switch (v.userType()) {
        case QMetaType::UnknownType:
            return true;
        case QMetaType::QByteArray:
            return v.toByteArray().isEmpty();
        // The common kinds without building their text: a merge asks this of every field.
        case QMetaType::QString:
            return static_cast<const QString*>(v.constData())->isEmpty();
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return false;  // a number always has digits
        default:
            return fieldText(v).isEmpty();
    }
}

Entity::Entity() : _id(0) {}

Entity::Entity(unsigned long long id, QString src) : _id(id), srcId(std::move(src)) {}

QString Entity::fullName() const {
    QString r = text(QStringLiteral("data5"));
    static const char* const parts[] = {"data2", "data4", "data3", "data6"};
    for (const char* key : parts) {
        const QString t = text(QLatin1String(key));
        if (!t.isEmpty()) {
            r += QLatin1Char(' ');
            r += t;
        }
    }
    return r.trimmed();
}

QString Entity::formattedAddr() const {
    const QString country = text(QStringLiteral("data10"));
    const QString state = text(QStringLiteral("data8"));
    const QString city = text(QStringLiteral("data7"));
    const QString street = text(QStringLiteral("data4"));
    const QString postcode = text(QStringLiteral("data9"));

    QString r = street;
    if (!city.isEmpty() || !state.isEmpty()) {
        r += QLatin1Char('\n');
        if (!city.isEmpty()) {
            r += city;
            if (!state.isEmpty() || !postcode.isEmpty())
                r += QLatin1Char(',');
        }
        if (!state.isEmpty())
            r += QLatin1Char(' ') + state;
        if (!postcode.isEmpty())
            r += QLatin1Char(' ') + postcode;
    }
    if (!country.isEmpty())
        r += QLatin1Char('\n') + country;
    return r.trimmed();
}

QString Entity::photoHash(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toBase64());
}

QString Entity::photoHash() const {
    return photoHash(fields.value(QStringLiteral("data15")).toByteArray());
}

_Contact::_Contact() : _id(0) {}

_Contact::_Contact(unsigned long long id, QString src, QString name)
    : _id(id), srcId(std::move(src)), fullName(std::move(name)) {}

_Group::_Group() : _id(0) {}

_Group::_Group(unsigned long long id, QString n) : _id(id), name(std::move(n)) {}

bool operator==(const Entity& a, const Entity& b) {
    return a._id == b._id && a.srcId == b.srcId && a.fields == b.fields;
}

bool operator==(const _Contact& a, const _Contact& b) {
    return a._id == b._id && a.srcId == b.srcId && a.fullName == b.fullName &&
           a.entities == b.entities;
}

bool operator==(const _Group& a, const _Group& b) {
    return a._id == b._id && a.name == b.name;
}

// Each table is a function-local static built whole on first use (thread-safe), then copied.

QMap<int, QString> phoneTypeMap() {
    static const QMap<int, QString> m{
        {0, "Other"},        {1, "Home"},          {2, "Mobile"},     {3, "Work"},
        {4, "Work Fax"},     {5, "Home Fax"},      {6, "Pager"},      {8, "Callback"},
        {9, "Car"},          {10, "Company Main"}, {11, "ISDN"},      {12, "Main"},
        {13, "Other Fax"},   {14, "Radio"},        {15, "Telex"},     {16, "TTY TDD"},
        {17, "Work Mobile"}, {18, "Work Pager"},   {19, "Assistant"}, {20, "MMS"}};
    return m;
}

QMap<int, QString> emailTypeMap() {
    static const QMap<int, QString> m{{0, "Other"}, {1, "Home"}, {2, "Work"}, {4, "Mobile"}};
    return m;
}

QMap<int, QString> eventTypeMap() {
    static const QMap<int, QString> m{{0, "Other"}, {1, "Anniversary"}, {3, "Birthday"}};
    return m;
}

QMap<int, QString> imProtocolMap() {
    static const QMap<int, QString> m{{0, "Other"},       {1, "AIM"},        {2, "MSN"},
                                      {3, "Yahoo"},       {4, "Skype"},      {5, "QQ"},
                                      {6, "Google Talk"}, {7, "ICQ"},        {8, "Jabber"},
                                      {9, "Net Meeting"}, {10, "Gadu Gadu"}, {11, "Facebook"}};
    return m;
}

QMap<int, QString> imTypeMap() {
    static const QMap<int, QString> m{{0, "Other"}, {1, "Home"}, {2, "Work"}};
    return m;
}

QMap<int, QString> nicknameTypeMap() {
    static const QMap<int, QString> m{{0, "Other"},  {1, "Default"}, {2, "Other"},
                                      {3, "Maiden"}, {4, "Short"},   {5, "Initials"}};
    return m;
}

QMap<int, QString> orgTypeMap() {
    static const QMap<int, QString> m{{0, "Other"}, {1, "Work"}};
    return m;
}

QMap<int, QString> relTypeMap() {
    static const QMap<int, QString> m{
        {0, "Other"},     {1, "Assistant"},        {2, "Brother"},
        {3, "Child"},     {4, "Domestic Partner"}, {5, "Father"},
        {6, "Friend"},    {7, "Manager"},          {8, "Mother"},
        {9, "Parent"},    {10, "Partner"},         {11, "Referred by"},
        {12, "Relative"}, {13, "Sister"},          {14, "Spouse"}};
    return m;
}

QMap<int, QString> addrTypeMap() {
    static const QMap<int, QString> m{{0, "Other"}, {1, "Home"}, {2, "Work"}};
    return m;
}

QMap<int, QString> urlTypeMap() {
    static const QMap<int, QString> m{{0, "Other"}, {1, "Home page"}, {2, "Blog"}, {3, "Profile"},
                                      {4, "Home"},  {5, "Work"},      {6, "FTP"}};
    return m;
}

namespace {

int phonePriority(const Entity& phone) {
    switch (phone.fields.value(QStringLiteral("data2")).toInt()) {
        case 2:
            return 10;
        case 12:
            return 20;
        case 1:
            return 30;
        case 3:
            return 40;
        default:
            return 100;
    }
}

}  // namespace

QString nameFromDetails(const _Contact& contact) {
    for (int type : {ENTITY_ORG, ENTITY_EMAIL, ENTITY_PHONE}) {
        for (const Entity& e : contact.entities.value(type)) {
            const QString t = e.text(QStringLiteral("data1")).trimmed();
            if (!t.isEmpty())
                return t;
        }
    }
    return QString();
}

bool comparePhoneLess(const Entity& a, const Entity& b) {
    return phonePriority(a) < phonePriority(b);
}

}  // namespace pim
