// A file of a backup folder opened for reading as what the backup says it is: a regular file
// (a link only to one), opened without waiting on a pipe put in its place, and read no further
// than a limit. Backups are copied between machines and unpacked from archives: a device, a
// pipe or a folder can stand where a file should be, and reading one as a file would never end
// or never start.
#pragma once

#include <QIODevice>
#include <QString>

#include <stdexcept>

class BackupSourceFile : public QIODevice {
public:
    // What stands at a path that is not a regular file (see openThrow).
    class NotRegular : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // `limit` bytes at most are read; -1 reads the whole file.
    explicit BackupSourceFile(QString path, qint64 limit = -1);
    ~BackupSourceFile() override;
    BackupSourceFile(const BackupSourceFile&) = delete;
    BackupSourceFile& operator=(const BackupSourceFile&) = delete;

    // Opens for reading; false when it cannot be read, errorString() then saying why: the
    // system's reason, or "<path> is not a regular file (it is a named pipe)" (isRegular false).
    bool openRegular();
    // The same, throwing NotRegular, or std::runtime_error "can not open <path>. <reason>".
    void openThrow();
    bool isRegular() const { return m_regular; }
    // A read failed (errorString says why).
    bool failed() const { return m_failed; }
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    QString path() const { return m_path; }
    // The size of the opened file on disk.
    qint64 diskSize() const { return m_diskSize; }

    // Empty when the path is a regular file (through links) or nothing; else the words of
    // NotRegular. Only looks: opens nothing.
    static QString irregularity(const QString& path);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    QString m_path;
    qint64 m_limit;
    qint64 m_diskSize = 0;
    qint64 m_read = 0;
    int m_fd = -1;
    bool m_regular = true;
    bool m_failed = false;
};
