#include "vcardexport.h"

#include "qvcardparser.h"

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

const char* imWord(int c) {
    static const char* const words[] = {"aim",        "msn",        "yahoo",   "skype",
                                        "qq",         "googletalk", "icq",     "jabber",
                                        "netmetting", "gadugadu",   "facebook"};
    return (c >= 1 && c <= 11) ? words[c - 1] : nullptr;
}

const char* relWord(int c) {
    static const char* const words[] = {"assistant", "brother",  "child",  "dompartner", "father",
                                        "friend",    "manager",  "mother", "parent",     "partner",
                                        "ref",       "relative", "sister", "spouse"};
    return (c >= 1 && c <= 14) ? words[c - 1] : nullptr;
}

const char* urlWord(int c) {
    static const char* const words[] = {"homepage", "blog", "profile", "home", "work", "ftp"};
    return (c >= 1 && c <= 6) ? words[c - 1] : "other";
}

void entityProps(QList<Prop>& props, int type, const pim::Entity& e) {
    switch (type) {
        case pim::ENTITY_NAME:
            // The standard order: family; given; middle; prefix; suffix.
            appendUtf8(props, QStringLiteral("N"), Params(),
                       esc(e, "data3") + ';' + esc(e, "data2") + ';' + esc(e, "data4") + ';' +
                           esc(e, "data5") + ';' + esc(e, "data6"));
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
        case pim::ENTITY_PHONE:
            appendLocal(props, QStringLiteral("TEL"), typeParam(phoneWord(code(e, "data2"))),
                        escRaw(e.text(QStringLiteral("data1"))));
            break;
        case pim::ENTITY_EMAIL:
            appendLocal(props, QStringLiteral("EMAIL"), typeParam(emailWord(code(e, "data2"))),
                        escRaw(e.text(QStringLiteral("data1"))));
            break;
        case pim::ENTITY_NICKNAME:
            appendUtf8(props, QStringLiteral("NICKNAME"), Params(), escKey(e, "data1"));
            break;
        case pim::ENTITY_EVENT: {
            const int c = code(e, "data2");
            if (c == 3) {
                appendLocal(props, QStringLiteral("BDAY"), Params(), dateText(e));
            } else {
                appendLocal(props, QStringLiteral("X-EVENT"),
                            typeParam(c == 1 ? "anniversary" : "other"), dateText(e));
            }
            break;
        }
        case pim::ENTITY_GROUP:
            appendUtf8(props, QStringLiteral("CATEGORIES"), Params(), escKey(e, "data2"));
            break;
        case pim::ENTITY_IM:
            appendUtf8(props, QStringLiteral("X-IM"), typeParam(imWord(code(e, "data5"))),
                       escKey(e, "data1"));
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
            appendUtf8(props, QStringLiteral("X-REL"), typeParam(relWord(code(e, "data2"))),
                       escKey(e, "data1"));
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
            break;
        }
        case pim::ENTITY_URL:
            appendLocal(props, QStringLiteral("URL"), typeParam(urlWord(code(e, "data2"))),
                        escRaw(e.text(QStringLiteral("data1"))));
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
    for (auto it = contact.entities.constBegin(); it != contact.entities.constEnd(); ++it) {
        if (it.key() < pim::ENTITY_NAME || it.key() > pim::ENTITY_URL)
            continue;
        for (const pim::Entity& e : it.value())
            entityProps(props, it.key(), e);
    }
    return QVCardParser::vcard2Bytes(props);
}

QByteArray VCardExport::uninitialize() {
    return QByteArray();
}
