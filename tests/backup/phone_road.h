// What the phone road stores for a date the phone sends: a contact record's "birthday" and a
// date record's "value", read by the device records code as a sync session reads them.
#pragma once

#include "device/plistcftype.h"
#include "device/workers/contactrecords.h"

#include "store/pim.h"

#include <QByteArray>
#include <QString>

#include <cstring>

namespace phoneroad {

// A date node of exactly these seconds from 2001-01-01 UTC, also outside the 32 bits of
// libplist's date accessors (years 1604 and 1901): a binary property list of one date object.
inline PlistCFType dateNode(double seconds) {
    QByteArray bin("bplist00", 8);
    quint64 bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    bin.append(char(0x33));
    for (int i = 7; i >= 0; --i)
        bin.append(char((bits >> (8 * i)) & 0xff));
    bin.append(char(8));  // offset table: the one object, right after the header
    QByteArray trailer(32, '\0');
    trailer[6] = 1;   // offset size
    trailer[7] = 1;   // object reference size
    trailer[15] = 1;  // one object
    trailer[31] = char(8 + 9);
    bin.append(trailer);
    return PlistCFType::createCFPropertyList(bin);
}

// The birthday text the phone road stores for a contact record with this date.
inline QString birthday(double seconds) {
    PlistCFType record = PlistCFType::createCFDictionary();
    record.put(QStringLiteral("first name"), PlistCFType::createCFString(QStringLiteral("A")));
    record.put(QStringLiteral("birthday"), dateNode(seconds));
    const pim::_Contact c = contactrecords::contactFromRecord(QStringLiteral("1"), record);
    return c.entities.value(pim::ENTITY_EVENT).value(0).text(QStringLiteral("data1"));
}

// The text of a date record ("com.apple.contacts.Date") with this value.
inline QString dateValue(double seconds) {
    PlistCFType record = PlistCFType::createCFDictionary();
    record.put(QStringLiteral("value"), dateNode(seconds));
    record.put(QStringLiteral("type"), PlistCFType::createCFString(QStringLiteral("anniversary")));
    return contactrecords::childEntity(pim::ENTITY_EVENT, QStringLiteral("2"), record)
        .text(QStringLiteral("data1"));
}

}  // namespace phoneroad
