#include "devicerecordkeys.h"

#include "localdb.h"

namespace devicerecordkeys {

void prepare(LocalDb& db) {
    db.open_check();
    db.db().executeThrow(Sqlite3Sql(
        "create table if not exists device_record_keys(src_id text primary key, keys blob)"));
}

void keep(LocalDb& db, const QString& recordId, const QByteArray& keys) {
    db.open_check();
    Sqlite3Sql sql("insert or replace into device_record_keys(src_id,keys) values(?,?)");
    sql.addTextParam(recordId);
    sql.addBlobParam(keys);
    db.db().executeThrow(sql);
}

QByteArray of(LocalDb& db, const QString& recordId) {
    if (recordId.isEmpty()) {
        return QByteArray();
    }
    prepare(db);
    Sqlite3Sql sql("select keys from device_record_keys where src_id=?");
    sql.addTextParam(recordId);
    Sqlite3Cursor cur = db.db().queryThrow(sql);
    return cur.moveNext() ? cur.getBlob(0) : QByteArray();
}

}  // namespace devicerecordkeys
