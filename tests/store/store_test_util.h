// Helpers shared by the store tests.
#pragma once

#include "store/localdb.h"

#include <QTemporaryDir>

#include <memory>

inline pim::Entity makeEntity(std::initializer_list<std::pair<const char*, QVariant> > kv) {
    pim::Entity e;
    for (const auto& p : kv)
        e.fields.insert(QLatin1String(p.first), p.second);
    return e;
}

inline pim::_Contact makeContact(const QString& name,
                                 std::initializer_list<std::pair<int, pim::Entity> > es = {}) {
    pim::_Contact c(0, QString(), name);
    for (const auto& p : es)
        c.entities[p.first].append(p.second);
    return c;
}

// A fresh database from the template in a temporary folder.
struct TempDb {
    explicit TempDb(AbsContactCombineRule* rule = new LocalDbCombineRule, const char* name = "t.db")
        : path(dir.filePath(QLatin1String(name))),
          db(new LocalDb(path, QSharedPointer<AbsContactCombineRule>(rule))) {
        db->create();
    }
    int count(const QString& sql) {
        Sqlite3Cursor c = db->db().queryThrow(sql);
        return c.moveNext() ? c.getInt(0) : -1;
    }
    // Every row of a query, its cells as text joined by '|'.
    QStringList rows(const QString& sql) {
        QStringList out;
        Sqlite3Cursor c = db->db().queryThrow(sql);
        while (c.moveNext()) {
            QStringList cells;
            for (int i = 0; i < c.columnCount(); ++i)
                cells << c.getText(i);
            out << cells.join('|');
        }
        return out;
    }
    QTemporaryDir dir;
    QString path;
    std::unique_ptr<LocalDb> db;
};
