// The peer of every import figure: the rows a run stores, written by bare SQLite.
#pragma once

#include "store/localdb.h"

#include <sqlite3.h>

#include <QElapsedTimer>
#include <QList>

#include <map>

// What storing costs SQLite alone: the same rows through bare prepared statements (one name
// look-up, one contact insert, one insert per entity) into the same schema, with the same
// settings and the same indexes kept up as the store's bulk edit keeps.
inline double bareWriteSeconds(const QString& path, const QList<pim::_Contact>& contacts) {
    LocalDb(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)).create();
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    // The store's own set-up: the same page cache and the NOCASE name index.
    sqlite3_exec(db,
                 "pragma cache_size=-65536; create index index_contacts_full_name_nocase on "
                 "contact(full_name collate nocase)",
                 nullptr, nullptr, nullptr);
    QElapsedTimer t;
    t.start();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    // Like the store's bulk edit: the indexes that no look-up reads are dropped for the inserts
    // and built again before the commit, so both end with the same indexes.
    QList<QByteArray> deferred;
    {
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db,
                           "select name,sql from sqlite_master where type='index' and name in "
                           "('index_data_data','index_data_src_id','index_contacts_full_name',"
                           "'index_contacts_src_id') and sql is not null",
                           -1, &q, nullptr);
        QList<QByteArray> names;
        while (sqlite3_step(q) == SQLITE_ROW) {
            names << reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
            deferred << reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
        }
        sqlite3_finalize(q);
        for (const QByteArray& n : names)
            sqlite3_exec(db, "drop index " + n, nullptr, nullptr, nullptr);
    }
    sqlite3_stmt *look = nullptr, *ic = nullptr;
    sqlite3_prepare_v2(db, "select _id from contact where full_name collate nocase = ? limit 1", -1,
                       &look, nullptr);
    sqlite3_prepare_v2(db, "insert into contact(src_id,full_name) values('',?)", -1, &ic, nullptr);
    std::map<int, sqlite3_stmt*> stmts;
    for (const pim::_Contact& c : contacts) {
        const QByteArray fn = c.fullName.toUtf8();
        sqlite3_bind_text(look, 1, fn.constData(), fn.size(), SQLITE_STATIC);
        sqlite3_step(look);
        sqlite3_reset(look);
        sqlite3_bind_text(ic, 1, fn.constData(), fn.size(), SQLITE_STATIC);
        sqlite3_step(ic);
        sqlite3_reset(ic);
        const sqlite3_int64 cid = sqlite3_last_insert_rowid(db);
        for (auto e = c.entities.constBegin(); e != c.entities.constEnd(); ++e) {
            const QStringList cols = LocalDb::columnsOfType(e.key());
            if (cols.isEmpty())
                continue;
            sqlite3_stmt*& st = stmts[e.key()];
            if (!st) {
                const QByteArray sql =
                    ("insert into data(contact_id,type,src_id," + cols.join(',') +
                     ") values(?,?,''" + QString(",?").repeated(cols.size()) + ")")
                        .toUtf8();
                sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
            }
            for (const pim::Entity& ent : e.value()) {
                sqlite3_bind_int64(st, 1, cid);
                sqlite3_bind_int(st, 2, e.key());
                int i = 3;
                for (const QString& col : cols) {
                    const QByteArray v = pim::fieldText(ent.fields.value(col)).toUtf8();
                    sqlite3_bind_text(st, i++, v.constData(), v.size(), SQLITE_TRANSIENT);
                }
                sqlite3_step(st);
                sqlite3_reset(st);
            }
        }
    }
    for (const QByteArray& sql : deferred)
        sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const double s = t.nsecsElapsed() / 1e9;
    sqlite3_finalize(look);
    sqlite3_finalize(ic);
    for (auto& st : stmts)
        sqlite3_finalize(st.second);
    sqlite3_close(db);
    return s;
}
