// Address-book dates must come out exactly as QDateTime writes them in local time, in zones
// with summer time, half-hour offsets and southern seasons, also before 1970 and after 2037.
#include "backup/localdatetext.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QRandomGenerator>

#include <ctime>

namespace {

const long long kReference = 978307200;

QString expected(long long seconds) {
    return QDateTime::fromMSecsSinceEpoch((kReference + seconds) * 1000).toString(Qt::ISODate);
}

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

TEST(LocalDateText, WritesWhatQDateTimeWritesInEveryZone) {
    const char* const zones[] = {"UTC",
                                 "Europe/Berlin",
                                 "America/New_York",
                                 "Asia/Kolkata",
                                 "Australia/Lord_Howe",
                                 "America/St_Johns",
                                 "Pacific/Chatham",
                                 "Europe/London"};
    // Nights of clock changes, old and new, north and south; the edges where QDateTime changes
    // its way (1970, 2038, year 1); days phones write for birthdays without a year (1604).
    QList<long long> starts;
    for (int year : {1604, 1969, 1970, 1971, 1996, 2001, 2007, 2024, 2036, 2037, 2038, 2040}) {
        for (int month : {3, 4, 9, 10, 11})
            starts << at(year, month, year % 7 + 1);
    }
    starts << at(1, 1, 1) << at(1, 1, 3) << at(1970, 1, 1) << at(2037, 12, 31) << at(1900, 1, 1);
    QRandomGenerator random(20261209);
    for (const char* zone : zones) {
        SCOPED_TRACE(zone);
        ZoneScope scope(zone);
        // A zone missing from the system would quietly be UTC and prove nothing.
        if (QByteArray(zone) != "UTC") {
            ASSERT_NE(expected(at(2024, 7, 1)), QStringLiteral("2024-07-01T00:00:00"));
        }
        const LocalDateText dates;
        int mismatches = 0;
        auto check = [&](long long s) {
            const QString want = expected(s);
            const QString got = dates.text(s);
            if (got != want && ++mismatches <= 5)
                ADD_FAILURE() << s << ": " << got.toStdString() << " instead of "
                              << want.toStdString();
        };
        // Every quarter hour over the first days of each month named, then to their ends.
        for (long long start : starts) {
            for (long long s = start - 3 * 86400; s <= start + 3 * 86400; s += 900)
                check(s);
        }
        for (long long s = at(1970, 1, 1) - 4 * 86400; s <= at(1970, 1, 1) + 4 * 86400; s += 61)
            check(s);
        for (int i = 0; i < 20000; ++i)
            check(random.bounded(-64000000000.0) + 3000000000.0);
        check(0);
        check(-1);
        check(100000000000000LL);
        check(-100000000000000LL);
        EXPECT_EQ(mismatches, 0);
        EXPECT_TRUE(dates.text(100000000000001LL).isEmpty());
        EXPECT_TRUE(dates.text(std::numeric_limits<long long>::min()).isEmpty());
    }
}
