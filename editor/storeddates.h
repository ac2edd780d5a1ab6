// The date texts the store keeps for date entities, read and shown. The date row editor, the
// display pane and the HTML export share them, so they hold no widgets.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

class StoredDates {
public:
    // A stored ISO 8601 date text with its date and time as written (invalid when it is no
    // such text). Unlike a plain parse in local time, a day whose local midnight does not exist
    // keeps its 00:00.
    static QDateTime parseStoredDate(const QString& text);
    // Phones keep a date without a year (a birthday whose year is not known) in this year.
    static const int kNoYear = 1604;
    // The date as the user reads it: a date without a year shows day and month only.
    static QString displayDate(const QDate& date, QLocale::FormatType format);
};
