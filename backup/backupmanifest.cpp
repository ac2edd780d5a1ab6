#include "backupmanifest.h"

#include "backupsourcefile.h"
#include "device/plistcftype.h"
#include "privatetempdir.h"
#include "qopensslevpaes.h"

#include "store/data_path_util.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/time.h>

#include <stdexcept>

namespace {

[[noreturn]] void throwText(const QString& text) {
    throw std::runtime_error(text.toUtf8().constData());
}

// Bytes ciphered per read and write: an address book's images run to hundreds of megabytes,
// and small blocks spend more on the calls than on the cipher.
constexpr int kCipherBlock = 1 << 20;

// The page that explains how to let the program read device backups on newer macOS.
const char* const kBackupAccessHowTo = "http://www.tellwick.example/backup-access.html";

const char* const kRootMergeDomains =
    "=Domain=MediaDomain=RootDomain=HomeDomain=SystemPreferencesDomain=MobileDeviceDomain="
    "WirelessDomain=DatabaseDomain=CameraRollDomain=HealthDomain=KeychainDomain=KeyboardDomain="
    "ManagedPreferencesDomain=";

// The keybag opened with the password but some of its keys did not: name the damage, what
// to do, then which keys.
QString keybagDamage(const QList<int>& unopened) {
    QStringList classes;
    for (int c : unopened)
        classes << QString::number(c);
    return QCoreApplication::translate(
               "BackupManifest",
               "This backup is damaged: the password is right, but the keybag in its "
               "Manifest.plist holds keys that do not open with it. Make a new encrypted backup "
               "of the phone and import that one. (Keys of protection class %1 do not unwrap.)")
        .arg(classes.join(QStringLiteral(", ")));
}

QString baseName(const QString& fileName) {
    const int dot = fileName.indexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

}  // namespace

BackupManifest::_FileNode::_FileNode(_FileNode* p, MBDBParser::_MBDBItem i, QString n)
    : name(std::move(n)), item(std::move(i)), parent(p) {}

BackupManifest::_FileNode::~_FileNode() {
    qDeleteAll(children);
    children.clear();
}

BackupManifest::BackupManifest(QString path, QObject* parent)
    : QObject(parent), dir(path), root(nullptr, MBDBParser::_MBDBItem(), QString()) {}

BackupManifest::~BackupManifest() = default;  // the private folder goes with privateDir

QList<QDir> BackupManifest::iTunesBackupDirs() {
    return QList<QDir>() << QDir(
               g_osAppDir().absoluteFilePath(QStringLiteral("MobileSync/Backup")));
}

void BackupManifest::readManifestInfo() {
    const QString path = dir.absoluteFilePath(QStringLiteral("Manifest.plist"));
    if (!QFile::exists(path)) {
        throwText(
            QStringLiteral("Cannot find ") + path +
            tr("<br/>If you are using MacOS 10.14 or above,  please click ") +
            QStringLiteral("<a href=\"%1\">HERE</a>.").arg(QLatin1String(kBackupAccessHowTo)));
    }
    // Only a regular file: a pipe would hold the window waiting for a writer, a device would
    // never end.
    BackupSourceFile file(path);
    if (!file.openRegular())
        throwText(file.errorString());
    if (file.diskSize() > kMaxManifestPlistBytes)
        throwText(QStringLiteral("%1 is too large (%2 bytes).").arg(path).arg(file.diskSize()));
    // Read what the file holds: read(limit) would reserve the whole limit for every folder.
    const QByteArray bytes = file.read(file.diskSize());
    file.close();
    const PlistCFType plist = PlistCFType::createCFPropertyList(bytes);
    info.isReadable = plist.isCFDictionary();
    const PlistCFType lockdown = plist.get(QStringLiteral("Lockdown"));
    info.uniqueDeviceID = lockdown.get(QStringLiteral("UniqueDeviceID")).CFStringQString();
    info.deviceName = lockdown.get(QStringLiteral("DeviceName")).CFStringQString();
    // When the backup was made: a true moment, shown in local time as Status.plist's is, not
    // a calendar date kept by its wall-clock fields as a contact's dates are.
    info.date = plist.get(QStringLiteral("Date")).CFDateToMoment();
    info.productType = lockdown.get(QStringLiteral("ProductType")).CFStringQString();
    info.productVersion = lockdown.get(QStringLiteral("ProductVersion")).CFStringQString();
    info.serialNumber = lockdown.get(QStringLiteral("SerialNumber")).CFStringQString();
    info.isEncrypted = plist.get(QStringLiteral("IsEncrypted")).CFNumberBool(false);
    info.backupKeyBag = plist.get(QStringLiteral("BackupKeyBag")).CFDataBytes();
    info.manifestKey = plist.get(QStringLiteral("ManifestKey")).CFDataBytes();

    const QString folder = dir.dirName();
    if (folder.contains(info.uniqueDeviceID, Qt::CaseSensitive)) {
        // An empty device ID would put the device name between every character.
        displayName =
            info.uniqueDeviceID.isEmpty()
                ? (info.deviceName.isEmpty() ? folder : info.deviceName + QLatin1Char('-') + folder)
                : QString(folder).replace(info.uniqueDeviceID, info.deviceName, Qt::CaseSensitive);
    } else {
        displayName = info.deviceName + QLatin1Char('-') + folder;
    }

    const QFileInfo status(dir.absoluteFilePath(QStringLiteral("Status.plist")));
    if (status.exists() && status.isFile()) {
        info.date = status.lastModified();
        // Whether the backup ran to its end: "finished" once it did. A file that cannot be
        // read tells nothing, and the backup is not called unfinished for it.
        BackupSourceFile statusFile(status.absoluteFilePath(), kMaxManifestPlistBytes);
        if (status.size() <= kMaxManifestPlistBytes && statusFile.openRegular())
            info.snapshotState = PlistCFType::createCFPropertyList(statusFile.read(status.size()))
                                     .get(QStringLiteral("SnapshotState"))
                                     .CFStringQString();
    }
}

QString BackupManifest::dirPathMd5() const {
    return QString::fromLatin1(
        QCryptographicHash::hash(dir.absolutePath().toUtf8(), QCryptographicHash::Md5).toHex());
}

bool BackupManifest::setPasscodeNoUIThrow(QString pwd) {
    keybag = parseKeybag(info.backupKeyBag);
    // A keybag no password can open is damaged, not a wrong password: say which.
    g_checkKeybagThrow(keybag);
    QList<int> unopened;
    int wrapped = 0;
    if (!unlockWithPasscode(pwd.toUtf8(), keybag, &unopened, &wrapped)) {
        // A wrong password opens none of the keys; this one opened the others, so it is right
        // and the keybag is damaged: asking for the password again would never help.
        if (unopened.size() < wrapped)
            throwText(keybagDamage(unopened));
        return false;
    }
    // A keybag that protects nothing with the password would accept any password and leave
    // every file unreadable: say so instead of pretending the backup is open.
    if (info.isEncrypted) {
        bool anyKey = false;
        for (const _KeybagPros& rec : qAsConst(keybag.classKeys))
            anyKey = anyKey || rec.tags.contains(QStringLiteral("KEY"));
        if (!anyKey)
            throwText(
                tr("The keybag of this backup holds no password-protected key; it is damaged."));
    }
    const QMap<QString, QByteArray>& a = keybag.attrs;
    if (a.contains(QStringLiteral("DPIC")) && a.contains(QStringLiteral("DPSL"))) {
        const QByteArray wrapped = info.manifestKey.mid(4);
        QByteArray key;
        for (auto it = keybag.classKeys.constBegin(); it != keybag.classKeys.constEnd(); ++it) {
            key = unwrapKeyForClass(keybag, it.key(), wrapped);
            if (!key.isEmpty())
                break;
        }
        if (key.isEmpty() && !info.manifestKey.isEmpty())
            throwText(
                tr("Manifest.plist is damaged: its ManifestKey does not open with the "
                   "keys of the backup."));
        if (!key.isEmpty()) {
            // The decrypted index is the backup's file list in the clear: it lives in a folder
            // of this user's own and goes with this object, never beside the backup.
            if (!privateDir)
                privateDir.reset(new BackupTempDir);
            const QString copy = privateDir->filePath(QStringLiteral("Manifest-decrypted.db"));
            decryptFileThrow(key, dir.absoluteFilePath(QStringLiteral("Manifest.db")), copy,
                             nullptr, nullptr);
            decryptedDbPath = copy;
            manifestDbKey = key;
        }
    }
    password = pwd;
    return true;
}

void BackupManifest::openDestThrow(QFile& out, bool makeDestDir) {
    if (makeDestDir) {
        const QFileInfo destInfo(out.fileName());
        if (!destInfo.absoluteDir().exists())
            QDir().mkpath(destInfo.absolutePath());
    }
    // Whatever is written here may be decrypted data: readable by this user only.
    const QString reason = g_openPrivateFile(out);
    if (!reason.isEmpty())
        throwText(tr("can not create %1. %2").arg(out.fileName(), reason));
}

void BackupManifest::removePartial(QFile& out) {
    out.close();
    // Only a regular file that this copy wrote; never a device or a folder.
    if (QFileInfo(out.fileName()).isFile())
        QFile::remove(out.fileName());
}

void BackupManifest::failWriteThrow(QFile& out) {
    const QString reason = out.errorString();
    removePartial(out);
    throwText(tr("can not write %1. %2").arg(out.fileName(), reason));
}

void BackupManifest::finishDestThrow(QFile& out) {
    // The close would flush too, but it reports nothing: flush first and look.
    if (!out.flush())
        failWriteThrow(out);
    out.close();
    if (out.error() != QFileDevice::NoError)
        failWriteThrow(out);
}

void BackupManifest::cipherFileThrow(const QByteArray& key, const QString& src, const QString& dest,
                                     bool encrypt, bool makeDestDir, qint64 limit) {
    const QString failed =
        encrypt ? QStringLiteral("BackupManifest::encryptFileThrow: encrypt failed. %1")
                : QStringLiteral("BackupManifest::decryptFile: decrypt failed. %1");
    // Refuse a bad key before anything is opened, so that an existing destination stays.
    if (key.size() != 32)
        throwText(failed.arg(QStringLiteral("invalid key size.")));
    BackupSourceFile in(src, limit);
    in.openThrow();
    QFile out(dest);
    openDestThrow(out, makeDestDir);
    QOpenSSLEVPAES aes;
    const bool ok = aes.init(QOpenSSLEVPAES::cbcForKey(32), key, QByteArray(16, '\0'), encrypt) &&
                    aes.updateAll(&in, &out, kCipherBlock) >= 0 && aes.finalAll(&out, 8192) >= 0;
    if (!ok) {
        if (out.error() != QFileDevice::NoError)
            failWriteThrow(out);
        removePartial(out);
        if (in.failed())
            throwText(tr("can not read %1. %2").arg(src, in.errorString()));
        // The cipher refused the data: a damaged file or a key that does not belong to it.
        throwText(failed.arg(
            tr("%1 is damaged or the key does not fit it (%2)").arg(src, aes.errorString)));
    }
    finishDestThrow(out);
}

void BackupManifest::decryptFileThrow(const QByteArray& key, const QString& src,
                                      const QString& dest, void*, BackupCopyProgress,
                                      qint64 limit) const {
    cipherFileThrow(key, src, dest, false, true, limit);
}

void BackupManifest::encryptFileThrow(const QString& src, const QString& dest,
                                      const QByteArray& key) {
    if (key.isEmpty()) {
        QFile in(src);
        if (!in.copy(dest))
            throwText(tr("can not write %1. %2").arg(dest, in.errorString()));
        return;
    }
    cipherFileThrow(key, src, dest, true, false, -1);
}

void BackupManifest::parseInfo() {
    if (!root.children.isEmpty())
        return;
    MBDBParser::MBDBItemMap map = MBDBParser::parse(*this);
    items = map.items;
    maxInode = map.maxInode;

    QList<MBDBParser::_MBDBItem> sorted = items.values();
    std::sort(sorted.begin(), sorted.end(), compareMBDBItemLess);

    static const QRegularExpression appDomain(QStringLiteral("^AppDomain([^-]*)-(.+)"));
    const QString mergeList = QLatin1String(kRootMergeDomains);
    QMap<QString, _FileNode*> lookup;
    auto ensureFolder = [&](const QString& name) {
        if (lookup.contains(name))
            return;
        MBDBParser::_MBDBItem folder;
        folder.mode = 0x4000;
        _FileNode* node = new _FileNode(&root, folder, name);
        root.children.append(node);
        lookup.insert(name, node);
    };

    for (const MBDBParser::_MBDBItem& rec : qAsConst(sorted)) {
        const QString domain = rec.domain.toString();
        const QString path = rec.path.toString();
        QString treePath;
        const QRegularExpressionMatch m = appDomain.match(domain);
        if (m.hasMatch()) {
            const QString group = m.captured(1).isEmpty()
                                      ? QStringLiteral("Applications")
                                      : QStringLiteral("AppDomain") + m.captured(1);
            ensureFolder(group);
            treePath = group + QLatin1Char('/') + m.captured(2);
            if (!path.isEmpty())
                treePath += QLatin1Char('/') + path;
        } else if (mergeList.contains(QLatin1Char('=') + domain + QLatin1Char('='))) {
            treePath = path;
        } else {
            ensureFolder(domain);
            treePath = domain + QLatin1Char('/') + path;
        }
        const int slash = treePath.lastIndexOf(QLatin1Char('/'));
        const QString name = slash < 0 ? treePath : treePath.mid(slash + 1);
        const QString parentPath = slash < 0 ? QString() : treePath.left(slash);
        if (name.isEmpty() || lookup.contains(treePath))
            continue;
        _FileNode* parent = parentPath.isEmpty() ? nullptr : lookup.value(parentPath, nullptr);
        if (!parent)
            parent = &root;
        _FileNode* node = new _FileNode(parent, rec, name);
        parent->children.append(node);
        lookup.insert(treePath, node);
        fillLookups(node);
    }
}

void BackupManifest::fillLookups(const _FileNode* node) {
    const QString domain = node->item.domain.toString();
    const QString path = node->item.path.toString();
    if (domain.compare(QLatin1String("CameraRollDomain"), Qt::CaseInsensitive) == 0) {
        fillCameraRollLookups(node, path);
    } else if (domain.compare(QLatin1String("HomeDomain"), Qt::CaseInsensitive) == 0) {
        fillHomeLookups(node, path);
    } else if (domain.compare(QLatin1String("MediaDomain"), Qt::CaseInsensitive) == 0) {
        fillMediaLookups(node, path);
    } else if (domain.compare(QLatin1String("WirelessDomain"), Qt::CaseInsensitive) == 0) {
        if (!callHistoryDb && path.compare(QLatin1String("Library/CallHistory/call_history.db"),
                                           Qt::CaseInsensitive) == 0)
            callHistoryDb = node;
    }
}

void BackupManifest::fillCameraRollLookups(const _FileNode* node, const QString& path) {
    const auto ci = QRegularExpression::CaseInsensitiveOption;
    static const QRegularExpression r1(
        QStringLiteral("^Media/DCIM/\\d+APPLE/[^/\\.]+(\\.[^/\\.]+)"), ci);
    static const QRegularExpression r2(
        QStringLiteral("^Media/PhotoData/MetaData/DCIM/\\d+APPLE/([^/\\.]+)(\\.[^/\\.]+)"), ci);
    static const QRegularExpression r3(
        QStringLiteral("^Media/DCIM/\\.THMB/[^/]+/\\d+APPLE___([^/\\.]+)(\\.[^/\\.]+)"), ci);
    QRegularExpressionMatch m = r1.match(path);
    if (m.hasMatch()) {
        const QString ext = m.captured(1).toLower();
        if (ext == QLatin1String(".mov"))
            cameraRollVideos.append(node);
        else if (ext == QLatin1String(".jpg") || ext == QLatin1String(".png"))
            cameraRollPhotos.append(node);
        return;
    }
    m = r2.match(path);
    if (m.hasMatch()) {
        if (m.captured(2).toLower() == QLatin1String(".thm"))
            cameraRollThumbnails.insert(m.captured(1), node);
        return;
    }
    m = r3.match(path);
    if (m.hasMatch()) {
        const QString ext = m.captured(2).toLower();
        if (ext == QLatin1String(".jpg") || ext == QLatin1String(".png"))
            cameraRollThumbnails.insert(m.captured(1), node);
    }
}

void BackupManifest::fillHomeLookups(const _FileNode* node, const QString& path) {
    struct Known {
        const _FileNode** field;
        const char* path;
    };
    const Known known[] = {
        {&smsDb, "Library/SMS/sms.db"},
        {&addressBookDb, "Library/AddressBook/AddressBook.sqlitedb"},
        {&addressBookImagesDb, "Library/AddressBook/AddressBookImages.sqlitedb"},
        {&addressBookWal, "Library/AddressBook/AddressBook.sqlitedb-wal"},
        {&addressBookImagesWal, "Library/AddressBook/AddressBookImages.sqlitedb-wal"},
        {&addressBookJournal, "Library/AddressBook/AddressBook.sqlitedb-journal"},
        {&addressBookImagesJournal, "Library/AddressBook/AddressBookImages.sqlitedb-journal"},
        {&notesDb, "Library/Notes/notes.sqlite"},
        {&calendarDb, "Library/Calendar/Calendar.sqlitedb"},
        {&calendarExtrasDb, "Library/Calendar/Extras.db"},
        {&voicemailDb, "Library/Voicemail/voicemail.db"},
        {&safariBookmarksDb, "Library/Safari/Bookmarks.db"},
        {&callHistoryStore, "Library/CallHistoryDB/CallHistory.storedata"},
    };
    for (const Known& k : known) {
        if (!*k.field && path.compare(QLatin1String(k.path), Qt::CaseInsensitive) == 0) {
            *k.field = node;
            return;
        }
    }
    static const QRegularExpression vm(QStringLiteral("^Library/Voicemail/(\\d+)\\.amr$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = vm.match(path);
    if (m.hasMatch()) {
        bool ok = false;
        const int n = m.captured(1).toInt(&ok);
        voicemails.insert(ok ? n : 0, node);
    }
}

void BackupManifest::fillMediaLookups(const _FileNode* node, const QString& path) {
    if (!recordingsDb &&
        path.compare(QLatin1String("Media/Recordings/Recordings.db"), Qt::CaseInsensitive) == 0) {
        recordingsDb = node;
        return;
    }
    if (path.startsWith(QLatin1String("Library/SMS/"), Qt::CaseInsensitive)) {
        if (!node->item.isFolder())
            fillSmsLookups(node, path);
        return;
    }
    static const QRegularExpression rec4(QStringLiteral("^Media/Recordings/([^/.]+\\.m4a)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = rec4.match(path);
    if (m.hasMatch() && !node->item.isFolder())
        recordings.insert(m.captured(1), node);
}

void BackupManifest::fillSmsLookups(const _FileNode* node, const QString& path) {
    const auto ci = QRegularExpression::CaseInsensitiveOption;
    const QString device = QStringLiteral("/var/mobile/");
    const int p = path.lastIndexOf(QLatin1String("-preview"));
    if (p > 0) {
        smsAttachmentsByDevicePath.insert(device + path.left(p) + QStringLiteral("-preview"), node);
        const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        if (fileName.contains(QLatin1String("-preview-left"), Qt::CaseInsensitive))
            smsAttachmentsByDevicePath.insert(
                device + path.left(p) + QStringLiteral("-preview-left"), node);
    } else {
        const int d = path.lastIndexOf(QLatin1Char('.'));
        smsAttachmentsByDevicePath.insert(device + (d > 0 ? path.left(d) : path), node);
    }
    static const QRegularExpression parts(QStringLiteral("^Library/SMS/Parts/[^/]+/[^/]+/([^/]+)$"),
                                          ci);
    static const QRegularExpression att(QStringLiteral("^Library/SMS/Attachments/([^/]+)/([^/]+)$"),
                                        ci);
    QRegularExpressionMatch m = parts.match(path);
    if (m.hasMatch()) {
        smsParts.insert(baseName(m.captured(1)), node);
    } else {
        m = att.match(path);
        if (m.hasMatch())
            smsAttachments.insert(m.captured(1) + QLatin1Char('/') + baseName(m.captured(2)), node);
    }
}

void BackupManifest::copyFile(const _FileNode* node, QString destPath, void* userData,
                              BackupCopyProgress progress) const {
    if (!node)
        return;
    copyItemThrow(node->item, destPath, userData, progress);
}

void BackupManifest::copyCompanion(const _FileNode* companion, const QString& databaseCopy,
                                   const QString& suffix) const {
    // An empty log or journal adds nothing (SQLite leaves one after a checkpoint or a commit).
    // Phones list it with size 0 and may write no file for it, or an empty one that no cipher
    // would take. One listed with bytes is copied, or found short (copyItemThrow).
    if (!companion || companion->item.size == 0)
        return;
    const QString dest = databaseCopy + suffix;
    copyFile(companion, dest, nullptr, nullptr);
    // One that decrypts to nothing is as empty.
    if (QFileInfo(dest).size() == 0)
        QFile::remove(dest);
}

QString BackupManifest::missingFile(const _FileNode* node) const {
    // An empty file may have no data file: nothing of it is missing.
    if (!node || node->item.isFolder() || node->item.size == 0)
        return QString();
    const QString path = MBDBParser::getBKFilePath(dir, node->item.backupFileName(), false);
    return QFileInfo::exists(path) ? QString() : path;
}

bool BackupManifest::isUnfinished() const {
    return !info.snapshotState.isEmpty() && info.snapshotState != QLatin1String("finished");
}

void BackupManifest::throwUnreadableManifestPlist(const QString& sign) const {
    const QFileInfo plist(dir.absoluteFilePath(QStringLiteral("Manifest.plist")));
    throwText(tr("The backup's Manifest.plist is empty or damaged, and the backup looks "
                 "encrypted, so it cannot be read: Manifest.plist tells whether a backup is "
                 "encrypted and holds the keys that open it. Make a new backup of the phone and "
                 "import that one. (%1 holds %2 bytes; %3)")
                  .arg(plist.absoluteFilePath())
                  .arg(plist.size())
                  .arg(sign));
}

void BackupManifest::copyItemThrow(const MBDBParser::_MBDBItem& item, QString destPath,
                                   void* userData, BackupCopyProgress progress) const {
    // The source is named by the record's file ID (hex), never by its domain or path, and the
    // destination is the caller's: nothing in a record can steer where bytes are written.
    const QString src = MBDBParser::getBKFilePath(dir, item.backupFileName(), false);
    const QString name = g_recordName(item.domain.toString(), item.path.toString());
    // In an encrypted backup a file is handed on decrypted or not at all: its stored bytes
    // copied as they lie would reach the caller as a file that reads as damaged.
    QByteArray key;
    if (info.isEncrypted && item.encryptionKey.isValid()) {
        key = unwrapKeyForClass(keybag, int(item.protectionClass), item.encryptionKey.val.mid(4));
        if (key.isEmpty())
            throwText(tr("This backup may be damaged: the key of %1 does not open with the "
                         "backup's keys, so the file cannot be decrypted. Make a new encrypted "
                         "backup of the phone and import that one.")
                          .arg(name));
    } else if (info.isEncrypted) {
        // An empty file has nothing to decrypt; a missing one fails to open below.
        if (QFileInfo(src).size() > 0)
            throwText(tr("This backup may be damaged: its index holds no key for %1, so the "
                         "file cannot be decrypted. Make a new encrypted backup of the phone "
                         "and import that one.")
                          .arg(name));
    } else if (item.encryptionKey.isValid() && !info.isReadable) {
        throwUnreadableManifestPlist(tr("the index lists %1 with a file key").arg(name));
    }
    checkDataFileThrow(item, src, !key.isEmpty());
    // Never read beyond the size the index gives: a file standing in for the data file ends
    // there. Ciphertext adds its padding: one to sixteen bytes up to a whole block.
    const qint64 size = qMax<qint64>(0, item.size);
    if (!key.isEmpty())
        decryptFileThrow(key, src, destPath, userData, progress, (size / 16 + 1) * 16);
    else
        copyPlainThrow(src, destPath, userData, progress, size);
    const long long t = static_cast<long long>(static_cast<int>(item.lastModified));
    struct timeval times[2];
    times[0].tv_sec = static_cast<time_t>(t);
    times[0].tv_usec = 0;
    times[1] = times[0];
    utimes(QFile::encodeName(destPath).constData(), times);
}

void BackupManifest::checkDataFileThrow(const MBDBParser::_MBDBItem& item, const QString& src,
                                        bool encrypted) const {
    const QString name = g_recordName(item.domain.toString(), item.path.toString());
    const QString irregular = BackupSourceFile::irregularity(src);
    if (!irregular.isEmpty())
        throw BackupSourceFile::NotRegular(
            tr("This backup cannot be read: the data file of %1, %2. Only regular files of a "
               "backup are read: make a new backup of the phone and import that one.")
                .arg(name, irregular)
                .toUtf8()
                .toStdString());
    // A missing file fails to open, with the system's words. Ciphertext that is short but not
    // empty fails to decrypt, with the cipher's.
    const QFileInfo data(src);
    const bool isShort = encrypted ? data.size() == 0 : data.size() < item.size;
    if (data.exists() && item.size > 0 && isShort)
        throw ShortFile(tr("This backup may be damaged: its index lists %1 with %2 bytes, but its "
                           "file %3 holds %4. Make a new backup of the phone and import that one.")
                            .arg(name)
                            .arg(item.size)
                            .arg(src)
                            .arg(data.size())
                            .toUtf8()
                            .toStdString());
}

void BackupManifest::copyPlainThrow(const QString& src, const QString& destPath, void* userData,
                                    BackupCopyProgress progress, qint64 limit) {
    BackupSourceFile in(src, limit);
    in.openThrow();
    QFile out(destPath);
    openDestThrow(out, true);
    const qint64 total = in.bytesAvailable();
    qint64 done = 0;
    QByteArray buf(8192, '\0');
    for (;;) {
        const qint64 n = in.read(buf.data(), buf.size());
        if (n == 0)
            break;
        if (n < 0) {
            const QString reason = in.errorString();
            removePartial(out);
            throwText(tr("can not read %1. %2").arg(src, reason));
        }
        // A short write sets no error; writing the rest then fails with the reason.
        for (qint64 at = 0; at < n;) {
            const qint64 w = out.write(buf.constData() + at, n - at);
            if (w <= 0)
                failWriteThrow(out);
            at += w;
        }
        done += n;
        if (progress)
            progress(total, done, userData);
    }
    finishDestThrow(out);
}
