#include "vcardimport.h"

#include <QDateTime>
#include <QFile>

#include <stdexcept>

namespace {

struct TypeWord {
    const char* word;
    int code;
};

// Code of the first word equal to `type` (exact, case-sensitive), else `fallback`.
template <size_t N>
int codeOf(const TypeWord (&words)[N], const QString& type, int fallback) {
    if (type.isNull())
        return fallback;
    for (const TypeWord& w : words) {
        if (type == QLatin1String(w.word))
            return w.code;
    }
    return fallback;
}

const TypeWord kPhoneTypes[] = {{"home,voice", 1}, {"cell", 2},     {"work,voice", 3},
                                {"work,fax", 4},   {"home,fax", 5}, {"pager", 6},
                                {"car", 9},        {"isdn", 11},    {"fax", 13}};
const TypeWord kImTypes[] = {{"aim", 1},        {"msn", 2},        {"yahoo", 3},    {"skype", 4},
                             {"qq", 5},         {"googletalk", 6}, {"icq", 7},      {"jabber", 8},
                             {"netmetting", 9}, {"gadugadu", 10},  {"facebook", 11}};
const TypeWord kRelTypes[] = {{"assistant", 1}, {"brother", 2},  {"child", 3},   {"dompartner", 4},
                              {"father", 5},    {"friend", 6},   {"manager", 7}, {"mother", 8},
                              {"parent", 9},    {"partner", 10}, {"ref", 11},    {"relative", 12},
                              {"sister", 13},   {"spouse", 14}};
const TypeWord kUrlTypes[] = {{"homepage", 1}, {"blog", 2}, {"profile", 3},
                              {"home", 4},     {"work", 5}, {"ftp", 6}};
const TypeWord kAddrTypes[] = {{"home", 1}, {"work", 2}};
const TypeWord kEventTypes[] = {{"anniversary", 1}};

enum Prop {
    P_NONE,
    P_N,
    P_PHOTO,
    P_TEL,
    P_EMAIL,
    P_NICKNAME,
    P_BDAY,
    P_XEVENT,
    P_CATEGORIES,
    P_XIM,
    P_NOTE,
    P_ORG,
    P_TITLE,
    P_XREL,
    P_ADR,
    P_URL,
    P_FN
};

// Property names are case-insensitive, and a group prefix ("item1.") only ties lines together.
Prop propOf(const QString& fullName) {
    const int dot = fullName.lastIndexOf(QLatin1Char('.'));
    const QStringRef name = fullName.midRef(dot + 1);
    static const struct {
        QLatin1String name;
        Prop prop;
    } names[] = {{QLatin1String("N"), P_N},
                 {QLatin1String("PHOTO"), P_PHOTO},
                 {QLatin1String("TEL"), P_TEL},
                 {QLatin1String("EMAIL"), P_EMAIL},
                 {QLatin1String("NICKNAME"), P_NICKNAME},
                 {QLatin1String("BDAY"), P_BDAY},
                 {QLatin1String("X-EVENT"), P_XEVENT},
                 {QLatin1String("CATEGORIES"), P_CATEGORIES},
                 {QLatin1String("X-IM"), P_XIM},
                 {QLatin1String("NOTE"), P_NOTE},
                 {QLatin1String("ORG"), P_ORG},
                 {QLatin1String("TITLE"), P_TITLE},
                 {QLatin1String("X-REL"), P_XREL},
                 {QLatin1String("ADR"), P_ADR},
                 {QLatin1String("URL"), P_URL},
                 {QLatin1String("FN"), P_FN}};
    for (const auto& n : names) {
        if (name.size() == n.name.size() && name.compare(n.name, Qt::CaseInsensitive) == 0) {
            return n.prop;
        }
    }
    return P_NONE;
}

QDateTime readDate(const QString& text) {
    QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (!dt.isValid()) {
        // The basic ISO form (19800131) that vCard 4.0 writers use.
        const QDate d = QDate::fromString(text.left(8), QStringLiteral("yyyyMMdd"));
        if (d.isValid() && (text.size() == 8 || text.at(8) == QLatin1Char('T'))) {
            dt = QDateTime(d, QTime(0, 0));
        }
    }
    return dt;
}

// The photo bytes of a PHOTO line: Base64 already decoded by the codec, or the payload of a
// "data:" URI (vCard 4.0). A link to elsewhere carries no picture.
bool photoBytes(const QVCardParser::_Property& prop, QByteArray& out) {
    const QByteArray& v = prop.value;
    if (v.startsWith("data:")) {
        const int comma = v.indexOf(',');
        if (comma < 0)
            return false;
        const QByteArray head = v.left(comma);
        if (!head.endsWith(";base64"))
            return false;
        out = QByteArray::fromBase64(v.mid(comma + 1));
        return !out.isEmpty();
    }
    if (v.startsWith("http://") || v.startsWith("https://") || v.startsWith("file:"))
        return false;
    if (v.isEmpty())
        return false;
    out = v;
    return true;
}

pim::Entity& singleEntity(pim::_Contact& contact, int type) {
    QList<pim::Entity>& list = contact.entities[type];
    if (list.isEmpty())
        list.append(pim::Entity());
    return list.first();
}

void setPart(pim::Entity& e, const QStringList& parts, int index, const char* key) {
    if (index < parts.size())
        e.fields[QLatin1String(key)] = parts[index];
}

}  // namespace

VCardImport::VCardImport() {
    cardIt = cards.constEnd();
}

VCardImport::~VCardImport() {}

void VCardImport::initialize(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    }
    cards = QVCardParser::parse(file.readAll(), &skipped);
    file.close();
    cardIt = cards.constBegin();
}

int VCardImport::total() {
    return cards.size();
}

bool VCardImport::hasNext() {
    return cardIt != cards.constEnd();
}

pim::_Contact VCardImport::nextContact() {
    const QList<QVCardParser::_Property>& card = *cardIt;
    ++cardIt;
    return cardToContact(card);
}

void VCardImport::uninitialize() {}

pim::_Contact VCardImport::cardToContact(const QList<QVCardParser::_Property>& card) {
    pim::_Contact contact;
    QString formattedName;
    for (const QVCardParser::_Property& prop : card) {
        const Prop kind = propOf(prop.name);
        if (kind == P_NONE)
            continue;
        static const QString kType = QStringLiteral("TYPE");
        const QString typeWord = prop.params.value(kType);  // null when absent
        pim::Entity e;
        switch (kind) {
            case P_N: {
                pim::Entity& name = singleEntity(contact, pim::ENTITY_NAME);
                const QStringList parts = prop.values();
                setPart(name, parts, 0, "data2");
                setPart(name, parts, 1, "data3");
                setPart(name, parts, 2, "data4");
                setPart(name, parts, 3, "data5");
                setPart(name, parts, 4, "data6");
                contact.fullName = name.fullName();
                name.fields["data1"] = contact.fullName;
                continue;
            }
            case P_FN:
                formattedName = prop.toString().trimmed();
                continue;
            case P_PHOTO: {
                QByteArray bytes;
                if (photoBytes(prop, bytes)) {
                    singleEntity(contact, pim::ENTITY_PHOTO).fields["data15"] = bytes;
                }
                continue;
            }
            case P_TEL:
                e.fields["data1"] = prop.toString();
                e.fields["data2"] = codeOf(kPhoneTypes, typeWord, 2);
                contact.entities[pim::ENTITY_PHONE].append(e);
                continue;
            case P_EMAIL:
                e.fields["data1"] = prop.toString();
                e.fields["data2"] = 1;
                contact.entities[pim::ENTITY_EMAIL].append(e);
                continue;
            case P_NICKNAME:
                singleEntity(contact, pim::ENTITY_NICKNAME).fields["data1"] = prop.toString();
                continue;
            case P_BDAY:
                e.fields["data1"] = readDate(prop.toString());
                e.fields["data2"] = 3;
                contact.entities[pim::ENTITY_EVENT].append(e);
                continue;
            case P_XEVENT:
                e.fields["data1"] = readDate(prop.toString());
                e.fields["data2"] = codeOf(kEventTypes, typeWord, 0);
                contact.entities[pim::ENTITY_EVENT].append(e);
                continue;
            case P_CATEGORIES:
                singleEntity(contact, pim::ENTITY_GROUP).fields["data2"] = prop.toString();
                continue;
            case P_XIM: {
                e.fields["data2"] = 1;
                e.fields["data1"] = prop.toString();
                const int code = codeOf(kImTypes, typeWord, -1);
                if (code >= 0)
                    e.fields["data5"] = code;
                contact.entities[pim::ENTITY_IM].append(e);
                continue;
            }
            case P_NOTE:
                singleEntity(contact, pim::ENTITY_NOTES).fields["data1"] = prop.toString();
                continue;
            case P_ORG: {
                pim::Entity& org = singleEntity(contact, pim::ENTITY_ORG);
                const QStringList parts = prop.values();
                setPart(org, parts, 0, "data1");
                setPart(org, parts, 1, "data5");
                continue;
            }
            case P_TITLE:
                singleEntity(contact, pim::ENTITY_ORG).fields["data4"] = prop.toString();
                continue;
            case P_XREL:
                e.fields["data1"] = prop.toString();
                e.fields["data2"] = codeOf(kRelTypes, typeWord, 0);
                contact.entities[pim::ENTITY_REL].append(e);
                continue;
            case P_ADR: {
                const QStringList parts = prop.values();
                setPart(e, parts, 2, "data4");
                setPart(e, parts, 3, "data7");
                setPart(e, parts, 4, "data8");
                setPart(e, parts, 5, "data9");
                setPart(e, parts, 6, "data10");
                e.fields["data2"] = codeOf(kAddrTypes, typeWord, 0);
                e.fields["data1"] = e.formattedAddr();
                contact.entities[pim::ENTITY_ADDR].append(e);
                continue;
            }
            case P_URL:
                e.fields["data1"] = prop.toString();
                e.fields["data2"] = codeOf(kUrlTypes, typeWord, 0);
                contact.entities[pim::ENTITY_URL].append(e);
                continue;
            case P_NONE:
                continue;
        }
    }
    if (contact.fullName.isEmpty()) {
        // A card without a usable "N" is still someone: fall back to its formatted name, else
        // its company, so the contact is not dropped as nameless.
        QString fallback = formattedName;
        if (fallback.isEmpty()) {
            QList<pim::Entity> orgs = contact.entities.value(pim::ENTITY_ORG);
            if (!orgs.isEmpty())
                fallback = orgs.first().text("data1").trimmed();
        }
        if (!fallback.isEmpty()) {
            pim::Entity& name = singleEntity(contact, pim::ENTITY_NAME);
            name.fields["data2"] = fallback;
            contact.fullName = name.fullName();
            name.fields["data1"] = contact.fullName;
        }
    }
    return contact;
}
