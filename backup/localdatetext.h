// Dates of an address book (seconds from 2001-01-01 00:00:00 UTC) as the ISO 8601 local date
// and time text the store keeps, exactly as QDateTime writes them in local time.
#pragma once

#include <QString>

class LocalDateText {
public:
    // Takes the time zone as it is now; a change of zone later is not seen by this one.
    LocalDateText();

    // Empty where QDateTime has nothing to show (beyond a few million years, before year 1).
    QString text(long long seconds) const;

private:
    // Seconds west of UTC of the zone's standard time, which QDateTime applies before 1970.
    long m_standardWest;
};
