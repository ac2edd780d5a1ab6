// What KDE's KContacts reads from a card, in the shape the tests compare our contacts in.
#pragma once

#include "foreign_util.h"

#include <KContacts/Addressee>

#include <QRegExp>

inline QString joinedStreet(const KContacts::Address& a) {
    QStringList parts;
    for (const QString& p : {a.postOfficeBox(), a.extended(), a.street()}) {
        if (!p.trimmed().isEmpty())
            parts << p;
    }
    return parts.join('\n');
}

// What KContacts reads, in the shape of our contact's fields.
inline ContactView kcontactsView(const KContacts::Addressee& a) {
    ContactView v;
    v.family = a.familyName();
    v.given = a.givenName();
    v.middle = a.additionalName();
    v.prefix = a.prefix();
    v.suffix = a.suffix();
    // A 4.0 "tel:" URI is stored as its number.
    for (const KContacts::PhoneNumber& p : a.phoneNumbers())
        v.phones << p.number().trimmed().remove(QRegExp("^tel:"));
    for (const QString& e : a.emails())
        v.emails << e.trimmed();
    for (const KContacts::Address& ad : a.addresses()) {
        v.addresses << QStringList{joinedStreet(ad), ad.locality(), ad.region(), ad.postalCode(),
                                   ad.country()}
                           .join('|');
    }
    // KContacts' year-less date has the year -1; this program's, like the phone's, 1604.
    if (a.birthday().isValid()) {
        v.birthday = a.birthday().date();
        if (v.birthday.year() == -1)
            v.birthday.setDate(1604, v.birthday.month(), v.birthday.day());
    }
    v.note = a.note();
    v.org = a.organization();
    v.department = a.department();
    v.title = a.title();
    for (const KContacts::ResourceLocatorUrl& u : a.extraUrlList())
        v.urls << u.url().toString();
    if (a.photo().isIntern())
        v.photo = a.photo().rawData();
    return v;
}
