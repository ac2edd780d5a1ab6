#include "datetext.h"

#include "store/pim.h"

#include <QDate>
#include <QDateTime>

#include <algorithm>
#include <ctime>

namespace {

const long long kReference = 978307200;  // 2001-01-01 00:00:00 UTC, from 1970
const long long kDay = 86400;
// QDateTime asks the C library for local time from 1970 to this second (2037-12-31 23:59:59
// UTC) and takes the zone's standard offset before, where no time is skipped; near both edges,
// and after, it does more, so those dates go through it.
const long long kLocaltimeLast = 2145916799;
const long long kEdge = 2 * kDay;
// 0001-01-01 and 10000-01-01 00:00:00 UTC, from 1970: "yyyy" writes four digits between.
const long long kFirstYear = -62135596800LL;
const long long kYearTenThousand = 253402300800LL;

long offsetAt(long long t) {
    const time_t tt = static_cast<time_t>(t);
    tm local;
    return localtime_r(&tt, &local) ? local.tm_gmtoff : 0;
}

void put(QChar*& out, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
    out += digits;
}

// "yyyy-MM-ddTHH:mm:ss" of a count of seconds from 1970 read as UTC.
QString isoText(long long wall) {
    long long days = wall / kDay;
    long long rest = wall % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    const QDate date = QDate::fromJulianDay(2440588 + days);
    QString s(19, Qt::Uninitialized);
    QChar* out = s.data();
    put(out, date.year(), 4);
    *out++ = u'-';
    put(out, date.month(), 2);
    *out++ = u'-';
    put(out, date.day(), 2);
    *out++ = u'T';
    put(out, int(rest / 3600), 2);
    *out++ = u':';
    put(out, int(rest / 60 % 60), 2);
    *out++ = u':';
    put(out, int(rest % 60), 2);
    return s;
}

}  // namespace

DateText::DateText() {
    tzset();
    // Every change of offset between 1970 and 2038, found a day at a time and then to the
    // second: a change to a larger offset skips the wall-clock times between the two. One look
    // per import, so that no date needs a zone lookup of its own.
    const long long last = kLocaltimeLast + kDay;
    long before = offsetAt(0);
    for (long long t = 0; t < last; t += kDay) {
        const long after = offsetAt(t + kDay);
        if (after == before)
            continue;
        long long lo = t, hi = t + kDay;  // offset(lo) == before, offset(hi) == after
        while (hi - lo > 1) {
            const long long mid = lo + (hi - lo) / 2;
            (offsetAt(mid) == before ? lo : hi) = mid;
        }
        if (after > before)
            m_skipped.emplace_back(hi + before, hi + after);
        before = after;
    }
}

bool DateText::mayBeSkipped(long long wall) const {
    const auto next = std::upper_bound(
        m_skipped.begin(), m_skipped.end(), wall,
        [](long long w, const std::pair<long long, long long>& gap) { return w < gap.first; });
    return next != m_skipped.begin() && wall < std::prev(next)->second;
}

QString DateText::viaQDateTime(long long seconds) {
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch((kReference + seconds) * 1000, Qt::UTC);
    QDateTime local(utc.date(), utc.time(), Qt::LocalTime);
    // Skipped by a change to summer time (some zones skip midnight): forward past the gap,
    // never back, so that a birthday keeps its calendar day.
    for (int step = 1; !local.isValid() && step <= 6; ++step) {
        const QDateTime later = utc.addSecs(step * 30 * 60);
        local = QDateTime(later.date(), later.time(), Qt::LocalTime);
    }
    if (!local.isValid())
        local = utc.toLocalTime();
    return local.isValid() ? local.toString(QLatin1String(pim::DATE_TIME_FORMAT)) : QString();
}

QString DateText::text(long long seconds) const {
    // Beyond a few million years QDateTime has nothing to show, and the product would overflow.
    const long long limit = 100000000000000LL;
    if (seconds > limit || seconds < -limit)
        return QString();
    const long long wall = kReference + seconds;
    const bool cLibrary = wall >= kEdge && wall <= kLocaltimeLast - kEdge;
    const bool standard = wall <= -kEdge;
    const bool fourDigitYear = wall >= kFirstYear && wall < kYearTenThousand;
    if (fourDigitYear && (standard || (cLibrary && !mayBeSkipped(wall))))
        return isoText(wall);
    return viaQDateTime(seconds);
}
