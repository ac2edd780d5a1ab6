#include "benchbook.h"

#include "bench/benchphoto.h"

#include <QFile>
#include <QStringList>
#include <QVector>

namespace benchbook {

namespace {

const char* const kFirst[] = {"James",  "Mary", "Jürgen", "Zoë",    "Wei",  "Aisha",
                              "Carlos", "Olga", "Kenji",  "Fatima", "Liam", "Sofía"};
const char* const kLast[] = {"Smith",     "Müller", "García", "Nguyen", "O'Brien", "Kowalski",
                             "Johansson", "Rossi",  "Tanaka", "Dubois", "Novak",   "Silva"};

QByteArray csvCell(const QByteArray& v) {
    if (!v.contains(',') && !v.contains('"') && !v.contains('\n'))
        return v;
    QByteArray q = v;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

// Base64 folded at 74 columns with a leading space, as vCard 3.0 writers fold.
QByteArray folded(const QByteArray& bytes) {
    const QByteArray b64 = bytes.toBase64();
    QByteArray out;
    for (int k = 0; k < b64.size(); k += 74) {
        if (k)
            out += "\r\n ";
        out += b64.mid(k, 74);
    }
    return out;
}

}  // namespace

Person person(int i) {
    Person p;
    const QByteArray n = QByteArray::number(i);
    p.first = kFirst[i % 12];
    p.last = QByteArray(kLast[(i / 12) % 12]) + n;
    p.company = "Example Corp " + QByteArray::number(i % 97);
    p.title = "Account Manager";
    p.mobile = "+1 555 " + QByteArray::number(1000000 + i);
    p.work = "+1 555 " + QByteArray::number(2000000 + i);
    p.email = "person." + n + "@example.com";
    p.street = n + " Main Street";
    p.city = "Springfield";
    p.zip = "62701";
    p.country = "USA";
    p.url = "https://example.com/people/" + n;
    if (i % 2 == 0)
        p.birthday = "19" + QByteArray::number(50 + i % 50) + "-0" + QByteArray::number(1 + i % 9) +
                     "-1" + QByteArray::number(i % 10);
    if (i % 3 == 0)
        p.note = "Met at the conference in " + QByteArray::number(2000 + i % 20) +
                 ", follow up about the renewal.";
    p.photo = benchphoto::hasPhoto(i);
    return p;
}

QByteArray vcard(int n) {
    QVector<QByteArray> photos;
    for (int k = 0; k < 64; ++k)
        photos << folded(benchphoto::forContact(k));
    QByteArray out;
    out.reserve(n * 21000);
    for (int i = 0; i < n; ++i) {
        const Person p = person(i);
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += "N:" + p.last + ";" + p.first + ";;;\r\n";
        out += "FN:" + p.first + " " + p.last + "\r\n";
        out += "ORG:" + p.company + "\r\nTITLE:" + p.title + "\r\n";
        out += "TEL;TYPE=CELL:" + p.mobile + "\r\n";
        out += "TEL;TYPE=WORK,VOICE:" + p.work + "\r\n";
        out += "EMAIL;TYPE=INTERNET,WORK:" + p.email + "\r\n";
        out +=
            "ADR;TYPE=HOME:;;" + p.street + ";" + p.city + ";;" + p.zip + ";" + p.country + "\r\n";
        out += "URL:" + p.url + "\r\n";
        if (!p.birthday.isEmpty())
            out += "BDAY:" + p.birthday + "\r\n";
        if (!p.note.isEmpty()) {
            QByteArray note = p.note;
            out += "NOTE:" + note.replace(",", "\\,") + "\r\n";
        }
        if (p.photo)
            out += "PHOTO;ENCODING=b;TYPE=JPEG:" + photos.at(i % photos.size()) + "\r\n";
        out += "END:VCARD\r\n";
    }
    return out;
}

QByteArray csv(int n) {
    QByteArray out =
        "First Name,Last Name,Company,Job Title,Mobile Phone,Business Phone,E-mail Address,"
        "Home Street,Home City,Home Postal Code,Home Country,Web Page,Birthday,Notes\r\n";
    for (int i = 0; i < n; ++i) {
        const Person p = person(i);
        const QByteArray cells[] = {p.first,   p.last,  p.company,  p.title, p.mobile,
                                    p.work,    p.email, p.street,   p.city,  p.zip,
                                    p.country, p.url,   p.birthday, p.note};
        bool first = true;
        for (const QByteArray& c : cells) {
            if (!first)
                out += ',';
            first = false;
            out += csvCell(c);
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace benchbook
