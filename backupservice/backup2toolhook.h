// The file hook of a backup session: every file-system effect of a device-link message goes
// through one of these operations. The base class works on the local disk below the backup
// root; a subclass overrides what it needs.
//
// Paths arrive as the device sent them, relative to the root as a rule. The session refuses
// paths that would leave the root before it calls the hook, so the defaults resolve them with
// QDir::absoluteFilePath without cleaning them again.
#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include "plistcftype.h"

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

// Removes a folder tree as far as it can. Symbolic links are removed as links, never followed,
// so nothing outside the tree is touched.
void rmdir_recursive(QString path);
// Copies a file or a folder tree (merging into an existing folder). Copying onto itself does
// nothing; a folder is never copied into its own subtree. 0, or a QFile::FileError
// value with `err` set. Links to folders met inside the tree are not descended into.
int copy_recursive(QString src, QString dst, QString& err);
