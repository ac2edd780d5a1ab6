// One device backup folder: its Manifest.plist facts, the unlock state of an encrypted backup,
// its file index and the file tree built from it, and copying files out of it.
#pragma once

#include "keybag.h"
#include "mbdbparser.h"
#include "privatetempdir.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <stdexcept>

class BackupSourceFile;
class QFile;

// Byte progress of a file copy: (total, done, userData).
typedef void (*BackupCopyProgress)(qint64 total, qint64 done, void* userData);

class BackupManifest : public QObject {
    Q_OBJECT
public:
    struct _InfoPlist {
        QString uniqueDeviceID;
        QString deviceName;
        QDateTime date;
        QString productType;
        QString productVersion;
        QString serialNumber;
        bool isEncrypted = false;
        QByteArray backupKeyBag;
        QByteArray manifestKey;
        // "SnapshotState" of Status.plist ("finished" once the backup ran to its end); empty
        // when the file or the key is not there.
        QString snapshotState;
        // Manifest.plist held a property-list dictionary; an empty or damaged one says nothing,
        // not even whether the backup is encrypted.
        bool isReadable = false;
    };

    struct _FileNode {
        _FileNode(_FileNode* parent, MBDBParser::_MBDBItem item, QString name);
        ~_FileNode();
        _FileNode(const _FileNode&) = delete;
        _FileNode& operator=(const _FileNode&) = delete;

        QString name;
        MBDBParser::_MBDBItem item;
        _FileNode* parent;
        QList<_FileNode*> children;
    };

    // A file that lies in the folder with fewer bytes than the index gives it (a crash can
    // leave a file empty): what it held is lost, it is not an empty file.
    class ShortFile : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    explicit BackupManifest(QString path, QObject* parent = nullptr);
    ~BackupManifest() override;

    // The folders in which backups are looked for ("MobileSync/Backup" under the user's
    // application-support folder).
    static QList<QDir> iTunesBackupDirs();

    // Reads "Manifest.plist" (and the date of "Status.plist"). Throws std::runtime_error.
    void readManifestInfo();
    // MD5 of the folder's absolute path: tells two listed folders apart.
    QString dirPathMd5() const;

    // Password check without UI; false for a wrong password (a class key did not unwrap).
    // Throws when the keybag is damaged or the decrypted manifest database cannot be written.
    bool setPasscodeNoUIThrow(QString password);
    // The same check on a worker thread behind a modal progress dialog (GUI thread only).
    // `failed` (when given) tells an error, already shown, from a wrong password.
    bool setPasscode(QString password, bool* failed = nullptr);

    // Reads the file index and builds the file tree, once.
    void parseInfo();
    // Copies a node's file out of the backup (nothing for a null node).
    void copyFile(const _FileNode* node, QString destPath, void* userData,
                  BackupCopyProgress progress) const;
    // Copies a file that SQLite keeps beside a database (nothing for a null node) beside the
    // copy of the database, its path followed by `suffix`: there SQLite applies a write-ahead
    // log ("-wal") and rolls back the unfinished change of a rollback journal ("-journal") when
    // the copy is opened for writing. One the index lists with no bytes is left out: it adds
    // nothing. One listed with bytes that the folder holds fewer of throws ShortFile.
    void copyCompanion(const _FileNode* companion, const QString& databaseCopy,
                       const QString& suffix) const;
    // The path of the node's data file when the index lists it but the folder lacks it (a
    // backup that did not run to its end); empty otherwise.
    QString missingFile(const _FileNode* node) const;
    // Status.plist says the backup did not run to its end.
    bool isUnfinished() const;
    // Copies the record's data file, decrypted in an encrypted backup: only a regular file,
    // never more than the record's size (and the cipher's padding). Throws ShortFile when the
    // data file holds fewer bytes than that size (ciphertext: none).
    void copyItemThrow(const MBDBParser::_MBDBItem& item, QString destPath, void* userData,
                       BackupCopyProgress progress) const;
    // Copies a regular file as it lies, byte for byte (the first `limit` bytes when given), to
    // a destination readable by this user only.
    static void copyPlainThrow(const QString& src, const QString& destPath, void* userData,
                               BackupCopyProgress progress, qint64 limit = -1);
    // An empty or damaged Manifest.plist beside a backup that looks encrypted (`sign` says why):
    // nothing tells how to read it.
    [[noreturn]] void throwUnreadableManifestPlist(const QString& sign) const;

    // AES-256-CBC (zero IV) whole-file ciphers; decryption reads `limit` bytes at most when
    // given.
    void decryptFileThrow(const QByteArray& key, const QString& src, const QString& dest,
                          void* userData, BackupCopyProgress progress, qint64 limit = -1) const;
    static void encryptFileThrow(const QString& src, const QString& dest, const QByteArray& key);

    // Write side: a filtered copy of the manifest database, and sample keys of classes 3 and 4.
    void saveManifestDbAsThrow(bool keepAppleDomains, QSet<QString> keptDomains, QString destPath);
    void firstEncryptedItem(MBDBParser::ProtectionClsKeyInfo& class3Key,
                            MBDBParser::ProtectionClsKeyInfo& class4Key);

    _InfoPlist info;
    QString displayName;
    QString decryptedDbPath;
    QByteArray manifestDbKey;
    QDir dir;
    _FileNode root;
    QString password;
    _KeybagInfo keybag;
    QList<const _FileNode*> cameraRollPhotos;
    QList<const _FileNode*> cameraRollVideos;
    QMap<QString, const _FileNode*> cameraRollThumbnails;
    QMap<QString, const _FileNode*> smsParts;
    QMap<QString, const _FileNode*> smsAttachments;
    QMap<QString, const _FileNode*> smsAttachmentsByDevicePath;
    const _FileNode* smsDb = nullptr;
    const _FileNode* addressBookDb = nullptr;
    const _FileNode* addressBookImagesDb = nullptr;
    const _FileNode* notesDb = nullptr;
    const _FileNode* calendarDb = nullptr;
    const _FileNode* calendarExtrasDb = nullptr;
    const _FileNode* recordingsDb = nullptr;
    const _FileNode* voicemailDb = nullptr;
    const _FileNode* safariBookmarksDb = nullptr;
    const _FileNode* callHistoryDb = nullptr;
    const _FileNode* callHistoryStore = nullptr;
    // The write-ahead logs of the two address-book databases: a backup taken while the address
    // book is in use holds the latest changes there only.
    const _FileNode* addressBookWal = nullptr;
    const _FileNode* addressBookImagesWal = nullptr;
    // Their rollback journals (older phones): a backup taken in the middle of a change holds
    // the pages as they were before it there only, and the database half changed.
    const _FileNode* addressBookJournal = nullptr;
    const _FileNode* addressBookImagesJournal = nullptr;
    QMap<QString, const _FileNode*> recordings;
    QMap<int, const _FileNode*> voicemails;
    QHash<QString, MBDBParser::_MBDBItem> items;
    int maxInode = 0;

    // The folder of this user's own that holds the decrypted manifest database; made by the
    // first unlock that needs it, removed with this object.
    std::unique_ptr<BackupTempDir> privateDir;

private:
    void fillLookups(const _FileNode* node);
    void fillCameraRollLookups(const _FileNode* node, const QString& path);
    void fillHomeLookups(const _FileNode* node, const QString& path);
    void fillMediaLookups(const _FileNode* node, const QString& path);
    void fillSmsLookups(const _FileNode* node, const QString& path);
    // The data file of a record is read only as what the index says it is: a regular file with
    // at least the bytes the record gives (ciphertext: any). Throws words that name the record.
    void checkDataFileThrow(const MBDBParser::_MBDBItem& item, const QString& src,
                            bool encrypted) const;
    // Each throws the file's name and the system's reason. A destination is created mode 0600
    // (its folder first when asked); on any failure after it was opened the partial file goes.
    static void openDestThrow(QFile& out, bool makeDestDir);
    static void removePartial(QFile& out);
    [[noreturn]] static void failWriteThrow(QFile& out);
    // Flushes and closes, checking both.
    static void finishDestThrow(QFile& out);
    // AES-256-CBC with a zero IV over a whole file.
    static void cipherFileThrow(const QByteArray& key, const QString& src, const QString& dest,
                                bool encrypt, bool makeDestDir, qint64 limit);
};

// A Manifest.plist larger than this is refused rather than read into memory.
constexpr qint64 kMaxManifestPlistBytes = 64 * 1024 * 1024;
