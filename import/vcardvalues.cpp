#include "vcardvalues.h"

namespace vcardvalues {

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

// vCard text escapes: \n or \N is a line break; \\, \, \; and \: stand for the character.
// A backslash before anything else is no escape and stays ("C:\temp" as a sloppy writer put
// it), as KContacts reads it.
QString unescape(const QString& text) {
    if (!text.contains(QLatin1Char('\\')))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        QChar ch = text.at(i);
        if (ch == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text.at(i + 1);
            if (next == QLatin1Char('n') || next == QLatin1Char('N')) {
                ch = QLatin1Char('\n');
                ++i;
            } else if (next == QLatin1Char('\\') || next == QLatin1Char(',') ||
                       next == QLatin1Char(';') || next == QLatin1Char(':')) {
                ch = next;
                ++i;
            }
        }
        out.append(ch);
    }
    return out;
}

// The components of a structured value, cut at unescaped ";". In 3.0 and 4.0 each is unescaped
// as text. In 2.1 a backslash makes ";" literal, and writers' "\n", "\\" and "\," are read as
// in 3.0 (writers of 2.1 put address lines so); before anything else the backslash is text, as
// 2.1 has no other escape ("C:\temp").
QStringList splitParts(const QString& raw, bool escapes) {
    QStringList out;
    QString cur;
    for (int i = 0; i < raw.size(); ++i) {
        const QChar ch = raw.at(i);
        if (ch == QLatin1Char('\\') && i + 1 < raw.size()) {
            const QChar next = raw.at(++i);
            if (escapes) {
                cur.append(ch);
                cur.append(next);
            } else if (next == QLatin1Char('n') || next == QLatin1Char('N')) {
                cur.append(QLatin1Char('\n'));
            } else if (next == QLatin1Char(';') || next == QLatin1Char('\\') ||
                       next == QLatin1Char(',')) {
                cur.append(next);
            } else {
                cur.append(ch);
                cur.append(next);
            }
        } else if (ch == QLatin1Char(';')) {
            out.append(escapes ? unescape(cur) : cur);
            cur.clear();
        } else {
            cur.append(ch);
        }
    }
    if (!cur.isEmpty())
        out.append(escapes ? unescape(cur) : cur);
    return out;
}

static bool looksBase64(const QByteArray& v) {
    if (v.size() < 16)
        return false;
    for (char ch : v) {
        const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                        (ch >= '0' && ch <= '9') || ch == '+' || ch == '/' || ch == '=' ||
                        ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
        if (!ok)
            return false;
    }
    return true;
}

// The photo bytes of a PHOTO line: Base64 already decoded by the codec; the payload of a
// "data:" URI (vCard 4.0; Nextcloud and khard escape its comma as in text, "base64\,"); Base64
// text written without an ENCODING parameter. A link to elsewhere carries no picture.
bool photoBytes(const QVCardParser::_Property& prop, QByteArray& out) {
    QByteArray v = prop.value.trimmed();
    if (v.left(5).toLower() == "data:") {
        v.replace("\\,", ",").replace("\\;", ";").replace("\\:", ":");
        const int comma = v.indexOf(',');
        if (comma < 0 || !v.left(comma).toLower().endsWith(";base64"))
            return false;
        out = QByteArray::fromBase64(v.mid(comma + 1));
        return !out.isEmpty();
    }
    const QByteArray lower = v.left(8).toLower();
    if (lower.startsWith("http://") || lower.startsWith("https://") || lower.startsWith("file:"))
        return false;
    if (v.isEmpty())
        return false;
    const bool encoded = prop.params.contains(QStringLiteral("ENCODING")) ||
                         prop.params.contains(QStringLiteral("BASE64")) ||
                         prop.params.contains(QStringLiteral("B"));
    if (!encoded && looksBase64(v)) {
        out = QByteArray::fromBase64(v);
        return !out.isEmpty();
    }
    out = prop.value;
    return true;
}

}  // namespace vcardvalues
