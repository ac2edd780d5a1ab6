#include "platform/sqlite/sqlite3db.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Sqlite3DBTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("t.db");
        db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.executeScriptThrow("create table t(id integer primary key, v text, b blob)");
    }
    // Rows as a second connection sees them: only what is committed.
    int committedRows() {
        Sqlite3DB other;
        other.openThrow(path, SQLITE_OPEN_READWRITE);
        Sqlite3Cursor c = other.queryThrow("select count(*) as n from t");
        EXPECT_TRUE(c.moveNext());
        return c.getInt("n");
    }
    void insert(const QString& v) {
        Sqlite3Sql s("insert into t(v) values(?)");
        s.addTextParam(v);
        db.executeThrow(s);
    }
    QTemporaryDir dir;
    QString path;
    Sqlite3DB db;
};

TEST(Sqlite3Version, IsEight) {
    EXPECT_EQ(sqlite_qt_version(), 8);
}

// Each row: a sequence of operations, the rows committed at the end, the depth at the end.
struct NestCase {
    const char* ops;  // B=begin C=commit R=rollback I=insert
    int committed;
    int depth;
};

TEST_F(Sqlite3DBTest, TransactionNestingTable) {
    const NestCase cases[] = {
        {"BIC", 1, 0},    {"BIBICC", 2, 0},  {"BIBIC", 0, 1},  {"BIBIRC", 0, 0},
        {"BIBICR", 0, 0}, {"C", 0, 0},       {"R", 0, 0},      {"IC", 1, 0},
        {"BIRIC", 1, 0},  {"BBBICCC", 1, 0}, {"BBICRI", 1, 0},
    };
    for (const NestCase& c : cases) {
        SCOPED_TRACE(c.ops);
        db.executeThrow("delete from t");
        for (const char* p = c.ops; *p; ++p) {
            switch (*p) {
                case 'B':
                    EXPECT_TRUE(db.beginTran());
                    break;
                case 'C':
                    db.commitTran();
                    break;
                case 'R':
                    db.rollbackTran();
                    break;
                case 'I':
                    insert("x");
                    break;
            }
        }
        EXPECT_EQ(db.tranDepth(), c.depth);
        EXPECT_EQ(committedRows(), c.committed);
        db.rollbackTran();
    }
    EXPECT_FALSE(db.commitTran());  // none open: nothing, no throw
    EXPECT_FALSE(db.rollbackTran());
}

TEST_F(Sqlite3DBTest, FailedCommitThrowsAndKeepsTransactionOpen) {
    db.executeScriptThrow(
        "pragma foreign_keys=on; create table p(id integer primary key);"
        "create table c(pid integer references p(id) deferrable initially deferred)");
    db.beginTran();
    db.beginTran();
    db.executeThrow("insert into c values(42)");
    EXPECT_TRUE(db.commitTran());  // inner: no commit yet
    try {
        db.commitTran();
        FAIL() << "a failed COMMIT must not pass as success";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("COMMIT"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("FOREIGN KEY"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(db.inTransaction());
    EXPECT_EQ(db.tranDepth(), 1);
    EXPECT_TRUE(db.rollbackTran());
    EXPECT_FALSE(db.inTransaction());
    Sqlite3Cursor cur = db.queryThrow("select count(*) from c");
    ASSERT_TRUE(cur.moveNext());
    EXPECT_EQ(cur.getInt(0), 0);
}

TEST_F(Sqlite3DBTest, DepthFollowsSqliteAfterStatementRollsBack) {
    db.executeScriptThrow(
        "create trigger boom before insert on t when new.v='boom' begin select "
        "raise(rollback,'boom refused'); end");
    db.beginTran();
    db.beginTran();
    insert("a");
    EXPECT_THROW(insert("boom"), std::runtime_error);
    // SQLite rolled the whole transaction back; the wrapper must not think one is open.
    EXPECT_EQ(db.tranDepth(), 0);
    EXPECT_FALSE(db.commitTran());
    db.beginTran();
    insert("b");
    EXPECT_TRUE(db.commitTran());
    EXPECT_EQ(committedRows(), 1);
}

TEST_F(Sqlite3DBTest, ErrorsNameTheCallAndSqliteText) {
    try {
        db.executeThrow("insert into nosuch values(1)");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("sqlite3_prepare_v2"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("no such table: nosuch"), std::string::npos);
    }
    Sqlite3Sql s("insert into t(v) values(?)");  // one marker, no parameter
    EXPECT_THROW(db.executeThrow(s), std::runtime_error);
    EXPECT_THROW(Sqlite3DB().executeThrow("select 1"), std::runtime_error);
}

TEST_F(Sqlite3DBTest, CursorOutlivesSqlAndSharesConnection) {
    for (int i = 0; i < 5; ++i)
        insert(QString::number(i));
    Sqlite3Cursor a;
    {
        Sqlite3Sql s("select id, v as Value from t where id > ? order by id");
        s.addIntParam(0);
        a = db.queryThrow(s);
    }
    EXPECT_EQ(a.count(), 5);
    ASSERT_TRUE(a.moveNext());
    // The same statement text again while the first cursor is mid-way.
    Sqlite3Sql s2("select id, v as Value from t where id > ? order by id");
    s2.addIntParam(3);
    Sqlite3Cursor b = db.queryThrow(s2);
    ASSERT_TRUE(b.moveNext());
    EXPECT_EQ(b.getInt("ID"), 4);
    insert("during");                    // writes while both cursors are open
    EXPECT_EQ(a.getText("value"), "0");  // alias, any case
    EXPECT_EQ(a.count(), 6);             // counting keeps the position
    EXPECT_EQ(a.getText("VALUE"), "0");
    int n = 1;
    while (a.moveNext())
        ++n;
    EXPECT_EQ(n, 6);
    EXPECT_FALSE(a.moveNext());
    EXPECT_THROW(a.getText("v"), std::runtime_error);  // no current row
    EXPECT_THROW(b.getText("nosuch"), std::runtime_error);
    // A copy shares the statement.
    Sqlite3Cursor c = b;
    EXPECT_TRUE(c.moveNext());
}

TEST_F(Sqlite3DBTest, EachCursorKeepsTheValuesItWasBoundWith) {
    for (const char* v : {"apple", "avocado", "banana", "blueberry", "cherry"})
        insert(v);
    auto rows = [](Sqlite3Cursor& c) {
        QStringList l;
        while (c.moveNext())
            l << c.getText(0);
        return l;
    };
    // One Sqlite3Sql rebound and reused while earlier cursors of its text are still open; the
    // values it held are gone before those cursors take their first row.
    auto s = std::make_unique<Sqlite3Sql>("select v from t where v like ? order by v");
    s->addTextParam(QString("a") + QLatin1Char('%'));
    Sqlite3Cursor a = db.queryThrow(*s);
    s->clearParams();
    s->addTextParam(QStringLiteral("b%"));
    Sqlite3Cursor b = db.queryThrow(*s);
    s.reset();
    insert("date");  // a statement run at once in between
    EXPECT_EQ(rows(b), (QStringList{"banana", "blueberry"}));
    EXPECT_EQ(rows(a), (QStringList{"apple", "avocado"}));

    // Run at once, the cached statement binds the caller's values; a cursor of the same text
    // afterwards gets its own, blob included.
    Sqlite3Sql w("update t set b=? where v=?");
    w.addBlobParam(QByteArray("\0x", 2));
    w.addTextParam(QStringLiteral("cherry"));
    db.executeThrow(w);
    Sqlite3Cursor c;
    {
        Sqlite3Sql q("select v from t where b=?");
        q.addBlobParam(QByteArray("\0x", 2));
        c = db.queryThrow(q);
    }
    EXPECT_EQ(rows(c), QStringList{"cherry"});
}

TEST_F(Sqlite3DBTest, CursorMayOutliveItsDatabase) {
    insert("x");
    auto other = std::make_unique<Sqlite3DB>();
    other->openThrow(path, SQLITE_OPEN_READWRITE);
    Sqlite3Cursor c = other->queryThrow("select v from t");
    other.reset();  // the statement keeps the connection until the cursor goes
    SUCCEED();
}

TEST_F(Sqlite3DBTest, ValuesRoundTrip) {
    Sqlite3Sql s("insert into t(v, b) values(?, ?)");
    s.addTextParam(QString());  // null text is stored as empty text
    s.addBlobParam(QByteArray("\0\1\2", 3));
    db.executeThrow(s);
    const long long id = db.lastInsertId();
    EXPECT_GT(id, 0);
    db.executeThrow("insert into t(v, b) values(null, null)");
    Sqlite3Cursor c =
        db.queryThrow("select v, typeof(v) as tv, b, length(b) as lb from t order by id");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getText("tv"), "text");
    EXPECT_TRUE(c.getText("v").isEmpty());
    EXPECT_EQ(c.getBlob("b"), QByteArray("\0\1\2", 3));
    ASSERT_TRUE(c.moveNext());
    EXPECT_TRUE(c.getText("v").isEmpty());  // NULL reads as empty text
    EXPECT_TRUE(c.getBlob("b").isEmpty());
    EXPECT_EQ(c.getInt64("lb"), 0);
    Sqlite3Sql u("select ? as i64, ? as txt");
    u.addInt64Param(0x7fffffffffffLL);
    u.addTextParam(QString::fromUtf8("Zoë ✓"));
    Sqlite3Cursor d = db.queryThrow(u);
    ASSERT_TRUE(d.moveNext());
    EXPECT_EQ(d.getInt64("i64"), 0x7fffffffffffLL);
    EXPECT_EQ(d.getText("txt"), QString::fromUtf8("Zoë ✓"));
}

// Texts are stored as the bytes QString::toUtf8 gives, whatever they hold, through statements
// run at once and through cursors, also when one buffer served a longer text before.
TEST_F(Sqlite3DBTest, TextsAreStoredAsTheirUtf8) {
    const QString texts[] = {
        QStringLiteral("a much longer text first, so that the buffer has room to spare"),
        QString(),
        QStringLiteral(""),
        QStringLiteral("ascii"),
        QString::fromUtf8("Zo\xc3\xab \xc3\x9f\xc3\xb8 \xe2\x9c\x93 \xe4\xb8\xad\xe6\x96\x87"),
        QString::fromUtf8("\xf0\x9f\x98\x80 beyond the first plane"),
        QString(QChar(0xd800)) + QStringLiteral(" a broken pair ") + QChar(0xdc00),
        QString(QChar(0x7f)) + QChar(0x80) + QChar(0x7ff) + QChar(0x800) + QChar(0xffff),
    };
    for (const QString& text : texts)
        insert(text);
    Sqlite3Cursor c = db.queryThrow("select cast(v as blob) from t order by id");
    for (const QString& text : texts) {
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getBlob(0), text.toUtf8()) << text.toStdString();
    }
    for (const QString& text : texts) {
        Sqlite3Sql q("select count(*) from t where v = ?");
        q.addTextParam(text);
        Sqlite3Cursor n = db.queryThrow(q);
        ASSERT_TRUE(n.moveNext());
        EXPECT_GE(n.getInt(0), 1) << text.toStdString();
    }
}

// A statement found again by its text's shared data must be this connection's: after a close
// and an open of another file, the same literal runs on the new file.
TEST_F(Sqlite3DBTest, StatementsKeptForTheirTextFollowTheConnection) {
    const QString countRows = QStringLiteral("select count(*) from t");
    auto rows = [&] {
        for (int i = 0; i < 2; ++i) {
            Sqlite3Cursor c = db.queryThrow(countRows);
            EXPECT_TRUE(c.moveNext());
            if (i == 1)
                return c.getInt(0);
        }
        return -1;
    };
    insert("x");
    EXPECT_EQ(rows(), 1);
    db.close();
    const QString other = dir.filePath("other.db");
    db.openThrow(other, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.executeScriptThrow("create table t(id integer primary key, v text, b blob)");
    EXPECT_EQ(rows(), 0);
    // Held by a live cursor, the kept statement is not handed out twice.
    insert("y");
    Sqlite3Cursor open = db.queryThrow(countRows);
    EXPECT_EQ(rows(), 1);
    ASSERT_TRUE(open.moveNext());
    EXPECT_EQ(open.getInt(0), 1);
}

// Bad files: each fails at open with the call and SQLite's text, and is left unchanged.
TEST(Sqlite3DBBadFiles, FailAtOpenAndLeaveFileAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Sqlite3DB db;

    const QString missing = dir.filePath("missing.db");
    EXPECT_THROW(db.openThrow(missing, SQLITE_OPEN_READWRITE), std::runtime_error);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(db.isOpen());

    const QString garbage = dir.filePath("garbage.db");
    QByteArray junk(4096, 'x');
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    try {
        db.openThrow(garbage, SQLITE_OPEN_READWRITE);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("file is not a database"), std::string::npos)
            << e.what();
    }
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), junk);

    // Truncated: a real database cut in the middle of its pages.
    const QString cut = dir.filePath("cut.db");
    {
        Sqlite3DB w;
        w.openThrow(cut, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        w.executeScriptThrow("pragma page_size=1024; create table a(x); create table b(y);");
        w.beginTran();
        for (int i = 0; i < 300; ++i)
            w.executeThrow("insert into a values(randomblob(200))");
        w.commitTran();
    }
    QFile::resize(cut, 1024 * 5 + 100);
    bool threw = false;
    try {
        db.openThrow(cut, SQLITE_OPEN_READWRITE);
        Sqlite3Cursor c = db.queryThrow("select count(*), sum(length(x)) from a");
        while (c.moveNext()) {
        }
    } catch (const std::runtime_error&) {
        threw = true;
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(QFileInfo(cut).size(), 1024 * 5 + 100);

    // Locked by another connection's exclusive transaction.
    const QString locked = dir.filePath("locked.db");
    Sqlite3DB holder;
    holder.openThrow(locked, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    holder.executeScriptThrow("create table a(x); begin exclusive; insert into a values(1);");
    try {
        db.openThrow(locked, SQLITE_OPEN_READWRITE);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("locked"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db.isOpen());
    holder.executeScriptThrow("rollback");
    db.openThrow(locked, SQLITE_OPEN_READWRITE);
    EXPECT_TRUE(db.isOpen());
    EXPECT_NE(db.handle(), nullptr);
}

}  // namespace
