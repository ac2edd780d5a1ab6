#include "iosversion.h"

#include <QRegExp>
#include <QStringList>

_IOSVersion::_IOSVersion(const QString& text) {
    QRegExp rx(QStringLiteral("\\.?(\\d+)"));
    int pos = 0;
    while ((pos = rx.indexIn(text, pos)) >= 0) {
        bool ok = false;
        const int n = rx.cap(1).toInt(&ok);
        numbers.append(ok ? n : 0);
        pos += qMax(1, rx.matchedLength());
    }
}

int _IOSVersion::compare(const _IOSVersion& other) const {
    const int n = numbers.size();
    const int m = other.numbers.size();
    for (int i = 0; i < n && i < m; ++i) {
        if (numbers.at(i) != other.numbers.at(i)) {
            // Compared in 64 bits: the difference of two large ints would overflow.
            const long long d = static_cast<long long>(numbers.at(i)) - other.numbers.at(i);
            return d > 0 ? (d > INT_MAX ? INT_MAX : int(d)) : (d < INT_MIN ? INT_MIN : int(d));
        }
    }
    return n - m;
}

QString _IOSVersion::toString() const {
    QStringList parts;
    for (int v : numbers)
        parts << QString::number(v);
    return parts.join(QLatin1Char('.'));
}
