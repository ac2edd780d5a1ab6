// Shared by the tests over other programs' files: where the shared test data lies, a contact
// seen as the fields those tests compare, and a reporter that counts.
#pragma once

#include "import/importrun.h"

#include "store/pim.h"

#include <QDate>
#include <QRegExp>
#include <QStringList>

#include <QDir>

inline QString testDataDir() {
    return QDir::cleanPath(QStringLiteral(TW_TESTDATA_DIR));
}

// The fields compared with another reader, in one shape.
struct ContactView {
    QString family, given, middle, prefix, suffix;
    QStringList phones, emails, addresses, urls;
    QDate birthday;
    QString note, org, department, title;
    QByteArray photo;
};

inline ContactView ourView(const pim::_Contact& c) {
    ContactView v;
    const QList<pim::Entity> names = c.entities.value(pim::ENTITY_NAME);
    if (!names.isEmpty()) {
        v.family = names[0].text("data3");
        v.given = names[0].text("data2");
        v.middle = names[0].text("data4");
        v.prefix = names[0].text("data5");
        v.suffix = names[0].text("data6");
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
        v.phones << e.text("data1");
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EMAIL))
        v.emails << e.text("data1");
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_ADDR)) {
        v.addresses << QStringList{e.text("data4"), e.text("data7"), e.text("data8"),
                                   e.text("data9"), e.text("data10")}
                           .join('|');
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
        if (e.text("data2") == "3")
            v.birthday = e.fields.value("data1").toDateTime().date();
    }
    const QList<pim::Entity> notes = c.entities.value(pim::ENTITY_NOTES);
    if (!notes.isEmpty())
        v.note = notes[0].text("data1");
    const QList<pim::Entity> orgs = c.entities.value(pim::ENTITY_ORG);
    if (!orgs.isEmpty()) {
        v.org = orgs[0].text("data1");
        v.department = orgs[0].text("data5");
        v.title = orgs[0].text("data4");
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_URL))
        v.urls << e.text("data1");
    const QList<pim::Entity> photos = c.entities.value(pim::ENTITY_PHOTO);
    if (!photos.isEmpty())
        v.photo = photos[0].fields.value("data15").toByteArray();
    return v;
}

// "field: ours | theirs" for every field that differs; lists compare as sets in order.
inline QStringList differences(const ContactView& a, const ContactView& b) {
    QStringList out;
    auto cmp = [&out](const char* field, const QString& x, const QString& y) {
        if (x != y)
            out << QString("%1: [%2] | [%3]").arg(field, x, y);
    };
    cmp("name", a.family, b.family);
    cmp("name", a.given, b.given);
    cmp("name", a.middle, b.middle);
    cmp("name", a.prefix, b.prefix);
    cmp("name", a.suffix, b.suffix);
    QStringList pa = a.phones, pb = b.phones, ea = a.emails, eb = b.emails;
    QStringList aa = a.addresses, ab = b.addresses, ua = a.urls, ub = b.urls;
    for (QStringList* l : {&pa, &pb, &ea, &eb, &aa, &ab, &ua, &ub})
        l->sort();
    cmp("phone", pa.join(", "), pb.join(", "));
    cmp("email", ea.join(", "), eb.join(", "));
    cmp("address", aa.join(" ; "), ab.join(" ; "));
    cmp("url", ua.join(", "), ub.join(", "));
    cmp("date", a.birthday.toString(Qt::ISODate), b.birthday.toString(Qt::ISODate));
    cmp("note", a.note, b.note);
    cmp("org", a.org, b.org);
    cmp("org", a.department, b.department);
    cmp("org", a.title, b.title);
    if (a.photo != b.photo)
        out << QString("photo: %1 bytes | %2 bytes").arg(a.photo.size()).arg(b.photo.size());
    return out;
}

struct CountingReporter : ImportReporter {
    // Progress is throttled: the last report says how far the run went.
    QString lastCounter;
    QStringList succeeded, errors;
    bool cancelled() override { return false; }
    void progress(QString, int, QString text) override { lastCounter = text; }
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

// Contacts stored new plus merged, read from the closing text's numbers.
inline int storedPlusMerged(const QString& closing) {
    QRegExp re("IMPORT_(\\d+)_CONTACTS_TO_DB(_(\\d+)_MERGED)?");
    if (re.indexIn(closing) < 0)
        return -1;
    return re.cap(1).toInt() + re.cap(3).toInt();
}
