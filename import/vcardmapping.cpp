#include "vcardmapping.h"

#include "typelabels.h"
#include "vcardvalues.h"

#include <QDateTime>
#include <QSet>

namespace {

using namespace vcardvalues;

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
    // A work mobile or pager ("work,cell,voice" in the standard's own example) is one kind.
    if (w.contains(QStringLiteral("pager")))
        return work ? 18 : 6;
    if (w.contains(QStringLiteral("cell")) || w.contains(QStringLiteral("mobile")) ||
        w.contains(QStringLiteral("iphone")))
        return work ? 17 : 2;
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
    if (w.contains(QStringLiteral("other")))
        return 0;  // Other is a kind of its own, not Mobile
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

enum PropKind {
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
    P_VERSION,
    P_XABDATE,
    P_ANNIVERSARY,
    P_XABRELATEDNAMES,
    P_RELATED,
    P_IMPP,
    P_XSOCIALPROFILE,
    P_XPHONETICFIRST,
    P_XPHONETICLAST
};

// Property names are case-insensitive, and a group prefix ("item1.") only ties lines together.
PropKind propOf(const QString& fullName) {
    const int dot = fullName.lastIndexOf(QLatin1Char('.'));
    const QStringRef name = fullName.midRef(dot + 1);
    static const struct {
        QLatin1String name;
        PropKind prop;
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
                 {QLatin1String("VERSION"), P_VERSION},
                 {QLatin1String("X-ABDATE"), P_XABDATE},
                 {QLatin1String("ANNIVERSARY"), P_ANNIVERSARY},
                 {QLatin1String("X-ABRELATEDNAMES"), P_XABRELATEDNAMES},
                 {QLatin1String("RELATED"), P_RELATED},
                 {QLatin1String("IMPP"), P_IMPP},
                 {QLatin1String("X-SOCIALPROFILE"), P_XSOCIALPROFILE},
                 {QLatin1String("X-PHONETIC-FIRST-NAME"), P_XPHONETICFIRST},
                 {QLatin1String("X-PHONETIC-LAST-NAME"), P_XPHONETICLAST}};
    for (const auto& n : names) {
        if (name.size() == n.name.size() && name.compare(n.name, Qt::CaseInsensitive) == 0) {
            return n.prop;
        }
    }
    return P_NONE;
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

// X- properties that hold one kind of detail each, as Android, Evolution and KDE write them:
// messengers, anniversaries and related people. The entity type and its code; type 0 for
// another property.
QPair<int, int> xProperty(const QString& fullName) {
    const int dot = fullName.lastIndexOf(QLatin1Char('.'));
    // Most lines are no X- property: looked at without building a text.
    if (fullName.size() < dot + 3 || fullName.at(dot + 2) != QLatin1Char('-') ||
        (fullName.at(dot + 1) != QLatin1Char('X') && fullName.at(dot + 1) != QLatin1Char('x')))
        return qMakePair(0, 0);
    const QString name = fullName.mid(dot + 1).toUpper();
    static const QHash<QString, QPair<int, int> > names{
        {"X-AIM", {pim::ENTITY_IM, 1}},
        {"X-MSN", {pim::ENTITY_IM, 2}},
        {"X-YAHOO", {pim::ENTITY_IM, 3}},
        {"X-SKYPE", {pim::ENTITY_IM, 4}},
        {"X-SKYPE-USERNAME", {pim::ENTITY_IM, 4}},
        {"X-QQ", {pim::ENTITY_IM, 5}},
        {"X-GOOGLE-TALK", {pim::ENTITY_IM, 6}},
        {"X-GTALK", {pim::ENTITY_IM, 6}},
        {"X-ICQ", {pim::ENTITY_IM, 7}},
        {"X-JABBER", {pim::ENTITY_IM, 8}},
        {"X-GADUGADU", {pim::ENTITY_IM, 10}},
        {"X-ANNIVERSARY", {pim::ENTITY_EVENT, 1}},
        {"X-EVOLUTION-ANNIVERSARY", {pim::ENTITY_EVENT, 1}},
        {"X-KADDRESSBOOK-X-ANNIVERSARY", {pim::ENTITY_EVENT, 1}},
        {"X-SPOUSE", {pim::ENTITY_REL, 14}},
        {"X-EVOLUTION-SPOUSE", {pim::ENTITY_REL, 14}},
        {"X-KADDRESSBOOK-X-SPOUSENAME", {pim::ENTITY_REL, 14}},
        {"X-ASSISTANT", {pim::ENTITY_REL, 1}},
        {"X-EVOLUTION-ASSISTANT", {pim::ENTITY_REL, 1}},
        {"X-KADDRESSBOOK-X-ASSISTANTSNAME", {pim::ENTITY_REL, 1}},
        {"X-MANAGER", {pim::ENTITY_REL, 7}},
        {"X-EVOLUTION-MANAGER", {pim::ENTITY_REL, 7}},
        {"X-KADDRESSBOOK-X-MANAGERSNAME", {pim::ENTITY_REL, 7}}};
    return names.value(name, qMakePair(0, 0));
}

QString groupOf(const QString& fullName) {
    const int dot = fullName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fullName.left(dot).toLower();
}

}  // namespace

CardMapper::CardMapper(const QList<Prop>& card, LegacyCharset* legacy)
    : card(card), legacy(legacy) {}

pim::_Contact CardMapper::contact() {
    result = pim::_Contact();
    readVersion();
    readGroups();
    for (const Prop& prop : card)
        property(prop);
    finishName();
    return result;
}

void CardMapper::readVersion() {
    for (const Prop& prop : card) {
        if (propOf(prop.name) == P_VERSION) {
            escapes = prop.value.trimmed() != "2.1";
            break;
        }
    }
}

// Apple ties a label to a line by a group: "item1.TEL:..." and "item1.X-ABLabel:_$!<Work>!$_";
// an address's country code likewise: "item2.ADR:..." and "item2.X-ABADR:us".
void CardMapper::readGroups() {
    for (const Prop& prop : card) {
        const QString group = groupOf(prop.name);
        if (group.isEmpty())
            continue;
        const QStringRef name = prop.name.midRef(group.size() + 1);
        if (name.compare(QLatin1String("X-ABLABEL"), Qt::CaseInsensitive) == 0)
            groupLabels.insert(group, text(prop).trimmed());
        else if (name.compare(QLatin1String("X-ABADR"), Qt::CaseInsensitive) == 0)
            groupCountries.insert(group, text(prop).trimmed());
    }
}

QString CardMapper::text(const Prop& prop) const {
    return escapes ? unescape(prop.toString(legacy)) : prop.toString(legacy);
}

QStringList CardMapper::parts(const Prop& prop) const {
    return splitParts(prop.toString(legacy), escapes);
}

void CardMapper::applyLabel(const Prop& prop, int type, pim::Entity& e,
                            const QString& codeKey) const {
    const QString group = groupOf(prop.name);
    if (group.isEmpty())
        return;
    const QPair<int, QString> code = typelabels::labelCode(type, groupLabels.value(group));
    if (code.first < 0)
        return;
    e.fields[codeKey] = code.first;
    if (!code.second.isEmpty())
        e.fields["data3"] = code.second;
}

void CardMapper::add(int type, const Prop& prop, pim::Entity& e, const QString& codeKey) {
    applyLabel(prop, type, e, codeKey);
    result.entities[type].append(e);
}

void CardMapper::property(const Prop& prop) {
    const QPair<int, int> x = xProperty(prop.name);
    if (x.first == pim::ENTITY_IM) {
        impp(prop, x.second);
        return;
    }
    if (x.first == pim::ENTITY_EVENT) {
        date(prop, x.second);
        return;
    }
    if (x.first == pim::ENTITY_REL) {
        related(prop, x.second);
        return;
    }
    pim::Entity e;
    switch (propOf(prop.name)) {
        case P_N:
            nameParts.append(parts(prop));
            return;
        case P_FN:
            formattedName = text(prop).trimmed();
            return;
        case P_PHOTO:
            photo(prop);
            return;
        case P_TEL:
            phone(prop);
            return;
        case P_EMAIL:
            email(prop);
            return;
        case P_NICKNAME:
            if (!text(prop).trimmed().isEmpty())
                singleEntity(result, pim::ENTITY_NICKNAME).fields["data1"] = text(prop);
            return;
        case P_BDAY:
            date(prop, 3);
            return;
        case P_XEVENT:
            date(prop, codeOf(kEventTypes, typeWords(prop), 0));
            return;
        case P_XABDATE:
            date(prop, 0);
            return;
        case P_ANNIVERSARY:
            date(prop, 1);
            return;
        case P_CATEGORIES:
            if (!text(prop).trimmed().isEmpty())
                singleEntity(result, pim::ENTITY_GROUP).fields["data2"] = text(prop);
            return;
        case P_XIM:
            ourIm(prop);
            return;
        case P_IMPP:
            impp(prop, -1);
            return;
        case P_NOTE:
            note(prop);
            return;
        case P_ORG:
            organization(prop);
            return;
        case P_TITLE:
            if (!text(prop).trimmed().isEmpty())
                singleEntity(result, pim::ENTITY_ORG).fields["data4"] = text(prop);
            return;
        case P_XREL:
        case P_XABRELATEDNAMES:
        case P_RELATED:
            related(prop, -1);
            return;
        case P_ADR:
            address(prop);
            return;
        case P_URL:
            url(prop);
            return;
        case P_XSOCIALPROFILE:
            socialProfile(prop);
            return;
        case P_XPHONETICFIRST:
            phoneticGiven = text(prop).trimmed();
            return;
        case P_XPHONETICLAST:
            phoneticFamily = text(prop).trimmed();
            return;
        case P_NONE:
        case P_VERSION:
            return;
    }
}

void CardMapper::photo(const Prop& prop) {
    QByteArray bytes;
    if (photoBytes(prop, bytes))
        singleEntity(result, pim::ENTITY_PHOTO).fields["data15"] = bytes;
}

void CardMapper::phone(const Prop& prop) {
    QString number = text(prop).trimmed();
    if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive))
        number = number.mid(4).trimmed();  // a 4.0 URI value
    if (number.isEmpty())
        return;  // Nextcloud writes an empty TEL into every card
    pim::Entity e;
    e.fields["data1"] = number;
    e.fields["data2"] = phoneCode(typeWords(prop));
    add(pim::ENTITY_PHONE, prop, e);
}

void CardMapper::email(const Prop& prop) {
    QString address = text(prop).trimmed();
    if (address.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        address = address.mid(7);
    if (address.isEmpty())
        return;
    pim::Entity e;
    e.fields["data1"] = address;
    e.fields["data2"] = codeOf(kEmailTypes, typeWords(prop), 1);
    add(pim::ENTITY_EMAIL, prop, e);
}

// A date that is no date ("19723101", "circa 1800") is left out and counted rather than
// stored as a date without a value.
void CardMapper::date(const Prop& prop, int code) {
    const QString raw = prop.toString(legacy).trimmed();
    if (raw.isEmpty())
        return;
    const QDateTime when = readDate(raw);
    if (!when.isValid()) {
        ++skipped;
        return;
    }
    pim::Entity e;
    e.fields["data1"] = when;
    e.fields["data2"] = code;
    add(pim::ENTITY_EVENT, prop, e);
}

void CardMapper::ourIm(const Prop& prop) {
    if (text(prop).trimmed().isEmpty())
        return;
    pim::Entity e;
    e.fields["data2"] = 1;
    e.fields["data1"] = text(prop);
    const int code = codeOf(kImTypes, typeWords(prop), -1);
    if (code >= 0)
        e.fields["data5"] = code;
    add(pim::ENTITY_IM, prop, e);
}

// IMPP (3.0 extension, 4.0) and the messenger properties: the service from Apple's
// X-SERVICE-TYPE, else from the property's name (`protocol`), else from the URI scheme.
void CardMapper::impp(const Prop& prop, int protocol) {
    QString handle = text(prop).trimmed();
    QString service = prop.params.value(QStringLiteral("X-SERVICE-TYPE")).trimmed();
    const int colon = handle.indexOf(QLatin1Char(':'));
    if (protocol < 0 && colon > 0 && !handle.left(colon).contains(QLatin1Char('@'))) {
        const QString scheme = handle.left(colon);
        handle = handle.mid(colon + 1);
        if (handle.startsWith(QLatin1String("//")))
            handle = handle.mid(2);
        // "x-apple" is Apple's scheme for a service without one of its own: no service name.
        if (service.isEmpty() && scheme.compare(QLatin1String("x-apple"), Qt::CaseInsensitive))
            service = scheme;
    }
    if (handle.isEmpty())
        return;
    pim::Entity e;
    e.fields["data1"] = handle;
    const QSet<QString> words = typeWords(prop);
    e.fields["data2"] = words.contains(QStringLiteral("work"))   ? 2
                        : words.contains(QStringLiteral("home")) ? 1
                                                                 : 0;
    // Every key a merge compares is set, as in a stored row: a missing one would never equal
    // the stored address and the same address would be added again.
    // Every key a merge compares is set, as a stored row has them all (a service that is not
    // known is empty text): a missing key never equals the stored one, and the same address
    // would be added again.
    const int code = protocol > 0 ? protocol : typelabels::imProtocol(service);
    if (code > 0) {
        e.fields["data5"] = code;
        e.fields["data6"] = QString();
    } else if (service.compare(QLatin1String("Other"), Qt::CaseInsensitive) == 0) {
        e.fields["data5"] = 0;
        e.fields["data6"] = QString();
    } else if (!service.isEmpty()) {
        e.fields["data5"] = 0;
        e.fields["data6"] = typelabels::plainWords(service);
    } else {
        e.fields["data5"] = QString();
        e.fields["data6"] = QString();
    }
    add(pim::ENTITY_IM, prop, e);
}

void CardMapper::related(const Prop& prop, int code) {
    const QString name = text(prop).trimmed();
    if (name.isEmpty())
        return;
    pim::Entity e;
    e.fields["data1"] = name;
    e.fields["data2"] = code >= 0 ? code : codeOf(kRelTypes, typeWords(prop), 0);
    add(pim::ENTITY_REL, prop, e);
}

void CardMapper::address(const Prop& prop) {
    const QStringList p = parts(prop);
    bool any = false;
    for (const QString& part : p)
        any = any || !part.trimmed().isEmpty();
    if (!any)
        return;  // ";;;;;;" as Nextcloud writes it: no address
    pim::Entity e;
    // The store has no column for the post-office box and the extended address (where some
    // writers put the whole address): they go ahead of the street.
    QStringList street;
    for (int i = 0; i < 3 && i < p.size(); ++i) {
        if (!p[i].trimmed().isEmpty())
            street.append(p[i]);
    }
    if (p.size() > 2 || !street.isEmpty())
        e.fields["data4"] = street.join(QLatin1Char('\n'));
    setPart(e, p, 3, "data7");
    setPart(e, p, 4, "data8");
    setPart(e, p, 5, "data9");
    setPart(e, p, 6, "data10");
    e.fields["data2"] = codeOf(kAddrTypes, typeWords(prop), 0);
    const QString country = groupCountries.value(groupOf(prop.name));
    if (!country.isEmpty())
        e.fields["data11"] = country;
    applyLabel(prop, pim::ENTITY_ADDR, e, QStringLiteral("data2"));
    e.fields["data1"] = e.formattedAddr();
    result.entities[pim::ENTITY_ADDR].append(e);
}

void CardMapper::url(const Prop& prop) {
    const QString link = text(prop).trimmed();
    if (link.isEmpty())
        return;
    pim::Entity e;
    e.fields["data1"] = link;
    e.fields["data2"] = codeOf(kUrlTypes, typeWords(prop), 0);
    add(pim::ENTITY_URL, prop, e);
}

// Apple's social profiles ("X-SOCIALPROFILE;type=twitter;x-user=jdoe:https://...") are web
// addresses labelled with their service.
void CardMapper::socialProfile(const Prop& prop) {
    QString link = text(prop).trimmed();
    if (link.isEmpty())
        link = prop.params.value(QStringLiteral("X-USER")).trimmed();
    if (link.isEmpty())
        return;
    QString service;
    for (const QString& w : typeWords(prop)) {
        if (w != QLatin1String("pref"))
            service = w;
    }
    pim::Entity e;
    e.fields["data1"] = link;
    e.fields["data2"] = service.isEmpty() ? 3 : 0;
    if (!service.isEmpty())
        e.fields["data3"] = service.left(1).toUpper() + service.mid(1);
    add(pim::ENTITY_URL, prop, e);
}

void CardMapper::note(const Prop& prop) {
    const QString t = text(prop);
    if (t.trimmed().isEmpty())
        return;
    // A second note adds to the first rather than replacing it.
    pim::Entity& n = singleEntity(result, pim::ENTITY_NOTES);
    const QString old = n.text(QStringLiteral("data1"));
    n.fields["data1"] = old.isEmpty() ? t : old + QLatin1Char('\n') + t;
}

void CardMapper::organization(const Prop& prop) {
    const QStringList p = parts(prop);
    bool any = false;
    for (const QString& part : p)
        any = any || !part.trimmed().isEmpty();
    if (!any)
        return;
    pim::Entity& org = singleEntity(result, pim::ENTITY_ORG);
    setPart(org, p, 0, "data1");
    setPart(org, p, 1, "data5");
}

void CardMapper::finishName() {
    if (!nameParts.isEmpty()) {
        // Files this program wrote before put the given name first; their FN tells them apart
        // (it is the name joined in that order, and not in the standard one).
        pim::Entity standard, old;
        for (const QStringList& p : nameParts) {
            applyName(standard, p, true);
            applyName(old, p, false);
        }
        const bool oldOrder = writtenHereBefore(card) && formattedName == old.fullName() &&
                              formattedName != standard.fullName();
        pim::Entity& name = singleEntity(result, pim::ENTITY_NAME);
        name = oldOrder ? old : standard;
        result.fullName = name.fullName();
        name.fields["data1"] = result.fullName;
    }
    if (result.fullName.isEmpty()) {
        // A card without a usable "N" is still someone: name it so it is not dropped.
        const QString fallback = fallbackName(formattedName, result);
        if (!fallback.isEmpty()) {
            pim::Entity& name = singleEntity(result, pim::ENTITY_NAME);
            name.fields["data2"] = fallback;
            result.fullName = name.fullName();
            name.fields["data1"] = result.fullName;
        }
    }
    // Apple's phonetic names (X-PHONETIC-*), on the name however it was made.
    if (!phoneticGiven.isEmpty() || !phoneticFamily.isEmpty()) {
        pim::Entity& name = singleEntity(result, pim::ENTITY_NAME);
        if (!phoneticGiven.isEmpty())
            name.fields["data7"] = phoneticGiven;
        if (!phoneticFamily.isEmpty())
            name.fields["data8"] = phoneticFamily;
    }
}
