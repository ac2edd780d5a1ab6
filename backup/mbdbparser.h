// The file index of a device backup: "Manifest.mbdb" (big-endian records) or "Manifest.db"
// (SQLite, one keyed-archive property list per file), read into file records keyed by file ID,
// and written back in the same two forms.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QList>
#include <QString>

class BackupManifest;
class QFile;

class MBDBParser {
public:
    // A byte string that can be absent (length 0xFFFF).
    struct _MBDBBinary {
        unsigned short length = 0xFFFF;
        QByteArray val;

        bool isValid() const { return length != 0xFFFF && length != 0; }
        // UTF-8 up to the first NUL; empty when not valid.
        QString toString() const;
        void setVal(const QByteArray& bytes);
    };

    struct _MBDBProperty {
        _MBDBBinary name;
        _MBDBBinary value;
    };

    struct _MBDBItem {
        _MBDBBinary domain;
        _MBDBBinary path;
        _MBDBBinary target;
        _MBDBBinary digest;
        _MBDBBinary encryptionKey;  // 4-byte class prefix, then the wrapped file key
        unsigned short mode = 0;
        unsigned int inodeHigh = 0;
        long long inode = 0;
        unsigned int userId = 0;
        unsigned int groupId = 0;
        unsigned int lastModified = 0;
        unsigned int lastStatusChange = 0;
        unsigned int birth = 0;
        long long size = 0;
        unsigned char protectionClass = 0;
        bool isNew = false;
        bool isModified = false;
        bool isDeleted = false;
        QList<_MBDBProperty> properties;

        bool isFolder() const { return (mode & 0x4000) != 0; }
        QString backupFileName() const;
    };

    struct MBDBItemMap {
        QHash<QString, _MBDBItem> items;
        int maxInode = 0;
    };

    // The key of one sample file of a protection class (for files added to a backup).
    struct ProtectionClsKeyInfo {
        int protectionClass = 0;
        _MBDBBinary wrappedKey;
        QByteArray fileKey;
    };

    // True when the folder uses the database layout (no "Manifest.mbdb" but a "Manifest.db").
    static bool isIos10Mbdb(const QDir& dir);
    // Reads the backup's file index. Throws std::runtime_error.
    static MBDBItemMap parse(const BackupManifest& backup);
    // Lower-case hex SHA-1 of domain + "-" + path (UTF-8).
    static QString getFileHashName(const QString& domain, const QString& path);
    // Where the data file of a file ID lies in the backup folder.
    static QString getBKFilePath(const QDir& dir, const QString& id, bool create);
    // Raw SHA-1 of a host file; empty when it cannot be opened.
    static QByteArray readFileHash(const QString& path);

    // File-descriptor cipher of a salted manifest database.
    static QByteArray fileDescKey(const QByteArray& first, const QByteArray& second);
    static QByteArray decryptFileDescThrow(const QByteArray& data, const QByteArray& key);
    static QByteArray encryptFileDescThrow(const QByteArray& data, const QByteArray& key);

    // Write side.
    static void save2File(QList<_MBDBItem> records, BackupManifest& backup);
    static QByteArray mbFilePlist(const _MBDBItem& item);
    static bool appendFile(MBDBItemMap& map, bool useClass4, QString localFile, QString domain,
                           QString relativePath, long long size,
                           const ProtectionClsKeyInfo* class3Key,
                           const ProtectionClsKeyInfo* class4Key, QString* error);
};

// By domain text, then path text (UTF-16 code units, case-sensitive).
bool compareMBDBItemLess(const MBDBParser::_MBDBItem& a, const MBDBParser::_MBDBItem& b);

// A backed-up file as the user is told of it: "Library/AddressBook/AddressBook.sqlitedb
// (HomeDomain)".
QString g_recordName(const QString& domain, const QString& path);

// Bytes of the fixed descriptor IV (16).
QByteArray g_fileDescIv();
