// The host side of the device backup protocol ("com.apple.mobilebackup2"): one backup or
// restore session of a USB-connected iPhone against a folder on this computer.
//
// A caller makes a backup2tool with the device identifier, the backup root folder and
// optionally a hook, fills a _backup2tool_req and calls runThrow on a thread of its own. The
// session answers each device-link message until the device disconnects or reports its final
// result, the session is cancelled (cancel() from any thread), or something fails.
//
// Every path the device names is confined to the session's own device folder below the root:
// a path that would leave it (by "..", by a symbolic link, or into another device's folder) is
// refused with an error status and never reaches the hook.
#pragma once

#include <QDir>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include "backup2link.h"
#include "backup2toolhook.h"
#include "device/plistcftype.h"

enum backup2tool_op : qint32 { OP_BACKUP = 0, OP_RESTORE = 1 };

struct _backup2tool_req {
    explicit _backup2tool_req(backup2tool_op operation) : op(operation) {}

    backup2tool_op op;
    bool onlyNonDefaultOptions = false;
    bool restoreSystemFiles = true;
    bool restoreShouldReboot = true;
    bool restoreDontCopyBackup = true;
    bool restorePreserveSettings = true;
    bool removeItemsNotRestored = false;
    QString password;
};

class backup2tool : public QObject {
    Q_OBJECT
public:
    backup2tool(QString udid, QDir root, QSharedPointer<Backup2ToolHook> hook = {},
                QObject* parent = nullptr);
    ~backup2tool() override;

    bool isCancel();
    void setCancel();

    QString status1() const { return statusText1; }
    QString status2() const { return statusText2; }
    double progress() const { return progressValue; }

    // One session. 0 for a disconnect, a cancel or a final report without error; otherwise the
    // device's error code, -36 for a purge request or the hook gate's code, with `err` set.
    // Setup and transport failures throw std::runtime_error.
    int innerRunThrow(_backup2tool_req req, QString& err);
    // innerRunThrow with every non-zero result turned into a std::runtime_error with advice.
    void runThrow(_backup2tool_req req);

    QDir deviceFolder() const { return deviceDir; }
    // When set, the device's request for ".../Manifest.db" is served from this file in the
    // device folder.
    void setManifestDbName(const QString& name) { manifestDbName = name; }
    QString extraError() const { return extraErrorText; }

    // The pieces of a session, public so that they can run against any Backup2Link.
    // The message loop after the request has been sent.
    int messageLoopThrow(Backup2Link& client, QString& err);
    void sendFilesThrow(Backup2Link& client, PlistCFType msg);
    void sendFileThrow(Backup2Link& client, QString path, PlistCFType& errDict);
    void recvFilesThrow(Backup2Link& client, PlistCFType msg);
    QString recvFileNameThrow(Backup2Link& client);
    int recvFileThrow(Backup2Link& client, QString deviceName, QString path, QString& err);
    void sendDirContentsThrow(Backup2Link& client, PlistCFType msg);
    void moveFilesThrow(Backup2Link& client, PlistCFType msg);
    void removeFilesThrow(Backup2Link& client, PlistCFType msg);
    void copyItemThrow(Backup2Link& client, PlistCFType msg);

    // The restore options dictionary of a request.
    static PlistCFType restoreOptions(const _backup2tool_req& req);
    // "999 Bytes", "1.0 KB", "1.5 MB", ...
    static QString sizeText(quint64 bytes);
    // Device-link status code of a hook result (2 -> -6, 17 -> -7, v -> -v).
    static int deviceStatusCode(int hookResult);
    // The message runThrow throws for a non-zero result.
    static QString runErrorText(backup2tool_op op, int code, QString err);
    // True when `path` (as the device sent it) stays inside `root`, links resolved.
    static bool pathInsideRoot(const QDir& root, const QString& path);
    // The disk path of a path the device sent, inside this session's device folder (the
    // folder itself only with `allowSelf`); empty when it lies outside.
    QString devicePath(const QString& path, bool allowSelf) const;

public slots:
    void cancel();

signals:
    void update(double pg, QString status1, QString status2);

private:
    int sendFrame(Backup2Link& client, const QByteArray& payload);
    // Receives exactly `length` bytes, waiting through time-outs; a closed connection throws
    // `lostText`, a cancel seen while waiting ends the session.
    void recvExactThrow(Backup2Link& client, char* data, quint32 length, const QString& lostText);
    quint32 recvWordThrow(Backup2Link& client, const QString& lostText);
    // Reads the blocks of one file up to its end block. Data go to `file` while it is open and
    // `rc` is 0; returns the number of data bytes received.
    quint64 recvBlocksThrow(Backup2Link& client, QFile* file, int& rc, QString& err);

    QMutex mutex;
    QString udid;
    QDir rootDir;
    QDir deviceDir;
    QSharedPointer<Backup2ToolHook> hook;
    QString statusText1;
    QString statusText2;
    double progressValue = 0;
    bool cancelFlag = false;
    QString manifestDbName;
    QString extraErrorText;
};
