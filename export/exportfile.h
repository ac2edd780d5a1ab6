// A file written beside its target and put in place only when all of it is on disk.
#ifndef TW_EXPORT_EXPORTFILE_H
#define TW_EXPORT_EXPORTFILE_H

#include <QByteArray>
#include <QFile>
#include <QScopedPointer>
#include <QString>

class QIODevice;
class QTemporaryFile;

// Every failure throws std::runtime_error with the system's own text (strerror of the failing
// call). Until commitThrow() has returned, the file that stood at the target stays as it was,
// even when the program is killed; a writer destroyed without a commit leaves nothing behind.
//
// A folder that takes no new files is refused with the system's text (for instance "Permission
// denied"), even when the target itself may be written: only a file beside the target can be
// put in its place whole.
class ExportFile {
public:
    explicit ExportFile(const QString& target);
    ~ExportFile();
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    void openThrow();
    // For writers that take a device (the PDF writer). Check it with checkThrow() afterwards.
    QIODevice* device();
    void writeThrow(const QByteArray& bytes);
    // Throws when a write through device() failed.
    void checkThrow();
    // Has the system start writing what it holds of the file to the disk, without waiting
    // for it: a long writer calls this now and then, so that the sync at its end finds little
    // left to do. A failure here shows in flushThrow().
    void startWriteBack();
    // Flushes and syncs: what was written is on disk (or this throws).
    void flushThrow();
    // Flushes, syncs and moves the file into place.
    void commitThrow();
    // Drops what was written; the target is as it was before openThrow().
    void discard();

    QString target() const { return m_target; }
    // The file being written beside the target; empty when none is open.
    QString writingPath() const;

private:
    class CheckedDevice;

    QString m_target;
    QScopedPointer<QTemporaryFile> m_temp;   // beside the target
    QScopedPointer<CheckedDevice> m_device;  // what device() hands out
    bool m_committed = false;
};

// `stem` + `tail` as a name in `folder`: the stem shortened (at a character boundary) so that
// the name stays within the folder's limit, since a legal name must never fail because of what
// is added to it.
QString g_nameWithinLimit(const QString& folder, const QString& stem, const QString& tail);

// strerror of `err` as a QString.
QString g_systemErrorText(int err);
[[noreturn]] void g_throwText(const QString& text);

#endif
