// The backup arms of the like-for-like ratios: the bench's address book as a phone keeps it
// (AddressBook.sqlitedb and AddressBookImages.sqlitedb, a photo on every other person) in an
// encrypted backup, once with the record-id indexes phones keep and once without them.
//
// Both arms start from the backup unlocked and its file index read, as the user has it once the
// password is taken, and both decrypt the two databases inside their timing: the import through
// its own copy, the anchor with OpenSSL alone. The anchor then reads each table once and writes
// the rows the import stores of the same backup with bare SQLite.
#ifndef TW_BENCH_RATIOS_BACKUPARMS_H
#define TW_BENCH_RATIOS_BACKUPARMS_H

#include <QString>

namespace arms {

// The backup folder of one size.
QString backupPath(const QString& dir, bool indexes);

// Writes both backups of one size and what the import stores of each, for the anchors.
bool prepareBackups(const QString& dir, int n);

// Runs the arm when it is a backup arm ("backup-import", "backup-bare", each with "-idx" for the
// backup with the indexes) and returns its exit code; -1 for any other arm.
int runBackupArm(const QString& arm, const QString& dir);

}  // namespace arms

#endif
