// The staging copy worker under a real ProgressForm.
#include "backupservice/copyuwpitunesthread.h"
#include "test_util.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Runs the worker the way the program runs every worker; returns the form's result.
int runCopy(const QString& source, bool cleanFirst, QStringList* boxes = nullptr) {
    g_setMessageBoxHook([boxes](QMessageBox& box) {
        if (boxes)
            *boxes << box.text();
        return int(QMessageBox::Ok);
    });
    ProgressForm form{QStringLiteral("staging")};
    CopyUWPItunesThread worker(source, cleanFirst, form);
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    worker.wait();
    g_setMessageBoxHook(MessageBoxHook());
    return result;
}

}  // namespace

TEST(Staging, CopiesMarksAndCleans) {
    QTemporaryDir src;
    const QString source = src.filePath("iTunes");
    writeFile(source + "/a.txt", "a");
    writeFile(source + "/sub/b.bin", "b");
    writeFile(source + "/.hidden", "h");
    QDir(source).mkpath("emptysub");

    const QDir staged = CopyUWPItunesThread::uwpItunesSaveDir(source);
    EXPECT_EQ(staged.absolutePath(),
              QDir(QDir::homePath()).absoluteFilePath("quorvanteli_itunes/iTunes"));
    QDir(staged.absolutePath()).removeRecursively();
    EXPECT_FALSE(CopyUWPItunesThread::isUWPItunesCopied(staged));

    EXPECT_EQ(runCopy(source, false), 1);
    EXPECT_TRUE(CopyUWPItunesThread::isUWPItunesCopied(staged));
    EXPECT_EQ(readFile(staged.filePath("a.txt")), "a");
    EXPECT_EQ(readFile(staged.filePath("sub/b.bin")), "b");
    EXPECT_FALSE(QFile::exists(staged.filePath(".hidden")));
    EXPECT_FALSE(QFile::exists(staged.filePath("emptysub")));

    // Again without cleaning: staged files are kept, new ones added.
    writeFile(staged.filePath("a.txt"), "edited");
    writeFile(source + "/c.txt", "c");
    EXPECT_EQ(runCopy(source, false), 1);
    EXPECT_EQ(readFile(staged.filePath("a.txt")), "edited");
    EXPECT_EQ(readFile(staged.filePath("c.txt")), "c");

    // Cleaning removes other staged sources, but not hidden files and their folders.
    const QDir root(QDir(QDir::homePath()).absoluteFilePath("quorvanteli_itunes"));
    writeFile(root.filePath("Other/x"), "x");
    writeFile(root.filePath("Kept/.dot"), "d");
    EXPECT_EQ(runCopy(source, true), 1);
    EXPECT_FALSE(QFile::exists(root.filePath("Other")));
    EXPECT_TRUE(QFile::exists(root.filePath("Kept/.dot")));
    EXPECT_EQ(readFile(staged.filePath("a.txt")), "a");

    // A missing source is an error with the system's text, and leaves no marker.
    const QString missing = src.filePath("Nowhere");
    QStringList boxes;
    EXPECT_EQ(runCopy(missing, false, &boxes), 0);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(
        boxes[0].contains("Can not copy iTunes files. No such file or directory: " + missing))
        << boxes[0].toStdString();
    EXPECT_FALSE(
        CopyUWPItunesThread::isUWPItunesCopied(CopyUWPItunesThread::uwpItunesSaveDir(missing)));

    // An empty source is a complete copy of nothing: marked.
    const QString empty = src.filePath("Empty");
    QDir().mkpath(empty);
    EXPECT_EQ(runCopy(empty, false), 1);
    EXPECT_TRUE(
        CopyUWPItunesThread::isUWPItunesCopied(CopyUWPItunesThread::uwpItunesSaveDir(empty)));
}

TEST(Staging, CleaningNeverFollowsALinkedStagingFolder) {
    QTemporaryDir other;
    writeFile(other.filePath("Documents/letter.txt"), "mine");
    const QString root = QDir(QDir::homePath()).absoluteFilePath("quorvanteli_itunes");
    QDir(root).removeRecursively();
    QFile::remove(root);
    ASSERT_TRUE(QFile::link(other.filePath("Documents"), root));

    QTemporaryDir src;
    writeFile(src.filePath("iTunes/a.txt"), "a");
    EXPECT_EQ(runCopy(src.filePath("iTunes"), true), 1);
    EXPECT_EQ(readFile(other.filePath("Documents/letter.txt")), "mine");
    EXPECT_FALSE(QFileInfo(root).isSymLink());
    EXPECT_EQ(readFile(root + "/iTunes/a.txt"), "a");
    QDir(root).removeRecursively();
}

TEST(Staging, FailureStopsWithoutMarker) {
    QTemporaryDir src;
    const QString source = src.filePath("Broken");
    writeFile(source + "/1first", "1");
    writeFile(source + "/sub/2second", "2");
    const QDir staged = CopyUWPItunesThread::uwpItunesSaveDir(source);
    QDir(staged.absolutePath()).removeRecursively();
    // A file where the staged subfolder must go makes the copy into it fail.
    writeFile(staged.filePath("sub"), "in the way");
    QStringList boxes;
    const int result = runCopy(source, false, &boxes);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("Can not copy iTunes files.")) << boxes[0].toStdString();
    EXPECT_FALSE(CopyUWPItunesThread::isUWPItunesCopied(staged));
}
