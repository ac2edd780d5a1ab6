#include "pagefolder.h"

#include "exportfile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <climits>
#include <cstring>

namespace {

const QString kTail = QStringLiteral("_files");

// Where a reference ends: the characters that may start one end it too, so that every byte of
// the markup is looked at once. A NUL byte ends one as well.
bool endsRef(char c) {
    return std::strchr("\"'=<>?# \t\r\n\f", c) != nullptr;
}

QString decoded(const QByteArray& part) {
    return QUrl::fromPercentEncoding(part);
}

void addRef(QHash<QString, QSet<QString> >& refs, QByteArray value) {
    while (value.startsWith("./"))
        value.remove(0, 2);
    const int slash = value.indexOf('/');
    if (slash <= 0)
        return;  // no folder, or one from the root ("/x", "//host/x")
    const QByteArray folder = value.left(slash);
    if (folder.contains(':') || folder == "." || folder == "..")
        return;  // "http:", "file:" and the like, or not a folder beside the page
    QSet<QString>& files = refs[decoded(folder)];
    const QByteArray rest = value.mid(slash + 1);
    // Something deeper still uses the folder, but names no file directly in it.
    if (!rest.isEmpty() && !rest.contains('/'))
        files.insert(decoded(rest));
}

// Relative references in markup: for each first folder referred to ("x_files" of
// src="x_files/1.jpg"), the names of the files referred to directly in it. A reference is a
// value after a quote or "=": taking too much for one only makes a folder count as used.
QHash<QString, QSet<QString> > relativeRefs(const QByteArray& markup) {
    QHash<QString, QSet<QString> > refs;
    const char* bytes = markup.constData();
    const int n = markup.size();
    for (int i = 0; i < n; ++i) {
        if (bytes[i] != '"' && bytes[i] != '\'' && bytes[i] != '=')
            continue;
        int end = i + 1;
        while (end < n && !endsRef(bytes[end]))
            ++end;
        if (end > i + 1)
            addRef(refs, QByteArray(bytes + i + 1, end - i - 1));
        i = end - 1;  // the end may start the next reference
    }
    return refs;
}

// A page of many contacts is mapped rather than read into memory.
QHash<QString, QSet<QString> > refsOfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const int size = int(qMin<qint64>(file.size(), INT_MAX));
    if (size <= 0)
        return {};
    if (uchar* mapped = file.map(0, size)) {
        const QHash<QString, QSet<QString> > refs =
            relativeRefs(QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size));
        file.unmap(mapped);
        return refs;
    }
    return relativeRefs(file.read(size));
}

}  // namespace

QString PageFolder::firstName(const QString& pagePath) {
    const QFileInfo page(pagePath);
    return g_nameWithinLimit(page.absolutePath(), page.completeBaseName(), kTail);
}

QString PageFolder::candidate(int k) const {
    return g_nameWithinLimit(m_dir, m_stem,
                             k == 1 ? kTail : kTail + QLatin1Char('-') + QString::number(k));
}

bool PageFolder::isCandidate(const QString& folder) const {
    if (folder == candidate(1))
        return true;
    const int dash = folder.lastIndexOf(QLatin1Char('-'));
    bool number = false;
    const int k = dash < 0 ? 0 : folder.mid(dash + 1).toInt(&number);
    return number && k >= 2 && folder == candidate(k);
}

PageFolder::PageFolder(const QString& pagePath) {
    const QFileInfo page(pagePath);
    m_dir = page.absolutePath();
    m_stem = page.completeBaseName();
    const QString first = candidate(1);
    const QString stemAsCut = first.left(first.size() - kTail.size());

    // The folders named after this page that the other pages of its name use.
    QSet<QString> used;
    // Unsorted: a folder of many files is read once, and only pages of this name are opened.
    QDirIterator beside(m_dir, QDir::Files | QDir::Hidden);
    while (beside.hasNext()) {
        const QString other = beside.next();
        const QString name = beside.fileName();
        if (name == page.fileName() || !name.startsWith(stemAsCut) || firstName(other) != first)
            continue;
        const QHash<QString, QSet<QString> > refs = refsOfFile(other);
        for (auto it = refs.cbegin(); it != refs.cend(); ++it) {
            if (isCandidate(it.key()))
                used.insert(it.key());
        }
    }
    if (page.isFile()) {
        const QHash<QString, QSet<QString> > refs = refsOfFile(page.absoluteFilePath());
        for (auto it = refs.cbegin(); it != refs.cend(); ++it) {
            if (isCandidate(it.key()) && !used.contains(it.key()))
                m_replaced.insert(it.key(), it.value());
        }
    }
    int k = 1;
    while (used.contains(candidate(k)))
        ++k;
    m_name = candidate(k);
}

QString PageFolder::path() const {
    return m_dir + QLatin1Char('/') + m_name;
}

void PageFolder::removeReplaced(const QSet<QString>& keep) const {
    for (auto it = m_replaced.cbegin(); it != m_replaced.cend(); ++it) {
        const bool own = it.key() == m_name;
        QDir folder(m_dir + QLatin1Char('/') + it.key());
        for (const QString& file : it.value()) {
            if (file == QLatin1String(".") || file == QLatin1String("..") ||
                file.contains(QLatin1Char('/')) || (own && keep.contains(file)))
                continue;
            folder.remove(file);
        }
        if (!own)
            QDir(m_dir).rmdir(it.key());  // only when nothing else is left in it
    }
}
