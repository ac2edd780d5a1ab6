// Per entity type: the columns of its rows and the statements that write them, composed once.
#pragma once

#include "pim.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace entitycolumns {

struct TypeInfo {
    enum Kind { TEXT, BLOB, PHOTO_HASH };
    QStringList cols;
    QVector<Kind> kinds;     // how each of `cols` is written
    QStringList heldKeys;    // the keys a written entity holds afterwards (all but a hash),
                             // in field-map order
    QStringList sortedCols;  // the same keys in field-map order, for appending inserts
    QString insertSql;
    QString updateSql;
};

// The order of two field keys as QString's operators order them (by UTF-16 code unit), inline:
// the row writes compare every key of every detail, and keys are a few characters long.
inline int keyOrder(const QString& a, const QString& b) {
    const QChar* pa = a.constData();
    const QChar* pb = b.constData();
    if (pa == pb)
        return 0;
    const int n = qMin(a.size(), b.size());
    for (int i = 0; i < n; ++i) {
        if (pa[i] != pb[i])
            return pa[i].unicode() < pb[i].unicode() ? -1 : 1;
    }
    return a.size() - b.size();
}

// The columns of an entity type; null for a type the store does not know.
const TypeInfo* typeInfo(int type);

// Gives every entity of a known type the keys its row holds (heldKeys), as null values where
// it lacks them. A merge reads a null value as it reads an absent one, and a new entity whose
// fields are then just what its row gets shares the incoming map instead of copying it: a
// reading thread can do this ahead of the merges.
void holdRowKeys(pim::_Contact& contact);
// The same for one entity of the type.
void holdRowKeys(int type, pim::Entity& entity);

}  // namespace entitycolumns
