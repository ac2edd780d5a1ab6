// A folder of the system temporary folder that only this user can enter (mode 0700), for the
// decrypted and copied databases of a backup. It goes with the object; a folder left behind by
// a process that was killed goes at the next start (g_removeStaleBackupTempDirs).
#pragma once

#include <QString>

class QFile;

class BackupTempDir {
public:
    // Makes the folder; throws std::runtime_error with the system's reason on failure.
    BackupTempDir();
    // Removes the folder with everything in it.
    ~BackupTempDir();
    BackupTempDir(const BackupTempDir&) = delete;
    BackupTempDir& operator=(const BackupTempDir&) = delete;

    QString path() const { return m_path; }
    QString filePath(const QString& name) const;

    // The name prefix of every such folder: "tellwick-backup-<pid>-".
    static QString namePrefix();

private:
    QString m_path;
};

// Opens (creating or truncating) a file for writing, readable and writable by its owner only.
// On failure returns the system's reason and leaves the file closed; empty on success.
QString g_openPrivateFile(QFile& file);

// Removes the private folders of processes that no longer run. Called once at start-up.
void g_removeStaleBackupTempDirs();
