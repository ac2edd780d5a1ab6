// A file hook that turns a full device backup into a selective one: every received file is
// recorded in "dname.sqlite" of the device folder, only chosen files are written, and the
// device's directory listings are answered from the records, so the device sees every file it
// has sent, written or not.
//
// A file is chosen by its name (the always-included manifest files), by a pattern searched in
// the device's own name of the file, or by the application data container that name points
// into, matched against the containers of the selected installed applications (read from the
// device's installation service at the start of each run).
#pragma once

#include <QHash>
#include <QList>
#include <QRegExp>
#include <QSet>
#include <QString>

#include "backup2toolhook.h"
#include "fakednamedb.h"

class FakeBackup2ToolHook : public Backup2ToolHook {
public:
    FakeBackup2ToolHook();
    ~FakeBackup2ToolHook() override;

    // The selection; set before the run starts.
    void setIncludeNonAppFiles(bool include) { includeNonAppFiles = include; }
    void setSelectedAppIds(const QSet<QString>& bundleIds) { selectedAppIds = bundleIds; }
    void setDnamePatterns(const QList<QRegExp>& patterns) { dnamePatterns = patterns; }
    // Installed applications as read from the device (bundle id -> upper-case container ids).
    QHash<QString, QSet<QString>> installedContainers() const { return appContainers; }
    // Adds installed applications as readAppuids would (for runs without a device service).
    void addInstalledContainers(const QHash<QString, QSet<QString>>& apps);

    bool isFileIncluded(QDir root, QString path, QString deviceName);
    void readAppuids(QString udid);

    void beginThrow(QDir root, QString udid) override;
    QList<DirItem> dirContents(QDir root, QString path) override;
    void recvFileBegin(QDir root, QString udid, QString path, QString deviceName) override;
    int recvFileOpenWrite(QDir root, QString path, QFile& file, QString& err) override;
    void recvFileEnd(QDir root, QString path, quint64 size) override;
    int moveFile(QDir root, QString src, QString dst, QString& err) override;
    int removeFile(QDir root, QString path, QString& err) override;
    int copyFile(QDir root, QString src, QString dst, QString& err) override;
    int mkdir(QDir root, QString path, QString& err) override;

    // The first container identifier (8-4-4-4-12 hex digits) in a text, upper case; empty
    // when there is none.
    static QString containerId(const QString& text);

private:
    void openDbThrow(const QString& path);

    bool includeNonAppFiles = false;
    QSet<QString> selectedAppIds;
    FakeDNameDb dnameDb;
    QSet<QString> alwaysIncluded;
    QList<QRegExp> dnamePatterns;
    QHash<QString, QSet<QString>> appContainers;
    QSet<QString> knownContainers;
    // The database file of the current run's device folder.
    QString dbPath;
};
