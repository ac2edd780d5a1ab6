#include "remapreply.h"

#include <QCoreApplication>
#include <QList>
#include <stdexcept>

#include "device/plistcftype.h"
#include "store/localdb.h"

namespace remapreply {

namespace {

// Only string values that name an id count; anything else is ignored.
QString idValue(const PlistCFType& value) {
    return value.isCFString() ? value.CFStringQString() : QString();
}

// The row id of a contact key "-<digits>", or 0.
unsigned long long contactRowIdOf(const QString& key) {
    if (key.size() < 2 || key.at(0) != QLatin1Char('-')) {
        return 0;
    }
    for (int i = 1; i < key.size(); ++i) {
        if (!key.at(i).isDigit()) {
            return 0;
        }
    }
    bool ok = false;
    const unsigned long long id = key.midRef(1).toULongLong(&ok);
    return ok ? id : 0;
}

}  // namespace

unsigned long long childRowIdOf(const QString& recordId) {
    // "<code>/<contact>/-<row id>", anywhere in the text. The contact part is a device id
    // (digits), or still a provisional contact id when the device did not remap the contact.
    // Read by hand: a restore asks this of every record it sends and every id it gets back.
    const int last = recordId.lastIndexOf(QLatin1Char('/'));
    if (last < 0 || last + 2 >= recordId.size() || recordId.at(last + 1) != QLatin1Char('-')) {
        return 0;
    }
    int end = last + 2;
    while (end < recordId.size() && recordId.at(end).isDigit()) {
        ++end;
    }
    const int mid = recordId.lastIndexOf(QLatin1Char('/'), last - 1);
    if (mid < 1 || !recordId.at(mid - 1).isDigit()) {
        return 0;
    }
    for (int i = mid + 1; i < last; ++i) {
        const QChar ch = recordId.at(i);
        if (!ch.isDigit() && !(i == mid + 1 && ch == QLatin1Char('-'))) {
            return 0;
        }
    }
    bool ok = false;
    const unsigned long long id = recordId.midRef(last + 2, end - last - 2).toULongLong(&ok);
    return ok ? id : 0;
}

void checkNewIdsGiven(const PlistCFType& records, const PlistCFType& remap) {
    int missing = 0;
    records.dict_foreach([&](const char* key, const PlistCFType& record) {
        const QString id = QString::fromUtf8(key);
        const bool provisional = id.startsWith(QLatin1Char('-')) || childRowIdOf(id) != 0;
        if (provisional && record.isCFDictionary() && idValue(remap.get(id)).isEmpty()) {
            ++missing;
        }
    });
    if (missing > 0) {
        throw std::runtime_error(
            QCoreApplication::translate(
                "IOSSyncToDeviceThread",
                "The phone gave no record id to %n new record(s) sent to it, so they cannot be "
                "kept in step with the phone. Nothing more was sent.",
                nullptr, missing)
                .toStdString());
    }
}

QMap<unsigned long long, QString> contactIdsGiven(const PlistCFType& remap,
                                                  const QSet<unsigned long long>& offered) {
    QMap<unsigned long long, QString> given;
    remap.dict_foreach([&](const char* key, const PlistCFType& value) {
        const unsigned long long rowId = contactRowIdOf(QString::fromUtf8(key));
        if (rowId == 0 || !offered.contains(rowId)) {
            return;
        }
        const QString newId = idValue(value);
        if (!newId.isEmpty()) {
            given[rowId] = newId;
        }
    });
    return given;
}

QList<QPair<unsigned long long, QString>> entityIdsGiven(const PlistCFType& remap,
                                                         const QSet<unsigned long long>& offered) {
    QList<QPair<unsigned long long, QString>> given;
    remap.dict_foreach([&](const char* key, const PlistCFType& value) {
        const unsigned long long rowId = childRowIdOf(QString::fromUtf8(key));
        if (rowId == 0 || !offered.contains(rowId)) {
            return;
        }
        const QString newId = idValue(value);
        if (!newId.isEmpty()) {
            given.append(qMakePair(rowId, newId));
        }
    });
    return given;
}

QMap<unsigned long long, QString> applyContactIds(const PlistCFType& remap,
                                                  const QSet<unsigned long long>& offered,
                                                  LocalDb& db) {
    const QMap<unsigned long long, QString> given = contactIdsGiven(remap, offered);
    for (auto it = given.constBegin(); it != given.constEnd(); ++it) {
        db.updateContactBaseSrcId(it.key(), it.value());
    }
    return given;
}

void applyEntityIds(const PlistCFType& remap, const QSet<unsigned long long>& offered,
                    LocalDb& db) {
    for (const auto& given : entityIdsGiven(remap, offered)) {
        db.updateEntitySrcId(given.first, given.second);
    }
}

QString applyOwnContactId(const PlistCFType& remap, const QString& sentId, unsigned long long rowId,
                          LocalDb& db) {
    if (remap.dict_size() == 0) {
        return QString();
    }
    PlistCFType value = remap.get(sentId);
    if (value.isNull()) {
        const QList<PlistCFType> keys = remap.dict_keys();
        value = remap.get(keys.first());
    }
    const QString newId = idValue(value);
    if (!newId.isEmpty()) {
        db.updateContactBaseSrcId(rowId, newId);
    }
    return newId;
}

}  // namespace remapreply
