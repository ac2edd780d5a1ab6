#include "vcardimport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>
#include <QSet>

#include <stdexcept>

namespace {

// The lower-case type words of a property, from every form writers use: TYPE values (repeated
// parameters or comma lists, any case), bare vCard 2.1 words (TEL;WORK;FAX) and PREF (as a
// parameter of its own, PREF=1 or a TYPE word).
QSet<QString> typeWords(const QVCardParser::_Property& prop) {
    QSet<QString> words;
    for (auto it = prop.params.constBegin(); it != prop.params.constEnd(); ++it) {
        const QString& key = it.key();
        if (key == QLatin1String("TYPE")) {
            for (const QString& w : it.value().split(QLatin1Char(','), Qt::SkipEmptyParts))
                words.insert(w.trimmed().toLower());
        } else if (key == QLatin1String("PREF")) {
            words.insert(QStringLiteral("pref"));
        } else if (it.value().isEmpty()) {
            words.insert(key.toLower());
        }
    }
    return words;
}

struct TypeWord {
    const char* word;
    int code;
};

// Code of the first word of the table that the property names, else `fallback`.
template <size_t N>
int codeOf(const TypeWord (&table)[N], const QSet<QString>& words, int fallback) {
    for (const TypeWord& w : table) {
        if (words.contains(QLatin1String(w.word)))
            return w.code;
    }
    return fallback;
}

// Phone kinds, most specific first; a number with no word the program knows stays Mobile.
int phoneCode(const QSet<QString>& w) {
    const bool home = w.contains(QStringLiteral("home"));
    const bool work = w.contains(QStringLiteral("work"));
    if (w.contains(QStringLiteral("fax")))
        return home ? 5 : work ? 4 : 13;
    if (w.contains(QStringLiteral("pager")))
        return 6;
    if (w.contains(QStringLiteral("cell")) || w.contains(QStringLiteral("mobile")) ||
        w.contains(QStringLiteral("iphone")))
        return 2;
    if (w.contains(QStringLiteral("car")))
        return 9;
    if (w.contains(QStringLiteral("isdn")))
        return 11;
    if (home)
        return 1;
    if (work)
        return 3;
    if (w.contains(QStringLiteral("main")))
        return 12;
    return 2;
}

const TypeWord kEmailTypes[] = {{"home", 1}, {"work", 2}, {"cell", 4}, {"other", 0}};
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
    P_FN,
    P_VERSION
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
                 {QLatin1String("FN"), P_FN},
                 {QLatin1String("VERSION"), P_VERSION}};
    for (const auto& n : names) {
        if (name.size() == n.name.size() && name.compare(n.name, Qt::CaseInsensitive) == 0) {
            return n.prop;
        }
    }
    return P_NONE;
}

// A date of BDAY or X-EVENT: ISO 8601 in its basic or extended form, with or without a time;
// a date without a year (--MMDD, --MM-DD) takes the year 1604, which the phone itself uses
// for "no year". Anything else gives an invalid date-time.
QDateTime readDate(const QString& raw) {
    // Parsed by hand: Qt's format parser costs more than the rest of a card.
    const QString text = raw.trimmed();
    int digits[14];
    int n = 0;
    int i = 0;
    const bool noYear = text.startsWith(QLatin1String("--"));
    if (noYear) {
        digits[0] = 1;
        digits[1] = 6;
        digits[2] = 0;
        digits[3] = 4;
        n = 4;
        i = 2;
    }
    bool inTime = false;
    for (; i < text.size() && n < 14; ++i) {
        const QChar ch = text.at(i);
        if (ch.isDigit()) {
            digits[n++] = ch.digitValue();
        } else if (ch == QLatin1Char('T') && n == 8 && !inTime) {
            inTime = true;
        } else if (ch == QLatin1Char('-') && !inTime && n < 8) {
            continue;
        } else if (ch == QLatin1Char(':') && inTime) {
            continue;
        } else {
            break;  // a zone (Z, +hh:mm) or fractions: the local date and time stand
        }
    }
    if (n < 8 || (n > 8 && !inTime))
        return QDateTime();
    auto num = [&digits](int at, int len) {
        int v = 0;
        for (int k = at; k < at + len; ++k)
            v = v * 10 + digits[k];
        return v;
    };
    const QDate d(num(0, 4), num(4, 2), num(6, 2));
    if (!d.isValid() || (noYear && text.size() > 7))
        return QDateTime();
    QTime time(0, 0);
    if (n >= 12) {
        const QTime t(num(8, 2), num(10, 2), n >= 14 ? num(12, 2) : 0);
        if (t.isValid())
            time = t;
    }
    return QDateTime(d, time);
}

// vCard 3.0 and 4.0 text escapes: \n or \N is a line break, a backslash before any other
// character stands for that character.
QString unescape(const QString& text) {
    if (!text.contains(QLatin1Char('\\')))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        QChar ch = text.at(i);
        if (ch == QLatin1Char('\\') && i + 1 < text.size()) {
            ch = text.at(++i);
            if (ch == QLatin1Char('n') || ch == QLatin1Char('N'))
                ch = QLatin1Char('\n');
        }
        out.append(ch);
    }
    return out;
}

// What a card's version changes in reading its values.
struct Reading {
    bool escapes = true;  // 3.0 and 4.0 (and cards that name no version)

    QString text(const QVCardParser::_Property& prop) const {
        return escapes ? unescape(prop.toString()) : prop.toString();
    }
    // Components at unescaped ";", each unescaped as text.
    QStringList parts(const QVCardParser::_Property& prop) const {
        if (!escapes)
            return prop.values();
        const QString raw = prop.toString();
        QStringList out;
        QString cur;
        for (int i = 0; i < raw.size(); ++i) {
            const QChar ch = raw.at(i);
            if (ch == QLatin1Char('\\') && i + 1 < raw.size()) {
                cur.append(ch);
                cur.append(raw.at(++i));
            } else if (ch == QLatin1Char(';')) {
                out.append(unescape(cur));
                cur.clear();
            } else {
                cur.append(ch);
            }
        }
        if (!cur.isEmpty())
            out.append(unescape(cur));
        return out;
    }
};

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
    const QByteArray bytes = file.readAll();
    file.close();
    cards = QVCardParser::parse(bytes, &skipped);
    cardIt = cards.constBegin();
    if (cards.isEmpty() && !bytes.trimmed().isEmpty()) {
        // Something else picked by mistake must not end in "imported 0 contacts".
        throw std::runtime_error(
            QCoreApplication::translate("ImportContactsToLocalThread", "%1 is not a vCard file.")
                .arg(QFileInfo(path).fileName())
                .toUtf8()
                .toStdString());
    }
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

namespace {

// Sets the name entity from the components of N; `standard` is the order of the vCard
// standard (family; given; middle; prefix; suffix), else the given-first order of files this
// program wrote before.
void applyName(pim::Entity& name, const QStringList& parts, bool standard) {
    setPart(name, parts, 0, standard ? "data3" : "data2");
    setPart(name, parts, 1, standard ? "data2" : "data3");
    setPart(name, parts, 2, "data4");
    setPart(name, parts, 3, "data5");
    setPart(name, parts, 4, "data6");
}

// The name of a card that has no N: its formatted name, its company, its e-mail address or its
// number, in that order.
QString fallbackName(const QString& formattedName, const pim::_Contact& contact) {
    if (!formattedName.isEmpty())
        return formattedName;
    return pim::nameFromDetails(contact);
}

// Whether a card has the shape of this program's earlier vCard writer, which put the given
// name first in N: VERSION 3.0, then FN and N, both declaring UTF-8 and nothing else. (A family
// name first in FN alone, as Japanese cards have it, does not make a card one of ours.)
bool writtenHereBefore(const QList<QVCardParser::_Property>& card) {
    if (card.size() < 3)
        return false;
    const QMap<QString, QString> utf8{{QStringLiteral("CHARSET"), QStringLiteral("UTF-8")}};
    return propOf(card[0].name) == P_VERSION && card[0].value == "3.0" &&
           propOf(card[1].name) == P_FN && card[1].params == utf8 && propOf(card[2].name) == P_N &&
           card[2].params == utf8;
}

}  // namespace

pim::_Contact VCardImport::cardToContact(const QList<QVCardParser::_Property>& card) {
    pim::_Contact contact;
    Reading reading;
    for (const QVCardParser::_Property& prop : card) {
        if (propOf(prop.name) == P_VERSION) {
            reading.escapes = prop.value.trimmed() != "2.1";
            break;
        }
    }
    QString formattedName;
    QList<QStringList> nameParts;
    for (const QVCardParser::_Property& prop : card) {
        const Prop kind = propOf(prop.name);
        if (kind == P_NONE || kind == P_VERSION)
            continue;
        pim::Entity e;
        switch (kind) {
            case P_N:
                nameParts.append(reading.parts(prop));
                continue;
            case P_FN:
                formattedName = reading.text(prop).trimmed();
                continue;
            case P_PHOTO: {
                QByteArray bytes;
                if (photoBytes(prop, bytes)) {
                    singleEntity(contact, pim::ENTITY_PHOTO).fields["data15"] = bytes;
                }
                continue;
            }
            case P_TEL: {
                QString number = reading.text(prop).trimmed();
                if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
                    number = number.mid(4);  // a 4.0 URI value
                e.fields["data1"] = number;
                e.fields["data2"] = phoneCode(typeWords(prop));
                contact.entities[pim::ENTITY_PHONE].append(e);
                continue;
            }
            case P_EMAIL:
                e.fields["data1"] = reading.text(prop).trimmed();
                e.fields["data2"] = codeOf(kEmailTypes, typeWords(prop), 1);
                contact.entities[pim::ENTITY_EMAIL].append(e);
                continue;
            case P_NICKNAME:
                singleEntity(contact, pim::ENTITY_NICKNAME).fields["data1"] = reading.text(prop);
                continue;
            case P_BDAY:
                e.fields["data1"] = readDate(prop.toString());
                e.fields["data2"] = 3;
                contact.entities[pim::ENTITY_EVENT].append(e);
                continue;
            case P_XEVENT:
                e.fields["data1"] = readDate(prop.toString());
                e.fields["data2"] = codeOf(kEventTypes, typeWords(prop), 0);
                contact.entities[pim::ENTITY_EVENT].append(e);
                continue;
            case P_CATEGORIES:
                singleEntity(contact, pim::ENTITY_GROUP).fields["data2"] = reading.text(prop);
                continue;
            case P_XIM: {
                e.fields["data2"] = 1;
                e.fields["data1"] = reading.text(prop);
                const int code = codeOf(kImTypes, typeWords(prop), -1);
                if (code >= 0)
                    e.fields["data5"] = code;
                contact.entities[pim::ENTITY_IM].append(e);
                continue;
            }
            case P_NOTE: {
                // A second note adds to the first rather than replacing it.
                pim::Entity& note = singleEntity(contact, pim::ENTITY_NOTES);
                const QString old = note.text(QStringLiteral("data1"));
                const QString text = reading.text(prop);
                note.fields["data1"] = old.isEmpty() ? text : old + QLatin1Char('\n') + text;
                continue;
            }
            case P_ORG: {
                pim::Entity& org = singleEntity(contact, pim::ENTITY_ORG);
                const QStringList parts = reading.parts(prop);
                setPart(org, parts, 0, "data1");
                setPart(org, parts, 1, "data5");
                continue;
            }
            case P_TITLE:
                singleEntity(contact, pim::ENTITY_ORG).fields["data4"] = reading.text(prop);
                continue;
            case P_XREL:
                e.fields["data1"] = reading.text(prop);
                e.fields["data2"] = codeOf(kRelTypes, typeWords(prop), 0);
                contact.entities[pim::ENTITY_REL].append(e);
                continue;
            case P_ADR: {
                const QStringList parts = reading.parts(prop);
                // The store has no column for the post-office box and the extended address
                // (where some writers put the whole address): they go ahead of the street.
                QStringList street;
                for (int i = 0; i < 3 && i < parts.size(); ++i) {
                    if (!parts[i].trimmed().isEmpty())
                        street.append(parts[i]);
                }
                if (parts.size() > 2 || !street.isEmpty())
                    e.fields["data4"] = street.join(QLatin1Char('\n'));
                setPart(e, parts, 3, "data7");
                setPart(e, parts, 4, "data8");
                setPart(e, parts, 5, "data9");
                setPart(e, parts, 6, "data10");
                e.fields["data2"] = codeOf(kAddrTypes, typeWords(prop), 0);
                e.fields["data1"] = e.formattedAddr();
                contact.entities[pim::ENTITY_ADDR].append(e);
                continue;
            }
            case P_URL:
                e.fields["data1"] = reading.text(prop).trimmed();
                e.fields["data2"] = codeOf(kUrlTypes, typeWords(prop), 0);
                contact.entities[pim::ENTITY_URL].append(e);
                continue;
            case P_NONE:
            case P_VERSION:
                continue;
        }
    }
    if (!nameParts.isEmpty()) {
        // Files this program wrote before put the given name first; their FN tells them apart
        // (it is the name joined in that order, and not in the standard one).
        pim::Entity standard, old;
        for (const QStringList& parts : nameParts) {
            applyName(standard, parts, true);
            applyName(old, parts, false);
        }
        const bool oldOrder = writtenHereBefore(card) && formattedName == old.fullName() &&
                              formattedName != standard.fullName();
        pim::Entity& name = singleEntity(contact, pim::ENTITY_NAME);
        name = oldOrder ? old : standard;
        contact.fullName = name.fullName();
        name.fields["data1"] = contact.fullName;
    }
    if (contact.fullName.isEmpty()) {
        // A card without a usable "N" is still someone: name it so it is not dropped.
        const QString fallback = fallbackName(formattedName, contact);
        if (!fallback.isEmpty()) {
            pim::Entity& name = singleEntity(contact, pim::ENTITY_NAME);
            name.fields["data2"] = fallback;
            contact.fullName = name.fullName();
            name.fields["data1"] = contact.fullName;
        }
    }
    return contact;
}
