// A backup's dates must come out as the phone road stores the same instant, in zones with summer
// time, half-hour offsets, southern seasons, clocks that skip midnight or a whole day, also
// before 1970 and after 2037.
#include "backup/datetext.h"
#include "phone_road.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QRandomGenerator>

#include <ctime>
#include <limits>

namespace {

const long long kReference = 978307200;

class ZoneScope {
public:
    explicit ZoneScope(const char* zone) : m_had(qEnvironmentVariableIsSet("TZ")) {
        m_old = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope() {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};

// Seconds from 2001 of a UTC date and time.
long long at(int year, int month, int day, int hour = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, 0), Qt::UTC).toSecsSinceEpoch() -
           kReference;
}

}  // namespace

TEST(DateText, WritesWhatThePhoneRoadStoresInEveryZone) {
    const char* const zones[] = {
        "UTC",
        "Pacific/Pago_Pago",    // UTC-11
        "America/New_York",     // summer time at 02:00
        "Europe/Berlin",        // summer time at 02:00, long history
        "Asia/Kolkata",         // half an hour
        "Pacific/Auckland",     // southern summer, UTC+13
        "Pacific/Kiritimati",   // UTC+14, skipped 1994-12-31 whole
        "Australia/Lord_Howe",  // half-hour summer time
        "America/Santiago",     // skips midnight
        "America/Havana",       // skips midnight
        "Asia/Beirut",          // skips midnight
        "Pacific/Apia",         // skipped 2011-12-30 whole
    };
    // Nights of clock changes, old and new, north and south; the edges where QDateTime changes
    // its way (1970, 2038, year 1); days phones write for birthdays without a year (1604) and
    // the days skipped whole.
    QList<long long> starts;
    for (int year : {1604, 1969, 1970, 1971, 1996, 2001, 2007, 2024, 2036, 2037, 2038, 2040}) {
        for (int month : {3, 4, 9, 10, 11})
            starts << at(year, month, year % 7 + 1);
    }
    starts << at(1, 1, 1) << at(1, 1, 3) << at(1970, 1, 1) << at(2037, 12, 31) << at(1900, 1, 1)
           << at(1994, 12, 31) << at(2011, 12, 30) << at(1604, 12, 31) << at(1986, 8, 8)
           << at(2023, 9, 3) << at(2008, 3, 30) << at(9999, 12, 30);
    QRandomGenerator random(20261209);
    for (const char* zone : zones) {
        SCOPED_TRACE(zone);
        ZoneScope scope(zone);
        // A zone missing from the system would quietly be UTC and prove nothing.
        if (QByteArray(zone) != "UTC") {
            ASSERT_NE(QDateTime(QDate(2024, 7, 1), QTime(0, 0), Qt::UTC).toLocalTime().time(),
                      QTime(0, 0));
        }
        const DateText dates;
        int mismatches = 0;
        auto check = [&](long long s, const QString& want) {
            const QString got = dates.text(s);
            if (got != want && ++mismatches <= 5)
                ADD_FAILURE() << s << ": " << got.toStdString() << " instead of "
                              << want.toStdString();
        };
        auto checkBoth = [&](long long s) {
            const QString want = phoneroad::birthday(double(s));
            check(s, want);
            // The slow road is the same rule.
            if (DateText::viaQDateTime(s) != want && ++mismatches <= 5)
                ADD_FAILURE() << s << " (one by one): " << DateText::viaQDateTime(s).toStdString();
        };
        // Every quarter hour over two days around each named day.
        for (long long start : starts) {
            for (long long s = start - 86400; s <= start + 2 * 86400; s += 900)
                checkBoth(s);
        }
        for (int i = 0; i < 5000; ++i)
            checkBoth(random.bounded(-64000000000.0) + 3000000000.0);
        // Dates as phones store them: midnight and noon UTC, every day of a leap year with and
        // without a year; date values as the birthday.
        for (int year : {1604, 1986, 2024}) {
            for (QDate d(year, 1, 1); d.year() == year; d = d.addDays(1)) {
                for (int hour : {0, 12}) {
                    const long long s = at(year, d.month(), d.day(), hour);
                    const QString want = phoneroad::birthday(double(s));
                    check(s, want);
                    EXPECT_EQ(want.left(10), d.toString(Qt::ISODate));
                    if (d.day() == 1) {
                        EXPECT_EQ(phoneroad::dateValue(double(s)), want);
                    }
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_TRUE(dates.text(100000000000001LL).isEmpty());
        EXPECT_TRUE(dates.text(std::numeric_limits<long long>::min()).isEmpty());
    }
}
