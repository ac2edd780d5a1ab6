#include "contactrecords.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>
#include <cstring>
#include <exception>

#include <plist/plist.h>

#include "store/devicerecordkeys.h"
#include "store/localdb.h"

namespace contactrecords {

namespace {

const char* const kKindKey = "com.apple.syncservices.RecordEntityName";
const char* const kContactKind = "com.apple.contacts.Contact";
const char* const kDeleteMarker = "___EmptyParameterString___";

QString col(const pim::Entity& e, const char* key) {
    return e.text(QString::fromLatin1(key));
}

int colInt(const pim::Entity& e, const char* key) {
    bool ok = false;
    const int v = col(e, key).trimmed().toInt(&ok);
    return ok ? v : 0;
}

bool hasCol(const pim::Entity& e, const char* key) {
    return !col(e, key).trimmed().isEmpty();
}

// A date alone or a date with a time of day, ISO 8601; invalid when it reads as neither.
QDateTime isoDateTime(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return QDateTime();
    }
    QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
    if (dt.isValid()) {
        return dt;
    }
    const QDate d = QDate::fromString(t, Qt::ISODate);
    return d.isValid() ? QDateTime(d, QTime(0, 0)) : QDateTime();
}

void putText(PlistCFType& rec, const char* key, const QString& value) {
    if (!value.isEmpty()) {
        rec.put(QString::fromLatin1(key), PlistCFType::createCFString(value));
    }
}

// The value under a key (an ASCII literal), or null. A phone read looks up some twenty keys of
// each of tens of thousands of records: the key goes to the library as it is, and no handle is
// made for a value that is only read.
plist_t valueOf(const PlistCFType& rec, const char* key) {
    if (!rec.isCFDictionary()) {
        return nullptr;
    }
    return plist_dict_get_item(static_cast<plist_t>(rec.ref()), key);
}

QString textOf(const PlistCFType& rec, const char* key) {
    const plist_t v = valueOf(rec, key);
    if (!v) {
        return QString();
    }
    if (plist_get_node_type(v) == PLIST_STRING) {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(v, &length);
        return text ? QString::fromUtf8(text, int(strnlen(text, size_t(length)))) : QString();
    }
    return PlistCFType(v, false).CFStringQString();
}

QString dateOf(const PlistCFType& rec, const char* key) {
    const plist_t node = valueOf(rec, key);
    if (!node || plist_get_node_type(node) != PLIST_DATE) {
        return QString("");
    }
    const QDateTime dt = PlistCFType(node, false).CFDateToDateTime(0);
    return dt.isValid() ? dt.toString(pim::DATE_TIME_FORMAT) : QString("");
}

bool present(const PlistCFType& rec, const char* key) {
    return valueOf(rec, key) != nullptr;
}

// One child kind: its entity type, record name, record code, the words of its "type" codes and
// the store's label map (whose names of codes without a word travel as custom labels).
struct Kind {
    int type;
    const char* name;
    int code;
    QMap<int, QString> words;
    QMap<int, QString> (*labels)();
};

const QList<Kind>& kinds() {
    static const QList<Kind> k = {
        {pim::ENTITY_PHONE,
         "com.apple.contacts.Phone Number",
         3,
         {{0, "other"},
          {1, "home"},
          {2, "mobile"},
          {3, "work"},
          {4, "work fax"},
          {5, "home fax"},
          {6, "pager"},
          {12, "main"}},
         &pim::phoneTypeMap},
        {pim::ENTITY_EMAIL,
         "com.apple.contacts.Email Address",
         4,
         {{0, "other"}, {1, "home"}, {2, "work"}},
         &pim::emailTypeMap},
        {pim::ENTITY_ADDR,
         "com.apple.contacts.Street Address",
         5,
         {{0, "other"}, {1, "home"}, {2, "work"}},
         &pim::addrTypeMap},
        {pim::ENTITY_EVENT,
         "com.apple.contacts.Date",
         12,
         {{0, "other"}, {1, "anniversary"}},
         &pim::eventTypeMap},
        {pim::ENTITY_IM,
         "com.apple.contacts.IM",
         13,
         {{0, "other"}, {1, "home"}, {2, "work"}},
         &pim::imTypeMap},
        {pim::ENTITY_URL,
         "com.apple.contacts.URL",
         22,
         {{0, "other"}, {1, "home page"}, {4, "home"}, {5, "work"}},
         &pim::urlTypeMap},
        {pim::ENTITY_REL,
         "com.apple.contacts.Related Name",
         23,
         {{0, "other"},
          {1, "assistant"},
          {2, "brother"},
          {3, "child"},
          {5, "father"},
          {6, "friend"},
          {7, "manager"},
          {8, "mother"},
          {9, "parent"},
          {10, "partner"},
          {13, "sister"},
          {14, "spouse"}},
         &pim::relTypeMap},
    };
    return k;
}

const Kind* kindOfType(int type) {
    for (const Kind& k : kinds()) {
        if (k.type == type) {
            return &k;
        }
    }
    return nullptr;
}

const QMap<int, QString>& serviceWords() {
    static const QMap<int, QString> t = {
        {1, "aim"},        {2, "msn"}, {3, "yahoo"},  {4, "skype"},     {5, "qq"},
        {6, "googletalk"}, {7, "icq"}, {8, "jabber"}, {10, "gadugadu"}, {11, "facebook"}};
    return t;
}

// The code whose store name (without a word of its own) is this label, or -1.
int wordlessCodeOfLabel(const Kind& k, const QString& label, bool (*hasWord)(const Kind&, int)) {
    const QMap<int, QString> names = k.labels();
    for (auto it = names.constBegin(); it != names.constEnd(); ++it) {
        if (it.value() == label && !hasWord(k, it.key())) {
            return it.key();
        }
    }
    return -1;
}

bool typeHasWord(const Kind& k, int code) {
    return k.words.contains(code) || (k.type == pim::ENTITY_EVENT && code == 3);
}

// "type" always; "label" for a custom label, and for a code that has no word of its own (its
// store name goes as the label, so that it comes back as the same code).
void putLabelPair(PlistCFType& rec, const pim::Entity& e, const Kind& k) {
    const QString label = col(e, "data3");
    const int code = colInt(e, "data2");
    if (!label.isEmpty()) {
        putText(rec, "label", label);
        putText(rec, "type", QStringLiteral("other"));
        return;
    }
    if (hasCol(e, "data2") && !k.words.contains(code)) {
        putText(rec, "label", k.labels().value(code));
    }
    putText(rec, "type", k.words.value(code, QStringLiteral("other")));
}

void readLabelPair(pim::Entity& e, const PlistCFType& rec, const Kind& k) {
    const QString label = textOf(rec, "label");
    const int wordless = label.isEmpty() ? -1 : wordlessCodeOfLabel(k, label, &typeHasWord);
    if (wordless >= 0) {
        e.fields["data2"] = wordless;
        e.fields["data3"] = QString("");
        return;
    }
    e.fields["data3"] = label;
    const plist_t type = valueOf(rec, "type");
    if (type &&
        (plist_get_node_type(type) == PLIST_STRING || plist_get_node_type(type) == PLIST_KEY)) {
        const QString word = textOf(rec, "type");
        for (auto it = k.words.constBegin(); it != k.words.constEnd(); ++it) {
            if (it.value() == word) {
                e.fields["data2"] = it.key();
                break;
            }
        }
    }
}

// The IM service: its word; a code without a word goes by its store name, a custom service
// (code 0) by its own name.
QString serviceOf(const pim::Entity& e) {
    if (!hasCol(e, "data5")) {
        return col(e, "data6");
    }
    const int code = colInt(e, "data5");
    if (serviceWords().contains(code)) {
        return serviceWords().value(code);
    }
    if (code == 0) {
        return col(e, "data6");
    }
    return pim::imProtocolMap().value(code);
}

void readService(pim::Entity& e, const PlistCFType& rec) {
    const plist_t v = valueOf(rec, "service");
    if (!v || (plist_get_node_type(v) != PLIST_STRING && plist_get_node_type(v) != PLIST_KEY)) {
        return;
    }
    const QString word = textOf(rec, "service");
    for (auto it = serviceWords().constBegin(); it != serviceWords().constEnd(); ++it) {
        if (it.value() == word) {
            e.fields["data5"] = it.key();
            return;
        }
    }
    const QMap<int, QString> names = pim::imProtocolMap();
    for (auto it = names.constBegin(); it != names.constEnd(); ++it) {
        if (it.key() != 0 && it.value() == word && !serviceWords().contains(it.key())) {
            e.fields["data5"] = it.key();
            return;
        }
    }
    if (!word.isEmpty()) {
        e.fields["data5"] = 0;
        e.fields["data6"] = word;
    }
}

QSet<QString> shownKeys(int type) {
    QSet<QString> keys = {QString::fromLatin1(kKindKey)};
    if (type == 0) {
        keys += {"first name", "first name yomi", "middle name",  "last name",  "last name yomi",
                 "title",      "suffix",          "company name", "department", "job title",
                 "nickname",   "birthday",        "image",        "notes"};
        return keys;
    }
    keys += {"contact", "label", "type"};
    switch (type) {
        case pim::ENTITY_ADDR:
            keys += {"street", "city", "state", "postal code", "country", "country code"};
            break;
        case pim::ENTITY_IM:
            keys += {"user", "service"};
            break;
        default:
            keys.insert(QStringLiteral("value"));
            break;
    }
    return keys;
}

// Starts a record from the keys the mirror keeps but does not show.
PlistCFType recordFrom(const PlistCFType& kept) {
    PlistCFType rec = PlistCFType::createCFDictionary();
    if (kept.isCFDictionary()) {
        for (const auto& item : kept.dict_items()) {
            rec.put(item.first, PlistCFType::clone(item.second));
        }
    }
    return rec;
}

}  // namespace

int recordCode(int type) {
    const Kind* k = kindOfType(type);
    return k ? k->code : 0;
}

int childIdCode(const QString& id) {
    const int slash = id.indexOf(QLatin1Char('/'));
    if (slash <= 0) {
        return 0;
    }
    bool ok = false;
    const int code = id.leftRef(slash).toInt(&ok);
    return ok ? code : 0;
}

bool isContactLevel(int type, const pim::Entity& entity) {
    switch (type) {
        case pim::ENTITY_NAME:
        case pim::ENTITY_PHOTO:
        case pim::ENTITY_NICKNAME:
        case pim::ENTITY_NOTES:
        case pim::ENTITY_ORG:
            return true;
        case pim::ENTITY_EVENT:
            return colInt(entity, "data2") == 3;
        default:
            return false;
    }
}

QString contactRecordId(const pim::_Contact& contact) {
    if (!contact.srcId.isEmpty()) {
        return contact.srcId;
    }
    return QStringLiteral("-") + QString::number(contact._id);
}

void addContact(PlistCFType& records, const pim::_Contact& contact, const PlistCFType& kept) {
    PlistCFType rec = recordFrom(kept);
    rec.put(QString::fromLatin1(kKindKey),
            PlistCFType::createCFString(QString::fromLatin1(kContactKind)));

    const QList<pim::Entity> names = contact.entities.value(pim::ENTITY_NAME);
    const QList<pim::Entity> orgs = contact.entities.value(pim::ENTITY_ORG);
    // What the phone said stays; a new card without a person's name shows its company.
    if (!present(rec, "display as company")) {
        const bool personName = !names.isEmpty() && !names.first().fullName().isEmpty();
        const bool company = !orgs.isEmpty() && !col(orgs.first(), "data1").isEmpty();
        putText(rec, "display as company",
                !personName && company ? QStringLiteral("company") : QStringLiteral("person"));
    }
    if (!names.isEmpty()) {
        const pim::Entity& n = names.first();
        putText(rec, "first name", col(n, "data2"));
        putText(rec, "first name yomi", col(n, "data7"));
        putText(rec, "middle name", col(n, "data4"));
        putText(rec, "last name", col(n, "data3"));
        putText(rec, "last name yomi", col(n, "data8"));
        putText(rec, "title", col(n, "data5"));
        putText(rec, "suffix", col(n, "data6"));
    }
    if (!orgs.isEmpty()) {
        const pim::Entity& o = orgs.first();
        putText(rec, "company name", col(o, "data1"));
        putText(rec, "department", col(o, "data5"));
        putText(rec, "job title", col(o, "data4"));
    }
    const QList<pim::Entity> nicks = contact.entities.value(pim::ENTITY_NICKNAME);
    if (!nicks.isEmpty()) {
        putText(rec, "nickname", col(nicks.first(), "data1"));
    }
    // The phone keeps one birthday: the last one with a readable date.
    QDateTime birthday;
    for (const pim::Entity& e : contact.entities.value(pim::ENTITY_EVENT)) {
        if (colInt(e, "data2") != 3) {
            continue;
        }
        const QDateTime dt = isoDateTime(col(e, "data1"));
        if (dt.isValid()) {
            birthday = dt;
        }
    }
    if (birthday.isValid()) {
        rec.put(QStringLiteral("birthday"), PlistCFType::createCFDate(birthday));
    }
    const QList<pim::Entity> photos = contact.entities.value(pim::ENTITY_PHOTO);
    if (!photos.isEmpty()) {
        const QByteArray bytes =
            photos.first().fields.value(QStringLiteral("data15")).toByteArray();
        if (!bytes.isEmpty()) {
            rec.put(QStringLiteral("image"), PlistCFType::createCFData(bytes));
        }
    }
    const QList<pim::Entity> notes = contact.entities.value(pim::ENTITY_NOTES);
    if (!notes.isEmpty()) {
        putText(rec, "notes", col(notes.first(), "data1"));
    }
    records.put(contactRecordId(contact), rec);
}

void addEntity(PlistCFType& records, const QString& contactId, int type, long long newId,
               const pim::Entity& entity, const PlistCFType& kept) {
    const Kind* k = kindOfType(type);
    if (!k || isContactLevel(type, entity)) {
        return;
    }
    PlistCFType rec = recordFrom(kept);
    rec.put(QString::fromLatin1(kKindKey),
            PlistCFType::createCFString(QString::fromLatin1(k->name)));
    switch (type) {
        case pim::ENTITY_ADDR:
            if (entity.formattedAddr().isEmpty()) {
                return;
            }
            putText(rec, "country", col(entity, "data10"));
            putText(rec, "country code", col(entity, "data11"));
            putText(rec, "state", col(entity, "data8"));
            putText(rec, "city", col(entity, "data7"));
            putText(rec, "street", col(entity, "data4"));
            putText(rec, "postal code", col(entity, "data9"));
            putLabelPair(rec, entity, *k);
            break;
        case pim::ENTITY_EVENT: {
            const QDateTime dt = isoDateTime(col(entity, "data1"));
            if (!dt.isValid()) {
                return;
            }
            rec.put(QStringLiteral("value"), PlistCFType::createCFDate(dt));
            putLabelPair(rec, entity, *k);
            break;
        }
        case pim::ENTITY_IM:
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            putText(rec, "user", col(entity, "data1"));
            putLabelPair(rec, entity, *k);
            putText(rec, "service", serviceOf(entity));
            break;
        default:
            if (col(entity, "data1").isEmpty()) {
                return;
            }
            putText(rec, "value", col(entity, "data1"));
            putLabelPair(rec, entity, *k);
            break;
    }
    PlistCFType owners = PlistCFType::createCFArray();
    owners.append(PlistCFType::createCFString(contactId));
    rec.put(QStringLiteral("contact"), owners);

    // Only an id of its own kind: a birthday read from the phone carries its contact's id, and
    // a record sent under it would replace the contact. Concatenated, not QString::arg: the
    // contact id goes in verbatim even if it holds "%1".
    const QString id = childIdCode(entity.srcId) == k->code
                           ? entity.srcId
                           : QString::number(k->code) + QLatin1Char('/') + contactId +
                                 QLatin1Char('/') + QString::number(newId);
    records.put(id, rec);
}

pim::_Contact contactFromRecord(const QString& id, const PlistCFType& rec) {
    pim::Entity name(0, id);
    name.fields["data2"] = textOf(rec, "first name");
    name.fields["data7"] = textOf(rec, "first name yomi");
    name.fields["data4"] = textOf(rec, "middle name");
    name.fields["data3"] = textOf(rec, "last name");
    name.fields["data8"] = textOf(rec, "last name yomi");
    name.fields["data5"] = textOf(rec, "title");
    name.fields["data6"] = textOf(rec, "suffix");
    name.fields["data1"] = name.fullName();

    // A company card has no person's name: it is listed (and found by a merge) by its company.
    QString fullName = name.fullName();
    if (fullName.isEmpty()) {
        fullName = textOf(rec, "company name").trimmed();
    }
    pim::_Contact contact(0, id, fullName);
    contact.entities[pim::ENTITY_NAME].append(name);

    if (present(rec, "nickname")) {
        pim::Entity e(0, id);
        e.fields["data1"] = textOf(rec, "nickname");
        e.fields["data2"] = 1;
        contact.entities[pim::ENTITY_NICKNAME].append(e);
    }
    if (present(rec, "company name") || present(rec, "department") || present(rec, "job title")) {
        pim::Entity e(0, id);
        e.fields["data1"] = textOf(rec, "company name");
        e.fields["data5"] = textOf(rec, "department");
        e.fields["data4"] = textOf(rec, "job title");
        e.fields["data2"] = 1;
        contact.entities[pim::ENTITY_ORG].append(e);
    }
    if (present(rec, "birthday")) {
        pim::Entity e(0, id);
        e.fields["data1"] = dateOf(rec, "birthday");
        e.fields["data2"] = 3;
        contact.entities[pim::ENTITY_EVENT].append(e);
    }
    if (present(rec, "image")) {
        pim::Entity e(0, id);
        e.fields["data15"] = PlistCFType(valueOf(rec, "image"), false).CFDataBytes();
        contact.entities[pim::ENTITY_PHOTO].append(e);
    }
    if (present(rec, "notes")) {
        pim::Entity e(0, id);
        e.fields["data1"] = textOf(rec, "notes");
        contact.entities[pim::ENTITY_NOTES].append(e);
    }
    return contact;
}

QString recordKind(const PlistCFType& rec) {
    return textOf(rec, kKindKey);
}

int childType(const QString& kind) {
    for (const Kind& k : kinds()) {
        if (kind == QLatin1String(k.name)) {
            return k.type;
        }
    }
    return 0;
}

pim::Entity childEntity(int type, const QString& id, const PlistCFType& rec) {
    pim::Entity e(0, id);
    const Kind* k = kindOfType(type);
    if (!k) {
        return e;
    }
    switch (type) {
        case pim::ENTITY_ADDR:
            readLabelPair(e, rec, *k);
            e.fields["data4"] = textOf(rec, "street");
            e.fields["data7"] = textOf(rec, "city");
            e.fields["data8"] = textOf(rec, "state");
            e.fields["data9"] = textOf(rec, "postal code");
            e.fields["data10"] = textOf(rec, "country");
            e.fields["data11"] = textOf(rec, "country code");
            e.fields["data1"] = e.formattedAddr();
            break;
        case pim::ENTITY_IM:
            e.fields["data1"] = textOf(rec, "user");
            readLabelPair(e, rec, *k);
            readService(e, rec);
            break;
        case pim::ENTITY_EVENT:
            e.fields["data1"] = dateOf(rec, "value");
            readLabelPair(e, rec, *k);
            break;
        default:
            e.fields["data1"] = textOf(rec, "value");
            readLabelPair(e, rec, *k);
            break;
    }
    return e;
}

PlistCFType unshownKeys(int type, const PlistCFType& record) {
    // The shown keys as the record's own UTF-8 bytes: a read of thousands of records compares
    // every key without making a string of it.
    static const QHash<int, QSet<QByteArray>> shownByType = [] {
        QHash<int, QSet<QByteArray>> h;
        QList<int> types{0};
        for (const Kind& k : kinds()) {
            types << k.type;
        }
        for (int t : types) {
            QSet<QByteArray>& bytes = h[t];
            for (const QString& key : shownKeys(t)) {
                bytes.insert(key.toUtf8());
            }
        }
        return h;
    }();
    static const QSet<QByteArray> none;
    const auto found = shownByType.constFind(type);
    const QSet<QByteArray>& shown = found == shownByType.constEnd() ? none : *found;
    // "display as company" as the writer would put it anyway needs no keeping: a read of
    // thousands of ordinary cards then stores nothing extra.
    QString usualDisplay;
    if (type == 0) {
        bool personName = false;
        for (const char* key : {"title", "first name", "middle name", "last name", "suffix"}) {
            personName = personName || !textOf(record, key).trimmed().isEmpty();
        }
        const bool company = !textOf(record, "company name").isEmpty();
        usualDisplay =
            !personName && company ? QStringLiteral("company") : QStringLiteral("person");
    }
    PlistCFType out;
    record.dict_foreach([&](const char* key, const PlistCFType& value) {
        if (shown.contains(QByteArray::fromRawData(key, static_cast<int>(qstrlen(key))))) {
            return;
        }
        if (type == 0 && qstrcmp(key, "display as company") == 0 &&
            value.CFStringQString() == usualDisplay) {
            return;
        }
        if (out.isNull()) {
            out = PlistCFType::createCFDictionary();
        }
        out.put(QString::fromUtf8(key), PlistCFType::clone(value));
    });
    return out;
}

pim::_Contact phoneForm(const pim::_Contact& contact) {
    const QString id = contactRecordId(contact);
    PlistCFType records = PlistCFType::createCFDictionary();
    pim::_Contact bare = contact;
    bare.srcId = id;
    // The record carries a photo's bytes as they are: a stand-in makes the round trip instead,
    // and the form shares the contact's own bytes rather than two copies of them.
    QByteArray photoBytes;
    const auto photos = bare.entities.find(pim::ENTITY_PHOTO);
    if (photos != bare.entities.end() && !photos->isEmpty()) {
        const auto bytes = photos->first().fields.find(QStringLiteral("data15"));
        if (bytes != photos->first().fields.end()) {
            photoBytes = bytes->toByteArray();
            if (!photoBytes.isEmpty()) {
                (*photos)[0].fields[QStringLiteral("data15")] = QByteArray(1, '\0');
            }
        }
    }
    addContact(records, bare);
    pim::_Contact out = contactFromRecord(id, records.get(id));
    out._id = contact._id;
    out.srcId = contact.srcId;
    for (auto& list : out.entities) {
        for (pim::Entity& e : list) {
            e.srcId.clear();
        }
    }
    for (pim::Entity& photo : out.entities[pim::ENTITY_PHOTO]) {
        if (!photoBytes.isEmpty()) {
            photo.fields[QStringLiteral("data15")] = photoBytes;
        }
        photo.fields["data4"] = photo.photoHash();
    }
    if (out.entities.value(pim::ENTITY_PHOTO).isEmpty()) {
        out.entities.remove(pim::ENTITY_PHOTO);
    }
    for (auto it = contact.entities.constBegin(); it != contact.entities.constEnd(); ++it) {
        const int type = it.key();
        if (type == pim::ENTITY_GROUP) {
            out.entities[type] = it.value();
            continue;
        }
        if (!recordCode(type)) {
            continue;
        }
        for (const pim::Entity& e : it.value()) {
            PlistCFType one = PlistCFType::createCFDictionary();
            pim::Entity plain = e;
            plain.srcId.clear();
            addEntity(one, id, type, -1, plain);
            const QList<QPair<QString, PlistCFType>> items = one.dict_items();
            if (!items.isEmpty()) {
                pim::Entity back = childEntity(type, QString(), items.first().second);
                back._id = e._id;
                out.entities[type].append(back);
            }
        }
    }
    // As the store gives its rows back: every column of the type, as text (the photo's bytes
    // as bytes).
    for (auto t = out.entities.begin(); t != out.entities.end(); ++t) {
        const QStringList columns = LocalDb::columnsOfType(t.key());
        for (pim::Entity& e : t.value()) {
            for (const QString& c : columns) {
                if (!e.fields.contains(c)) {
                    e.fields.insert(c, QString(""));
                }
            }
            for (auto f = e.fields.begin(); f != e.fields.end(); ++f) {
                if (f.key() != QLatin1String("data15")) {
                    f.value() = pim::fieldText(f.value());
                }
            }
        }
    }
    return out;
}

void prepareUnshownKeys(LocalDb& db) {
    devicerecordkeys::prepare(db);
}

QByteArray unshownKeyBytes(int type, const PlistCFType& record) {
    const PlistCFType keys = unshownKeys(type, record);
    if (keys.dict_size() == 0) {
        return QByteArray();
    }
    return keys.CFPropertyListToBytes(kCFPropertyListBinaryFormat_v1_0);
}

void keepUnshownKeys(LocalDb& db, const QString& id, const QByteArray& keyBytes) {
    if (!keyBytes.isEmpty()) {
        devicerecordkeys::keep(db, id, keyBytes);
    }
}

PlistCFType unshownKeysOf(LocalDb& db, const QString& id) {
    return unshownKeysFrom(unshownKeyBytesOf(db, id));
}

QByteArray unshownKeyBytesOf(LocalDb& db, const QString& id) {
    return devicerecordkeys::of(db, id);
}

PlistCFType unshownKeysFrom(const QByteArray& keyBytes) {
    if (keyBytes.isEmpty()) {
        return PlistCFType();
    }
    const PlistCFType keys = PlistCFType::createCFPropertyList(keyBytes);
    return keys.isCFDictionary() ? keys : PlistCFType();
}

bool needsContactRecord(int type, const pim::Entity& entity) {
    return isContactLevel(type, entity) ||
           (!entity.srcId.isEmpty() && childIdCode(entity.srcId) == 0);
}

void addEntityChange(PlistCFType& records, const QString& contactId, int type, long long newId,
                     const pim::Entity& entity, const PlistCFType& kept) {
    const int had = childIdCode(entity.srcId);
    const int now = isContactLevel(type, entity) ? 0 : recordCode(type);
    if (had != 0 && had != now) {
        records.put(entity.srcId, PlistCFType::createCFString(QString::fromLatin1(kDeleteMarker)));
    }
    addEntity(records, contactId, type, newId, entity, had == now ? kept : PlistCFType());
}

void addEntityDeletion(PlistCFType& records, const pim::Entity& entity) {
    if (childIdCode(entity.srcId) != 0) {
        records.put(entity.srcId, PlistCFType::createCFString(QString::fromLatin1(kDeleteMarker)));
    }
}

}  // namespace contactrecords
