#include "vcardexport.h"

#include "import/qvcardparser.h"

#include <QDateTime>
#include <QTextCodec>

namespace {

typedef QVCardParser::_Property Prop;
typedef QMap<QString, QString> Params;

const QString kCharset = QStringLiteral("CHARSET");
const QString kEncoding = QStringLiteral("ENCODING");
const QString kType = QStringLiteral("TYPE");
const QString kUtf8 = QStringLiteral("UTF-8");
const QString kQP = QStringLiteral("QUOTED-PRINTABLE");

int code(const pim::Entity& e, const char* key) {
    return e.fields.value(QLatin1String(key)).toInt();
}

// Backslashes and line feeds escaped, for values that are not text lists (numbers, addresses,
// links) but are still read with the escapes of 3.0. A CR stays: the value then goes
// quoted-printable, which keeps it exactly.
QString escRaw(QString t) {
    t.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    t.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return t;
}

// Text as vCard 3.0 writes it: backslash, comma and line feeds escaped, so that every reader
// gets the stored text back. A ";" is escaped only where it would cut a structured value; some
// readers keep the backslash of "\;" in plain text.
QString escText(QString t) {
    return escRaw(t).replace(QLatin1Char(','), QLatin1String("\\,"));
}

// One component of a structured value (N, ORG, ADR).
QString esc(const pim::Entity& e, const char* key) {
    return escText(e.text(QLatin1String(key))).replace(QLatin1Char(';'), QLatin1String("\\;"));
}

// The text of a key, escaped.
QString escKey(const pim::Entity& e, const char* key) {
    return escText(e.text(QLatin1String(key)));
}

// A date as stored; a date in the year 1604 (the phone's "no year") is written without one.
QString dateText(const pim::Entity& e) {
    const QVariant v = e.fields.value(QStringLiteral("data1"));
    const QDateTime dt = v.toDateTime();
    if (dt.isValid() && dt.date().year() == 1604)
        return dt.date().toString(QStringLiteral("--MMdd"));
    return e.text(QStringLiteral("data1"));
}

bool hasLineBreak(const QByteArray& bytes) {
    return bytes.contains('\r') || bytes.contains('\n');
}

// A raw line break would end the property line and let the rest of the value be read as
// properties of its own; such values go quoted-printable, which the reader decodes.
void append(QList<Prop>& props, const QString& name, Params params, const QByteArray& value) {
    Prop p;
    p.name = name;
    if (hasLineBreak(value)) {
        params.insert(kEncoding, kQP);
        p.value = QVCardParser::encodeQuoted(value, 0);
    } else {
        p.value = value;
    }
    p.params = params;
    props.append(p);
}

// A UTF-8 value with "CHARSET=UTF-8".
void appendUtf8(QList<Prop>& props, const QString& name, Params params, const QString& text) {
    params.insert(kCharset, kUtf8);
    append(props, name, params, text.toUtf8());
}

// A value in the local 8-bit encoding without a charset; text that encoding cannot hold goes
// as UTF-8 with its charset named instead of losing characters.
void appendLocal(QList<Prop>& props, const QString& name, Params params, const QString& text) {
    QTextCodec* codec = QTextCodec::codecForLocale();
    if (codec && !codec->canEncode(text)) {
        appendUtf8(props, name, params, text);
        return;
    }
    append(props, name, params, text.toLocal8Bit());
}

Params typeParam(const char* word) {
    Params p;
    if (word)
        p.insert(kType, QLatin1String(word));
    return p;
}

const char* phoneWord(int c) {
    switch (c) {
        case 1:
            return "home,voice";
        case 2:
            return "cell";
        case 3:
            return "work,voice";
        case 4:
            return "work,fax";
        case 5:
            return "home,fax";
        case 6:
            return "pager";
        case 9:
            return "car";
        case 11:
            return "isdn";
        case 13:
            return "fax";
        default:
            return nullptr;
    }
}

const char* emailWord(int c) {
    switch (c) {
        case 1:
            return "internet,home";
        case 2:
            return "internet,work";
        case 4:
            return "internet,cell";
        default:
            return "internet,other";
    }
}

const char* urlWord(int c) {
    static const char* const words[] = {"homepage", "blog", "profile", "home", "work", "ftp"};
    return (c >= 1 && c <= 6) ? words[c - 1] : "other";
}

// Apple's words for the kinds it knows; a kind it does not know goes as the program's own label,
// which this program's reader maps back to its code.
QString appleLabel(const QString& word) {
    static const QStringList apple{"Mobile",  "Home",        "Work",   "Main",   "Other",
                                   "Pager",   "Anniversary", "Father", "Mother", "Parent",
                                   "Brother", "Sister",      "Child",  "Friend", "Spouse",
                                   "Partner", "Assistant",   "Manager"};
    if (apple.contains(word))
        return "_$!<" + word + ">!$_";
    if (word == QLatin1String("Home Fax"))
        return QStringLiteral("_$!<HomeFAX>!$_");
    if (word == QLatin1String("Work Fax"))
        return QStringLiteral("_$!<WorkFAX>!$_");
    return word;
}

// The label of an entity as Apple writes it: its custom label, else the label of its code.
QString labelOf(const pim::Entity& e, const QMap<int, QString>& map, int code) {
    const QString custom = e.text(QStringLiteral("data3"));
    if (!custom.isEmpty())
        return custom;
    return appleLabel(map.value(code, QStringLiteral("Other")));
}

// Lines tied together by a group ("item1.TEL" and "item1.X-ABLabel"), as Apple Contacts, iCloud
// and the programs that read their files expect a label.
class Grouper {
public:
    explicit Grouper(QList<Prop>& props) : props(props) {}
    // Gives the property at `index` (the last appended when -1) a group and the label.
    void label(const QString& text, int index = -1) {
        Prop l;
        l.name = groupOf(index) + QStringLiteral("X-ABLabel");
        l.params.insert(kCharset, kUtf8);
        l.value = escText(text).toUtf8();
        props.append(l);
    }
    // Apple's country code of an address ("item1.X-ABADR:us"), in the address's group.
    void countryCode(const QString& code, int index) {
        Prop c;
        c.name = groupOf(index) + QStringLiteral("X-ABADR");
        c.params.insert(kCharset, kUtf8);
        c.value = escText(code).toUtf8();
        props.append(c);
    }

private:
    // The group of the property at `index`, given it now when it has none yet.
    QString groupOf(int index) {
        Prop& p = index < 0 ? props.last() : props[index];
        const int dot = p.name.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            return p.name.left(dot + 1);
        const QString group = QStringLiteral("item%1.").arg(++count);
        p.name.prepend(group);
        return group;
    }

    QList<Prop>& props;
    int count = 0;
};

bool hasCustomLabel(const pim::Entity& e) {
    return !e.text(QStringLiteral("data3")).isEmpty();
}

// An anniversary or another date as Apple writes it (X-ABDATE with its label); a date of the
// phone's "no year" 1604 says so as Apple does.
void appleDate(QList<Prop>& props, Grouper& groups, const pim::Entity& e, int code) {
    Params params;
    QString value = e.text(QStringLiteral("data1"));
    const QDateTime dt = e.fields.value(QStringLiteral("data1")).toDateTime();
    if (dt.isValid() && dt.time() == QTime(0, 0)) {
        value = dt.date().toString(Qt::ISODate);
        if (dt.date().year() == 1604)
            params.insert(QStringLiteral("X-APPLE-OMIT-YEAR"), QStringLiteral("1604"));
    }
    appendLocal(props, QStringLiteral("X-ABDATE"), params, value);
    groups.label(labelOf(e, pim::eventTypeMap(), code));
}

// IMPP as Apple writes it: the service in X-SERVICE-TYPE, the handle behind a URI scheme.
void impp(QList<Prop>& props, Grouper& groups, const pim::Entity& e) {
    static const struct {
        const char* service;
        const char* scheme;
    } services[] = {{"AIM", "aim"},          {"MSN", "msnim"},    {"Yahoo", "ymsgr"},
                    {"Skype", "skype"},      {"QQ", "x-apple"},   {"GoogleTalk", "xmpp"},
                    {"ICQ", "aim"},          {"Jabber", "xmpp"},  {"NetMeeting", "x-apple"},
                    {"GaduGadu", "x-apple"}, {"Facebook", "xmpp"}};
    const int protocol = code(e, "data5");
    Params params;
    QString scheme = QStringLiteral("x-apple");
    if (protocol >= 1 && protocol <= 11) {
        params.insert(QStringLiteral("X-SERVICE-TYPE"),
                      QLatin1String(services[protocol - 1].service));
        scheme = QLatin1String(services[protocol - 1].scheme);
    } else if (!e.text(QStringLiteral("data6")).isEmpty()) {
        params.insert(QStringLiteral("X-SERVICE-TYPE"), e.text(QStringLiteral("data6")));
    } else if (e.text(QStringLiteral("data5")) == QLatin1String("0")) {
        // The service chosen as "Other", told apart from a service that was never given.
        params.insert(QStringLiteral("X-SERVICE-TYPE"), QStringLiteral("Other"));
    }
    const int kind = code(e, "data2");
    if (kind == 1 || kind == 2)
        params.insert(kType, kind == 1 ? QStringLiteral("HOME") : QStringLiteral("WORK"));
    appendUtf8(props, QStringLiteral("IMPP"), params,
               scheme + QLatin1Char(':') + escRaw(e.text(QStringLiteral("data1"))));
    if (hasCustomLabel(e))
        groups.label(e.text(QStringLiteral("data3")));
}

void entityProps(QList<Prop>& props, Grouper& groups, int type, const pim::Entity& e) {
    switch (type) {
        case pim::ENTITY_NAME:
            // The standard order: family; given; middle; prefix; suffix.
            appendUtf8(props, QStringLiteral("N"), Params(),
                       esc(e, "data3") + ';' + esc(e, "data2") + ';' + esc(e, "data4") + ';' +
                           esc(e, "data5") + ';' + esc(e, "data6"));
            // The phonetic names as Apple, Google and Android write and read them.
            if (!e.text(QStringLiteral("data7")).isEmpty())
                appendUtf8(props, QStringLiteral("X-PHONETIC-FIRST-NAME"), Params(),
                           escKey(e, "data7"));
            if (!e.text(QStringLiteral("data8")).isEmpty())
                appendUtf8(props, QStringLiteral("X-PHONETIC-LAST-NAME"), Params(),
                           escKey(e, "data8"));
            break;
        case pim::ENTITY_PHOTO: {
            Prop p;
            p.name = QStringLiteral("PHOTO");
            p.params.insert(kEncoding, QStringLiteral("B"));
            p.params.insert(kType, QStringLiteral("JPEG"));
            p.value = QVCardParser::encodeBase64(
                e.fields.value(QStringLiteral("data15")).toByteArray(), 75);
            props.append(p);
            break;
        }
        case pim::ENTITY_PHONE: {
            // A kind without a TYPE word of its own (Other, Main, Work Mobile, ...) travels as
            // a label, so that it does not come back as Mobile.
            const char* word = phoneWord(code(e, "data2"));
            appendLocal(props, QStringLiteral("TEL"), typeParam(word),
                        escRaw(e.text(QStringLiteral("data1"))));
            if (!word || hasCustomLabel(e))
                groups.label(labelOf(e, pim::phoneTypeMap(), code(e, "data2")));
            break;
        }
        case pim::ENTITY_EMAIL:
            appendLocal(props, QStringLiteral("EMAIL"), typeParam(emailWord(code(e, "data2"))),
                        escRaw(e.text(QStringLiteral("data1"))));
            if (hasCustomLabel(e))
                groups.label(e.text(QStringLiteral("data3")));
            break;
        case pim::ENTITY_NICKNAME:
            appendUtf8(props, QStringLiteral("NICKNAME"), Params(), escKey(e, "data1"));
            break;
        case pim::ENTITY_EVENT: {
            const int c = code(e, "data2");
            if (c == 3)
                appendLocal(props, QStringLiteral("BDAY"), Params(), dateText(e));
            else
                appleDate(props, groups, e, c);
            break;
        }
        case pim::ENTITY_GROUP:
            appendUtf8(props, QStringLiteral("CATEGORIES"), Params(), escKey(e, "data2"));
            break;
        case pim::ENTITY_IM:
            impp(props, groups, e);
            break;
        case pim::ENTITY_NOTES: {
            Prop p;
            p.name = QStringLiteral("NOTE");
            p.params.insert(kCharset, kUtf8);
            p.params.insert(kEncoding, kQP);
            p.value = QVCardParser::encodeQuoted(escKey(e, "data1").toUtf8(), 0);
            props.append(p);
            break;
        }
        case pim::ENTITY_ORG:
            appendUtf8(props, QStringLiteral("TITLE"), Params(), escKey(e, "data4"));
            appendUtf8(props, QStringLiteral("ORG"), Params(),
                       esc(e, "data1") + ';' + esc(e, "data5") + QLatin1String(";;"));
            break;
        case pim::ENTITY_REL:
            appendUtf8(props, QStringLiteral("X-ABRELATEDNAMES"), Params(), escKey(e, "data1"));
            groups.label(labelOf(e, pim::relTypeMap(), code(e, "data2")));
            break;
        case pim::ENTITY_ADDR: {
            const int c = code(e, "data2");
            Prop p;
            p.name = QStringLiteral("ADR");
            p.params.insert(kCharset, kUtf8);
            p.params.insert(kEncoding, kQP);
            p.params.insert(kType, c == 1   ? QStringLiteral("home")
                                   : c == 2 ? QStringLiteral("work")
                                            : QStringLiteral("intl"));
            const QString parts = esc(e, "data4") + ';' + esc(e, "data7") + ';' + esc(e, "data8") +
                                  ';' + esc(e, "data9") + ';' + esc(e, "data10");
            p.value = QVCardParser::encodeQuoted(";;" + parts.toUtf8(), 0);
            props.append(p);
            const int adr = props.size() - 1;
            if (!e.text(QStringLiteral("data11")).isEmpty())
                groups.countryCode(e.text(QStringLiteral("data11")), adr);
            if (hasCustomLabel(e))
                groups.label(e.text(QStringLiteral("data3")), adr);
            break;
        }
        case pim::ENTITY_URL:
            appendLocal(props, QStringLiteral("URL"), typeParam(urlWord(code(e, "data2"))),
                        escRaw(e.text(QStringLiteral("data1"))));
            if (hasCustomLabel(e))
                groups.label(e.text(QStringLiteral("data3")));
            break;
        default:
            break;
    }
}

}  // namespace

VCardExport::VCardExport() {}

VCardExport::~VCardExport() {}

QByteArray VCardExport::initialize(const QList<pim::_Contact>&) {
    return QByteArray();
}

QByteArray VCardExport::ct2Bytes(const pim::_Contact& contact) {
    QList<Prop> props;
    Prop version;
    version.name = QStringLiteral("VERSION");
    version.value = "3.0";
    props.append(version);
    appendUtf8(props, QStringLiteral("FN"), Params(), escText(contact.fullName));
    Grouper groups(props);
    for (auto it = contact.entities.constBegin(); it != contact.entities.constEnd(); ++it) {
        if (it.key() < pim::ENTITY_NAME || it.key() > pim::ENTITY_URL)
            continue;
        for (const pim::Entity& e : it.value())
            entityProps(props, groups, it.key(), e);
    }
    return QVCardParser::vcard2Bytes(props);
}

QByteArray VCardExport::uninitialize() {
    return QByteArray();
}
