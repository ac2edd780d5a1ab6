#include "backupsourcefile.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode) {
    const char* kind = "a special file";
    if (S_ISDIR(mode))
        kind = "a folder";
    else if (S_ISFIFO(mode))
        kind = "a named pipe";
    else if (S_ISCHR(mode))
        kind = "a character device";
    else if (S_ISBLK(mode))
        kind = "a block device";
    else if (S_ISSOCK(mode))
        kind = "a socket";
    return QCoreApplication::translate("BackupSourceFile", kind);
}

QString notRegularText(const QString& path, mode_t mode) {
    return QCoreApplication::translate("BackupSourceFile", "%1 is not a regular file (it is %2)")
        .arg(path, kindOf(mode));
}

QString systemReason(int err) {
    return QString::fromLocal8Bit(strerror(err));
}

}  // namespace

BackupSourceFile::BackupSourceFile(QString path, qint64 limit)
    : m_path(std::move(path)), m_limit(limit) {}

BackupSourceFile::~BackupSourceFile() {
    close();
}

QString BackupSourceFile::irregularity(const QString& path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    return notRegularText(path, st.st_mode);
}

bool BackupSourceFile::openRegular() {
    close();
    m_regular = true;
    m_failed = false;
    // Looked at before the open, as opening a pipe for reading waits for a writer; then opened
    // without waiting, and looked at again, in case something else took the name meanwhile.
    const QString irregular = irregularity(m_path);
    if (!irregular.isEmpty()) {
        m_regular = false;
        setErrorString(irregular);
        return false;
    }
    const QByteArray name = QFile::encodeName(m_path);
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setErrorString(systemReason(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        setErrorString(systemReason(errno));
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        m_regular = false;
        setErrorString(notRegularText(m_path, st.st_mode));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_diskSize = st.st_size;
    m_read = 0;
    return QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void BackupSourceFile::openThrow() {
    if (openRegular())
        return;
    if (!m_regular)
        throw NotRegular(errorString().toUtf8().toStdString());
    throw std::runtime_error(QCoreApplication::translate("BackupSourceFile", "can not open %1. %2")
                                 .arg(m_path, errorString())
                                 .toUtf8()
                                 .toStdString());
}

void BackupSourceFile::close() {
    if (isOpen())
        QIODevice::close();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

qint64 BackupSourceFile::bytesAvailable() const {
    if (m_fd < 0)
        return QIODevice::bytesAvailable();
    const qint64 end = m_limit < 0 ? m_diskSize : qMin(m_limit, m_diskSize);
    return qMax<qint64>(0, end - m_read) + QIODevice::bytesAvailable();
}

qint64 BackupSourceFile::readData(char* data, qint64 maxSize) {
    if (m_fd < 0)
        return -1;
    if (m_limit >= 0)
        maxSize = qMin(maxSize, m_limit - m_read);
    if (maxSize <= 0)
        return 0;
    ssize_t n = 0;
    do {
        n = ::read(m_fd, data, size_t(maxSize));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_failed = true;
        setErrorString(systemReason(errno));
        return -1;
    }
    m_read += n;
    return n;
}

qint64 BackupSourceFile::writeData(const char*, qint64) {
    return -1;
}
