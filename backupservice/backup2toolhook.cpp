#include "backup2toolhook.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <unistd.h>
#include <sys/stat.h>

namespace {

constexpr QDir::Filters kListFilter = QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot;

// True when `path` lies strictly below the folder `folder` (both cleaned, no link resolution).
bool isBelow(const QString& path, const QString& folder) {
    const QString f = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return p.startsWith(f.endsWith('/') ? f : f + '/');
}

// realpath of the deepest ancestor that exists, with the missing rest appended.
QString resolveExisting(const QString& cleanAbsolute) {
    QString head = cleanAbsolute;
    QStringList rest;
    for (;;) {
        char buffer[PATH_MAX];
        if (::realpath(QFile::encodeName(head).constData(), buffer)) {
            QString resolved = QFile::decodeName(buffer);
            for (const QString& part : rest)
                resolved += QLatin1Char('/') + part;
            return QDir::cleanPath(resolved);
        }
        // Only a name that is not there at all may be made later; a link that points nowhere
        // would be followed to wherever it points once that exists.
        struct stat st;
        if (::lstat(QFile::encodeName(head).constData(), &st) == 0 || errno != ENOENT)
            return QString();
        const int slash = head.lastIndexOf('/');
        if (slash < 0 || head == QLatin1String("/"))
            return QString();
        rest.prepend(head.mid(slash + 1));
        head = slash == 0 ? QStringLiteral("/") : head.left(slash);
    }
}

bool insideOrSelf(const QString& path, const QString& base) {
    return path == base || path.startsWith(base.endsWith('/') ? base : base + '/');
}

QString refusedText(const QString& path) {
    return QStringLiteral("Refused path outside the backup folder: %1").arg(path);
}

QString systemText(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

// Copies a file beside `dst` and renames the copy over it: an old file at `dst` stays whole
// when the copy fails (a full disk).
int copyFileOver(const QString& src, const QString& dst, QString& err) {
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly)) {
        err = in.errorString();
        return QFile::OpenError;
    }
    const QFileInfo target(dst);
    QTemporaryFile out(target.absolutePath() + QLatin1String("/.") + target.fileName() +
                       QLatin1String(".XXXXXX"));
    if (!out.open()) {
        err = out.errorString();
        return QFile::CopyError;
    }
    QByteArray chunk;
    while (!(chunk = in.read(1 << 16)).isEmpty()) {
        if (out.write(chunk) != chunk.size()) {
            const int e = errno;
            err = out.errorString();
            if (err.isEmpty() || err == QLatin1String("Unknown error"))
                err = systemText(e);
            return QFile::CopyError;
        }
    }
    if (in.error() != QFileDevice::NoError) {
        err = in.errorString();
        return QFile::ReadError;
    }
    if (!out.flush() || ::fsync(out.handle()) != 0) {
        const int e = errno;
        err = out.errorString();
        if (err.isEmpty() || err == QLatin1String("Unknown error"))
            err = systemText(e);
        return QFile::CopyError;
    }
    struct stat st;
    if (::fstat(in.handle(), &st) == 0)
        ::fchmod(out.handle(), st.st_mode & 0777);
    out.close();
    if (::rename(QFile::encodeName(out.fileName()).constData(),
                 QFile::encodeName(dst).constData()) != 0) {
        err = systemText(errno);
        return QFile::CopyError;
    }
    out.setAutoRemove(false);
    return 0;
}

void makeParent(const QString& path) {
    QDir parent = QFileInfo(path).absoluteDir();
    if (!parent.exists())
        QDir().mkpath(parent.absolutePath());
}

}  // namespace

Backup2ToolHook::~Backup2ToolHook() = default;

void Backup2ToolHook::beginThrow(QDir, QString) {}

bool Backup2ToolHook::onHandleMsgContinue(QDir, QString, PlistCFType, int&, QString&) {
    return true;
}

QList<Backup2ToolHook::DirItem> Backup2ToolHook::dirContents(QDir root, QString path) {
    QList<DirItem> items;
    const QString resolved = g_confinedPath(root.absolutePath(), path, true);
    if (resolved.isEmpty())
        return items;
    const QDir dir(resolved);
    if (!dir.exists())
        return items;
    for (const QFileInfo& fi : dir.entryInfoList(kListFilter, QDir::NoSort)) {
        DirItem item;
        item.name = fi.fileName();
        item.type = fi.isDir() ? 2 : 1;
        item.size = fi.size();
        item.lastm = fi.lastModified();
        items << item;
    }
    return items;
}

void Backup2ToolHook::recvFileBegin(QDir, QString, QString, QString) {}

int Backup2ToolHook::recvFileOpenWrite(QDir root, QString path, QFile& file, QString& err) {
    const QString resolved = g_confinedPath(root.absolutePath(), path, false);
    if (resolved.isEmpty()) {
        err = refusedText(path);
        return QFile::PermissionsError;
    }
    makeParent(resolved);
    if (!file.open(QIODevice::WriteOnly)) {
        err = file.errorString();
        return file.error();
    }
    return 0;
}

void Backup2ToolHook::recvFileEnd(QDir, QString, quint64) {}

int Backup2ToolHook::moveFile(QDir root, QString src, QString dst, QString& err) {
    const QString from = g_confinedPath(root.absolutePath(), src, false);
    const QString to = g_confinedPath(root.absolutePath(), dst, false);
    if (from.isEmpty() || to.isEmpty()) {
        err = refusedText(from.isEmpty() ? src : dst);
        return QFile::PermissionsError;
    }
    if (!QFileInfo(from).exists() && !QFileInfo(from).isSymLink())
        return 0;
    // Clearing the destination first would delete the source itself.
    if (QDir::cleanPath(from) == QDir::cleanPath(to))
        return 0;
    // Likewise when the destination is a folder that holds the source; the rename could not
    // succeed anyway.
    if (isBelow(from, to)) {
        err = QStringLiteral("Destination contains the source.");
        return QFile::RenameError;
    }
    const QFileInfo toInfo(to);
    const bool fromDir = QFileInfo(from).isDir() && !QFileInfo(from).isSymLink();
    if (toInfo.isDir() && !toInfo.isSymLink()) {
        rmdir_recursive(to);
    } else if (fromDir && (toInfo.exists() || toInfo.isSymLink())) {
        // rename(2) puts a folder only where nothing stands.
        QFile old(to);
        if (!old.remove()) {
            err = old.errorString();
            return QFile::RenameError;
        }
    }
    makeParent(to);
    // One rename replaces a file: the old one stays whole until the new one is in place.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        err = systemText(errno);
        return QFile::RenameError;
    }
    return 0;
}

int Backup2ToolHook::removeFile(QDir root, QString path, QString&) {
    const QString target = g_confinedPath(root.absolutePath(), path, false);
    if (target.isEmpty())
        return 0;
    const QFileInfo info(target);
    if (!info.exists() && !info.isSymLink())
        return 0;
    if (info.isDir() && !info.isSymLink())
        rmdir_recursive(target);
    else
        QFile::remove(target);
    return 0;
}

int Backup2ToolHook::copyFile(QDir root, QString src, QString dst, QString& err) {
    const QString from = g_confinedPath(root.absolutePath(), src, false);
    const QString to = g_confinedPath(root.absolutePath(), dst, false);
    if (from.isEmpty() || to.isEmpty()) {
        err = refusedText(from.isEmpty() ? src : dst);
        return QFile::PermissionsError;
    }
    return copy_recursive(from, to, err);
}

int Backup2ToolHook::mkdir(QDir root, QString path, QString&) {
    const QString target = g_confinedPath(root.absolutePath(), path, true);
    if (target.isEmpty())
        return 0;
    if (!QFile::exists(target) && !QFileInfo(target).isSymLink())
        QDir().mkpath(target);
    return 0;
}

QString g_confinedPath(const QString& folder, const QString& path, bool allowSelf) {
    if (path.isEmpty())
        return QString();
    for (const QString& part : path.split('/')) {
        if (part == QLatin1String(".."))
            return QString();
    }
    const QString lexicalBase = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString base = resolveExisting(lexicalBase);
    if (base.isEmpty())
        return QString();
    const QString candidate = QDir::cleanPath(QDir(lexicalBase).absoluteFilePath(path));
    if (candidate == lexicalBase)
        return allowSelf ? base : QString();
    const int slash = candidate.lastIndexOf('/');
    const QString parent =
        resolveExisting(slash <= 0 ? QStringLiteral("/") : candidate.left(slash));
    if (parent.isEmpty() || !insideOrSelf(parent, base))
        return QString();
    const QString full =
        (parent.endsWith('/') ? parent : parent + QLatin1Char('/')) + candidate.mid(slash + 1);
    if (full == base)
        return allowSelf ? full : QString();
    const QFileInfo info(full);
    if (info.isSymLink()) {
        // A link is used only where it points inside; one that points nowhere may point out
        // once its target is made.
        const QString target = info.canonicalFilePath();
        if (target.isEmpty() || !insideOrSelf(target, base) || (target == base && !allowSelf))
            return QString();
    }
    return full;
}

void rmdir_recursive(QString path) {
    // A link stands for the tree only by name: it goes, what it points to stays.
    if (QFileInfo(path).isSymLink()) {
        QFile::remove(path);
        return;
    }
    QDir dir(path);
    if (!dir.exists())
        return;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::NoSort);
    for (const QFileInfo& fi : entries) {
        if (fi.isDir() && !fi.isSymLink())
            rmdir_recursive(fi.absoluteFilePath());
        else
            dir.remove(fi.fileName());
    }
    dir.rmdir(dir.absolutePath());
}

int copy_recursive(QString src, QString dst, QString& err) {
    const QFileInfo from(src);
    const QFileInfo to(dst);
    // Copying onto itself would remove the source before reading it, and copying a folder into
    // its own subtree would keep finding the copy it is making.
    if (QDir::cleanPath(from.absoluteFilePath()) == QDir::cleanPath(to.absoluteFilePath()))
        return 0;
    if (from.isDir() && isBelow(dst, src)) {
        err = QStringLiteral("Destination is inside the source.");
        return QFile::CopyError;
    }
    if (from.isFile()) {
        if (to.isDir()) {
            err = QStringLiteral("Destination is a folder.");
            return QFile::CopyError;
        }
        makeParent(dst);
        return copyFileOver(src, to.absoluteFilePath(), err);
    }
    if (from.isDir()) {
        if (to.isFile()) {
            err = QStringLiteral("Destination is a file.");
            return QFile::CopyError;
        }
        if (!to.exists())
            QDir().mkpath(to.absoluteFilePath());
        const QDir target(dst);
        for (const QFileInfo& fi : QDir(src).entryInfoList(kListFilter, QDir::NoSort)) {
            // A link could lead back into the tree being copied, or bring in a file from
            // anywhere on the disk.
            if (fi.isSymLink())
                continue;
            const int r =
                copy_recursive(fi.absoluteFilePath(), target.absoluteFilePath(fi.fileName()), err);
            if (r != 0)
                return r;
        }
        return 0;
    }
    return 0;
}
