#include "localdatetext.h"

#include <QDate>
#include <QDateTime>

#include <ctime>

namespace {

const long long kReference = 978307200;  // 2001-01-01 00:00:00 UTC, from 1970
const long long kDay = 86400;
// QDateTime applies local time rules by localtime() up to this second (2037-12-31 23:59:59 UTC)
// and the standard offset before 1970; near both edges it does more, so those go through it.
const long long kLocaltimeLast = 2145916799;
const long long kEdge = 2 * kDay;
// 0001-01-01 00:00:00 UTC, from 1970: QDateTime writes no earlier year.
const long long kFirstYear = -62135596800LL;

QString viaQDateTime(long long epochSeconds) {
    return QDateTime::fromMSecsSinceEpoch(epochSeconds * 1000).toString(Qt::ISODate);
}

void put(QChar*& out, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
    out += digits;
}

// "yyyy-MM-ddTHH:mm:ss"
QString isoText(int year, int month, int day, int hour, int minute, int second) {
    QString s(19, Qt::Uninitialized);
    QChar* out = s.data();
    put(out, year, 4);
    *out++ = u'-';
    put(out, month, 2);
    *out++ = u'-';
    put(out, day, 2);
    *out++ = u'T';
    put(out, hour, 2);
    *out++ = u':';
    put(out, minute, 2);
    *out++ = u':';
    put(out, second, 2);
    return s;
}

}  // namespace

LocalDateText::LocalDateText() {
    // QDateTime asks for the zone on every conversion, which reads the zone file's status each
    // time; one look per import is enough and costs a tenth.
    tzset();
    m_standardWest = timezone;
}

QString LocalDateText::text(long long seconds) const {
    // Beyond a few million years QDateTime has nothing to show, and the product would overflow.
    const long long limit = 100000000000000LL;
    if (seconds > limit || seconds < -limit)
        return QString();
    const long long epoch = kReference + seconds;
    if (epoch >= kEdge && epoch <= kLocaltimeLast - kEdge) {
        const time_t t = static_cast<time_t>(epoch);
        tm local;
        if (localtime_r(&t, &local))
            return isoText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec);
    } else if (epoch <= -kEdge && epoch - m_standardWest >= kFirstYear + kEdge) {
        const long long local = epoch - m_standardWest;
        long long days = local / kDay;
        long long rest = local % kDay;
        if (rest < 0) {
            rest += kDay;
            --days;
        }
        const QDate date = QDate::fromJulianDay(2440588 + days);
        return isoText(date.year(), date.month(), date.day(), int(rest / 3600), int(rest / 60 % 60),
                       int(rest % 60));
    }
    return viaQDateTime(epoch);
}
