// File access to a device's media area through its file service ("com.apple.afc").
// Nothing here throws; failures are false, -1, an invalid record, an empty list or bytes.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <libimobiledevice/afc.h>

#include "mobiledevice.h"

struct _AfcFileInfo {
    QString path;
    qint64 size = 0;
    QDateTime mtime;
    QString type;  // "S_IFREG", "S_IFDIR", ... as the device sends it; empty when unknown

    _AfcFileInfo() = default;
    explicit _AfcFileInfo(QString path) : path(path) {}

    bool isValid() const { return !type.isEmpty(); }
    bool isFile() const;
    bool isDir() const;
    bool isLink() const;
};

class AfcFile {
public:
    AfcFile() = default;
    ~AfcFile() { close(); }
    AfcFile(const AfcFile&) = delete;
    AfcFile& operator=(const AfcFile&) = delete;

    // Count read (0 at the end), or -1 when not open or the call fails.
    int read(char* buffer, int length);
    // Count written, or -1.
    int write(const char* data, int length);
    // Library code, 0 on success; 1 when not open.
    int lock(afc_lock_op_t operation);
    void close();
    bool isOpen() const { return m_client && m_handle; }

private:
    friend class mobiledevice_afc;
    afc_client_t m_client = nullptr;  // borrowed from the mobiledevice_afc that opened it
    uint64_t m_handle = 0;
};

class mobiledevice_afc : public iDevice {
public:
    explicit mobiledevice_afc(QString devid);
    ~mobiledevice_afc();

    // Opens the device, the lockdown connection and the file service. The name is not used:
    // the service is always "com.apple.afc".
    bool startService(QString name = QString());
    void closeService();

    _AfcFileInfo fileInfo(QString path);
    QStringList ls(QString dir, bool skipDots);
    QList<_AfcFileInfo> ls_finfo(QString dir);
    bool mkdir(QString path);
    bool del(QString path);
    bool rename(QString from, QString to);

    bool openFile(QString path, afc_file_mode_t mode, AfcFile& file);
    bool readFile(QString path, AfcFile& file);       // read only
    bool readWriteFile(QString path, AfcFile& file);  // read and write
    bool writeFile(QString path, AfcFile& file);      // write only: created or emptied

    // Whole-file copies through one 8192-byte buffer; they report nothing (compare sizes with
    // fileInfo afterwards when certainty is needed).
    void readFileContent(QString path, QIODevice& out);
    QByteArray readFileContent(QString path);
    void writeFileContent(QString path, QIODevice& in);
    void writeFileContent(QString path, QByteArray data);

private:
    afc_client_t m_afc = nullptr;
};
