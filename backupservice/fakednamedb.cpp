#include "fakednamedb.h"

#include <QFile>
#include <exception>
#include <stdexcept>

namespace {

// Seconds since 1970 as an unsigned 32-bit value, the table's time format.
qint64 timeT(const QDateTime& dt) {
    const qint64 s = dt.isValid() ? dt.toSecsSinceEpoch() : -1;
    if (s < 0 || s > qint64(0xFFFFFFFEu))
        return qint64(0xFFFFFFFFu);
    return s;
}

QDateTime fromTimeT(qint64 v) {
    return QDateTime::fromSecsSinceEpoch(qint64(quint32(v)));
}

}  // namespace

FakeDNameDb::FakeDNameDb() = default;

FakeDNameDb::~FakeDNameDb() {
    closeDb();
}

void FakeDNameDb::closeDb() {
    if (!isOpen())
        return;
    try {
        commitTran();
    } catch (const std::exception&) {
    }
    close();
}

bool FakeDNameDb::open(QString path, QString* err) {
    if (isOpen())
        return true;
    try {
        if (QFile::exists(path)) {
            openThrow(path, 2);
            // An empty or damaged file opens like a new database; its records would be lost
            // without a word.
            try {
                Sqlite3Cursor check = queryThrow("pragma quick_check");
                if (!check.moveNext() || check.getText("quick_check") != QLatin1String("ok"))
                    throw std::runtime_error("database disk image is malformed");
                queryThrow("select f, p, d, size, lastm, incl from dname limit 1");
            } catch (...) {
                close();
                throw;
            }
        } else {
            openThrow(path, 6);
            executeThrow(
                "create table dname(f VARCHAR PRIMARY KEY, p VARCHAR, d VARCHAR, size INTEGER, "
                "lastm INTEGER, incl INTEGER)");
            executeThrow("create index idx_dname on dname(p)");
        }
        beginTran();
        return true;
    } catch (const std::exception& e) {
        if (err)
            *err = QString::fromUtf8(e.what());
        return false;
    }
}

void FakeDNameDb::insert(QString f, QString d, bool incl, QDateTime lastm) {
    if (!isOpen())
        return;
    try {
        const QString bucket = f.size() >= 32 ? f.mid(0, 2) : QString();
        Sqlite3Sql sql("replace into dname(f,p,d,size,lastm,incl) values(?,?,?,?,?,?)");
        sql.addTextParam(f);
        sql.addTextParam(bucket);
        sql.addTextParam(d);
        sql.addInt64Param(0);
        sql.addInt64Param(timeT(lastm));
        sql.addIntParam(incl ? 1 : 0);
        executeThrow(sql);
        if (++m_inserts % 10000 == 0) {
            commitTran();
            beginTran();
        }
    } catch (const std::exception&) {
    }
}

void FakeDNameDb::update(QString f, QDateTime lastm, qint64 size) {
    if (!isOpen())
        return;
    try {
        Sqlite3Sql sql("update dname set size=?, lastm=? where f=?");
        sql.addInt64Param(size);
        sql.addInt64Param(timeT(lastm));
        sql.addTextParam(f);
        executeThrow(sql);
    } catch (const std::exception&) {
    }
}

void FakeDNameDb::remove(QString f) {
    if (!isOpen())
        return;
    try {
        Sqlite3Sql sql("delete from dname where f=?");
        sql.addTextParam(f);
        executeThrow(sql);
    } catch (const std::exception&) {
    }
}

QString FakeDNameDb::getDName(QString f) {
    if (!isOpen())
        return QString();
    try {
        Sqlite3Sql sql("select d from dname where f=?");
        sql.addTextParam(f);
        Sqlite3Cursor cursor = queryThrow(sql);
        if (cursor.moveNext())
            return cursor.getText("d");
    } catch (const std::exception&) {
    }
    return QString();
}

QList<Backup2ToolHook::DirItem> FakeDNameDb::items(QString p) {
    QList<Backup2ToolHook::DirItem> list;
    if (!isOpen())
        return list;
    try {
        if (p.isEmpty()) {
            Sqlite3Cursor buckets =
                queryThrow("select p, max(lastm) as lastm from dname group by p");
            while (buckets.moveNext()) {
                const QString bucket = buckets.getText("p");
                if (bucket.isEmpty())
                    continue;
                Backup2ToolHook::DirItem item;
                item.name = bucket;
                item.type = 2;
                item.size = 0;
                item.lastm = fromTimeT(buckets.getInt64("lastm"));
                list << item;
            }
        }
        Sqlite3Sql sql("select * from dname where p=?");
        sql.addTextParam(p);
        Sqlite3Cursor rows = queryThrow(sql);
        while (rows.moveNext()) {
            Backup2ToolHook::DirItem item;
            item.name = rows.getText("f");
            item.type = 1;
            item.size = rows.getInt64("size");
            item.lastm = fromTimeT(rows.getInt64("lastm"));
            list << item;
        }
    } catch (const std::exception&) {
    }
    return list;
}
