// Reading the values of vCard lines: dates, escaped text, structured values and photos.
#ifndef TW_IMPORT_VCARDVALUES_H
#define TW_IMPORT_VCARDVALUES_H

#include "qvcardparser.h"

#include <QDateTime>

namespace vcardvalues {

// A date of BDAY, X-EVENT, X-ABDATE or ANNIVERSARY: ISO 8601 in its basic or extended form,
// with or without a time; a date without a year (--MMDD, --MM-DD) takes the year 1604, which
// the phone itself uses for "no year". Anything else gives an invalid date-time.
QDateTime readDate(const QString& raw);

// vCard text escapes undone: \n or \N is a line break; \\, \, \; and \: stand for the
// character; a backslash before anything else stays.
QString unescape(const QString& text);

// The components of a structured value, cut at unescaped ";" (see the definition).
QStringList splitParts(const QString& raw, bool escapes);

// The photo bytes of a PHOTO line; false when it carries no picture (a link, nothing).
bool photoBytes(const QVCardParser::_Property& prop, QByteArray& out);

}  // namespace vcardvalues

#endif
