#include "sqlite3db.h"

#include <sqlite3.h>

#include <QHash>

int sqlite_qt_version() {
    return 8;
}

// ---------------------------------------------------------------------------------------------
// Statement sharing

namespace sqlite3db_detail {

// One prepared statement. Finalized when the last holder (cache or lease) lets go; the
// connection is closed with sqlite3_close_v2, so it lives on until then.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    bool leased = false;
    bool columnsReady = false;
    QHash<QString, int> exact;  // column name as SQLite reports it
    QHash<QString, int> lower;  // lower-cased, for case-insensitive look-up
    QVector<QString> names;

    ~Statement() {
        if (stmt)
            sqlite3_finalize(stmt);
    }
    void readColumns() {
        if (columnsReady)
            return;
        const int n = sqlite3_column_count(stmt);
        names.resize(n);
        for (int i = 0; i < n; ++i) {
            const char* nm = sqlite3_column_name(stmt, i);
            names[i] = QString::fromUtf8(nm ? nm : "");
            if (!exact.contains(names[i]))
                exact.insert(names[i], i);
            const QString lc = names[i].toLower();
            if (!lower.contains(lc))
                lower.insert(lc, i);
        }
        columnsReady = true;
    }
};

// Exclusive use of a statement by one execution (and the cursors copied from it). Resets the
// statement when released so that it holds no read lock and can be reused. It keeps the bound
// values alive (a shared copy of the parameter list), so they are bound without a copy.
struct Lease {
    std::shared_ptr<Statement> st;
    QVector<Sqlite3Sql::Param> params;
    QVector<QByteArray> texts;
    explicit Lease(std::shared_ptr<Statement> s) : st(std::move(s)) { st->leased = true; }
    ~Lease() {
        sqlite3_reset(st->stmt);
        sqlite3_clear_bindings(st->stmt);
        st->leased = false;
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
};

}  // namespace sqlite3db_detail

using sqlite3db_detail::Lease;
using sqlite3db_detail::Statement;

namespace {

QString errorText(const char* call, int rc, sqlite3* db) {
    const char* msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    return QString("%1 failed. return %2: %3")
        .arg(QString::fromUtf8(call))
        .arg(rc)
        .arg(QString::fromUtf8(msg ? msg : sqlite3_errstr(rc)));
}

[[noreturn]] void throwError(const char* call, int rc, sqlite3* db) {
    throw std::runtime_error(errorText(call, rc, db).toUtf8().toStdString());
}

}  // namespace

void encodeUtf8(const QString& text, QByteArray& out) {
    const ushort* in = text.utf16();
    const int n = text.size();
    int bytes = 0;
    for (int i = 0; i < n; ++i) {
        const ushort c = in[i];
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (c >= 0xd800 && c <= 0xdfff) {
            out = text.toUtf8();
            return;
        } else {
            bytes += 3;
        }
    }
    out.resize(bytes);
    char* o = out.data();
    for (int i = 0; i < n; ++i) {
        const ushort c = in[i];
        if (c < 0x80) {
            *o++ = char(c);
        } else if (c < 0x800) {
            *o++ = char(0xc0 | (c >> 6));
            *o++ = char(0x80 | (c & 0x3f));
        } else {
            *o++ = char(0xe0 | (c >> 12));
            *o++ = char(0x80 | ((c >> 6) & 0x3f));
            *o++ = char(0x80 | (c & 0x3f));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Sqlite3Sql

Sqlite3Sql::Sqlite3Sql(const char* sql) : m_sql(QString::fromUtf8(sql ? sql : "")) {
    m_params.reserve(16);
}
Sqlite3Sql::Sqlite3Sql(const QString& sql) : m_sql(sql) {
    m_params.reserve(16);
}

void Sqlite3Sql::appendSql(const QString& sql) {
    m_sql += sql;
}

void Sqlite3Sql::addIntParam(int v) {
    Param p;
    p.kind = PARAM_INT;
    p.i = v;
    m_params.append(p);
}

void Sqlite3Sql::addInt64Param(long long v) {
    Param p;
    p.kind = PARAM_INT64;
    p.i = v;
    m_params.append(p);
}

void Sqlite3Sql::addTextParam(const QString& v) {
    Param p;
    p.kind = PARAM_TEXT;
    p.text = v;
    m_params.append(p);
}

void Sqlite3Sql::addBlobParam(const QByteArray& v) {
    Param p;
    p.kind = PARAM_BLOB;
    p.bytes = v;
    m_params.append(p);
}

// ---------------------------------------------------------------------------------------------
// Sqlite3Cursor

Sqlite3Cursor::Sqlite3Cursor() = default;
Sqlite3Cursor::~Sqlite3Cursor() = default;
Sqlite3Cursor::Sqlite3Cursor(const Sqlite3Cursor&) = default;
Sqlite3Cursor& Sqlite3Cursor::operator=(const Sqlite3Cursor&) = default;
Sqlite3Cursor::Sqlite3Cursor(Sqlite3Cursor&&) noexcept = default;
Sqlite3Cursor& Sqlite3Cursor::operator=(Sqlite3Cursor&&) noexcept = default;

Sqlite3Cursor::Sqlite3Cursor(std::shared_ptr<Lease> lease) : m_lease(std::move(lease)) {}

bool Sqlite3Cursor::moveNext() {
    if (!m_lease || m_done) {
        m_hasRow = false;
        return false;
    }
    sqlite3_stmt* st = m_lease->st->stmt;
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        m_hasRow = true;
        ++m_position;
        return true;
    }
    m_hasRow = false;
    if (rc == SQLITE_DONE) {
        m_done = true;
        return false;
    }
    m_done = true;
    throwError("sqlite3_step", rc, sqlite3_db_handle(st));
}

int Sqlite3Cursor::count() {
    if (!m_lease)
        return 0;
    sqlite3_stmt* st = m_lease->st->stmt;
    // Count by running the query again from the start, then restore the position.
    const bool wasDone = m_done;
    const int pos = m_position;
    sqlite3_reset(st);
    int n = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        ++n;
    sqlite3_reset(st);
    m_done = false;
    m_hasRow = false;
    m_position = 0;
    if (rc != SQLITE_DONE) {
        m_done = true;
        throwError("sqlite3_step", rc, sqlite3_db_handle(st));
    }
    while (m_position < pos) {
        if (sqlite3_step(st) != SQLITE_ROW) {
            m_done = true;
            m_hasRow = false;
            break;
        }
        ++m_position;
        m_hasRow = true;
    }
    if (wasDone) {
        m_done = true;
        m_hasRow = false;
    }
    return n;
}

int Sqlite3Cursor::columnCount() const {
    return m_lease ? sqlite3_column_count(m_lease->st->stmt) : 0;
}

int Sqlite3Cursor::columnIndex(const QString& name) const {
    if (!m_lease)
        return -1;
    Statement& s = *m_lease->st;
    s.readColumns();
    auto it = s.exact.constFind(name);
    if (it != s.exact.constEnd())
        return it.value();
    auto lt = s.lower.constFind(name.toLower());
    return lt != s.lower.constEnd() ? lt.value() : -1;
}

int Sqlite3Cursor::checkedIndex(const QString& name) const {
    if (!m_hasRow) {
        throw std::runtime_error(QString("Sqlite3Cursor: no current row to read column %1")
                                     .arg(name)
                                     .toUtf8()
                                     .toStdString());
    }
    const int i = columnIndex(name);
    if (i < 0) {
        throw std::runtime_error(
            QString("Sqlite3Cursor: no such column: %1").arg(name).toUtf8().toStdString());
    }
    return i;
}

int Sqlite3Cursor::checkedIndex(int index) const {
    if (!m_hasRow)
        throw std::runtime_error("Sqlite3Cursor: no current row");
    if (index < 0 || index >= columnCount()) {
        throw std::runtime_error(
            QString("Sqlite3Cursor: no column at index %1").arg(index).toUtf8().toStdString());
    }
    return index;
}

int Sqlite3Cursor::getInt(int index) const {
    const int i = checkedIndex(index);
    return sqlite3_column_int(m_lease->st->stmt, i);
}
long long Sqlite3Cursor::getInt64(int index) const {
    const int i = checkedIndex(index);
    return sqlite3_column_int64(m_lease->st->stmt, i);
}
QString Sqlite3Cursor::getText(int index) const {
    const int i = checkedIndex(index);
    sqlite3_stmt* st = m_lease->st->stmt;
    const unsigned char* p = sqlite3_column_text(st, i);
    if (!p)
        return QString();
    const int n = sqlite3_column_bytes(st, i);
    if (n == 0)
        return QStringLiteral("");  // shared static data: no allocation per empty cell
    return QString::fromUtf8(reinterpret_cast<const char*>(p), n);
}
QByteArray Sqlite3Cursor::getBlob(int index) const {
    const int i = checkedIndex(index);
    sqlite3_stmt* st = m_lease->st->stmt;
    const void* p = sqlite3_column_blob(st, i);
    if (!p)
        return QByteArray();
    return QByteArray(static_cast<const char*>(p), sqlite3_column_bytes(st, i));
}
const char* Sqlite3Cursor::textData(int index, int* size) const {
    const int i = checkedIndex(index);
    sqlite3_stmt* st = m_lease->st->stmt;
    const char* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    *size = p ? sqlite3_column_bytes(st, i) : 0;
    return p;
}
const char* Sqlite3Cursor::blobData(int index, int* size) const {
    const int i = checkedIndex(index);
    sqlite3_stmt* st = m_lease->st->stmt;
    const char* p = static_cast<const char*>(sqlite3_column_blob(st, i));
    *size = p ? sqlite3_column_bytes(st, i) : 0;
    return p;
}
bool Sqlite3Cursor::isNull(int index) const {
    const int i = checkedIndex(index);
    return sqlite3_column_type(m_lease->st->stmt, i) == SQLITE_NULL;
}

int Sqlite3Cursor::getInt(const QString& name) const {
    return getInt(checkedIndex(name));
}
long long Sqlite3Cursor::getInt64(const QString& name) const {
    return getInt64(checkedIndex(name));
}
QString Sqlite3Cursor::getText(const QString& name) const {
    return getText(checkedIndex(name));
}
QByteArray Sqlite3Cursor::getBlob(const QString& name) const {
    return getBlob(checkedIndex(name));
}
bool Sqlite3Cursor::isNull(const QString& name) const {
    return isNull(checkedIndex(name));
}

// ---------------------------------------------------------------------------------------------
// Sqlite3DB

struct Sqlite3DB::Cache {
    // Prepared statements by text. Bounded: when full, the idle ones are dropped.
    QHash<QString, std::shared_ptr<Statement> > byText;
    // The same by the text's shared data, for statements whose text lives on (a literal, a
    // composed statement kept by its caller): no hashing of the text per run. Each entry
    // holds its text, so that data cannot be freed and come back as another statement's.
    struct Known {
        QString text;
        std::shared_ptr<Statement> st;
    };
    QHash<const void*, Known> byData;
    // One UTF-8 buffer per parameter for statements run at once; they keep their memory.
    QVector<QByteArray> texts;
    enum { MAX_ENTRIES = 96 };
};

Sqlite3DB::Sqlite3DB() : m_cache(new Cache) {}

Sqlite3DB::~Sqlite3DB() {
    close();
}

Sqlite3DB::Sqlite3DB(Sqlite3DB&& o) noexcept
    : m_db(o.m_db), m_path(std::move(o.m_path)), m_depth(o.m_depth), m_cache(std::move(o.m_cache)) {
    o.m_db = nullptr;
    o.m_depth = 0;
    o.m_cache.reset(new Cache);
}

Sqlite3DB& Sqlite3DB::operator=(Sqlite3DB&& o) noexcept {
    if (this != &o) {
        close();
        m_db = o.m_db;
        m_path = std::move(o.m_path);
        m_depth = o.m_depth;
        m_cache = std::move(o.m_cache);
        o.m_db = nullptr;
        o.m_depth = 0;
        o.m_cache.reset(new Cache);
    }
    return *this;
}

void Sqlite3DB::openThrow(const QString& path, int mode) {
    // SQLite's memory statistics take a global lock on every one of its allocations, and
    // nothing here reads them. They can only be switched off before SQLite initializes, which
    // its first open does; if something else got there first, they simply stay on.
    static const bool memStatusOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)memStatusOff;
    close();
    sqlite3* db = nullptr;
    const QByteArray p = path.toUtf8();
    // A connection serves one thread at a time (its owner, or a worker while the owner
    // waits), so SQLite's per-call connection lock is pure cost.
    if (!(mode & SQLITE_OPEN_FULLMUTEX))
        mode |= SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(p.constData(), &db, mode, nullptr);
    if (rc != SQLITE_OK) {
        const QString text = errorText("sqlite3_open_v2", rc, db) + " (" + path + ")";
        sqlite3_close_v2(db);
        throw std::runtime_error(text.toUtf8().toStdString());
    }
    sqlite3_extended_result_codes(db, 0);
    // A short wait smooths over another connection's brief write; a held lock still fails.
    sqlite3_busy_timeout(db, 100);
    // SQLite opens lazily: read the schema now so that a file that is not a database, or is
    // locked or unreadable, fails here and not in the middle of a later operation.
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db, "select count(*) from sqlite_master", -1, &st, nullptr);
    const char* call = "sqlite3_prepare_v2";
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        call = "sqlite3_step";
        if (rc == SQLITE_ROW)
            rc = SQLITE_OK;
    }
    if (rc != SQLITE_OK) {
        const QString text = errorText(call, rc, db) + " (" + path + ")";
        sqlite3_finalize(st);
        sqlite3_close_v2(db);
        throw std::runtime_error(text.toUtf8().toStdString());
    }
    sqlite3_finalize(st);
    m_db = db;
    m_path = path;
    m_depth = 0;
}

void Sqlite3DB::clearCache() {
    if (!m_cache)
        return;
    m_cache->byData.clear();
    m_cache->byText.clear();
}

void Sqlite3DB::close() {
    if (!m_db)
        return;
    clearCache();
    // close_v2: statements still held by live cursors keep the connection until they go.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_depth = 0;
}

bool Sqlite3DB::inTransaction() const {
    return m_db && !sqlite3_get_autocommit(m_db);
}

void Sqlite3DB::syncDepth() {
    if (!m_db || sqlite3_get_autocommit(m_db)) {
        m_depth = 0;
    } else if (m_depth == 0) {
        m_depth = 1;  // a transaction begun by a plain statement
    }
}

void Sqlite3DB::fail(const char* call, int rc) {
    const QString text = errorText(call, rc, m_db);
    syncDepth();
    throw std::runtime_error(text.toUtf8().toStdString());
}

void Sqlite3DB::execSimple(const char* sql, const char* what) {
    if (!m_db) {
        throw std::runtime_error(
            QString("%1 failed: database is not open").arg(what).toStdString());
    }
    char* err = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        QString text = QString("%1 failed. return %2: %3")
                           .arg(QString::fromUtf8(what))
                           .arg(rc)
                           .arg(QString::fromUtf8(err ? err : sqlite3_errstr(rc)));
        sqlite3_free(err);
        syncDepth();
        throw std::runtime_error(text.toUtf8().toStdString());
    }
}

bool Sqlite3DB::beginTran() {
    syncDepth();
    if (m_depth == 0)
        execSimple("BEGIN", "sqlite3_exec(BEGIN)");
    ++m_depth;
    return true;
}

bool Sqlite3DB::commitTran() {
    if (!m_db)
        return false;
    syncDepth();
    if (m_depth == 0)
        return false;
    if (m_depth > 1) {
        --m_depth;
        return true;
    }
    execSimple("COMMIT", "sqlite3_exec(COMMIT)");
    m_depth = 0;
    return true;
}

bool Sqlite3DB::rollbackTran() {
    if (!m_db)
        return false;
    syncDepth();
    if (m_depth == 0)
        return false;
    if (!sqlite3_get_autocommit(m_db))
        execSimple("ROLLBACK", "sqlite3_exec(ROLLBACK)");
    m_depth = 0;
    return true;
}

std::shared_ptr<Statement> Sqlite3DB::statementThrow(const QString& text) {
    if (!m_db)
        throw std::runtime_error("sqlite3_prepare_v2 failed: database is not open");
    const void* data = const_cast<QString&>(text).data_ptr();
    const auto known = m_cache->byData.constFind(data);
    if (known != m_cache->byData.constEnd() && !known->st->leased)
        return known->st;
    auto it = m_cache->byText.find(text);
    if (it != m_cache->byText.end() && !it.value()->leased) {
        // Only text that others hold too can come back with the same data.
        if (!text.isDetached()) {
            if (m_cache->byData.size() >= Cache::MAX_ENTRIES)
                m_cache->byData.clear();
            m_cache->byData.insert(data, Cache::Known{text, it.value()});
        }
        return it.value();
    }
    auto st = std::make_shared<Statement>();
    const QByteArray utf8 = text.toUtf8();
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, utf8.constData(), utf8.size() + 1, &st->stmt, &tail);
    if (rc != SQLITE_OK)
        fail("sqlite3_prepare_v2", rc);
    if (!st->stmt)
        throw std::runtime_error("sqlite3_prepare_v2 failed: empty statement");
    // A statement in use (a live cursor) keeps its cache entry; this one runs uncached.
    if (it == m_cache->byText.end()) {
        if (m_cache->byText.size() >= Cache::MAX_ENTRIES) {
            m_cache->byData.clear();
            for (auto c = m_cache->byText.begin(); c != m_cache->byText.end();) {
                if (c.value()->leased) {
                    ++c;
                } else {
                    c = m_cache->byText.erase(c);
                }
            }
        }
        m_cache->byText.insert(text, st);
    }
    return st;
}

// The values must stay alive until the statement is reset: the caller's Sqlite3Sql for a
// statement run at once, the lease's own copy for a cursor.
void Sqlite3DB::bindThrow(sqlite3_stmt* stmt, const QVector<Sqlite3Sql::Param>& params,
                          QVector<QByteArray>& texts) {
    const int expected = sqlite3_bind_parameter_count(stmt);
    if (expected != params.size()) {
        throw std::runtime_error(
            QString("sqlite3_bind failed: statement has %1 parameters, %2 given")
                .arg(expected)
                .arg(params.size())
                .toUtf8()
                .toStdString());
    }
    if (texts.size() < params.size())
        texts.resize(params.size());
    int idx = 1;
    for (const Sqlite3Sql::Param& p : params) {
        int rc = SQLITE_OK;
        switch (p.kind) {
            case Sqlite3Sql::PARAM_INT:
                rc = sqlite3_bind_int(stmt, idx, static_cast<int>(p.i));
                break;
            case Sqlite3Sql::PARAM_INT64:
                rc = sqlite3_bind_int64(stmt, idx, p.i);
                break;
            case Sqlite3Sql::PARAM_TEXT: {
                QByteArray& utf8 = texts[idx - 1];
                encodeUtf8(p.text, utf8);
                // constData() of an empty array is "", never null: empty text, not NULL.
                rc = sqlite3_bind_text(stmt, idx, utf8.constData(), utf8.size(), SQLITE_STATIC);
                break;
            }
            case Sqlite3Sql::PARAM_BLOB:
                if (p.bytes.isEmpty()) {
                    rc = sqlite3_bind_zeroblob(stmt, idx, 0);
                } else {
                    rc = sqlite3_bind_blob(stmt, idx, p.bytes.constData(), p.bytes.size(),
                                           SQLITE_STATIC);
                }
                break;
            case Sqlite3Sql::PARAM_NULL:
                rc = sqlite3_bind_null(stmt, idx);
                break;
        }
        if (rc != SQLITE_OK)
            fail("sqlite3_bind", rc);
        ++idx;
    }
}

void Sqlite3DB::executeThrow(const Sqlite3Sql& sql) {
    // Runs to completion here, so the lease needs no heap block and no copy of the values.
    Lease lease(statementThrow(sql.sql()));
    bindThrow(lease.st->stmt, sql.params(), m_cache->texts);
    int rc;
    while ((rc = sqlite3_step(lease.st->stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail("sqlite3_step", rc);
}

Sqlite3Cursor Sqlite3DB::queryThrow(const Sqlite3Sql& sql) {
    auto lease = std::make_shared<Lease>(statementThrow(sql.sql()));
    lease->params = sql.params();
    bindThrow(lease->st->stmt, lease->params, lease->texts);
    return Sqlite3Cursor(std::move(lease));
}

void Sqlite3DB::executeScriptThrow(const QString& sql) {
    const QByteArray text = sql.toUtf8();
    execSimple(text.constData(), "sqlite3_exec");
}

long long Sqlite3DB::lastInsertId() const {
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}
