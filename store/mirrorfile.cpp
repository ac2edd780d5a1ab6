#include "mirrorfile.h"

#include "localdb.h"

namespace mirrorfile {

void useLargePages(LocalDb& db) {
    db.open_check();
    Sqlite3DB& sql = db.db();
    {
        Sqlite3Cursor size = sql.queryThrow(Sqlite3Sql("pragma page_size"));
        if (!size.moveNext() || size.getInt(0) >= kPageSize)
            return;
    }
    {
        // Only an empty mirror: rewriting a full one would cost more than its pages save.
        Sqlite3Cursor any = sql.queryThrow(Sqlite3Sql("select exists(select 1 from contact)"));
        if (!any.moveNext() || any.getInt(0) != 0)
            return;
    }
    // The new size takes effect when vacuum rewrites the file; a vacuum that fails leaves the
    // file as it was.
    sql.executeThrow(Sqlite3Sql(QStringLiteral("pragma page_size=%1").arg(kPageSize)));
    sql.executeThrow(Sqlite3Sql("vacuum"));
    // A cache size in kilobytes is turned into a number of pages when it is set: the cache set
    // for the small pages would now hold many times its memory (the read's pages then waited
    // for the commit by the ten megabytes). Set again, it holds what it was set to.
    QString cacheSize;
    {
        Sqlite3Cursor size = sql.queryThrow(Sqlite3Sql("pragma cache_size"));
        if (size.moveNext())
            cacheSize = size.getText(0);
    }
    if (!cacheSize.isEmpty())
        sql.executeThrow(Sqlite3Sql(QStringLiteral("pragma cache_size=%1").arg(cacheSize)));
}

}  // namespace mirrorfile
