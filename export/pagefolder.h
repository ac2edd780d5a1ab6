// The pictures folder of an HTML or Word page: a folder beside the page that no other page uses.
#ifndef TW_EXPORT_PAGEFOLDER_H
#define TW_EXPORT_PAGEFOLDER_H

#include <QHash>
#include <QSet>
#include <QString>

// A page uses a folder when it refers to it by a relative path ("x_files/1.jpg"). The pages
// looked at are the files beside the page whose name would give the same folder ("x.html" and
// "x.doc" both give "x_files"): the first folder of that name that none of them uses is the
// page's, then "x_files-2", "x_files-3" and so on. The page that stands at the path now, the
// one being replaced, does not count: its folder is the new page's too, and the pictures it
// refers to go once the new page is in place.
class PageFolder {
public:
    // Looks at the pages beside `pagePath` (an absolute path); writes nothing.
    explicit PageFolder(const QString& pagePath);

    // The folder's name beside the page, and its absolute path.
    QString name() const { return m_name; }
    QString path() const;

    // Once the new page is in place: removes the files that the page it replaced referred to
    // in folders named after it that no other page uses, except `keep` (names in this
    // page's folder), and such folders other than this page's once empty. Best effort: what
    // cannot be removed stays, unused.
    void removeReplaced(const QSet<QString>& keep) const;

    // The first name the folder of a page would take: its name without the last suffix, then
    // "_files", shortened to fit the folder's name limit.
    static QString firstName(const QString& pagePath);

private:
    QString candidate(int k) const;
    bool isCandidate(const QString& folder) const;

    QString m_dir;   // the page's folder, absolute
    QString m_stem;  // the page's name without its last suffix
    QString m_name;
    // What the page being replaced refers to, by folder: only folders named after the page
    // that no other page uses.
    QHash<QString, QSet<QString> > m_replaced;
};

#endif
