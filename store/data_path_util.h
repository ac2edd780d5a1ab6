// The data folder and a few small file-system services.
#pragma once

#include <QDir>
#include <QString>

// Product id: names the data root and the link file.
extern const char* const TW_PRODUCT_ID;  // "4C17E09A2D6B83F5E1A0C94B7D2E6F38"

// home + "Library/Application Support"; not created.
QDir g_osAppDir();
// Application-support folder + "QuorVanteli"; not created.
QString g_defaultSaveDirPath();
// Path of the link file (default folder + product id + ".redirect").
QString g_dataSaveDirLinkFile();
// The link file's target when it names an existing folder, else an empty text.
QString g_dataSaveDirLink();
// Writes the link file (takes effect at the next program start).
void g_setDataSaveDirLink(QString path);
// The data root (link target or default folder + product id), created on every call.
// The location is fixed at the first call of the process.
QDir g_dataSaveDir();
// Deletes a folder tree. Symbolic links are removed as links, never followed.
void g_delDirCascade(QString path);
// The given path when nothing exists there, else "base(n).suffix" with the first free n.
QString g_getValidFilePath(QString path);
// Shows a file or folder with the system opener; the path reaches it as one argument, no shell.
// Returns whether the opener was started.
bool g_openFileOrFolder(QString path);
// Opens one well-formed http or https link with the system opener; anything else is refused.
bool g_openLink(QString link);

// One running program per data folder: holds an exclusive lock on the file "instance.lock" in
// the folder for as long as it lives. The system drops the lock when the process ends in any
// way, a crash or a kill included, so a stale lock never stops the next start.
class DataFolderLock {
public:
    explicit DataFolderLock(const QString& folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    // Another process holds the folder. False when this one holds it, and also when the lock
    // file cannot be made at all (a read-only folder), which says nothing about other processes.
    bool heldElsewhere() const { return m_heldElsewhere; }

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};
