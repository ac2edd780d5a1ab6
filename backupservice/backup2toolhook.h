// The file hook of a backup session: every file-system effect of a device-link message goes
// through one of these operations. The base class works on the local disk below the backup
// root; a subclass overrides what it needs.
//
// Paths arrive as the device sent them, relative to the root as a rule. The session refuses
// paths that would leave its device's folder before it calls the hook; the defaults resolve
// every path again with g_confinedPath and refuse one that leaves the root.
#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include "device/plistcftype.h"

class Backup2ToolHook {
public:
    struct DirItem {
        QString name;  // last path component only
        int type = 1;  // 1 file, 2 directory (anything but 2 reads as a file)
        qint64 size = 0;
        QDateTime lastm;
    };

    Backup2ToolHook() = default;
    virtual ~Backup2ToolHook();
    Backup2ToolHook(const Backup2ToolHook&) = delete;
    Backup2ToolHook& operator=(const Backup2ToolHook&) = delete;

    // Start of every run, before the device is contacted; may throw to stop the run.
    virtual void beginThrow(QDir root, QString udid);
    // Gate before each received message; false ends the run with `code` and `err`.
    virtual bool onHandleMsgContinue(QDir root, QString udid, PlistCFType msg, int& code,
                                     QString& err);
    virtual QList<DirItem> dirContents(QDir root, QString path);
    virtual void recvFileBegin(QDir root, QString udid, QString path, QString deviceName);
    // Opens `file` (already named) for writing; 0 with `file` left closed drops the data.
    virtual int recvFileOpenWrite(QDir root, QString path, QFile& file, QString& err);
    virtual void recvFileEnd(QDir root, QString path, quint64 size);
    virtual int moveFile(QDir root, QString src, QString dst, QString& err);
    virtual int removeFile(QDir root, QString path, QString& err);
    virtual int copyFile(QDir root, QString src, QString dst, QString& err);
    virtual int mkdir(QDir root, QString path, QString& err);
};

// The disk path of `path` (relative to `folder`, or absolute) when it lies inside `folder`:
// the folders on the way are resolved with realpath, so a symbolic link cannot lead out, and a
// last component that is itself a link must point inside too. Empty when the path leaves the
// folder, holds a ".." component, or names the folder itself without `allowSelf`.
QString g_confinedPath(const QString& folder, const QString& path, bool allowSelf);

// Removes a folder tree as far as it can. A link given as the tree is removed as a link. Symbolic
// links are removed as links, never followed, so nothing outside the tree is touched.
void rmdir_recursive(QString path);
// Copies a file or a folder tree (merging into an existing folder). Copying onto itself does
// nothing; a folder is never copied into its own subtree. 0, or a QFile::FileError
// value with `err` set. Symbolic links met inside a folder tree are left out, so nothing from
// outside the tree is copied into it.
int copy_recursive(QString src, QString dst, QString& err);
