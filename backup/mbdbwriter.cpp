// Write side of the file index: "Manifest.mbdb" as a whole, row changes of "Manifest.db", the
// keyed-archive "MBFile" property list, and records for files added from the host.
#include "backupmanifest.h"
#include "mbdbparser.h"
#include "device/plistcftype.h"

#include "platform/sqlite/sqlite3db.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <stdexcept>

namespace {

[[noreturn]] void throwText(const QString& text) {
    throw std::runtime_error(text.toUtf8().constData());
}

void writeExactly(QFile& f, const QByteArray& bytes) {
    if (f.write(bytes) != bytes.size())
        throwText(f.errorString());
}

QByteArray bigEndian(quint64 v, int width) {
    QByteArray b(width, '\0');
    for (int i = width - 1; i >= 0; --i) {
        b[i] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
    return b;
}

}  // namespace

void g_writeInt16(QFile& f, const unsigned short& v) {
    writeExactly(f, bigEndian(v, 2));
}

void g_writeInt32(QFile& f, const unsigned int& v) {
    writeExactly(f, bigEndian(v, 4));
}

void g_writeByte(QFile& f, char c) {
    writeExactly(f, QByteArray(1, c));
}

void g_writeBinary(QFile& f, const MBDBParser::_MBDBBinary& b) {
    g_writeInt16(f, b.length);
    if (b.length == 0xFFFF || b.length == 0)
        return;
    // A length that disagrees with the bytes would shift every later field.
    if (b.val.size() != int(b.length))
        throwText(QStringLiteral("MBDBParser: string length %1 does not match its %2 bytes.")
                      .arg(b.length)
                      .arg(b.val.size()));
    writeExactly(f, b.val);
}

namespace {

int filesFlags(const MBDBParser::_MBDBItem& item) {
    if (item.isFolder())
        return 2;
    if (item.target.isValid())
        return 4;
    return 1;
}

void saveMbdb(QList<MBDBParser::_MBDBItem> records, const QDir& dir) {
    std::sort(records.begin(), records.end(), compareMBDBItemLess);
    for (const MBDBParser::_MBDBItem& r : qAsConst(records)) {
        // The count is one byte: refuse rather than write an index that reads back wrong.
        if (!r.isDeleted && r.properties.size() > 255)
            throwText(QStringLiteral("MBDBParser::save2File, %1 has more than 255 properties.")
                          .arg(r.path.toString()));
    }
    QFile f(dir.absoluteFilePath(QStringLiteral("Manifest.mbdb")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throwText(f.errorString());
    writeExactly(f, QByteArray("mbdb\x05\x00", 6));
    for (const MBDBParser::_MBDBItem& r : qAsConst(records)) {
        if (r.isDeleted)
            continue;
        g_writeBinary(f, r.domain);
        g_writeBinary(f, r.path);
        g_writeBinary(f, r.target);
        g_writeBinary(f, r.digest);
        g_writeBinary(f, r.encryptionKey);
        g_writeInt16(f, r.mode);
        g_writeInt32(f, r.inodeHigh);
        g_writeInt32(f, static_cast<unsigned int>(r.inode & 0xFFFFFFFFLL));
        g_writeInt32(f, r.userId);
        g_writeInt32(f, r.groupId);
        g_writeInt32(f, r.lastModified);
        g_writeInt32(f, r.lastStatusChange);
        g_writeInt32(f, r.birth);
        writeExactly(f, bigEndian(static_cast<quint64>(r.size), 8));
        g_writeByte(f, static_cast<char>(r.protectionClass));
        g_writeByte(f, static_cast<char>(r.properties.size() & 0xFF));
        for (const MBDBParser::_MBDBProperty& p : r.properties) {
            g_writeBinary(f, p.name);
            g_writeBinary(f, p.value);
        }
    }
    f.close();
}

}  // namespace

void MBDBParser::save2File(QList<_MBDBItem> records, BackupManifest& backup) {
    if (!isIos10Mbdb(backup.dir)) {
        saveMbdb(records, backup.dir);
        return;
    }
    const QString path = backup.manifestDbKey.isEmpty()
                             ? backup.dir.absoluteFilePath(QStringLiteral("Manifest.db"))
                             : backup.decryptedDbPath;
    Sqlite3DB db;
    db.openThrow(path, 2);
    QByteArray key;
    const QByteArray pwd = backup.password.toUtf8();
    if (!pwd.isEmpty()) {
        Sqlite3Cursor t =
            db.queryThrow("select 1 from sqlite_master where type='table' and name='Properties'");
        if (t.moveNext()) {
            Sqlite3Cursor s = db.queryThrow("select * from Properties where key='salt' limit 1");
            if (s.moveNext())
                key = fileDescKey(pwd, s.getBlob(QStringLiteral("value")));
        }
    }
    db.beginTran();
    std::sort(records.begin(), records.end(), compareMBDBItemLess);
    for (const _MBDBItem& r : qAsConst(records)) {
        const QString id = r.backupFileName();
        auto addFile = [&](Sqlite3Sql& sql) {
            const QByteArray plist = mbFilePlist(r);
            if (key.isEmpty())
                sql.addBlobParam(plist);
            else
                sql.addTextParam(QString::fromLatin1(encryptFileDescThrow(plist, key).toBase64()));
        };
        if (r.isDeleted) {
            Sqlite3Sql sql("delete from Files where fileID=?");
            sql.addTextParam(id);
            db.executeThrow(sql);
        } else if (r.isModified) {
            Sqlite3Sql sql(
                "update Files set file=?,domain=?,relativePath=?,flags=? where fileID=?");
            addFile(sql);
            sql.addTextParam(r.domain.toString());
            sql.addTextParam(r.path.toString());
            sql.addIntParam(filesFlags(r));
            sql.addTextParam(id);
            db.executeThrow(sql);
        } else if (r.isNew) {
            Sqlite3Sql sql(
                "replace into Files(fileID,domain,relativePath,flags,file) values(?,?,?,?,?)");
            sql.addTextParam(id);
            sql.addTextParam(r.domain.toString());
            sql.addTextParam(r.path.toString());
            sql.addIntParam(filesFlags(r));
            addFile(sql);
            db.executeThrow(sql);
        }
    }
    db.commitTran();
    db.close();
    if (!backup.manifestDbKey.isEmpty())
        BackupManifest::encryptFileThrow(backup.decryptedDbPath,
                                         backup.dir.absoluteFilePath(QStringLiteral("Manifest.db")),
                                         backup.manifestDbKey);
}

QByteArray MBDBParser::mbFilePlist(const _MBDBItem& item) {
    const bool hasDigest = item.digest.isValid();
    const bool hasKey = item.encryptionKey.isValid();
    const long classUid = 3 + (hasDigest ? 1 : 0) + (hasKey ? 2 : 0);

    PlistCFType file = PlistCFType::createCFDictionary();
    file.put(QStringLiteral("$class"), PlistCFType::createCFKeyedArchiverUID(classUid));
    file.put(QStringLiteral("Birth"), PlistCFType::createCFNumberInt32(int(item.birth)));
    if (hasDigest)
        file.put(QStringLiteral("Digest"), PlistCFType::createCFKeyedArchiverUID(3));
    if (hasKey)
        file.put(QStringLiteral("EncryptionKey"),
                 PlistCFType::createCFKeyedArchiverUID(hasDigest ? 4 : 3));
    file.put(QStringLiteral("Flags"), PlistCFType::createCFNumberInt32(0));
    file.put(QStringLiteral("GroupID"), PlistCFType::createCFNumberInt32(int(item.groupId)));
    file.put(QStringLiteral("InodeNumber"), PlistCFType::createCFNumberInt64(item.inode));
    file.put(QStringLiteral("LastModified"),
             PlistCFType::createCFNumberInt32(int(item.lastModified)));
    file.put(QStringLiteral("LastStatusChange"),
             PlistCFType::createCFNumberInt32(int(item.lastStatusChange)));
    file.put(QStringLiteral("Mode"), PlistCFType::createCFNumberInt32(int(item.mode)));
    file.put(QStringLiteral("ProtectionClass"),
             PlistCFType::createCFNumberInt32(int(item.protectionClass)));
    file.put(QStringLiteral("RelativePath"), PlistCFType::createCFKeyedArchiverUID(2));
    file.put(QStringLiteral("Size"), PlistCFType::createCFNumberInt64(item.size));
    file.put(QStringLiteral("UserID"), PlistCFType::createCFNumberInt32(int(item.userId)));

    PlistCFType fileClass = PlistCFType::createCFDictionary();
    PlistCFType fileClasses = PlistCFType::createCFArray();
    fileClasses.append(PlistCFType::createCFString(QStringLiteral("MBFile")));
    fileClasses.append(PlistCFType::createCFString(QStringLiteral("NSObject")));
    fileClass.put(QStringLiteral("$classes"), fileClasses);
    fileClass.put(QStringLiteral("$classname"),
                  PlistCFType::createCFString(QStringLiteral("MBFile")));

    PlistCFType objects = PlistCFType::createCFArray();
    objects.append(PlistCFType::createCFString(QStringLiteral("$null")));
    objects.append(file);
    objects.append(PlistCFType::createCFString(item.path.toString()));
    if (hasDigest)
        objects.append(PlistCFType::createCFData(item.digest.val));
    if (hasKey) {
        PlistCFType data = PlistCFType::createCFDictionary();
        data.put(QStringLiteral("$class"), PlistCFType::createCFKeyedArchiverUID(classUid - 1));
        data.put(QStringLiteral("NS.data"), PlistCFType::createCFData(item.encryptionKey.val));
        objects.append(data);
        PlistCFType dataClass = PlistCFType::createCFDictionary();
        PlistCFType classes = PlistCFType::createCFArray();
        classes.append(PlistCFType::createCFString(QStringLiteral("NSMutableData")));
        classes.append(PlistCFType::createCFString(QStringLiteral("NSData")));
        classes.append(PlistCFType::createCFString(QStringLiteral("NSObject")));
        dataClass.put(QStringLiteral("$classes"), classes);
        dataClass.put(QStringLiteral("$classname"),
                      PlistCFType::createCFString(QStringLiteral("NSMutableData")));
        objects.append(dataClass);
    }
    objects.append(fileClass);

    PlistCFType top = PlistCFType::createCFDictionary();
    top.put(QStringLiteral("$archiver"),
            PlistCFType::createCFString(QStringLiteral("NSKeyedArchiver")));
    top.put(QStringLiteral("$objects"), objects);
    PlistCFType topRoot = PlistCFType::createCFDictionary();
    topRoot.put(QStringLiteral("root"), PlistCFType::createCFKeyedArchiverUID(1));
    top.put(QStringLiteral("$top"), topRoot);
    top.put(QStringLiteral("$version"), PlistCFType::createCFNumberInt64(100000));
    return top.CFPropertyListToBytes(CFPropertyListFormat(200));
}

bool MBDBParser::appendFile(MBDBItemMap& map, bool useClass4, QString localFile, QString domain,
                            QString relativePath, long long size,
                            const ProtectionClsKeyInfo* class3Key,
                            const ProtectionClsKeyInfo* class4Key, QString* error) {
    if (domain.isEmpty())
        return true;
    const QFileInfo host(localFile);
    const unsigned int mtime = static_cast<unsigned int>(host.lastModified().toSecsSinceEpoch());
    auto newRecord = [&](const QString& path, bool folder) {
        _MBDBItem r;
        r.domain.setVal(domain.toUtf8());
        r.path.setVal(path.toUtf8());
        r.mode = folder ? 0x41C0 : 0x81A4;
        r.inode = ++map.maxInode;
        r.userId = 501;
        r.groupId = 501;
        if (folder) {
            r.lastModified = r.lastStatusChange = r.birth = mtime;
        } else {
            r.size = size > 0 ? size : host.size();
            r.protectionClass = useClass4 ? 4 : 3;
        }
        r.isNew = true;
        return r;
    };

    QString parent = relativePath;
    for (;;) {
        const int slash = parent.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        parent = parent.left(slash);
        const QString id = getFileHashName(domain, parent);
        auto it = map.items.find(id);
        if (it == map.items.end()) {
            map.items.insert(id, newRecord(parent, true));
            continue;
        }
        if (it->isFolder())
            break;
        if (error)
            *error = QStringLiteral("MBDBParser::appendFile(%1) error. \"%2\" is not a folder.")
                         .arg(relativePath, parent);
        return false;
    }

    const QString id = getFileHashName(domain, relativePath);
    auto it = map.items.find(id);
    if (it == map.items.end())
        it = map.items.insert(id, newRecord(relativePath, false));
    else
        it->isModified = true;
    if (useClass4) {
        const QByteArray hash = readFileHash(localFile);
        it->digest.setVal(hash);
    }
    it->lastModified = it->lastStatusChange = it->birth = mtime;
    if (useClass4 && class4Key)
        it->encryptionKey = class4Key->wrappedKey;
    else if (!useClass4 && class3Key)
        it->encryptionKey = class3Key->wrappedKey;
    return true;
}
