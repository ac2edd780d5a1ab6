#include "copyuwpitunesthread.h"

#include "backup2toolhook.h"
#include "store/runreporter.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace {

const char* const kStagingRoot = "quorvanteli_itunes/";
const char* const kMarker = "__CopyUWPItunesThread";

QDir stagingRoot() {
    return QDir(QDir(QDir::homePath()).absoluteFilePath(QString::fromLatin1(kStagingRoot)));
}

}  // namespace

CopyUWPItunesThread::CopyUWPItunesThread(QString source, bool cleanFirst, RunReporter& reporter,
                                         QObject* parent)
    : QThread(parent), m_source(source), m_cleanFirst(cleanFirst), m_reporter(&reporter) {}

QDir CopyUWPItunesThread::uwpItunesSaveDir(QString source) {
    return QDir(QDir(QDir::homePath()).absoluteFilePath(QString::fromLatin1(kStagingRoot)) +
                QFileInfo(source).fileName());
}

bool CopyUWPItunesThread::isUWPItunesCopied(QDir dir) {
    return QFile::exists(dir.absoluteFilePath(QString::fromLatin1(kMarker)));
}

bool CopyUWPItunesThread::copyFiles(const QFileInfo& source, QDir target, QString& error) {
    if (!target.exists())
        QDir().mkpath(target.absolutePath());
    if (source.isFile()) {
        m_reporter->progress(QString(), -1, source.fileName());
        const QString destination = target.absoluteFilePath(source.fileName());
        if (QFile::exists(destination))
            return true;
        QFile file(source.absoluteFilePath());
        if (!file.copy(destination)) {
            error = file.errorString();
            return false;
        }
        return true;
    }
    if (source.isDir()) {
        const QFileInfoList entries =
            QDir(source.absoluteFilePath())
                .entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
        const QDir newTarget(target.absoluteFilePath(source.fileName()));
        for (const QFileInfo& entry : entries) {
            // A link to a folder could lead back into the tree and never end.
            if (entry.isDir() && entry.isSymLink())
                continue;
            if (!copyFiles(entry, newTarget, error))
                return false;
        }
        return true;
    }
    return true;
}

void CopyUWPItunesThread::run() {
    m_reporter->progress(tr("Initiating iTunes..."), 99, QString());
    const QDir root = stagingRoot();
    // A linked staging root is removed as a link: what it points to is not ours to empty.
    if (m_cleanFirst)
        rmdir_recursive(root.absolutePath());
    QString error;
    const QFileInfo source(m_source);
    // Nothing to copy is no finished copy.
    if (!source.exists()) {
        m_reporter->error(tr("Can not copy iTunes files. %1")
                              .arg(QString::fromLocal8Bit(std::strerror(ENOENT)) +
                                   QLatin1String(": ") + m_source));
        return;
    }
    if (!copyFiles(source, root, error)) {
        m_reporter->error(tr("Can not copy iTunes files. %1").arg(error));
        return;
    }
    // The marker says the copy is complete, so its own failure is one.
    const QString staged = root.absoluteFilePath(source.fileName());
    QDir().mkpath(staged);
    QFile marker(staged + "/" + QString::fromLatin1(kMarker));
    if (!marker.open(QIODevice::WriteOnly)) {
        m_reporter->error(tr("Can not copy iTunes files. %1").arg(marker.errorString()));
        return;
    }
    marker.close();
    m_reporter->succeed(QString());
}
