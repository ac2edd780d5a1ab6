// Fuzz: a "Manifest.db" file index whose file records (keyed archives, binary or XML property
// lists) come from the input, read and turned into the file tree as opening a backup does.
// Gives the tree or std::exception, never a crash, a hang or a leak. The input is a list of
// records: domain and path (a length byte, then the text), then the record (two length bytes,
// big-endian, then the bytes).
#include "backup/backupmanifest.h"
#include "tests/fuzz/fuzz_support.h"

#include <QDir>
#include <QFile>
#include <sqlite3.h>

namespace {

void writeIndex(const QString& path, fuzz::Reader& in) {
    QFile::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db,
                 "pragma journal_mode=off; pragma synchronous=off;"
                 "create table Files(fileID text primary key, domain text, relativePath text,"
                 " flags integer, file blob);"
                 "create table Properties(key text primary key, value blob);"
                 "begin",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "insert or replace into Files(fileID,domain,relativePath,flags,file)"
                       " values(?,?,?,?,?)",
                       -1, &st, nullptr);
    for (int row = 0; !in.empty() && row < 1000; ++row) {
        const QByteArray domain = in.bytes();
        const QByteArray relative = in.bytes();
        const QByteArray record = in.bytes16();
        const QByteArray id =
            MBDBParser::getFileHashName(QString::fromUtf8(domain), QString::fromUtf8(relative))
                .toLatin1();
        sqlite3_bind_text(st, 1, id.constData(), id.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, domain.constData(), domain.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, relative.constData(), relative.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 4, row % 3 ? 1 : 2);
        sqlite3_bind_blob(st, 5, record.constData(), record.size(), SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    static const QString folder = [] {
        const QString f = fuzz::path(QStringLiteral("0123456789abcdef0123456789abcdef01234567"));
        QDir().mkpath(f);
        return f;
    }();
    fuzz::Reader in(data, size);
    writeIndex(QDir(folder).filePath(QStringLiteral("Manifest.db")), in);
    BackupManifest backup(folder);
    try {
        backup.parseInfo();
        (void)backup.root.children.size();
    } catch (const std::exception&) {
    }
    return 0;
}
