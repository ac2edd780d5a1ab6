// Dates of an address book (seconds from 2001-01-01 00:00:00 UTC) as the text the store keeps,
// by the rule the phone road reads them with: the date's wall-clock fields in UTC are the
// fields kept, so a birthday keeps the calendar day the phone shows in every time zone. Only
// where those fields do not exist on this computer's clock (skipped by a change to summer time)
// do they move forward past the gap, as the phone road's do.
#pragma once

#include <QString>

#include <utility>
#include <vector>

class DateText {
public:
    // Takes the time zone as it is now; a change of zone later is not seen by this one.
    DateText();

    // Empty where QDateTime has nothing to show (beyond a few million years, before year 1).
    QString text(long long seconds) const;

    // The same text through QDateTime, one zone lookup per date: what the phone road does.
    static QString viaQDateTime(long long seconds);

private:
    // True when the wall-clock second (counted from 1970 as if in UTC) may be one the local
    // clock skips.
    bool mayBeSkipped(long long wallSeconds) const;

    // The local clock's skipped wall-clock seconds [first, end) where QDateTime asks the C
    // library (1970 to 2037), in ascending order; found once.
    std::vector<std::pair<long long, long long> > m_skipped;
};
