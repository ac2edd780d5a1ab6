#include "csvheadertable.h"

#include "csvcolumnwords.h"
#include "outlookcolumns.h"

#include <QRegularExpression>
#include <QSet>

namespace {

typedef CSVImport::_ColInfo C;
typedef QMap<QString, C> ColTable;

const QString kNone, d1 = "data1", d2 = "data2", d3 = "data3", d4 = "data4", d5 = "data5",
                     d6 = "data6", d7 = "data7", d8 = "data8", d9 = "data9", d10 = "data10";

// The first meaning a name was given stays: a name several languages share means the same in
// all of them, or the language listed first wins.
void put(ColTable& t, const QString& name, const C& info) {
    if (!t.contains(name))
        t.insert(name, info);
}

void addMapped(ColTable& t, const QString& prefix, const QMap<int, QString>& labels, int type,
               const QString& subtypeKey, const QString& dataKey) {
    for (auto it = labels.constBegin(); it != labels.constEnd(); ++it)
        put(t, prefix + it.value(), C(type, it.key(), subtypeKey, dataKey));
}

C leftOut() {
    C info(0, 0, kNone, kNone, C::IGNORED);
    info.leftOut = true;
    return info;
}

// A place word alone: the place's phone where the column's cells are numbers.
C placePhone(int subtype) {
    C info(3, subtype, d2, d1);
    info.numbersOnly = true;
    return info;
}

void addOwn(ColTable& t) {
    put(t, "Prefix", C(1, 0, kNone, d5));
    put(t, "First Name", C(1, 0, kNone, d2));
    put(t, "Middle Name", C(1, 0, kNone, d4));
    put(t, "Last Name", C(1, 0, kNone, d3));
    put(t, "Suffix", C(1, 0, kNone, d6));
    addMapped(t, "Tel:", pim::phoneTypeMap(), 3, d2, d1);
    addMapped(t, "Email:", pim::emailTypeMap(), 4, d2, d1);
    put(t, "Nickname", C(5, 1, kNone, d1));
    addMapped(t, "Date:", pim::eventTypeMap(), 6, d2, d1);
    put(t, "Category", C(7, 0, kNone, d2));
    addMapped(t, "IM:", pim::imProtocolMap(), 8, d5, d1);
    put(t, "Notes", C(9, 0, kNone, d1));
    put(t, "Company", C(10, 0, d2, d1));
    put(t, "Department", C(10, 0, d2, d5));
    put(t, "Job Title", C(10, 0, d2, d4));
    addMapped(t, "Rel:", pim::relTypeMap(), 11, d2, d1);
    const QMap<int, QString> addr = pim::addrTypeMap();
    for (auto it = addr.constBegin(); it != addr.constEnd(); ++it) {
        const QString base = "Addr:" + it.value();
        put(t, base + ":Country", C(12, it.key(), d2, d10));
        put(t, base + ":State", C(12, it.key(), d2, d8));
        put(t, base + ":City", C(12, it.key(), d2, d7));
        put(t, base + ":Street", C(12, it.key(), d2, d4));
        put(t, base + ":Postcode", C(12, it.key(), d2, d9));
    }
    addMapped(t, "Url:", pim::urlTypeMap(), 13, d2, d1);
}

void addOutlook(ColTable& t) {
    for (const auto& column : outlookcolumns::columns())
        put(t, column.first, column.second);
    put(t, "Personal Web Page", C(13, 4, d2, d1));
}

// Google's columns outside its numbered slots, in its current layout and in the older one.
void addGoogle(ColTable& t) {
    put(t, "Name", C(1, 0, kNone, d2, C::FULL_NAME));
    put(t, "Given Name", C(1, 0, kNone, d2));
    put(t, "Additional Name", C(1, 0, kNone, d4));
    put(t, "Family Name", C(1, 0, kNone, d3));
    put(t, "Name Prefix", C(1, 0, kNone, d5));
    put(t, "Name Suffix", C(1, 0, kNone, d6));
    put(t, "Maiden Name", C(5, 3, d2, d1));
    put(t, "Short Name", C(5, 4, d2, d1));
    put(t, "Organization Name", C(10, 0, d2, d1));
    put(t, "Organization Title", C(10, 0, d2, d4));
    put(t, "Organization Department", C(10, 0, d2, d5));
    put(t, "Labels", C(7, 0, kNone, d2, C::GROUPS));
    put(t, "Group Membership", C(7, 0, kNone, d2, C::GROUPS));
    // Columns whose text is not kept: named when they hold any. The photo is a link to
    // Google's server, not the picture, and goes unsaid.
    for (const char* skip :
         {"Phonetic First Name", "Phonetic Middle Name", "Phonetic Last Name", "File As",
          "Yomi Name", "Given Name Yomi", "Additional Name Yomi", "Family Name Yomi", "Location",
          "Billing Information", "Directory Server", "Mileage", "Occupation", "Hobby", "Subject",
          "Language"}) {
        put(t, skip, leftOut());
    }
    put(t, "Photo", C(0, 0, kNone, kNone, C::IGNORED));
}

// Thunderbird's export, with the spellings of its British build.
void addThunderbird(ColTable& t) {
    put(t, "Display Name", C(1, 0, kNone, d2, C::FULL_NAME));
    put(t, "Primary Email", C(4, 1, d2, d1));
    put(t, "Secondary Email", C(4, 0, d2, d1));
    put(t, "Screen Name", C(8, 0, kNone, d1));
    put(t, "Work Phone", C(3, 3, d2, d1));
    put(t, "Fax Number", C(3, 13, d2, d1));
    put(t, "Pager Number", C(3, 6, d2, d1));
    put(t, "Mobile Number", C(3, 2, d2, d1));
    for (const char* place : {"Home", "Work"}) {
        const int code = QLatin1String(place) == QLatin1String("Home") ? 1 : 2;
        const QString p = QLatin1String(place);
        put(t, p + " Address", C(12, code, d2, d4));
        put(t, p + " Address 2", C(12, code, d2, d4));
        put(t, p + " City", C(12, code, d2, d7));
        put(t, p + " State", C(12, code, d2, d8));
        put(t, p + " County", C(12, code, d2, d8));
        put(t, p + " ZipCode", C(12, code, d2, d9));
        put(t, p + " Post Code", C(12, code, d2, d9));
        put(t, p + " Country", C(12, code, d2, d10));
    }
    put(t, "Organization", C(10, 0, d2, d1));
    put(t, "Organisation", C(10, 0, d2, d1));
    put(t, "Web Page 1", C(13, 5, d2, d1));
    put(t, "Web Page 2", C(13, 4, d2, d1));
    put(t, "Birth Year", C(6, 3, d2, d1, C::BIRTH_YEAR));
    put(t, "Birth Month", C(6, 3, d2, d1, C::BIRTH_MONTH));
    put(t, "Birth Day", C(6, 3, d2, d1, C::BIRTH_DAY));
}

// Yahoo's export, in its American and British spellings. Its phones are named by their place
// alone, "Title" is the job title and "Primary" says which number is preferred (a kind, no data).
void addYahoo(ColTable& t) {
    put(t, "First", C(1, 0, kNone, d2));
    put(t, "Middle", C(1, 0, kNone, d4));
    put(t, "Last", C(1, 0, kNone, d3));
    put(t, "Home", placePhone(1));
    put(t, "Work", placePhone(3));
    put(t, "Mobile", C(3, 2, d2, d1));
    put(t, "Fax", C(3, 13, d2, d1));
    put(t, "Other", placePhone(0));
    C yahooPhone(3, 0, d2, d1);
    yahooPhone.label = QStringLiteral("Yahoo! Phone");
    put(t, "Yahoo! Phone", yahooPhone);
    put(t, "Primary", C(0, 0, kNone, kNone, C::IGNORED));
    put(t, "Alternate Email 1", C(4, 0, d2, d1));
    put(t, "Alternate Email 2", C(4, 0, d2, d1));
    put(t, "Personal Website", C(13, 4, d2, d1));
    put(t, "Business Website", C(13, 5, d2, d1));
    put(t, "Comments", C(9, 0, kNone, d1));
    for (const char* place : {"Home", "Work"}) {
        const int code = QLatin1String(place) == QLatin1String("Home") ? 1 : 2;
        const QString p = QLatin1String(place);
        put(t, p + " ZIP", C(12, code, d2, d9));
        put(t, p + " Town", C(12, code, d2, d7));
    }
    // Yahoo's own messenger under both of its names, then the others it lists.
    put(t, "Messenger ID", C(8, 3, d5, d1));
    put(t, "Yahoo! ID", C(8, 3, d5, d1));
    for (int i = 1; i <= 9; ++i)
        put(t, QString("Messenger ID%1").arg(i), C(8, 3, d5, d1));
    const struct {
        const char* name;
        int protocol;
    } ims[] = {{"Skype ID", 4}, {"ICQ ID", 7}, {"Google ID", 6}, {"MSN ID", 2},
               {"AIM ID", 1},   {"QQ ID", 5},  {"IRC ID", 0}};
    for (const auto& im : ims) {
        C info(8, im.protocol, d5, d1);
        if (im.protocol == 0)
            info.label = QStringLiteral("IRC");
        put(t, im.name, info);
    }
}

// LinkedIn's Connections.csv: "URL" is the person's profile page; "Connected On" is the day the
// two connected, kept as a date of its own label.
void addLinkedIn(ColTable& t) {
    put(t, "Email Address", C(4, 1, d2, d1));
    put(t, "URL", C(13, 3, d2, d1));
    put(t, "Position", C(10, 0, d2, d4));
    C connected(6, 0, d2, d1);
    connected.label = QStringLiteral("Connected On");
    put(t, "Connected On", connected);
}

// A plain "name, address" list as people make them by hand or in a spreadsheet.
void addPlain(ColTable& t) {
    put(t, "Full Name", C(1, 0, kNone, d2, C::FULL_NAME));
    put(t, "E-mail", C(4, 1, d2, d1));
    put(t, "Email", C(4, 1, d2, d1));
    put(t, "E-Mail", C(4, 1, d2, d1));
}

ColTable build() {
    ColTable t;
    addOwn(t);
    addOutlook(t);
    addGoogle(t);
    addThunderbird(t);
    addYahoo(t);
    addLinkedIn(t);
    addPlain(t);
    return t;
}

// The type of a Google slot kind, or 0.
int googleKind(const QString& kind) {
    static const QMap<QString, int> kinds{{"E-mail", 4},    {"Phone", 3},    {"Address", 12},
                                          {"Relation", 11}, {"Website", 13}, {"Event", 6},
                                          {"IM", 8}};
    return kinds.value(kind);
}

C googleSlot(int type, int slot, const QString& part) {
    if (part == QLatin1String("Label") || part == QLatin1String("Type"))
        return C(type, 0, d2, kNone, C::LABEL, slot);
    if (type == 8 && part == QLatin1String("Service"))
        return C(type, 0, d5, kNone, C::SERVICE, slot);
    if (type != 12) {
        // A value without a label: the kind every reader assumes.
        const int fallback = type == 3 ? 2 : type == 4 ? 1 : 0;
        return part == QLatin1String("Value") ? C(type, fallback, d2, d1, C::MULTI, slot) : C();
    }
    static const QMap<QString, QString> parts{
        {"Street", "data4"},  {"PO Box", "data4"}, {"Extended Address", "data4"},
        {"City", "data7"},    {"Region", "data8"}, {"Postal Code", "data9"},
        {"Country", "data10"}};
    if (part == QLatin1String("Formatted"))
        return C(type, 0, d2, d4, C::FORMATTED_ADDR, slot);
    const QString key = parts.value(part);
    if (key.isEmpty())
        return C();
    C info(type, 0, d2, key, C::MULTI, slot);
    if (part == QLatin1String("PO Box"))
        info.streetLine = C::PO_BOX;
    else if (part == QLatin1String("Extended Address"))
        info.streetLine = C::EXTENDED;
    return info;
}

// Google's "Organization 1 - Name" (older layout): one organisation per contact here.
C googleOrganization(const QString& part) {
    if (part == QLatin1String("Name"))
        return C(10, 0, d2, d1);
    if (part == QLatin1String("Title"))
        return C(10, 0, d2, d4);
    if (part == QLatin1String("Department"))
        return C(10, 0, d2, d5);
    // Its kind says nothing of the contact's own; its symbol, location, description and
    // phonetic name are text not kept.
    if (part == QLatin1String("Type"))
        return C(0, 0, kNone, kNone, C::IGNORED);
    return leftOut();
}

// This program's own column names: a further value under one of them comes numbered.
bool isOwnName(const QString& name) {
    static const QSet<QString> fixed{"Prefix",  "First Name", "Middle Name", "Last Name",
                                     "Suffix",  "Nickname",   "Category",    "Notes",
                                     "Company", "Department", "Job Title"};
    if (fixed.contains(name))
        return true;
    for (const char* prefix : {"Tel:", "Email:", "Date:", "IM:", "Rel:", "Addr:", "Url:"}) {
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

}  // namespace

CSVImport::_ColInfo::_ColInfo(int type, int subtype, QString subtypeKey, QString dataKey, Role role,
                              int slot)
    : type(type),
      subtype(subtype),
      subtypeKey(subtypeKey),
      dataKey(dataKey),
      role(role),
      slot(slot) {}

namespace csvheaders {

const QMap<QString, CSVImport::_ColInfo>& table() {
    static const ColTable t = build();
    return t;
}

CSVImport::_ColInfo lookup(const QString& header) {
    const ColTable& t = table();
    auto it = t.constFind(header);
    if (it != t.constEnd())
        return *it;
    // Further values of one of our own labels: "Tel:Mobile 2", "Addr:Home:City 3".
    static const QRegularExpression numbered("^(.+) ([2-9]|[1-9][0-9]+)$");
    QRegularExpressionMatch m = numbered.match(header);
    if (m.hasMatch() && isOwnName(m.captured(1))) {
        it = t.constFind(m.captured(1));
        if (it != t.constEnd()) {
            C info = *it;
            info.slot = m.captured(2).toInt();
            return info;
        }
    }
    static const QRegularExpression slot("^([A-Za-z-]+) ([1-9][0-9]*) - ([A-Za-z ]+)$");
    m = slot.match(header);
    if (m.hasMatch()) {
        const QString kind = m.captured(1);
        if (kind == QLatin1String("Organization"))
            return googleOrganization(m.captured(3));
        const int type = googleKind(kind);
        if (type != 0)
            return googleSlot(type, m.captured(2).toInt(), m.captured(3));
        if (kind == QLatin1String("Custom"))
            return C();
    }
    return C();
}

QVector<CSVImport::_ColInfo> resolve(const QStringList& header) {
    QVector<C> columns;
    columns.reserve(header.size());
    QSet<QString> seen;
    bool jobTitle = false;
    for (const QString& name : header) {
        C info = lookup(name);
        if (!info.known())
            info = csvwords::meaning(name);
        // French Outlook names the courtesy title and the job title alike ("Titre"): the second
        // column of a name-prefix header is the job title.
        if (seen.contains(name) && info.type == pim::ENTITY_NAME && info.dataKey == d5)
            info = C(pim::ENTITY_ORG, 0, d2, d4);
        seen.insert(name);
        jobTitle = jobTitle || (info.type == pim::ENTITY_ORG && info.dataKey == d4);
        columns.append(info);
    }
    // Outlook's "Title" is the courtesy title beside its "Job Title"; where no column holds the
    // job title (Yahoo, lists made by hand) a "Title" is the job title.
    if (!jobTitle) {
        for (int i = 0; i < header.size(); ++i) {
            if (header[i] == QLatin1String("Title"))
                columns[i] = C(pim::ENTITY_ORG, 0, d2, d4);
        }
    }
    return columns;
}

QString outlookLanguage(const QStringList& header) {
    return outlookcolumns::language(header);
}

}  // namespace csvheaders
