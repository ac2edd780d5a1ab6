// The contact model that every part of the program passes around.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

namespace pim {

// Entity type codes: the keys of _Contact::entities and the "type" column of the data table.
enum EntityType {
    ENTITY_NAME = 1,
    ENTITY_PHOTO = 2,
    ENTITY_PHONE = 3,
    ENTITY_EMAIL = 4,
    ENTITY_NICKNAME = 5,
    ENTITY_EVENT = 6,
    ENTITY_GROUP = 7,
    ENTITY_IM = 8,
    ENTITY_NOTES = 9,
    ENTITY_ORG = 10,
    ENTITY_REL = 11,
    ENTITY_ADDR = 12,
    ENTITY_URL = 13,
};

// The one text form of a date value: "yyyy-MM-ddTHH:mm:ss".
extern const char* const DATE_TIME_FORMAT;

// Text of a field value as stored and compared: a QDateTime (or QDate) gives the
// "yyyy-MM-ddTHH:mm:ss" form (no milliseconds, no zone), everything else QVariant::toString().
QString fieldText(const QVariant& v);
// Whether a field value counts as empty: bytes by their length (an image may start with a 0
// byte), an absent value always, anything else by its fieldText().
bool isFieldEmpty(const QVariant& v);

// One detail of a contact. Its type is the key under which its contact holds it.
struct Entity {
    QMap<QString, QVariant> fields;  // "data1" .. "data15"
    unsigned long long _id;          // row id in the data table, 0 = not stored
    QString srcId;                   // identifier in the source it came from

    Entity();
    Entity(unsigned long long id, QString srcId);

    // Display name of a name entity: prefix, given, middle, family, suffix, trimmed.
    QString fullName() const;
    // Postal address text of an address entity: street / city, state postcode / country.
    QString formattedAddr() const;
    // Base64 of the MD5 of the bytes (24 characters).
    static QString photoHash(const QByteArray& bytes);
    // Hash of this entity's "data15".
    QString photoHash() const;

    // Text of one field (absent: empty), through fieldText().
    QString text(const QString& key) const { return fieldText(fields.value(key)); }
};

struct _Contact {
    unsigned long long _id;
    QString srcId;
    QString fullName;
    QMap<int, QList<Entity> > entities;

    _Contact();
    _Contact(unsigned long long id, QString srcId, QString fullName);
};

struct _Group {
    unsigned long long _id;
    QString name;

    _Group();
    _Group(unsigned long long id, QString name);
};

// Memberwise equality (field values by QVariant equality).
bool operator==(const Entity& a, const Entity& b);
inline bool operator!=(const Entity& a, const Entity& b) {
    return !(a == b);
}
bool operator==(const _Contact& a, const _Contact& b);
inline bool operator!=(const _Contact& a, const _Contact& b) {
    return !(a == b);
}
bool operator==(const _Group& a, const _Group& b);
inline bool operator!=(const _Group& a, const _Group& b) {
    return !(a == b);
}

// Code-to-English-label maps; each returns a copy of a table built once per process.
QMap<int, QString> phoneTypeMap();
QMap<int, QString> emailTypeMap();
QMap<int, QString> eventTypeMap();
QMap<int, QString> imProtocolMap();
QMap<int, QString> imTypeMap();
QMap<int, QString> nicknameTypeMap();
QMap<int, QString> orgTypeMap();
QMap<int, QString> relTypeMap();
QMap<int, QString> addrTypeMap();
QMap<int, QString> urlTypeMap();

// What a contact without a name is known by: its company, else its first e-mail address, else
// its first number (trimmed); empty when it has none of these.
QString nameFromDetails(const _Contact& contact);

// Phone sort predicate: mobile, main, home, work, then everything else.
bool comparePhoneLess(const Entity& a, const Entity& b);

}  // namespace pim

Q_DECLARE_METATYPE(pim::Entity)
Q_DECLARE_METATYPE(pim::_Contact)
Q_DECLARE_METATYPE(pim::_Group)
