#include "backup_fixture.h"

#include "backup/mbdbparser.h"
#include "device/plistcftype.h"
#include "backup/qopensslevpaes.h"

#include "platform/sqlite/sqlite3db.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <functional>
#include <stdexcept>

namespace fixture {

namespace {

QByteArray randomBytes(int n) {
    QByteArray b(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(b.data()), n);
    return b;
}

QByteArray be(quint64 v, int width) {
    QByteArray b(width, '\0');
    for (int i = width - 1; i >= 0; --i) {
        b[i] = char(v & 0xFF);
        v >>= 8;
    }
    return b;
}

QByteArray mbdbString(const MBDBParser::_MBDBBinary& s) {
    QByteArray out = be(s.length, 2);
    if (s.length != 0xFFFF && s.length != 0)
        out += s.val;
    return out;
}

// An independent writer of the record-file layout, so that reading is not tested against our
// own writer only.
QByteArray mbdbRecord(const MBDBParser::_MBDBItem& r) {
    QByteArray out;
    out += mbdbString(r.domain);
    out += mbdbString(r.path);
    out += mbdbString(r.target);
    out += mbdbString(r.digest);
    out += mbdbString(r.encryptionKey);
    out += be(r.mode, 2);
    out += be(r.inodeHigh, 4);
    out += be(quint64(r.inode) & 0xFFFFFFFF, 4);
    out += be(r.userId, 4);
    out += be(r.groupId, 4);
    out += be(r.lastModified, 4);
    out += be(r.lastStatusChange, 4);
    out += be(r.birth, 4);
    out += be(quint64(r.size), 8);
    out += char(r.protectionClass);
    out += char(r.properties.size());
    for (const auto& p : r.properties)
        out += mbdbString(p.name) + mbdbString(p.value);
    return out;
}

// The "file" cell of a Manifest.db row as phones write it: an NSKeyedArchiver archive of an
// "MBFile" object whose path is a UID reference and whose key is an NSMutableData object.
QByteArray mbFileArchive(const MBDBParser::_MBDBItem& r) {
    auto uid = [](long v) { return PlistCFType::createCFKeyedArchiverUID(v); };
    auto classInfo = [](const char* name, QStringList chain) {
        PlistCFType d = PlistCFType::createCFDictionary();
        d.put(QStringLiteral("$classname"), PlistCFType::createCFString(QLatin1String(name)));
        PlistCFType classes = PlistCFType::createCFArray();
        for (const QString& n : chain)
            classes.append(PlistCFType::createCFString(n));
        d.put(QStringLiteral("$classes"), classes);
        return d;
    };
    PlistCFType objects = PlistCFType::createCFArray();
    objects.append(PlistCFType::createCFString(QStringLiteral("$null")));
    PlistCFType file = PlistCFType::createCFDictionary();
    file.put(QStringLiteral("$class"), uid(3));
    file.put(QStringLiteral("RelativePath"), uid(2));
    file.put(QStringLiteral("LastModified"), PlistCFType::createCFNumberInt64(r.lastModified));
    file.put(QStringLiteral("LastStatusChange"),
             PlistCFType::createCFNumberInt64(r.lastStatusChange));
    file.put(QStringLiteral("Birth"), PlistCFType::createCFNumberInt64(r.birth));
    file.put(QStringLiteral("Size"), PlistCFType::createCFNumberInt64(r.size));
    file.put(QStringLiteral("InodeNumber"), PlistCFType::createCFNumberInt64(r.inode));
    file.put(QStringLiteral("Mode"), PlistCFType::createCFNumberInt64(r.mode));
    file.put(QStringLiteral("UserID"), PlistCFType::createCFNumberInt64(r.userId));
    file.put(QStringLiteral("GroupID"), PlistCFType::createCFNumberInt64(r.groupId));
    file.put(QStringLiteral("Flags"), PlistCFType::createCFNumberInt64(0));
    file.put(QStringLiteral("ProtectionClass"),
             PlistCFType::createCFNumberInt64(r.protectionClass));
    if (r.encryptionKey.isValid())
        file.put(QStringLiteral("EncryptionKey"), uid(4));
    objects.append(file);
    objects.append(PlistCFType::createCFString(r.path.toString()));
    objects.append(classInfo("MBFile", {"MBFile", "NSObject"}));
    if (r.encryptionKey.isValid()) {
        PlistCFType data = PlistCFType::createCFDictionary();
        data.put(QStringLiteral("NS.data"), PlistCFType::createCFData(r.encryptionKey.val));
        data.put(QStringLiteral("$class"), uid(5));
        objects.append(data);
        objects.append(classInfo("NSMutableData", {"NSMutableData", "NSData", "NSObject"}));
    }
    PlistCFType top = PlistCFType::createCFDictionary();
    top.put(QStringLiteral("root"), uid(1));
    PlistCFType archive = PlistCFType::createCFDictionary();
    archive.put(QStringLiteral("$version"), PlistCFType::createCFNumberInt64(100000));
    archive.put(QStringLiteral("$archiver"),
                PlistCFType::createCFString(QStringLiteral("NSKeyedArchiver")));
    archive.put(QStringLiteral("$top"), top);
    archive.put(QStringLiteral("$objects"), objects);
    return archive.CFPropertyListToBytes(200);
}

}  // namespace

QByteArray aes256CbcEncrypt(const QByteArray& plain, const QByteArray& key) {
    // Straight OpenSSL: AES-256-CBC, a zero IV and PKCS#7 padding, as backups store files.
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const unsigned char iv[16] = {0};
    QByteArray out(plain.size() + 32, '\0');
    int n = 0;
    int f = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.constData()), iv);
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                      reinterpret_cast<const unsigned char*>(plain.constData()), plain.size());
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &f);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n + f);
    return out;
}

QByteArray be32(unsigned int v) {
    return be(v, 4);
}

QByteArray tlv(const char* tag, const QByteArray& value) {
    return QByteArray(tag, 4) + be32(unsigned(value.size())) + value;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("fixture: cannot write file");
    f.write(bytes);
}

std::string listing(const QString& root, const QString& skip) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (!skip.isEmpty() && it.filePath().startsWith(skip))
            continue;
        out << QStringLiteral("%1 %2 %3")
                   .arg(it.filePath())
                   .arg(it.fileInfo().size())
                   .arg(it.fileInfo().lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out.join('\n').toStdString();
}

void runSql(const QString& path, const QString& script) {
    Sqlite3DB db;
    db.openThrow(path, 6);
    db.executeScriptThrow(script);
    db.close();
}

QByteArray photoBytes() {
    return QByteArray::fromHex("89504e470d0a1a0a0000000d49484452") + QByteArray(40, '\x07');
}

void writeAddressBook(const QString& path) {
    QFile::remove(path);
    runSql(
        path,
        QStringLiteral(
            "create table ABPerson(ROWID integer primary key autoincrement, First text, Last text, "
            "Middle text,"
            " Prefix text, Suffix text, Organization text, Department text, JobTitle text, Note "
            "text,"
            " Birthday text, Nickname text);"
            "create table ABMultiValue(UID integer primary key, record_id integer, property "
            "integer,"
            " identifier integer, label integer, value text);"
            "create table ABMultiValueLabel(value text);"
            "create table ABMultiValueEntry(parent_id integer, key integer, value text);"
            "create table ABMultiValueEntryKey(value text);"
            // Labels: rowids 1..
            "insert into ABMultiValueLabel(rowid,value) "
            "values(1,'_$!<Mobile>!$_'),(2,'_$!<Home>!$_'),"
            " (3,'_$!<Work>!$_'),(4,'_$!<Other>!$_'),(5,'_$!<Anniversary>!$_'),(6,'My own label'),"
            " (7,'_$!<HomePage>!$_'),(8,'_$!<Mother>!$_'),(9,'_$!<iPhone>!$_'),(10,'_$!<Brother>!$_"
            "');"
            "insert into ABMultiValueEntryKey(rowid,value) "
            "values(1,'Street'),(2,'City'),(3,'State'),"
            " (4,'ZIP'),(5,'Country'),(6,'CountryCode'),(7,'service'),(8,'username');"
            // Person 1: full details.
            "insert into ABPerson "
            "values(1,'John','Appleseed','Q','Dr.','Jr.','Acme','R&D','Engineer',"
            " 'Likes tea',%1,'Johnny');"
            "insert into ABMultiValue values(10,1,3,0,1,'+1 555 0100');"
            "insert into ABMultiValue values(11,1,3,0,9,'+1 555 0101');"
            "insert into ABMultiValue values(12,1,4,0,3,'john@work.example');"
            "insert into ABMultiValue values(13,1,4,0,6,'john@own.example');"
            "insert into ABMultiValue values(14,1,5,0,2,null);"
            "insert into ABMultiValueEntry values(14,1,'1 Infinite "
            "Loop'),(14,2,'Cupertino'),(14,3,'CA'),"
            " (14,4,'95014'),(14,5,'USA'),(14,6,'us');"
            "insert into ABMultiValue values(15,1,12,0,5,%2);"
            "insert into ABMultiValue values(16,1,13,0,2,null);"
            "insert into ABMultiValueEntry values(16,7,'Skype'),(16,8,'john.skype');"
            "insert into ABMultiValue values(17,1,13,0,3,null);"
            "insert into ABMultiValueEntry values(17,7,'Telegram'),(17,8,'john.tg');"
            "insert into ABMultiValue values(18,1,22,0,7,'http://john.example');"
            "insert into ABMultiValue values(19,1,23,0,8,'Martha');"
            "insert into ABMultiValue values(20,1,23,0,10,'Jim');"
            "insert into ABMultiValue values(21,1,99,0,1,'ignored property');"
            "insert into ABMultiValue values(22,1,3,0,77,'label without row');"
            "insert into ABMultiValue values(23,1,5,0,4,null);"
            // Person 2: only an organisation, zero birthday.
            "insert into ABPerson "
            "values(2,null,null,null,null,null,'Globex',null,null,null,0,null);"
            "insert into ABMultiValue values(30,2,12,0,4,0);"
            // Person 3: same full name as person 1 (merged in a fresh database).
            "insert into ABPerson "
            "values(3,'John','Appleseed','Q','Dr.','Jr.',null,null,null,null,-5,null);"
            "insert into ABMultiValue values(40,3,3,0,2,'+1 555 0199');")
            .arg(kBirthday)
            .arg(kAnniversary));
}

void writeAddressBookImages(const QString& path) {
    QFile::remove(path);
    runSql(path, QStringLiteral("create table ABFullSizeImage(record_id integer, data blob);"));
    Sqlite3DB db;
    db.openThrow(path, 2);
    Sqlite3Sql sql("insert into ABFullSizeImage(record_id,data) values(1,?)");
    sql.addBlobParam(photoBytes());
    db.executeThrow(sql);
    Sqlite3Sql empty("insert into ABFullSizeImage(record_id,data) values(2,?)");
    empty.addBlobParam(QByteArray());
    db.executeThrow(empty);
}

QByteArray makeKeybag(const QString& password, bool withDp, QMap<int, QByteArray>& classKeys) {
    const QByteArray salt = QByteArray("saltsaltsaltsaltsalt");
    const QByteArray dpsl = QByteArray("dpsl-salt-0123456789");
    const unsigned iter = 3;
    const unsigned dpic = 2;
    QByteArray bag;
    bag += tlv("VERS", be32(3));
    bag += tlv("TYPE", be32(1));
    bag += tlv("UUID", QByteArray(16, 'U'));
    bag += tlv("HMCK", QByteArray(40, 'H'));
    bag += tlv("WRAP", be32(2));
    bag += tlv("SALT", salt);
    bag += tlv("ITER", be32(iter));
    if (withDp) {
        bag += tlv("DPWT", be32(1));
        bag += tlv("DPIC", be32(dpic));
        bag += tlv("DPSL", dpsl);
    }
    // The password key, derived independently of the code under test.
    QByteArray pass = password.toUtf8();
    if (withDp) {
        QByteArray t(32, '\0');
        PKCS5_PBKDF2_HMAC(pass.constData(), pass.size(),
                          reinterpret_cast<const unsigned char*>(dpsl.constData()), dpsl.size(),
                          int(dpic), EVP_sha256(), 32, reinterpret_cast<unsigned char*>(t.data()));
        pass = t;
    }
    QByteArray key(32, '\0');
    PKCS5_PBKDF2_HMAC(pass.constData(), pass.size(),
                      reinterpret_cast<const unsigned char*>(salt.constData()), salt.size(),
                      int(iter), EVP_sha1(), 32, reinterpret_cast<unsigned char*>(key.data()));
    for (int cls = 1; cls <= 4; ++cls) {
        const QByteArray ck = randomBytes(32);
        classKeys.insert(cls, ck);
        bag += tlv("UUID", QByteArray(16, char('a' + cls)));
        bag += tlv("CLAS", be32(unsigned(cls)));
        bag += tlv("WRAP", be32(3));
        bag += tlv("KTYP", be32(0));
        bag += tlv("WPKY", QOpenSSLEVPAES::aeswrap(key, ck, true));
    }
    // A class that the device key protects: never unwrapped with the password.
    bag += tlv("UUID", QByteArray(16, 'z'));
    bag += tlv("CLAS", be32(6));
    bag += tlv("WRAP", be32(1));
    bag += tlv("KTYP", be32(0));
    bag += tlv("WPKY", QByteArray(40, 'x'));
    return bag;
}

QByteArray damageClassKey(QByteArray bag, int cls) {
    // Walk the records: the first "WPKY" after the class's "CLAS".
    bool inClass = false;
    for (int pos = 0; pos + 8 <= bag.size();) {
        const QByteArray tag = bag.mid(pos, 4);
        const int length = int(g_keybagInt(bag.mid(pos + 4, 4)));
        if (tag == "CLAS")
            inClass = g_keybagInt(bag.mid(pos + 8, 4)) == unsigned(cls);
        if (tag == "WPKY" && inClass) {
            bag[pos + 8 + length / 2] = char(bag[pos + 8 + length / 2] ^ 0x5A);
            return bag;
        }
        pos += 8 + length;
    }
    throw std::runtime_error("fixture: no such class key");
}

BackupBuilder::BackupBuilder(QString d, Layout l) : dir(std::move(d)), layout(l) {
    date = QDateTime(QDate(2020, 5, 1), QTime(12, 0, 0));
}

void BackupBuilder::setEncrypted(const QString& pwd, bool withDp) {
    encrypted = true;
    password = pwd;
    dp = withDp;
}

void BackupBuilder::addAddressBook(bool withImages) {
    const QString tmp = QDir(dir).absoluteFilePath(QStringLiteral("ab-source.sqlitedb"));
    QDir().mkpath(dir);
    writeAddressBook(tmp);
    addFile({QStringLiteral("HomeDomain"),
             QStringLiteral("Library/AddressBook/AddressBook.sqlitedb"), readFile(tmp), 3, false});
    QFile::remove(tmp);
    if (withImages) {
        writeAddressBookImages(tmp);
        addFile({QStringLiteral("HomeDomain"),
                 QStringLiteral("Library/AddressBook/AddressBookImages.sqlitedb"), readFile(tmp), 3,
                 false});
        QFile::remove(tmp);
    }
}

QByteArray BackupBuilder::wrappedFileKey(int cls, QByteArray& fileKey) const {
    fileKey = randomBytes(32);
    QByteArray prefix(4, '\0');
    prefix[0] = char(cls);  // little-endian class number, as devices store it
    return prefix + QOpenSSLEVPAES::aeswrap(classKeys.value(cls), fileKey, true);
}

void BackupBuilder::build() {
    QDir().mkpath(dir);
    const QDir d(dir);
    if (encrypted) {
        keybag = fixture::makeKeybag(password, dp, classKeys);
        if (damagedClass)
            keybag = fixture::damageClassKey(keybag, damagedClass);
    }
    QList<MBDBParser::_MBDBItem> records;
    QSet<QString> sealed;  // file IDs whose descriptors do not decrypt
    long long inode = 1;
    for (const File& f : qAsConst(files)) {
        MBDBParser::_MBDBItem r;
        r.domain.setVal(f.domain.toUtf8());
        r.path.setVal(f.path.toUtf8());
        r.mode = f.folder ? 0x41ED : 0x81A4;
        r.inode = inode++;
        r.userId = r.groupId = 501;
        r.lastModified = r.lastStatusChange = r.birth = 1600000000u;
        r.size = f.bytes.size();
        r.protectionClass = (unsigned char)f.protectionClass;
        r.digest.setVal(QCryptographicHash::hash(f.bytes, QCryptographicHash::Sha1));
        const QString id = r.backupFileName();
        if (!f.folder && f.data == File::Empty) {
            const QString id = r.backupFileName();
            if (encrypted) {
                QByteArray fileKey;
                r.encryptionKey.setVal(wrappedFileKey(f.protectionClass, fileKey));
            }
            writeFile(
                layout == DB ? d.absoluteFilePath(id.left(2) + "/" + id) : d.absoluteFilePath(id),
                QByteArray());
        } else if (!f.folder && f.data == File::Missing) {
            if (encrypted) {
                QByteArray fileKey;
                r.encryptionKey.setVal(wrappedFileKey(f.protectionClass, fileKey));
            }
        } else if (!f.folder) {
            const QString dataPath =
                layout == DB ? d.absoluteFilePath(id.left(2) + "/" + id) : d.absoluteFilePath(id);
            if (encrypted) {
                QByteArray fileKey;
                r.encryptionKey.setVal(wrappedFileKey(f.protectionClass, fileKey));
                writeFile(dataPath, aes256CbcEncrypt(f.bytes, fileKey));
            } else {
                writeFile(dataPath, f.bytes);
            }
        }
        if (f.damage == File::KeyDoesNotUnwrap && r.encryptionKey.isValid())
            r.encryptionKey.val[12] = char(r.encryptionKey.val[12] ^ 0x5A);
        if (f.damage == File::NoKey)
            r.encryptionKey = MBDBParser::_MBDBBinary();
        if (f.damage == File::RecordDoesNotDecrypt)
            sealed.insert(id);
        records.append(r);
    }

    if (layout == MBDB) {
        QByteArray index("mbdb\x05\x00", 6);
        for (const auto& r : qAsConst(records))
            index += mbdbRecord(r);
        writeFile(d.absoluteFilePath(QStringLiteral("Manifest.mbdb")), index);
    } else {
        const QString plainDb = d.absoluteFilePath(dp ? QStringLiteral("Manifest-plain.db")
                                                      : QStringLiteral("Manifest.db"));
        QFile::remove(plainDb);
        runSql(plainDb,
               QStringLiteral("create table Files(fileID text primary key, domain text, "
                              "relativePath text, flags integer, file blob);"
                              "create table Properties(key text primary key, value blob);"));
        Sqlite3DB db;
        db.openThrow(plainDb, 2);
        QByteArray descKey;
        if (!descriptorSalt.isEmpty()) {
            Sqlite3Sql s("insert into Properties(key,value) values('salt',?)");
            s.addBlobParam(descriptorSalt);
            db.executeThrow(s);
            descKey = MBDBParser::fileDescKey(password.toUtf8(), descriptorSalt);
        }
        if (indexInLog)
            // From here on SQLite writes into the log only: the index holds its empty tables.
            db.executeScriptThrow(
                QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"));
        for (const auto& r : qAsConst(records)) {
            Sqlite3Sql s(
                "insert into Files(fileID,domain,relativePath,flags,file) values(?,?,?,?,?)");
            s.addTextParam(r.backupFileName());
            s.addTextParam(r.domain.toString());
            s.addTextParam(r.path.toString());
            s.addIntParam(r.isFolder() ? 2 : 1);
            const QByteArray plist = mbFileArchive(r);
            if (descKey.isEmpty()) {
                s.addBlobParam(plist);
            } else {
                QByteArray sealedPlist = MBDBParser::encryptFileDescThrow(plist, descKey);
                // One byte short of its last block: no cipher takes it.
                if (sealed.contains(r.backupFileName()))
                    sealedPlist.chop(1);
                s.addTextParam(QString::fromLatin1(sealedPlist.toBase64()));
            }
            db.executeThrow(s);
        }
        if (indexInLog) {
            // Taken while SQLite still holds both open, before any checkpoint.
            const QByteArray index = readFile(plainDb);
            const QByteArray log = readFile(plainDb + "-wal");
            db.close();
            writeFile(plainDb, index);
            writeFile(plainDb + "-wal", log);
        } else {
            // A database in WAL mode: opened for writing, SQLite would make files beside it.
            db.executeThrow("PRAGMA journal_mode=WAL");
            db.close();
        }
        if (dp) {
            QByteArray mdbKey;
            manifestKey = wrappedFileKey(3, mdbKey);
            writeFile(d.absoluteFilePath(QStringLiteral("Manifest.db")),
                      aes256CbcEncrypt(readFile(plainDb), mdbKey));
            QFile::remove(plainDb);
        }
    }

    PlistCFType plist = PlistCFType::createCFDictionary();
    PlistCFType lockdown = PlistCFType::createCFDictionary();
    lockdown.put(QStringLiteral("UniqueDeviceID"), PlistCFType::createCFString(deviceId));
    lockdown.put(QStringLiteral("DeviceName"), PlistCFType::createCFString(deviceName));
    lockdown.put(QStringLiteral("ProductType"),
                 PlistCFType::createCFString(QStringLiteral("iPhone10,3")));
    lockdown.put(QStringLiteral("ProductVersion"),
                 PlistCFType::createCFString(QStringLiteral("13.5")));
    lockdown.put(QStringLiteral("SerialNumber"),
                 PlistCFType::createCFString(QStringLiteral("SN123")));
    plist.put(QStringLiteral("Lockdown"), lockdown);
    // The moment the backup was made, stored as that instant (createCFDate keeps the fields it
    // is given as UTC, so it is given the UTC ones).
    if (date.isValid())
        plist.put(QStringLiteral("Date"), PlistCFType::createCFDate(date.toUTC()));
    plist.put(QStringLiteral("IsEncrypted"), PlistCFType::createCFBoolean(encrypted));
    if (encrypted)
        plist.put(QStringLiteral("BackupKeyBag"), PlistCFType::createCFData(keybag));
    if (!manifestKey.isEmpty())
        plist.put(QStringLiteral("ManifestKey"), PlistCFType::createCFData(manifestKey));
    writeFile(d.absoluteFilePath(QStringLiteral("Manifest.plist")),
              plist.CFPropertyListToBytes(200));
    if (!snapshotState.isEmpty()) {
        // As the desktop application writes it (binary), its state last.
        PlistCFType status = PlistCFType::createCFDictionary();
        status.put(QStringLiteral("BackupState"), PlistCFType::createCFString("new"));
        status.put(QStringLiteral("IsFullBackup"), PlistCFType::createCFBoolean(false));
        status.put(QStringLiteral("Version"), PlistCFType::createCFString("3.3"));
        status.put(QStringLiteral("UUID"),
                   PlistCFType::createCFString("9A1B2C3D-0000-4000-8000-0123456789AB"));
        status.put(QStringLiteral("SnapshotState"), PlistCFType::createCFString(snapshotState));
        writeFile(d.absoluteFilePath(QStringLiteral("Status.plist")),
                  status.CFPropertyListToBytes(200));
    }
}

}  // namespace fixture

namespace fixture {

namespace {

QString personsTable(PhoneSchema schema) {
    QString columns = QStringLiteral(
        "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT, "
        "FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, "
        "Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, "
        "Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER, "
        "ModificationDate INTEGER, CompositeNameFallback TEXT, ExternalIdentifier TEXT, "
        "ExternalModificationTag TEXT, ExternalUUID TEXT, StoreID INTEGER, DisplayName TEXT, "
        "ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT, "
        "FirstSortLanguageIndex INTEGER DEFAULT 2147483647, LastSortLanguageIndex INTEGER "
        "DEFAULT 2147483647, PersonLink INTEGER DEFAULT -1, ImageURI TEXT, IsPreferredName "
        "INTEGER DEFAULT 1, guid TEXT, PhonemeData TEXT, AlternateBirthday TEXT, MapsData TEXT, "
        "FirstPronunciation TEXT, MiddlePronunciation TEXT, LastPronunciation TEXT, "
        "OrganizationPhonetic TEXT, OrganizationPronunciation TEXT, PreviousFamilyName TEXT, "
        "PreferredLikenessSource TEXT, PreferredPersonaIdentifier TEXT, DowntimeWhitelist "
        "TEXT, ImageType TEXT, ImageHash BLOB, MemojiMetadata BLOB, ImageBackgroundColorsData "
        "BLOB, CropRectID TEXT, CropRectHash BLOB, SensitiveContentConfiguration BLOB, "
        "Wallpaper BLOB, WallpaperMetadata BLOB, DisplayFlags INTEGER DEFAULT 0");
    if (schema == PhoneSchema::iOS17)
        columns += QStringLiteral(
            ", WallpaperURI TEXT, WatchWallpaperImageData BLOB, LinkedIdentifier TEXT, "
            "IsUnified INTEGER DEFAULT 0, ContactPosterData BLOB");
    return QStringLiteral("CREATE TABLE ABPerson (%1);").arg(columns);
}

const char* const kLinkedSchema =
    "CREATE TABLE ABAccount (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, AccountIdentifier TEXT, "
    "DefaultSourceID INTEGER);"
    "CREATE TABLE ABStore (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, "
    "ExternalIdentifier TEXT, Type INTEGER, ConstraintsPath TEXT, ExternalModificationTag "
    "TEXT, ExternalSyncTag TEXT, AccountID INTEGER, Enabled INTEGER DEFAULT 1, SyncData BLOB, "
    "MeIdentifier INTEGER DEFAULT -1, Capabilities INTEGER DEFAULT 0, "
    "ContactIdentifierStrings BLOB);"
    "CREATE TABLE ABPersonLink (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
    "PreferredImagePersonID INTEGER DEFAULT -1, PreferredNamePersonID INTEGER DEFAULT -1);"
    "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, "
    "identifier INTEGER, label INTEGER, value TEXT, guid TEXT);"
    "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));"
    "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, "
    "UNIQUE(parent_id, key));"
    "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));"
    "INSERT INTO ABAccount VALUES (1,'icloud-account',1), (2,'exchange-account',2),"
    " (3,'google-account',3);"
    "INSERT INTO ABStore(ROWID, Name, Type, AccountID) VALUES (1,'iCloud',3,1),"
    " (2,'Exchange',2,2), (3,'Google',3,3);"
    "INSERT INTO ABMultiValueLabel(rowid, value) VALUES (1,'_$!<Mobile>!$_'), (2,'_$!<Home>!$_'),"
    " (3,'_$!<Work>!$_'), (4,'_$!<School>!$_'), (5,'_$!<iPhone>!$_'), (6,'_$!<Other>!$_'),"
    " (7,'_$!<HomePage>!$_'), (8,'Gym'), (9,'_$!<Daughter>!$_');"
    "INSERT INTO ABMultiValueEntryKey(rowid, value) VALUES (1,'Street'), (2,'City'),"
    " (3,'ZIP'), (4,'Country'), (5,'CountryCode'), (6,'service'), (7,'username');";

// Persons 1..40 and their details; the logged changes add 41 and 42 and link 41 to 40.
QString linkedPersons() {
    QString sql;
    for (int n = 1; n <= 34; ++n) {
        sql += QStringLiteral(
                   "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID) VALUES "
                   "(%1,'Person %2','Filler',0,%3);"
                   "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value)"
                   " VALUES (%4,%1,3,0,1,'+1 555 02%2');")
                   .arg(n)
                   .arg(n, 2, 10, QLatin1Char('0'))
                   .arg(1 + n % 3)
                   .arg(100 + n);
    }
    sql += QStringLiteral(
        // Maria: iCloud and Exchange, the same number in both; the iCloud name preferred.
        "INSERT INTO ABPersonLink VALUES (1,-1,35), (2,39,38);"
        "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID, PersonLink, Birthday) VALUES"
        " (35,'Maria','Lopez',0,1,1,'-300000000.000000');"
        "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID, PersonLink, Organization,"
        " JobTitle, IsPreferredName) VALUES (36,'Maria','Lopez Garcia',0,2,1,'Contoso',"
        " 'Teacher',0);"
        "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value) VALUES"
        " (200,35,3,0,1,'+34 600 000 001'), (201,35,4,0,4,'maria@school.example'),"
        " (202,36,3,0,3,'+34 600 000 001'), (203,36,4,0,3,'maria@contoso.example'),"
        " (204,36,5,0,3,NULL);"
        "INSERT INTO ABMultiValueEntry VALUES (204,1,'Gran Via 1'), (204,2,'Madrid'),"
        " (204,3,'28013'), (204,4,'Spain');"
        // Thomas: iCloud, Google (its name preferred) and Exchange (its image preferred).
        "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID, PersonLink) VALUES"
        " (37,'Tom','Baker',0,1,2), (38,'Thomas','Baker',0,3,2);"
        "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID, PersonLink, Organization)"
        " VALUES (39,'T.','Baker',0,2,2,'Fabrikam');"
        "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value) VALUES"
        " (210,37,3,0,5,'+44 7700 900001'), (211,38,4,0,2,'tom@mail.example'),"
        " (212,38,22,0,7,'https://tom.example'), (213,38,23,0,9,'Anna Baker'),"
        " (214,39,3,0,3,'+44 20 7946 0001'), (215,39,4,0,8,'tom@gym.example'),"
        " (216,37,13,0,2,NULL);"
        "INSERT INTO ABMultiValueEntry VALUES (216,6,'Skype'), (216,7,'tom.baker');"
        // Wen Li in iCloud; the Google card of the same person comes with the logged changes.
        "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID) VALUES (40,'Wen','Li',0,1);"
        "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value) VALUES"
        " (220,40,3,0,1,'+86 10 5555 0001');");
    return sql;
}

const char* const kLoggedChanges =
    "INSERT INTO ABPersonLink VALUES (3,-1,40);"
    "UPDATE ABPerson SET PersonLink = 3 WHERE ROWID = 40;"
    "INSERT INTO ABPerson(ROWID, First, Last, Kind, StoreID, PersonLink) VALUES"
    " (41,'Li','Wen',0,3,3), (42,'Late','Addition',0,1,-1);"
    "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value) VALUES"
    " (230,41,4,0,2,'wen.li@mail.example'), (231,41,3,0,1,'+86 10 5555 0001'),"
    " (232,42,3,0,4,'+1 555 0299');";

// Writes the database with `base`, then `logged` into the write-ahead log only (when in
// use); the bytes are read while the log is still open, as a backup of a phone in use holds
// them.
void writeWithLog(const QString& path, const std::function<void(Sqlite3DB&)>& base,
                  const std::function<void(Sqlite3DB&)>& logged, bool inUse, QByteArray& db,
                  QByteArray& wal) {
    QFile::remove(path);
    QFile::remove(path + "-wal");
    Sqlite3DB d;
    d.openThrow(path, 6);
    d.executeScriptThrow(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"));
    base(d);
    if (!inUse)
        logged(d);
    d.executeScriptThrow(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE);"));
    if (inUse) {
        logged(d);
        wal = readFile(path + "-wal");
    }
    db = readFile(path);
    d.close();
    QFile::remove(path);
}

QByteArray picture(char fill, int size) {
    return QByteArray::fromHex("ffd8ffe0") + QByteArray(size, fill);
}

}  // namespace

PhoneAddressBook linkedAddressBook(PhoneSchema schema, bool inUse) {
    QTemporaryDir tmp;
    PhoneAddressBook out;
    const QString book = personsTable(schema) + QLatin1String(kLinkedSchema) + linkedPersons();
    writeWithLog(
        tmp.filePath("AddressBook.sqlitedb"), [&book](Sqlite3DB& d) { d.executeScriptThrow(book); },
        [](Sqlite3DB& d) { d.executeScriptThrow(QLatin1String(kLoggedChanges)); }, inUse, out.book,
        out.bookWal);
    auto put = [](Sqlite3DB& d, const char* sql, int record, const QByteArray& bytes) {
        Sqlite3Sql s(sql);
        s.addIntParam(record);
        s.addBlobParam(bytes);
        d.executeThrow(s);
    };
    const char* const thumbnail =
        "insert into ABThumbnailImage(record_id, format, data) values(?,0,?)";
    writeWithLog(
        tmp.filePath("AddressBookImages.sqlitedb"),
        [&](Sqlite3DB& d) {
            d.executeScriptThrow(QStringLiteral(
                "CREATE TABLE ABFullSizeImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                "record_id INTEGER, crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, "
                "crop_height INTEGER, data BLOB, UNIQUE(record_id));"
                "CREATE TABLE ABThumbnailImage (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                "record_id INTEGER, format INTEGER, derived_from_format INTEGER, data BLOB, "
                "UNIQUE(record_id, format));"));
            put(d, thumbnail, 37, picture('t', 30));
            put(d, "insert into ABFullSizeImage(record_id, data) values(?,?)", 39,
                picture('F', 200));
            put(d, thumbnail, 39, picture('f', 30));
        },
        // The late card's thumbnail is a logged change too.
        [&](Sqlite3DB& d) { put(d, thumbnail, 42, picture('L', 40)); }, inUse, out.images,
        out.imagesWal);
    return out;
}

namespace {

QString dataScript(const char* name) {
    QFile f(QStringLiteral(TW_BACKUP_TEST_DATA "/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error(std::string("fixture: cannot read ") + name);
    return QString::fromUtf8(f.readAll());
}

// The database of `base`; then the same with `change` begun and not committed, read while the
// transaction is open. Pages spill into the database long before the commit (a cache of one
// page), so the file alone holds half the change and the journal beside it what undoes it.
void writeMidChange(const QString& path, const QString& base, const QString& change,
                    QByteArray& committed, QByteArray& db, QByteArray& journal) {
    QFile::remove(path);
    QFile::remove(path + "-journal");
    Sqlite3DB d;
    d.openThrow(path, 6);
    d.executeScriptThrow(QStringLiteral("PRAGMA journal_mode=DELETE;") + base);
    committed = readFile(path);
    d.executeScriptThrow(QStringLiteral("PRAGMA cache_size=1; PRAGMA cache_spill=1; BEGIN;") +
                         change);
    db = readFile(path);
    journal = readFile(path + "-journal");
    d.executeScriptThrow(QStringLiteral("ROLLBACK;"));
    d.close();
    QFile::remove(path);
}

}  // namespace

JournalledAddressBook journalledAddressBook() {
    QTemporaryDir tmp;
    JournalledAddressBook out;
    const QString change = dataScript("older-phone-change.sql");
    writeMidChange(tmp.filePath("AddressBook.sqlitedb"), dataScript("older-phone-addressbook.sql"),
                   change, out.book, out.midChangeBook, out.midChangeBookJournal);
    writeMidChange(tmp.filePath("AddressBookImages.sqlitedb"), dataScript("older-phone-images.sql"),
                   dataScript("older-phone-images-change.sql"), out.images, out.midChangeImages,
                   out.midChangeImagesJournal);
    // The change committed; the journal stays with its header cleared.
    const QString path = tmp.filePath("kept.sqlitedb");
    writeFile(path, out.book);
    Sqlite3DB d;
    d.openThrow(path, 2);
    d.executeScriptThrow(QStringLiteral("PRAGMA journal_mode=PERSIST; BEGIN;") + change +
                         QStringLiteral("COMMIT;"));
    d.close();
    out.changedBook = readFile(path);
    out.keptJournal = readFile(path + "-journal");
    return out;
}

void makeIndexJournalHot(const QString& manifestDb) {
    const QString work = manifestDb + ".work";
    writeFile(work, readFile(manifestDb));
    Sqlite3DB d;
    d.openThrow(work, 2);
    // A cache of one page spills each change into the file long before the commit.
    d.executeScriptThrow(
        QStringLiteral("PRAGMA journal_mode=DELETE; PRAGMA cache_size=1; PRAGMA cache_spill=1; "
                       "BEGIN; DELETE FROM Files;"));
    const QByteArray half = readFile(work);
    const QByteArray journal = readFile(work + "-journal");
    d.executeScriptThrow(QStringLiteral("ROLLBACK;"));
    d.close();
    QFile::remove(work);
    writeFile(manifestDb, half);
    writeFile(manifestDb + "-journal", journal);
}

void BackupBuilder::addLinkedAddressBook(PhoneSchema schema, bool inUse) {
    const PhoneAddressBook book = linkedAddressBook(schema, inUse);
    const QString dir = QStringLiteral("Library/AddressBook/");
    addFile({"HomeDomain", dir + "AddressBook.sqlitedb", book.book, 3, false});
    addFile({"HomeDomain", dir + "AddressBookImages.sqlitedb", book.images, 3, false});
    if (inUse) {
        addFile({"HomeDomain", dir + "AddressBook.sqlitedb-wal", book.bookWal, 3, false});
        addFile({"HomeDomain", dir + "AddressBookImages.sqlitedb-wal", book.imagesWal, 3, false});
    }
}

}  // namespace fixture
