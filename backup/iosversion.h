// A dotted system version number ("10.3.1"): parse, compare, print.
#pragma once

#include <QList>
#include <QString>

struct _IOSVersion {
    explicit _IOSVersion(const QString& text);
    // Negative, 0 or positive as this version is lower, equal or higher.
    int compare(const _IOSVersion& other) const;
    QString toString() const;

    QList<int> numbers;
};
