// Generates device backup folders for the tests: plain or encrypted, "Manifest.mbdb" or
// "Manifest.db" layout, with an address book of a few known persons.
#pragma once

#include "backup/backupmanifest.h"
#include "backup/keybag.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

namespace fixture {

// Fixed 2001-epoch seconds used by the address book below.
constexpr long long kBirthday = 517500000;     // a date in 2017
constexpr long long kAnniversary = 300000000;  // a date in 2010

// Writes an address book with the known persons (see backup_fixture.cpp) at the path.
void writeAddressBook(const QString& path);
// Writes the images database: a photo for person 1.
void writeAddressBookImages(const QString& path);
QByteArray photoBytes();

// Runs SQL statements on a new database file.
void runSql(const QString& path, const QString& script);

// The address book of a phone of recent years: persons in three accounts (iCloud, Exchange,
// Google), some of them linked as one contact, built-in labels our codes lack (School,
// iPhone, Daughter), full-size images and thumbnails. With `inUse` the backup was taken while
// the address book was in use: the last changes (two cards, one of them linked to an older
// one, and a thumbnail) are in the write-ahead logs only.
//
// 42 cards, which the phone shows as 38 contacts: 34 "Person NN Filler" with one number each;
// "Maria Lopez" (2 cards), "Thomas Baker" (3 cards), "Wen Li" (2 cards, one in the log) and
// "Late Addition" (in the log).
enum class PhoneSchema { iOS16, iOS17 };
struct PhoneAddressBook {
    QByteArray book;
    QByteArray bookWal;  // empty unless in use
    QByteArray images;
    QByteArray imagesWal;
};
PhoneAddressBook linkedAddressBook(PhoneSchema schema, bool inUse);
constexpr int kLinkedCards = 42;
constexpr int kLinkedContacts = 38;
constexpr int kCardsInWal = 2;

// The address book of an older phone, whose SQLite keeps a rollback journal: persons of every
// shape and their images (data/older-phone-*.sql), written by SQLite as the phone last
// committed them, caught in the middle of a change (the database half changed, the pages as they
// were in a hot journal beside it), and with the change committed and the journal kept
// ("PRAGMA journal_mode=PERSIST": a journal that undoes nothing).
struct JournalledAddressBook {
    QByteArray book;
    QByteArray images;
    QByteArray midChangeBook;
    QByteArray midChangeBookJournal;
    QByteArray midChangeImages;
    QByteArray midChangeImagesJournal;
    QByteArray changedBook;
    QByteArray keptJournal;
};
JournalledAddressBook journalledAddressBook();
// Its persons: 59, among them a blank card; the unfinished change renames 9 ("Half Written"),
// deletes 10 and adds 120.
constexpr int kJournalledPersons = 59;

// Leaves a plain Manifest.db as a tool leaves it that crashed while pruning it: every record
// deleted in a transaction not committed, pages spilled into the file, and a hot
// "Manifest.db-journal" beside it that holds what undoes the change.
void makeIndexJournalHot(const QString& manifestDb);

QByteArray readFile(const QString& path);
// Every file and folder under root (but those under skip) with its size and modification time.
std::string listing(const QString& root, const QString& skip = QString());
void writeFile(const QString& path, const QByteArray& bytes);

struct File {
    QString domain;
    QString path;
    QByteArray bytes;
    int protectionClass = 3;
    bool folder = false;
    // How the data file lies in the folder: as the bytes (encrypted in an encrypted backup),
    // not at all (listed only), or empty whatever the encryption, as phones leave an empty one.
    enum Data { Written, Missing, Empty } data = Written;
    // In an encrypted backup: its wrapped key changed so that it does not unwrap, left out of
    // its record, or its record's descriptor cut short so that it does not decrypt (with a
    // descriptor salt).
    enum Damage { Whole, KeyDoesNotUnwrap, NoKey, RecordDoesNotDecrypt } damage = Whole;
};

class BackupBuilder {
public:
    enum Layout { MBDB, DB };

    BackupBuilder(QString dir, Layout layout);

    // Encrypts the backup with the password; withDp adds "DPIC"/"DPSL" (encrypted Manifest.db).
    void setEncrypted(const QString& password, bool withDp);
    // A plain Manifest.db whose records SQLite wrote into its log only, as a tool leaves them
    // that stopped before a checkpoint.
    void setIndexInLog(bool inLog) { indexInLog = inLog; }
    // File descriptors of Manifest.db encrypted under the password and this salt.
    void setDescriptorSalt(const QByteArray& salt) { descriptorSalt = salt; }
    void setDevice(QString udid, QString name) {
        deviceId = std::move(udid);
        deviceName = std::move(name);
    }
    void setDate(QDateTime d) { date = std::move(d); }
    // Writes Status.plist with this "SnapshotState" ("finished" once a backup ran to its end);
    // without it the backup has no Status.plist, as the oldest ones.
    void setSnapshotState(QString state) { snapshotState = std::move(state); }
    void addFile(const File& f) { files.append(f); }
    // One byte of the password-wrapped key of the class is changed (a damaged keybag).
    void damageClassKey(int cls) { damagedClass = cls; }
    // The two address-book files in HomeDomain.
    void addAddressBook(bool withImages = true);
    // The address book of linkedAddressBook with its logs, when it has them, beside it.
    void addLinkedAddressBook(PhoneSchema schema, bool inUse);
    void build();

    QByteArray keybagBytes() const { return keybag; }
    QMap<int, QByteArray> classKeys;

private:
    QByteArray wrappedFileKey(int cls, QByteArray& fileKey) const;

    QString dir;
    Layout layout;
    QString password;
    bool encrypted = false;
    bool dp = false;
    QByteArray descriptorSalt;
    QString deviceId = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
    QString deviceName = QStringLiteral("Test Phone");
    QDateTime date;
    QString snapshotState;
    QList<File> files;
    QByteArray keybag;
    QByteArray manifestKey;
    int damagedClass = 0;
    bool indexInLog = false;
};

// Builds a keybag: password-wrapped classes 1..4, an unwrapped class 6.
QByteArray makeKeybag(const QString& password, bool withDp, QMap<int, QByteArray>& classKeys);
QByteArray tlv(const char* tag, const QByteArray& value);
// The keybag with one byte of the class's wrapped key ("WPKY") changed.
QByteArray damageClassKey(QByteArray keybag, int cls);
// AES-256-CBC, zero IV, PKCS#7 (OpenSSL directly).
QByteArray aes256CbcEncrypt(const QByteArray& plain, const QByteArray& key);
QByteArray be32(unsigned int v);

}  // namespace fixture
