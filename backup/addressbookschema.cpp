#include "addressbookschema.h"

#include "platform/sqlite/sqlite3db.h"

namespace addressbookschema {

bool hasTable(Sqlite3DB& db, const char* table) {
    Sqlite3Sql sql("select 1 from sqlite_master where type = 'table' and name = ? collate nocase");
    sql.addTextParam(QLatin1String(table));
    Sqlite3Cursor c = db.queryThrow(sql);
    return c.moveNext();
}

bool hasColumn(Sqlite3DB& db, const char* table, const char* column) {
    Sqlite3Sql sql("select 1 from pragma_table_info(?) where name = ? collate nocase");
    sql.addTextParam(QLatin1String(table));
    sql.addTextParam(QLatin1String(column));
    Sqlite3Cursor c = db.queryThrow(sql);
    return c.moveNext();
}

}  // namespace addressbookschema
