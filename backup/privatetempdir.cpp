#include "privatetempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kPrefix = "tellwick-backup-";

}  // namespace

QString BackupTempDir::namePrefix() {
    return QLatin1String(kPrefix) + QString::number(qint64(getpid())) + QLatin1Char('-');
}

BackupTempDir::BackupTempDir() {
    QByteArray pattern =
        QFile::encodeName(QDir(QDir::tempPath()).absoluteFilePath(namePrefix() + "XXXXXX"));
    // mkdtemp makes the folder with mode 0700 under a name nobody can guess or take first.
    if (!mkdtemp(pattern.data())) {
        const int err = errno;
        throw std::runtime_error(QStringLiteral("can not create a private folder in %1. %2")
                                     .arg(QDir::tempPath(), QString::fromLocal8Bit(strerror(err)))
                                     .toUtf8()
                                     .constData());
    }
    m_path = QFile::decodeName(pattern);
}

BackupTempDir::~BackupTempDir() {
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
}

QString BackupTempDir::filePath(const QString& name) const {
    return QDir(m_path).absoluteFilePath(name);
}

QString g_openPrivateFile(QFile& file) {
    // Created with 0600 from the start, so that no other user can open it even for a moment;
    // then opened by name, so that the file object keeps its name for later messages.
    const QByteArray name = QFile::encodeName(file.fileName());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return QString::fromLocal8Bit(strerror(errno));
    struct stat st;
    // A file that existed keeps its mode: narrow a regular one.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0077) != 0)
        fchmod(fd, 0600);
    ::close(fd);
    // Unbuffered: a failing write shows at the write that failed, with the system's reason,
    // not later in a flush that reports no reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return file.errorString();
    return QString();
}

void g_removeStaleBackupTempDirs() {
    const QDir temp(QDir::tempPath());
    const QStringList names =
        temp.entryList({QLatin1String(kPrefix) + "*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        // "tellwick-backup-<pid>-<random>"
        const QStringList parts = name.mid(int(strlen(kPrefix))).split(QLatin1Char('-'));
        bool ok = false;
        const qint64 pid = parts.value(0).toLongLong(&ok);
        if (!ok || parts.size() != 2 || pid <= 0 || pid == qint64(getpid()))
            continue;
        if (kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;  // that process still runs (or is not ours to ask about)
        const QString path = temp.absoluteFilePath(name);
        struct stat st;
        // Only our own real folders: never follow a link someone else put there.
        if (lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != getuid())
            continue;
        QDir(path).removeRecursively();
    }
}
