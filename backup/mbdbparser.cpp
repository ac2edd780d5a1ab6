#include "mbdbparser.h"

#include "backupmanifest.h"
#include "backupsourcefile.h"
#include "device/plistcftype.h"
#include "privatetempdir.h"
#include "qopensslevpaes.h"

#include "platform/sqlite/sqlite3db.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace {

[[noreturn]] void throwText(const QString& text) {
    throw std::runtime_error(text.toUtf8().constData());
}

// The file ended inside a record (an interrupted copy); the reader names the record.
struct CutShort {};

QByteArray readExactly(BackupSourceFile& f, int n) {
    const QByteArray b = f.read(n);
    if (b.size() != n) {
        // A read error has the system's reason; a plain end of file has none ("Unknown error").
        if (f.failed())
            throwText(
                QStringLiteral("%1: %2").arg(QFileInfo(f.path()).fileName(), f.errorString()));
        throw CutShort();
    }
    return b;
}

// Something other than a regular file stands where a file of the backup should be.
[[noreturn]] void throwNotRegular(const QString& irregular) {
    throwText(QCoreApplication::translate(
                  "MBDBParser",
                  "This backup cannot be read: %1, and only regular files of a backup are read. "
                  "Make a new backup of the phone and import that one.")
                  .arg(irregular));
}

quint64 bigEndian(const QByteArray& b) {
    quint64 v = 0;
    for (char c : b)
        v = (v << 8) | quint64(static_cast<unsigned char>(c));
    return v;
}

}  // namespace

unsigned short g_readInt16(BackupSourceFile& f) {
    return static_cast<unsigned short>(bigEndian(readExactly(f, 2)));
}

unsigned int g_readInt32(BackupSourceFile& f) {
    return static_cast<unsigned int>(bigEndian(readExactly(f, 4)));
}

char g_readByte(BackupSourceFile& f) {
    return readExactly(f, 1).at(0);
}

MBDBParser::_MBDBBinary g_readBinary(BackupSourceFile& f) {
    MBDBParser::_MBDBBinary b;
    b.length = g_readInt16(f);
    if (b.length == 0xFFFF || b.length == 0)
        return b;
    // A string cut short by the end of the file is a damaged record, not a shorter string.
    b.val = readExactly(f, b.length);
    return b;
}

QByteArray g_fileDescIv() {
    return QByteArray::fromHex("9c3e71a05bd2f846e01b7d59c4a26f83");
}

QString g_recordName(const QString& domain, const QString& path) {
    return QStringLiteral("%1 (%2)").arg(path, domain);
}

QString MBDBParser::_MBDBBinary::toString() const {
    if (!isValid())
        return QString();
    const int nul = val.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? val : val.left(nul));
}

void MBDBParser::_MBDBBinary::setVal(const QByteArray& bytes) {
    val = bytes;
    length = static_cast<unsigned short>(bytes.size() & 0xFFFF);
}

QString MBDBParser::_MBDBItem::backupFileName() const {
    return getFileHashName(domain.toString(), path.toString());
}

bool compareMBDBItemLess(const MBDBParser::_MBDBItem& a, const MBDBParser::_MBDBItem& b) {
    const int d = QString::compare(a.domain.toString(), b.domain.toString(), Qt::CaseSensitive);
    if (d != 0)
        return d < 0;
    return QString::compare(a.path.toString(), b.path.toString(), Qt::CaseSensitive) < 0;
}

bool MBDBParser::isIos10Mbdb(const QDir& dir) {
    if (QFile::exists(dir.absoluteFilePath(QStringLiteral("Manifest.mbdb"))))
        return false;
    return QFile::exists(dir.absoluteFilePath(QStringLiteral("Manifest.db")));
}

QString MBDBParser::getFileHashName(const QString& domain, const QString& path) {
    return QString::fromLatin1(QCryptographicHash::hash((domain + QLatin1Char('-') + path).toUtf8(),
                                                        QCryptographicHash::Sha1)
                                   .toHex());
}

QString MBDBParser::getBKFilePath(const QDir& dir, const QString& id, bool create) {
    if (isIos10Mbdb(dir)) {
        const QString path = dir.absoluteFilePath(QStringLiteral("%1/%2").arg(id.left(2), id));
        if (create)
            QDir().mkpath(QFileInfo(path).absolutePath());
        return path;
    }
    return dir.absoluteFilePath(id);
}

QByteArray MBDBParser::readFileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result();
}

namespace {

void recordInode(MBDBParser::MBDBItemMap& map, const MBDBParser::_MBDBItem& item) {
    if (item.inode > static_cast<long long>(map.maxInode))
        map.maxInode = static_cast<int>(static_cast<quint32>(item.inode & 0xFFFFFFFFLL));
}

MBDBParser::MBDBItemMap parseMbdb(const QDir& dir) {
    MBDBParser::MBDBItemMap map;
    BackupSourceFile f(dir.absoluteFilePath(QStringLiteral("Manifest.mbdb")));
    if (!f.openRegular()) {
        if (!f.isRegular())
            throwNotRegular(f.errorString());
        throwText(QStringLiteral("Manifest.mbdb: %1").arg(f.errorString()));
    }
    f.read(6);
    long long record = 0;
    while (!f.atEnd()) {
        ++record;
        MBDBParser::_MBDBItem item;
        try {
            item.domain = g_readBinary(f);
            item.path = g_readBinary(f);
            item.target = g_readBinary(f);
            item.digest = g_readBinary(f);
            item.encryptionKey = g_readBinary(f);
            item.mode = g_readInt16(f);
            item.inodeHigh = g_readInt32(f);
            item.inode = static_cast<long long>(g_readInt32(f));
            item.userId = g_readInt32(f);
            item.groupId = g_readInt32(f);
            item.lastModified = g_readInt32(f);
            item.lastStatusChange = g_readInt32(f);
            item.birth = g_readInt32(f);
            item.size = static_cast<long long>(bigEndian(readExactly(f, 8)));
            item.protectionClass = static_cast<unsigned char>(g_readByte(f));
            // The count is unsigned: taking 0x80..0xFF as "none" would read the pairs as the next
            // record and garble the rest of the index.
            const int count = static_cast<unsigned char>(g_readByte(f));
            for (int i = 0; i < count; ++i) {
                MBDBParser::_MBDBProperty p;
                p.name = g_readBinary(f);
                p.value = g_readBinary(f);
                item.properties.append(p);
            }
        } catch (const CutShort&) {
            throwText(
                QStringLiteral("Manifest.mbdb is damaged: record %1 is cut short").arg(record));
        }
        if (!item.domain.isValid())
            continue;
        map.items[item.backupFileName()] = item;
        recordInode(map, item);
    }
    return map;
}

// Data of "Digest"/"EncryptionKey": plain data, or a dictionary holding it under "NS.data".
bool archiveData(const PlistCFType& value, MBDBParser::_MBDBBinary& out) {
    if (value.isCFData()) {
        out.setVal(value.CFDataBytes());
        return true;
    }
    if (value.isCFDictionary()) {
        out.setVal(value.get(QStringLiteral("NS.data")).CFDataBytes());
        return true;
    }
    return false;
}

QByteArray descriptorKey(Sqlite3DB& db, const QString& password) {
    const QByteArray pwd = password.toUtf8();
    if (pwd.isEmpty())
        return QByteArray();
    Sqlite3Cursor t =
        db.queryThrow("select 1 from sqlite_master where type='table' and name='Properties'");
    if (!t.moveNext())
        return QByteArray();
    Sqlite3Cursor s = db.queryThrow("select * from Properties where key='salt' limit 1");
    if (!s.moveNext())
        return QByteArray();
    return MBDBParser::fileDescKey(pwd, s.getBlob(QStringLiteral("value")));
}

// Whether the file opens and is no SQLite database (its header is not SQLite's).
bool isOtherThanSqlite(const QString& path) {
    BackupSourceFile f(path);
    if (!f.openRegular())
        return false;  // the open of the database names what is wrong
    return f.read(16) != QByteArray("SQLite format 3", 16);
}

// Where the index itself cannot be read by SQLite: name it, and the damage.
[[noreturn]] void throwIndexDamaged(const QString& path, const std::exception& cause) {
    throwText(QCoreApplication::translate(
                  "MBDBParser",
                  "This backup may be damaged: its file index %1 cannot be read. Make a new backup "
                  "of the phone and import that one. (%2)")
                  .arg(path, QString::fromUtf8(cause.what())));
}

// Opens the database file of the index; SQLite's failure is told as the index's damage.
void openDbThrow(Sqlite3DB& db, const QString& open, int mode, const QString& index) {
    try {
        db.openThrow(open, mode);
    } catch (const std::exception& e) {
        throwIndexDamaged(index, e);
    }
}

// Opens the index as SQLite reads it, never writing into the backup folder. A private copy,
// when one is needed, lies in `work`, which must outlive `db`.
void openIndexThrow(const BackupManifest& backup, Sqlite3DB& db,
                    std::unique_ptr<BackupTempDir>& work) {
    const QString path = backup.dir.absoluteFilePath(QStringLiteral("Manifest.db"));
    // SQLite would wait on a pipe, or read a device, as on a file.
    const QString irregular = BackupSourceFile::irregularity(path);
    if (!irregular.isEmpty())
        throwNotRegular(irregular);
    if (!backup.manifestDbKey.isEmpty()) {
        // An encrypted index is one encrypted file, decrypted into the private folder by the
        // unlock. A log or journal beside it is not its own (SQLite cannot have written into
        // ciphertext) and is left alone.
        openDbThrow(db, backup.decryptedDbPath, 2, path);
        return;
    }
    // Without a readable Manifest.plist an encrypted index would be taken for a plain one.
    if (!backup.info.isReadable && isOtherThanSqlite(path))
        backup.throwUnreadableManifestPlist(
            QCoreApplication::translate("MBDBParser", "Manifest.db is not a plain database"));
    // A tool that stopped before a checkpoint leaves the latest records in the log; one that
    // stopped in the middle of a change leaves the index half changed and what undoes it in a
    // hot rollback journal. SQLite applies a log, and rolls a journal back, only where it may
    // write: so on a copy of the index and of each of them in a private folder, as the address
    // book's own are read. (A file of no bytes is none: SQLite reads it so.)
    QStringList companions;
    for (const char* suffix : {"-wal", "-journal"}) {
        const QString companion = path + QLatin1String(suffix);
        const QString odd = BackupSourceFile::irregularity(companion);
        if (!odd.isEmpty())
            throwNotRegular(odd);
        if (QFileInfo(companion).size() > 0)
            companions << QLatin1String(suffix);
    }
    if (!companions.isEmpty()) {
        work.reset(new BackupTempDir);
        const QString copy = work->filePath(QStringLiteral("Manifest.db"));
        BackupManifest::copyPlainThrow(path, copy, nullptr, nullptr);
        for (const QString& suffix : qAsConst(companions))
            BackupManifest::copyPlainThrow(path + suffix, copy + suffix, nullptr, nullptr);
        openDbThrow(db, copy, 2, path);
        return;
    }
    // Without either: read as the unchanging file it is, so that SQLite neither locks it nor
    // makes a journal or log beside it (a read-only backup reads too).
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/") + "?immutable=1";
    openDbThrow(db, QString::fromUtf8(uri), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, path);
}

// A descriptor that does not decrypt, or decrypts to no file record: the file's key and size
// are unknown, and nothing of it may be read as plain.
[[noreturn]] void throwRecordDoesNotDecrypt(const Sqlite3Cursor& c, const QString& detail) {
    throwText(
        QCoreApplication::translate(
            "MBDBParser",
            "This backup may be damaged: the record of %1 in its index (Manifest.db) does not "
            "decrypt with the backup's password, so the file cannot be read. Make a new "
            "encrypted backup of the phone and import that one. (%2)")
            .arg(g_recordName(c.getText(QStringLiteral("domain")),
                              c.getText(QStringLiteral("relativePath"))),
                 detail));
}

MBDBParser::MBDBItemMap parseDb(const BackupManifest& backup) {
    MBDBParser::MBDBItemMap map;
    std::unique_ptr<BackupTempDir> work;
    Sqlite3DB db;
    openIndexThrow(backup, db, work);
    const QString index = backup.dir.absoluteFilePath(QStringLiteral("Manifest.db"));
    QByteArray key;
    Sqlite3Cursor c;
    // SQLite finds damage as it reads the pages, so at any step.
    auto nextRow = [&]() {
        try {
            return c.moveNext();
        } catch (const std::exception& e) {
            throwIndexDamaged(index, e);
        }
    };
    try {
        key = descriptorKey(db, backup.password);
        c = db.queryThrow("select * from Files");
    } catch (const std::exception& e) {
        throwIndexDamaged(index, e);
    }
    while (nextRow()) {
        QByteArray blob = c.getBlob(QStringLiteral("file"));
        if (!key.isEmpty()) {
            try {
                blob = MBDBParser::decryptFileDescThrow(QByteArray::fromBase64(blob), key);
            } catch (const std::exception& e) {
                throwRecordDoesNotDecrypt(c, QString::fromUtf8(e.what()));
            }
        }
        const PlistCFType plist = PlistCFType::createCFPropertyList(blob);
        const QHash<QString, PlistCFType> a = plist.NSKeyedArchiver();
        if (!key.isEmpty() && a.isEmpty())
            throwRecordDoesNotDecrypt(
                c, QCoreApplication::translate("MBDBParser", "it decrypts to no file record"));
        MBDBParser::_MBDBItem item;
        item.domain.setVal(c.getText(QStringLiteral("domain")).toUtf8());
        if (!item.domain.isValid())
            continue;
        item.path.setVal(c.getText(QStringLiteral("relativePath")).toUtf8());
        const PlistCFType target = a.value(QStringLiteral("Target"));
        if (target.isCFString() && !target.CFStringQString().isEmpty())
            item.target.setVal(target.CFStringQString().toUtf8());
        archiveData(a.value(QStringLiteral("Digest")), item.digest);
        archiveData(a.value(QStringLiteral("EncryptionKey")), item.encryptionKey);
        item.mode =
            static_cast<unsigned short>(a.value(QStringLiteral("Mode")).CFNumberInt64(0) & 0xFFFF);
        item.inode = a.value(QStringLiteral("InodeNumber")).CFNumberInt64(0);
        auto u32 = [&a](const char* k) {
            return static_cast<unsigned int>(a.value(QLatin1String(k)).CFNumberInt64(0) &
                                             0xFFFFFFFFLL);
        };
        item.userId = u32("UserID");
        item.groupId = u32("GroupID");
        item.lastModified = u32("LastModified");
        item.lastStatusChange = u32("LastStatusChange");
        item.birth = u32("Birth");
        item.size = a.value(QStringLiteral("Size")).CFNumberInt64(0);
        item.protectionClass = static_cast<unsigned char>(
            a.value(QStringLiteral("ProtectionClass")).CFNumberInt64(0) & 0xFF);
        map.items[item.backupFileName()] = item;
        recordInode(map, item);
    }
    db.close();
    return map;
}

QByteArray descCipher(const QByteArray& data, const QByteArray& key, bool encrypt) {
    const char* name =
        encrypt ? "MBDBParser::encryptFileDescThrow" : "MBDBParser::decryptFileDescThrow";
    const EVP_CIPHER* cipher = QOpenSSLEVPAES::cbcForKey(key.size());
    if (!cipher)
        throwText(QStringLiteral("%1, invalid key size.").arg(QLatin1String(name)));
    QOpenSSLEVPAES aes;
    aes.init(cipher, key, g_fileDescIv(), encrypt);
    QByteArray input = data;
    QBuffer in(&input);
    in.open(QIODevice::ReadOnly);
    QByteArray output;
    QBuffer out(&output);
    out.open(QIODevice::WriteOnly);
    if (aes.updateAll(&in, &out, 8192) < 0 || aes.finalAll(&out, 8192) < 0)
        throwText(QStringLiteral("%1, %2").arg(QLatin1String(name), aes.errorString));
    out.close();
    return output;
}

}  // namespace

MBDBParser::MBDBItemMap MBDBParser::parse(const BackupManifest& backup) {
    if (isIos10Mbdb(backup.dir))
        return parseDb(backup);
    return parseMbdb(backup.dir);
}

QByteArray MBDBParser::fileDescKey(const QByteArray& first, const QByteArray& second) {
    return QCryptographicHash::hash(first + second, QCryptographicHash::Sha1).left(16);
}

QByteArray MBDBParser::decryptFileDescThrow(const QByteArray& data, const QByteArray& key) {
    if (data.isEmpty())
        return QByteArray();
    return descCipher(data, key, false);
}

QByteArray MBDBParser::encryptFileDescThrow(const QByteArray& data, const QByteArray& key) {
    return descCipher(data, key, true);
}
