#include "exportfile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

// The mode a new file gets from open(2): 0666 less the process's umask, read without changing
// it (umask(2) would race with other threads creating files).
mode_t newFileMode() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return 0666 & ~mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 0644;
}

// The longest file name the folder takes, in bytes.
long nameMax(const QString& folder) {
    const long n = ::pathconf(native(folder).constData(), _PC_NAME_MAX);
    return n > 0 ? n : 255;
}

// A hidden name beside `target` for a file of its own: "." + the target's name + `tail`,
// within the folder's limit.
QString besideName(const QString& target, const QString& tail) {
    const QFileInfo info(target);
    return info.absolutePath() + QLatin1Char('/') +
           g_nameWithinLimit(info.absolutePath(), QLatin1Char('.') + info.fileName(), tail);
}

// Why no new file can be made in the folder of `target`: the errno of a real attempt.
int createErrno(const QString& target) {
    const QByteArray probe =
        native(besideName(target, QStringLiteral(".probe-%1").arg(::getpid())));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    ::unlink(probe.constData());
    return 0;
}

[[noreturn]] void throwDevice(const QFileDevice& file, int fallbackErrno) {
    QString text = file.errorString();
    if (file.error() == QFileDevice::NoError || text.isEmpty() ||
        text == QLatin1String("Unknown error"))
        text = g_systemErrorText(fallbackErrno ? fallbackErrno : EIO);
    g_throwText(text);
}

}  // namespace

// Hands writes on to the file and keeps the first failure: a writer that ignores the result of
// its writes (the PDF engine) cannot make it pass unnoticed, and later writes cannot clear it.
class ExportFile::CheckedDevice : public QIODevice {
public:
    explicit CheckedDevice(QFileDevice* file) : m_file(file) { open(QIODevice::WriteOnly); }
    bool failed() const { return !m_error.isEmpty(); }
    QString failure() const { return m_error; }
    bool seek(qint64 pos) override {
        if (failed() || !m_file->seek(pos)) {
            remember();
            return false;
        }
        return QIODevice::seek(pos);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override {
        if (failed())
            return -1;
        if (m_file->write(data, len) != len) {
            remember();
            return -1;
        }
        return len;
    }

private:
    void remember() {
        const int e = errno;  // of the failed write(2), before anything else can change it
        if (failed())
            return;
        m_error = m_file->errorString();
        if (m_error.isEmpty() || m_error == QLatin1String("Unknown error") ||
            m_file->error() == QFileDevice::NoError)
            m_error = g_systemErrorText(e ? e : EIO);
    }
    QFileDevice* m_file;
    QString m_error;
};

QString g_nameWithinLimit(const QString& folder, const QString& stem, const QString& tail) {
    const int room = int(nameMax(folder)) - native(tail).size();
    QString out = stem;
    while (!out.isEmpty() && native(out).size() > room) {
        out.chop(1);
        if (!out.isEmpty() && out.at(out.size() - 1).isHighSurrogate())
            out.chop(1);
    }
    return out + tail;
}

QString g_systemErrorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

void g_throwText(const QString& text) {
    throw std::runtime_error(text.toUtf8().toStdString());
}

ExportFile::ExportFile(const QString& target) : m_target(QFileInfo(target).absoluteFilePath()) {}

ExportFile::~ExportFile() {
    if (!m_committed)
        discard();
}

QString ExportFile::writingPath() const {
    return m_temp ? m_temp->fileName() : QString();
}

void ExportFile::openThrow() {
    const QFileInfo info(m_target);
    if (info.isDir())
        g_throwText(g_systemErrorText(EISDIR));
    struct stat old;
    const bool existed = ::stat(native(m_target).constData(), &old) == 0;

    m_temp.reset(new QTemporaryFile(besideName(m_target, QStringLiteral(".XXXXXX"))));
    if (m_temp->open()) {
        // The new file gets the old one's permissions, or those of any new file.
        const mode_t mode = existed ? (old.st_mode & 07777) : newFileMode();
        if (::fchmod(m_temp->handle(), mode) != 0) {
            const int e = errno;
            m_temp.reset();
            g_throwText(g_systemErrorText(e));
        }
        return;
    }
    m_temp.reset();
    // A folder that takes no new file is refused, even when the target itself may be written:
    // writing over it in place would leave, if the program ended half-way, neither the old
    // file nor the new one.
    const int e = createErrno(m_target);
    g_throwText(g_systemErrorText(e ? e : EIO));
}

QIODevice* ExportFile::device() {
    if (!m_device) {
        if (!m_temp)
            return nullptr;
        m_device.reset(new CheckedDevice(m_temp.data()));
    }
    return m_device.data();
}

void ExportFile::writeThrow(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    QFileDevice* file = m_temp.data();
    if (!file)
        g_throwText(g_systemErrorText(EBADF));
    if (file->write(bytes) != bytes.size())
        throwDevice(*file, errno);
}

void ExportFile::checkThrow() {
    if (m_device && m_device->failed())
        g_throwText(m_device->failure());
    QFileDevice* file = m_temp.data();
    if (!file)
        g_throwText(g_systemErrorText(EBADF));
    if (file->error() != QFileDevice::NoError)
        throwDevice(*file, errno);
}

void ExportFile::startWriteBack() {
    if (m_temp)
        ::sync_file_range(m_temp->handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

void ExportFile::flushThrow() {
    checkThrow();
    QFileDevice* file = m_temp.data();
    if (!file)
        g_throwText(g_systemErrorText(EBADF));
    // QSaveFile::commit() would not report a failed last flush, and would clear its text.
    if (file->error() != QFileDevice::NoError || !file->flush())
        throwDevice(*file, errno);
    // Space is taken only when the data reach the disk on some file systems.
    if (::fsync(file->handle()) != 0)
        g_throwText(g_systemErrorText(errno));
}

void ExportFile::commitThrow() {
    flushThrow();
    m_device.reset();
    const QString from = m_temp->fileName();
    m_temp->close();
    if (::rename(native(from).constData(), native(m_target).constData()) != 0)
        g_throwText(g_systemErrorText(errno));
    m_temp->setAutoRemove(false);
    m_temp.reset();
    m_committed = true;
}

void ExportFile::discard() {
    m_device.reset();
    m_temp.reset();  // closes and removes the file beside the target
}
