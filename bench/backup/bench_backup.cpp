// The backup reader's two slow steps beside their floors: unlocking a keybag of phone-sized
// iteration counts against OpenSSL's own PBKDF2 for the same rounds, and importing address
// books of growing size, with and without indexes on the id columns. Prints seconds and ratios.
#include "backupmanifest.h"
#include "importcontactsfromitunesthread.h"
#include "keybag.h"
#include "mbdbparser.h"
#include "qopensslevpaes.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"

#include "../barewrites.h"
#include "store/runreporter.h"

#include <localdb.h>
#include <sqlite3db.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <time.h>

namespace {

QByteArray be32(unsigned v) {
    QByteArray b(4, '\0');
    for (int i = 3; i >= 0; --i, v >>= 8)
        b[i] = char(v & 0xFF);
    return b;
}

QByteArray tlv(const char* tag, const QByteArray& value) {
    return QByteArray(tag, 4) + be32(unsigned(value.size())) + value;
}

double cpuSeconds(const std::function<void()>& fn) {
    struct timespec a, b;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    fn();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
}

QByteArray pbkdf2(const QByteArray& pass, const QByteArray& salt, int rounds, const EVP_MD* md) {
    QByteArray out(32, '\0');
    PKCS5_PBKDF2_HMAC(pass.constData(), pass.size(),
                      reinterpret_cast<const unsigned char*>(salt.constData()), salt.size(), rounds,
                      md, 32, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

// A keybag as current phones make it: SHA-256 rounds ("DPIC") then SHA-1 rounds ("ITER"),
// four password-wrapped class keys.
void benchUnlock() {
    const unsigned dpic = 10000000, iter = 10000;
    const QByteArray salt("0123456789abcdefghij"), dpsl("dpsl-0123456789abcdef");
    const QByteArray password("correct horse");
    const QByteArray key =
        pbkdf2(pbkdf2(password, dpsl, int(dpic), EVP_sha256()), salt, int(iter), EVP_sha1());
    QByteArray bag = tlv("VERS", be32(4)) + tlv("TYPE", be32(1)) +
                     tlv("UUID", QByteArray(16, 'u')) + tlv("WRAP", be32(0)) + tlv("SALT", salt) +
                     tlv("ITER", be32(iter)) + tlv("DPWT", be32(1)) + tlv("DPIC", be32(dpic)) +
                     tlv("DPSL", dpsl);
    for (int cls = 1; cls <= 4; ++cls) {
        bag += tlv("UUID", QByteArray(16, char('a' + cls))) + tlv("CLAS", be32(unsigned(cls))) +
               tlv("WRAP", be32(3)) + tlv("KTYP", be32(0)) +
               tlv("WPKY", QOpenSSLEVPAES::aeswrap(key, QByteArray(32, char(cls)), true));
    }
    // Alternating runs, best of three, by the thread's CPU time: the two do the same work, and
    // a busy machine should not decide which looks slower.
    bool ok = false;
    double ours = 1e30, theirs = 1e30, sha256Only = 1e30;
    for (int run = 0; run < 3; ++run) {
        ours = std::min(ours, cpuSeconds([&] {
                            _KeybagInfo kb = parseKeybag(bag);
                            ok = unlockWithPasscode(password, kb);
                        }));
        theirs = std::min(theirs, cpuSeconds([&] {
                              const QByteArray t = pbkdf2(password, dpsl, int(dpic), EVP_sha256());
                              pbkdf2(t, salt, int(iter), EVP_sha1());
                          }));
        sha256Only = std::min(sha256Only,
                              cpuSeconds([&] { pbkdf2(password, dpsl, int(dpic), EVP_sha256()); }));
    }
    std::printf(
        "Keybag unlock, %u SHA-256 rounds then %u SHA-1 rounds (%s), CPU seconds, best "
        "of 3\n",
        dpic, iter, ok ? "unlocked" : "NOT UNLOCKED");
    std::printf("  unlockWithPasscode                 %8.3f s\n", ours);
    std::printf("  OpenSSL PKCS5_PBKDF2_HMAC, same    %8.3f s  (SHA-256 part alone %.3f s)\n",
                theirs, sha256Only);
    std::printf("  ratio                              %8.3fx  (target at most 1.1x) %s\n\n",
                ours / theirs, ours / theirs <= 1.1 ? "ok" : "SLOWER");
}

// An address book of n people with the phone's own tables: two phones, an e-mail, a postal
// address of four parts, an IM account and a birthday each.
void writeAddressBook(const QString& path, int n, bool indexes) {
    QFile::remove(path);
    Sqlite3DB db;
    db.openThrow(path, 6);
    db.executeScriptThrow(
        "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
        "Middle TEXT, Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, "
        "JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, StoreID INTEGER, PersonLink "
        "INTEGER DEFAULT -1);"
        "CREATE TABLE ABPersonLink (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
        "PreferredImagePersonID INTEGER DEFAULT -1, PreferredNamePersonID INTEGER DEFAULT -1);"
        "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
        "INTEGER, identifier INTEGER, label INTEGER, value TEXT);"
        "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));"
        "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT);"
        "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));"
        "INSERT INTO ABMultiValueLabel(rowid,value) VALUES (1,'_$!<Mobile>!$_'),(2,'_$!<Home>!$_'),"
        "(3,'_$!<Work>!$_');"
        "INSERT INTO ABMultiValueEntryKey(rowid,value) VALUES (1,'Street'),(2,'City'),(3,'ZIP'),"
        "(4,'Country'),(5,'service'),(6,'username');");
    if (indexes)
        db.executeScriptThrow(
            "CREATE INDEX ABMultiValueRecordIDIndex ON ABMultiValue(record_id);"
            "CREATE INDEX ABMultiValueEntryParentIndex ON ABMultiValueEntry(parent_id);");
    db.beginTran();
    long long uid = 1;
    for (int i = 1; i <= n; ++i) {
        Sqlite3Sql p("insert into ABPerson(ROWID,First,Last,Kind,Birthday) values(?,?,?,0,?)");
        p.addIntParam(i);
        p.addTextParam(QStringLiteral("First%1").arg(i));
        p.addTextParam(QStringLiteral("Last%1").arg(i));
        p.addTextParam(QString::number(-300000000 + i * 1000));
        db.executeThrow(p);
        auto value = [&](int property, int label, const QString& v) {
            Sqlite3Sql s("insert into ABMultiValue values(?,?,?,0,?,?)");
            s.addInt64Param(uid);
            s.addIntParam(i);
            s.addIntParam(property);
            s.addIntParam(label);
            s.addTextParam(v);
            db.executeThrow(s);
            return uid++;
        };
        auto entry = [&](long long parent, int key, const QString& v) {
            Sqlite3Sql s("insert into ABMultiValueEntry values(?,?,?)");
            s.addInt64Param(parent);
            s.addIntParam(key);
            s.addTextParam(v);
            db.executeThrow(s);
        };
        value(3, 1, QStringLiteral("+1 555 %1").arg(1000000 + i));
        value(3, 3, QStringLiteral("+1 555 %1").arg(2000000 + i));
        value(4, 2, QStringLiteral("person%1@example.com").arg(i));
        const long long addr = value(5, 2, QString());
        entry(addr, 1, QStringLiteral("%1 Main Street").arg(i));
        entry(addr, 2, QStringLiteral("Springfield"));
        entry(addr, 3, QStringLiteral("62701"));
        entry(addr, 4, QStringLiteral("USA"));
        const long long im = value(13, 2, QString());
        entry(im, 5, QStringLiteral("Skype"));
        entry(im, 6, QStringLiteral("skype%1").arg(i));
    }
    db.commitTran();
    db.close();
}

QByteArray be(quint64 v, int width) {
    QByteArray b(width, '\0');
    for (int i = width - 1; i >= 0; --i, v >>= 8)
        b[i] = char(v & 0xFF);
    return b;
}

// A plain backup in the record-file layout holding only the address book.
void writeBackup(const QString& folder, const QString& addressBook) {
    QDir().mkpath(folder);
    const QByteArray domain("HomeDomain"), path("Library/AddressBook/AddressBook.sqlitedb");
    QByteArray rec = be(quint64(domain.size()), 2) + domain + be(quint64(path.size()), 2) + path;
    rec += be(0xFFFF, 2) + be(0xFFFF, 2) + be(0xFFFF, 2);  // target, digest, key
    rec += be(0x81A4, 2) + be(0, 4) + be(1, 4) + be(501, 4) + be(501, 4);
    rec += be(1600000000, 4) + be(1600000000, 4) + be(1600000000, 4);
    rec += be(quint64(QFileInfo(addressBook).size()), 8) + char(3) + char(0);
    QFile index(QDir(folder).absoluteFilePath("Manifest.mbdb"));
    index.open(QIODevice::WriteOnly);
    index.write(QByteArray("mbdb\x05\x00", 6) + rec);
    index.close();
    QFile::copy(addressBook, QDir(folder).absoluteFilePath(MBDBParser::getFileHashName(
                                 QString::fromLatin1(domain), QString::fromLatin1(path))));
}

double cpuNow() {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Wall-clock seconds; `cpu` gets the process's CPU seconds, which a busy machine disturbs less.
double importSeconds(const QString& folder, const QString& target, double& cpu) {
    BackupManifest bm(folder);
    bm.parseInfo();
    LocalDb db(target, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    ProgressForm form{QString()};
    ImportContactsFromiTunesThread worker(bm, &db, &form);
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuNow();
    worker.start(QThread::InheritPriority);
    form.exec();
    worker.wait();
    const double s = t.nsecsElapsed() / 1e9;
    cpu = cpuNow() - cpu0;
    if (db.contacts().isEmpty())
        std::printf("  (import stored nothing)\n");
    return s;
}

// The floor of an import: the address book read in one pass (each table once) and the rows
// an import stores written with bare SQLite statements in one transaction: a contact row and a
// name row per person, a row per value, and the birthday.
double floorSeconds(const QString& book, const QString& target, double& cpu) {
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuNow();
    const QString copy = target + ".book";
    QFile::copy(book, copy);
    Sqlite3DB in;
    in.openThrow(copy, 2);
    QHash<long long, QList<QPair<QString, QString> > > entries;
    {
        Sqlite3Cursor c = in.queryThrow("select parent_id, key, value from ABMultiValueEntry");
        while (c.moveNext())
            entries[c.getInt64(0)].append(qMakePair(c.getText(1), c.getText(2)));
    }
    struct Value {
        int property;
        int label;
        QString text;
    };
    QHash<long long, QList<Value> > values;
    {
        Sqlite3Cursor c =
            in.queryThrow("select record_id, UID, property, label, value from ABMultiValue");
        while (c.moveNext()) {
            QString text = c.getText(4);
            for (const auto& part : entries.value(c.getInt64(1)))
                text += part.second + QLatin1Char('\n');
            values[c.getInt64(0)].append({c.getInt(2), c.getInt(3), text});
        }
    }
    LocalDb db(target, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    db.open_check();  // opened as the import's target is, with the same settings
    Sqlite3DB& out = db.db();
    out.beginTran();
    Sqlite3Cursor c = in.queryThrow("select rowid, first, last, birthday from ABPerson");
    while (c.moveNext()) {
        const QString name = c.getText(1) + QLatin1Char(' ') + c.getText(2);
        Sqlite3Sql contact("insert into contact(src_id,full_name) values(?,?)");
        contact.addTextParam(QString());
        contact.addTextParam(name);
        out.executeThrow(contact);
        const long long id = out.lastInsertId();
        auto row = [&](int type, const QString& data1, const QString& data2) {
            Sqlite3Sql s("insert into data(contact_id,type,src_id,data1,data2) values(?,?,?,?,?)");
            s.addInt64Param(id);
            s.addIntParam(type);
            s.addTextParam(QString());
            s.addTextParam(data1);
            s.addTextParam(data2);
            out.executeThrow(s);
        };
        row(pim::ENTITY_NAME, name, c.getText(1));
        row(pim::ENTITY_EVENT, c.getText(3), QStringLiteral("3"));
        for (const Value& v : values.value(c.getInt64(0)))
            row(v.property, v.text, QString::number(v.label));
    }
    out.commitTran();
    in.close();
    QFile::remove(copy);
    const double s = t.nsecsElapsed() / 1e9;
    cpu = cpuNow() - cpu0;
    return s;
}

// Links every tenth person with the next one, the second card in another account.
void linkCards(const QString& path, int n) {
    Sqlite3DB db;
    db.openThrow(path, 2);
    db.beginTran();
    for (int i = 1; i + 1 <= n; i += 10) {
        Sqlite3Sql link("insert into ABPersonLink(PreferredNamePersonID) values(?)");
        link.addIntParam(i);
        db.executeThrow(link);
        Sqlite3Sql cards("update ABPerson set PersonLink=?, StoreID=rowid-? where rowid in (?,?)");
        cards.addInt64Param(db.lastInsertId());
        cards.addIntParam(i - 1);
        cards.addIntParam(i);
        cards.addIntParam(i + 1);
        db.executeThrow(cards);
    }
    db.commitTran();
}

void benchImport() {
    QTemporaryDir dir;
    g_setMessageBoxHook([](QMessageBox&) { return int(QMessageBox::Ok); });
    std::printf("Address-book import (copy, read, merge into a new local database)\n");
    std::printf("  %-8s %-12s %9s %9s %16s\n", "people", "id indexes", "seconds", "CPU s",
                "CPU us/person");
    {
        // A first, unprinted run warms the caches and the allocator.
        const QString book = dir.filePath("warm.sqlitedb");
        writeAddressBook(book, 1000, false);
        writeBackup(dir.filePath("warm"), book);
        double cpu = 0;
        importSeconds(dir.filePath("warm"), dir.filePath("warm.db"), cpu);
    }
    for (bool indexes : {false, true}) {
        for (int n : {2500, 5000, 10000}) {
            const QString tag = QStringLiteral("%1-%2").arg(n).arg(indexes);
            const QString book = dir.filePath(tag + ".sqlitedb");
            writeAddressBook(book, n, indexes);
            writeBackup(dir.filePath(tag), book);
            double cpu = 0;
            const double s = importSeconds(dir.filePath(tag), dir.filePath(tag + ".db"), cpu);
            std::printf(
                "  %-8d %-12s %9.3f %9.3f %16.1f%s\n", n, indexes ? "yes" : "no", s, cpu,
                cpu / n * 1e6,
                n == 10000 ? (s < 1.0 ? "  (target under 1 s: ok)" : "  (target under 1 s: SLOWER)")
                           : "");
        }
    }
    {
        // The same 10,000 people against the floor: the import's overhead is what the reading
        // and the merge add to the bare work. Best of three of each, alternating.
        const int n = 10000;
        const QString book = dir.filePath("floor.sqlitedb");
        writeAddressBook(book, n, false);
        writeBackup(dir.filePath("floor"), book);
        double importBest = 1e30, floorBest = 1e30, cpu = 0;
        for (int run = 0; run < 3; ++run) {
            const QString tag = QStringLiteral("floor-run%1").arg(run);
            importBest = std::min(
                importBest, importSeconds(dir.filePath("floor"), dir.filePath(tag + ".db"), cpu));
            floorBest =
                std::min(floorBest, floorSeconds(book, dir.filePath(tag + "-bare.db"), cpu));
        }
        std::printf(
            "\n  %d people, best of 3: import %.3f s, one-pass read with bare writes "
            "%.3f s\n",
            n, importBest, floorBest);
        std::printf("  ratio                              %8.3fx  (target at most 1.5x) %s\n",
                    importBest / floorBest, importBest / floorBest <= 1.5 ? "ok" : "SLOWER");

        // Linked cards (one in ten people in two accounts) cost the reading nothing per person.
        linkCards(book, n);
        writeBackup(dir.filePath("linked"), book);
        double linkedBest = 1e30;
        for (int run = 0; run < 3; ++run)
            linkedBest =
                std::min(linkedBest,
                         importSeconds(dir.filePath("linked"),
                                       dir.filePath(QStringLiteral("linked-%1.db").arg(run)), cpu));
        std::printf("  with 1,000 linked pairs: import %.3f s (%.2fx the unlinked import)\n",
                    linkedBest, linkedBest / importBest);
    }
    g_setMessageBoxHook(MessageBoxHook());
}

struct NullReporter : RunReporter {
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString) override {}
    void error(QString m) override {
        std::printf("  (import failed: %s)\n", m.toUtf8().constData());
    }
};

// The floor of reading an address book: one pass over each of its tables, every text taken
// out as a QString.
double bareReadSeconds(const QString& book) {
    QElapsedTimer t;
    t.start();
    sqlite3* db = nullptr;
    sqlite3_open_v2(book.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    qint64 chars = 0;
    for (const char* sql : {"select * from ABMultiValueLabel", "select * from ABMultiValueEntryKey",
                            "select * from ABMultiValueEntry", "select * from ABMultiValue",
                            "select * from ABPerson order by rowid"}) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        const int columns = sqlite3_column_count(st);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_TEXT) {
                    chars +=
                        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                          sqlite3_column_bytes(st, c))
                            .size();
                } else {
                    chars += sqlite3_column_int64(st, c) & 1;
                }
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    const double s = t.nsecsElapsed() / 1e9;
    if (chars == 0)
        std::printf("  (the bare read found nothing)\n");
    return s;
}

// Like with like: the import of 10,000 people against a one-pass bare read of the same address
// book plus bare SQLite writes of the rows the import stored. Best of three.
void benchImportRatio() {
    QTemporaryDir dir;
    const QString book = dir.filePath("ratio.sqlitedb");
    writeAddressBook(book, 10000, false);
    writeBackup(dir.filePath("ratio"), book);
    double ours = 1e9, peer = 1e9;
    for (int rep = 0; rep < 3; ++rep) {
        const QString target = dir.filePath(QStringLiteral("ratio%1.db").arg(rep));
        BackupManifest bm(dir.filePath("ratio"));
        bm.parseInfo();
        LocalDb db(target, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        NullReporter r;
        ImportContactsFromiTunesThread worker(bm, &db, &r);
        QElapsedTimer t;
        t.start();
        worker.start();
        worker.wait();
        ours = std::min(ours, t.nsecsElapsed() / 1e9);
        QList<pim::_Contact> stored;
        for (const pim::_Contact& listed : db.contacts())
            stored << db.contact(listed._id);
        const double read = bareReadSeconds(book);
        const double write =
            bareWriteSeconds(dir.filePath(QStringLiteral("bare%1.db").arg(rep)), stored);
        peer = std::min(peer, read + write);
    }
    const double r = ours / peer;
    std::printf(
        "\nAddress-book import of 10,000 people %.3f s; one-pass bare read and bare writes "
        "of the same rows %.3f s\n",
        ours, peer);
    std::printf("  %-58s %7.2fx  (target <= 1.5x) %s\n", "backup import / bare read and writes", r,
                r <= 1.5 ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = argc > 1 && QByteArray(argv[1]) == "--import-only";
    if (argc > 1 && QByteArray(argv[1]) == "--ratio") {
        benchImportRatio();
        return 0;
    }
    if (!quick)
        benchUnlock();
    benchImport();
    benchImportRatio();
    return 0;
}
