#include "storeddates.h"

#include <QRegExp>

QDateTime StoredDates::parseStoredDate(const QString& text) {
    // Read in a zone without daylight saving, so that a local time that does not exist (a clock
    // change at midnight) neither fails nor moves; a text with its own zone keeps it.
    const QString t = text.trimmed();
    if (t.size() == 10) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        return d.isValid() ? QDateTime(d, QTime(0, 0), Qt::UTC) : QDateTime();
    }
    const QDateTime utc = QDateTime::fromString(t + QLatin1Char('Z'), Qt::ISODate);
    if (utc.isValid())
        return utc;
    return QDateTime::fromString(t, Qt::ISODate);
}

QString StoredDates::displayDate(const QDate& date, QLocale::FormatType format) {
    const QLocale locale = QLocale::system();
    if (date.year() != kNoYear)
        return locale.toString(date, format);
    // The locale's own form with the year and the separator beside it taken out.
    QString f = locale.dateFormat(format);
    f.remove(QRegExp(QStringLiteral("^y+[^dM]*")));
    f.remove(QRegExp(QStringLiteral("[^dM]*y+$")));
    f.replace(QRegExp(QStringLiteral("([^dMy]*)y+[^dMy]*")), QStringLiteral("\\1"));
    return locale.toString(date, f.trimmed());
}
