// Thin C++ wrapper over the SQLite 3 C interface.
//
// Sqlite3DB   - one connection (RAII, movable, not copyable); nested transactions by depth.
// Sqlite3Sql  - statement text plus parameters bound in call order to the "?" marks.
// Sqlite3Cursor - rows of a query; shares its prepared statement, so it stays usable after the
//                 Sqlite3Sql is gone and while other statements run on the same connection.
//
// Every failure throws std::runtime_error whose what() (UTF-8) names the failing SQLite call
// and SQLite's own error text.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// Version of this wrapper's interface; the application refuses to start unless it is 8.
int sqlite_qt_version();

// `text` as UTF-8 into `out`, reusing its memory: bound text of many rows costs no allocation
// each. Text with surrogates (characters beyond the first plane, or broken pairs) goes through
// Qt, whose handling of broken pairs is the one stored so far.
void encodeUtf8(const QString& text, QByteArray& out);

class Sqlite3DB;

class Sqlite3Sql {
public:
    enum ParamKind { PARAM_INT, PARAM_INT64, PARAM_TEXT, PARAM_BLOB, PARAM_NULL };
    struct Param {
        ParamKind kind = PARAM_NULL;
        long long i = 0;
        QString text;      // text, encoded when it is bound
        QByteArray bytes;  // blob bytes; a cursor's own UTF-8 copy of `text`
    };

    Sqlite3Sql() = default;
    Sqlite3Sql(const char* sql);     // NOLINT: implicit on purpose, statements are often literals
    Sqlite3Sql(const QString& sql);  // NOLINT

    void appendSql(const QString& sql);
    const QString& sql() const { return m_sql; }

    void addIntParam(int v);
    void addInt64Param(long long v);
    // A null QString is bound as empty text (never as SQL NULL).
    void addTextParam(const QString& v);
    // Always bound as a blob; empty bytes give a zero-length blob.
    void addBlobParam(const QByteArray& v);

    const QVector<Param>& params() const { return m_params; }
    void clearParams() { m_params.clear(); }

private:
    QString m_sql;
    QVector<Param> m_params;
};

namespace sqlite3db_detail {
struct Statement;
struct Lease;
}  // namespace sqlite3db_detail

class Sqlite3Cursor {
public:
    Sqlite3Cursor();  // empty cursor: no rows
    ~Sqlite3Cursor();
    Sqlite3Cursor(const Sqlite3Cursor&);
    Sqlite3Cursor& operator=(const Sqlite3Cursor&);
    Sqlite3Cursor(Sqlite3Cursor&&) noexcept;
    Sqlite3Cursor& operator=(Sqlite3Cursor&&) noexcept;

    // Steps to the next row; false after the last one (and for an empty cursor).
    bool moveNext();
    // Number of result rows of the whole query (independent of the current position).
    int count();

    int columnCount() const;
    // Index of a result column by name (case-insensitive), -1 when there is none.
    int columnIndex(const QString& name) const;

    // Column reads of the current row by result name (aliases included, case-insensitive).
    // NULL gives 0, empty text or empty bytes. An unknown column or no current row throws.
    int getInt(const QString& name) const;
    long long getInt64(const QString& name) const;
    QString getText(const QString& name) const;
    QByteArray getBlob(const QString& name) const;
    bool isNull(const QString& name) const;

    // The same reads by position from 0.
    int getInt(int index) const;
    long long getInt64(int index) const;
    QString getText(int index) const;
    QByteArray getBlob(int index) const;
    bool isNull(int index) const;
    // The bytes of a column as SQLite holds them (text as UTF-8), without a copy: null for
    // NULL, valid until the next step. For readers that copy many rows on.
    const char* textData(int index, int* size) const;
    const char* blobData(int index, int* size) const;

private:
    friend class Sqlite3DB;
    explicit Sqlite3Cursor(std::shared_ptr<sqlite3db_detail::Lease> lease);
    int checkedIndex(const QString& name) const;
    int checkedIndex(int index) const;

    std::shared_ptr<sqlite3db_detail::Lease> m_lease;
    bool m_hasRow = false;
    bool m_done = false;
    int m_position = 0;  // rows stepped so far
};

class Sqlite3DB {
public:
    Sqlite3DB();
    ~Sqlite3DB();
    Sqlite3DB(const Sqlite3DB&) = delete;
    Sqlite3DB& operator=(const Sqlite3DB&) = delete;
    Sqlite3DB(Sqlite3DB&&) noexcept;
    Sqlite3DB& operator=(Sqlite3DB&&) noexcept;

    // mode: SQLite open flags (2 = SQLITE_OPEN_READWRITE: existing file only; 6 also creates).
    // The file is checked to be a readable SQLite database before this returns; on failure the
    // object stays closed and the file is left as it was.
    void openThrow(const QString& path, int mode);
    void close();  // harmless when closed
    bool isOpen() const { return m_db != nullptr; }
    sqlite3* handle() const { return m_db; }  // raw connection, null while closed
    const QString& path() const { return m_path; }

    // Transactions nest by depth: only the outermost begin starts one and only the outermost
    // commit commits; a rollback at any depth discards the whole open transaction; a commit or
    // rollback with none open does nothing (returns false). A failing BEGIN/COMMIT/ROLLBACK
    // throws; afterwards the depth again matches SQLite's autocommit state.
    bool beginTran();
    bool commitTran();
    bool rollbackTran();
    int tranDepth() const { return m_depth; }
    bool inTransaction() const;

    void executeThrow(const Sqlite3Sql& sql);
    Sqlite3Cursor queryThrow(const Sqlite3Sql& sql);
    // Runs several ';'-separated statements without parameters (schema scripts, pragmas).
    void executeScriptThrow(const QString& sql);

    long long lastInsertId() const;

private:
    std::shared_ptr<sqlite3db_detail::Statement> statementThrow(const QString& text);
    // Texts are bound from `texts` (one UTF-8 buffer per parameter, kept alive by the caller
    // until the statement is reset); blobs from the parameters themselves.
    void bindThrow(sqlite3_stmt* stmt, const QVector<Sqlite3Sql::Param>& params,
                   QVector<QByteArray>& texts);
    [[noreturn]] void fail(const char* call, int rc);
    void syncDepth();
    void execSimple(const char* sql, const char* what);
    void clearCache();

    sqlite3* m_db = nullptr;
    QString m_path;
    int m_depth = 0;
    struct Cache;
    std::unique_ptr<Cache> m_cache;
};
