#include "data_path_util.h"

#include "platform/opener/opener.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

const char* const TW_PRODUCT_ID = "4C17E09A2D6B83F5E1A0C94B7D2E6F38";

namespace {
// The data root, fixed at its first use in this process.
QString g_curDataSaveDirPath;
QMutex g_curDataSaveDirMutex;
}  // namespace

QDir g_osAppDir() {
    return QDir(QDir::home().absoluteFilePath(QStringLiteral("Library/Application Support")));
}

QString g_defaultSaveDirPath() {
    return g_osAppDir().absoluteFilePath(QStringLiteral("QuorVanteli"));
}

QString g_dataSaveDirLinkFile() {
    return QDir(g_defaultSaveDirPath())
        .absoluteFilePath(QLatin1String(TW_PRODUCT_ID) + ".redirect");
}

QString g_dataSaveDirLink() {
    // Only a regular file is read: opening a named pipe or a device would block the start.
    const QFileInfo link(g_dataSaveDirLinkFile());
    if (!link.isFile())
        return QString();
    QFile f(link.absoluteFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = f.read(64 * 1024);  // a path, never more
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    if (bytes.isEmpty())
        return QString();
    // A relative path is taken from the folder of the link file, not from wherever the program
    // was started.
    const QString path =
        QDir::cleanPath(QDir(link.absolutePath()).absoluteFilePath(QString::fromUtf8(bytes)));
    // Only an existing folder can hold the data root.
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return QString();
    return path;
}

void g_setDataSaveDirLink(QString path) {
    QFile f(g_dataSaveDirLinkFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(path.toUtf8());
    f.flush();
}

QDir g_dataSaveDir() {
    QString path;
    {
        QMutexLocker lock(&g_curDataSaveDirMutex);
        if (g_curDataSaveDirPath.isEmpty()) {
            QString base = g_dataSaveDirLink();
            if (base.isEmpty())
                base = g_defaultSaveDirPath();
            g_curDataSaveDirPath = QDir(base).absoluteFilePath(QLatin1String(TW_PRODUCT_ID));
        }
        path = g_curDataSaveDirPath;
    }
    QDir().mkpath(path);
    return QDir(path);
}

void g_delDirCascade(QString path) {
    const QFileInfo top(path);
    if (top.isSymLink()) {
        // Never descend through a link: drop the link itself.
        QFile::remove(top.absoluteFilePath());
        return;
    }
    QDir dir(path);
    if (!dir.exists())
        return;
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllDirs | QDir::Files | QDir::Drives | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& fi : entries) {
        if (fi.isSymLink()) {
            QFile::remove(fi.absoluteFilePath());
        } else if (fi.isDir()) {
            g_delDirCascade(fi.absoluteFilePath());
        } else {
            dir.remove(fi.fileName());
        }
    }
    dir.rmdir(dir.absolutePath());
}

QString g_getValidFilePath(QString path) {
    const QFileInfo fi(path);
    if (!fi.exists() && !fi.isSymLink())
        return path;
    const QString base = fi.baseName();
    const QString suffix = fi.suffix();
    const QDir folder = fi.absoluteDir();
    for (unsigned long long n = 1;; ++n) {
        // Both markers are filled at once, so a '%' in the name stays as it is.
        QString name = QStringLiteral("%1(%2)").arg(base, QString::number(n));
        if (!suffix.isEmpty())
            name += QLatin1Char('.') + suffix;
        const QString candidate = folder.absoluteFilePath(name);
        const QFileInfo c(candidate);
        if (!c.exists() && !c.isSymLink())
            return candidate;
    }
}

bool g_openFileOrFolder(QString path) {
    return tw_openPathWithSystem(path);
}

bool g_openLink(QString link) {
    return tw_openUrlWithSystem(link);
}

DataFolderLock::DataFolderLock(const QString& folder) {
    const QByteArray path =
        QFile::encodeName(QDir(folder).absoluteFilePath(QStringLiteral("instance.lock")));
    // Close-on-exec: a program started from here (the file opener) must not keep the lock.
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        ::close(m_fd);
        m_fd = -1;
    }
}

DataFolderLock::~DataFolderLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}
