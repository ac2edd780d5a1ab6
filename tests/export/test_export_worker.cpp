// The export worker: progress, success, cancel and error paths, and what stays on disk.
#include "export_test_util.h"
#include "export/exportrun.h"
#include "export/exporttofilethread.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"
#include "resources/ui/uiresources.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTranslator>
#include <QUrl>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

struct Recorder : ExportReporter {
    int cancelBefore = -1;  // report cancelled when asked before this contact (1-based)
    int asked = 0;
    QList<int> percents;
    QStringList texts;
    QStringList succeeded;
    QStringList errors;

    bool cancelled() override { return ++asked == cancelBefore; }
    void progress(QString status, int percent, QString text) override {
        EXPECT_EQ(status, "IDS_EXPORTING_CONTACTS_TO_FILE");
        percents << percent;
        texts << text;
    }
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
    int outcomes() const { return succeeded.size() + errors.size(); }
};

QList<pim::_Contact> people(int n) {
    QList<pim::_Contact> list;
    for (int i = 0; i < n; ++i)
        list << contact(
            QStringLiteral("P%1").arg(i),
            {{pim::ENTITY_PHONE, ent({{"data1", QString::number(i)}, {"data2", "2"}})}});
    return list;
}

// Files (recursively) below a folder, relative to it.
QStringList filesBelow(const QString& root) {
    QStringList out;
    QDir dir(root);
    for (const QFileInfo& fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (fi.isDir()) {
            for (const QString& f : filesBelow(fi.filePath()))
                out << fi.fileName() + "/" + f;
        } else {
            out << fi.fileName();
        }
    }
    out.sort();
    return out;
}

}  // namespace

TEST(ExportRun, ProgressAndSuccess) {
    QTemporaryDir dir;
    QString path = dir.filePath("a.vcf");
    Recorder r;
    g_runExport(people(3), EXPORT_VCARD, path, r);
    EXPECT_EQ(r.percents, QList<int>({33, 66, 100}));
    EXPECT_EQ(r.texts, QStringList({"Contacts:1/3", "Contacts:2/3", "Contacts:3/3"}));
    EXPECT_EQ(r.succeeded, QStringList({"IDS_SUC_EXPORT_3_CONTACTS_TO_FILE"}));
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_EQ(readFile(path).count("BEGIN:VCARD"), 3);
    EXPECT_EQ(filesBelow(dir.path()), QStringList({"a.vcf"}));  // no temporary left behind

    EXPECT_EQ(g_exportPercent(29, 100), 28);
    EXPECT_EQ(g_exportPercent(58, 100), 57);
    EXPECT_EQ(g_exportPercent(100, 100), 100);

    // No contacts: header only, success for 0; an existing file is replaced.
    path = dir.filePath("a.vcf");
    Recorder none;
    g_runExport({}, EXPORT_CSV, path, none);
    EXPECT_EQ(none.succeeded, QStringList({"IDS_SUC_EXPORT_0_CONTACTS_TO_FILE"}));
    EXPECT_EQ(readFile(path), QByteArray("\n"));

    // Every type writes its own format.
    for (int type : {EXPORT_CSV, EXPORT_TXT}) {
        QString p = dir.filePath(QStringLiteral("t%1").arg(type));
        Recorder rr;
        g_runExport(people(2), type, p, rr);
        EXPECT_EQ(rr.succeeded.size(), 1);
        EXPECT_EQ(readFile(p).count('\n'), 3);
    }

    // An unknown type says nothing but an empty error and touches nothing.
    QString bad = dir.filePath("bad");
    Recorder rb;
    g_runExport(people(1), 5, bad, rb);
    EXPECT_EQ(rb.errors, QStringList({QString()}));
    EXPECT_TRUE(rb.succeeded.isEmpty());
    EXPECT_FALSE(QFile::exists(bad));
}

TEST(ExportRun, CancelLeavesNoPartialFile) {
    QTemporaryDir dir;
    for (int at : {1, 3}) {
        QString path = dir.filePath(QStringLiteral("c%1.csv").arg(at));
        Recorder r;
        r.cancelBefore = at;
        g_runExport(people(5), EXPORT_CSV, path, r);
        EXPECT_EQ(r.outcomes(), 0) << at;
        EXPECT_EQ(r.percents.size(), at - 1);
        EXPECT_FALSE(QFile::exists(path));
    }
    // A file that stood there before a cancelled export is left as it was.
    QString kept = dir.filePath("kept.vcf");
    writeFile(kept, "precious");
    Recorder r;
    r.cancelBefore = 2;
    g_runExport(people(3), EXPORT_VCARD, kept, r);
    EXPECT_EQ(readFile(kept), QByteArray("precious"));
    EXPECT_EQ(filesBelow(dir.path()), QStringList({"kept.vcf"}));

    // A cancel confirmed after the last check, before the file is made final, still leaves
    // no file and no word.
    QString late = dir.filePath("late.vcf");
    Recorder rl;
    rl.cancelBefore = 4;
    g_runExport(people(3), EXPORT_VCARD, late, rl);
    EXPECT_EQ(rl.outcomes(), 0);
    EXPECT_FALSE(QFile::exists(late));
}

TEST(ExportRun, HtmlPageAndPicturesFolder) {
    QTemporaryDir dir;
    pim::_Contact withPhoto =
        contact("Pic", {{pim::ENTITY_PHOTO, ent({{"data15", imageBytes("PNG")}})}});
    withPhoto._id = 5;
    // The page is the file the user named; its pictures lie in a folder beside it named
    // after it, and the page refers to them there (a name with blanks percent-encoded).
    for (const char* name : {"x.html", "w.doc", "my list.html"}) {
        QString path = dir.filePath(name);
        Recorder r;
        g_runExport({withPhoto}, EXPORT_HTML, path, r);
        EXPECT_EQ(r.succeeded.size(), 1);
        EXPECT_EQ(path, dir.filePath(name));
        EXPECT_TRUE(QFileInfo(path).isFile()) << name;
        const QString folder = QFileInfo(path).completeBaseName() + "_files";
        EXPECT_EQ(filesBelow(dir.filePath(folder)), QStringList({"5.jpg", "contact.png"}));
        const QByteArray page = readFile(path);
        EXPECT_TRUE(page.endsWith("</body></html>"));
        EXPECT_TRUE(page.contains("src=\"" + QUrl::toPercentEncoding(folder) + "/5.jpg\""))
            << page.toStdString();
    }
    EXPECT_TRUE(readFile(dir.filePath("my list.html")).contains("src=\"my%20list_files/5.jpg\""));

    // Again over the same page: the page is replaced, the folder is used again.
    QString again = dir.filePath("x.html");
    Recorder ra;
    g_runExport({withPhoto, withPhoto}, EXPORT_HTML, again, ra);
    EXPECT_EQ(ra.succeeded.size(), 1);
    EXPECT_EQ(readFile(again).count("<img "), 2);

    // Cancel: the page stays as it was, and the pictures this export wrote go with the folder
    // it made.
    QString cancelled = dir.filePath("c.html");
    writeFile(cancelled, "earlier page");
    Recorder rc;
    rc.cancelBefore = 2;
    g_runExport({withPhoto, withPhoto}, EXPORT_HTML, cancelled, rc);
    EXPECT_EQ(rc.outcomes(), 0);
    EXPECT_EQ(readFile(cancelled), QByteArray("earlier page"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("c_files")));

    // A folder at the chosen path (an export of an older version): the system's word, and the
    // folder left alone.
    QString clash = dir.filePath("clash.html");
    ASSERT_TRUE(QDir().mkpath(clash + "/photos"));
    Recorder rf;
    g_runExport({withPhoto}, EXPORT_HTML, clash, rf);
    EXPECT_EQ(rf.errors, QStringList({"Is a directory"}));
    EXPECT_TRUE(rf.succeeded.isEmpty());
    EXPECT_EQ(filesBelow(clash), QStringList());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("clash_files")));

    // A plain file where the pictures folder belongs: the system's word, the file kept, no page.
    QString blocked = dir.filePath("b.html");
    writeFile(dir.filePath("b_files"), "a file");
    Recorder rb;
    g_runExport({withPhoto}, EXPORT_HTML, blocked, rb);
    EXPECT_EQ(rb.errors, QStringList({"Not a directory"}));
    EXPECT_FALSE(QFileInfo::exists(blocked));
    EXPECT_EQ(readFile(dir.filePath("b_files")), QByteArray("a file"));

    // No name for the page ("" or "/"): an error, and no pictures folder anywhere.
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    for (const char* unnamed : {"", "/", "./", "a/.."}) {
        QString p = QString::fromLatin1(unnamed);
        Recorder ru;
        g_runExport({withPhoto}, EXPORT_HTML, p, ru);
        EXPECT_EQ(ru.errors.size(), 1) << unnamed;
        EXPECT_EQ(ru.errors.value(0), "No file name specified") << unnamed;
        EXPECT_TRUE(ru.succeeded.isEmpty()) << unnamed;
    }
    QDir::setCurrent(oldCwd);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("_files")));
    EXPECT_FALSE(QFileInfo::exists("/_files"));

    // A target in a folder that cannot hold it: an error and no file.
    QString nowhere = dir.filePath("b_files/sub/out.vcf");
    Recorder rn;
    g_runExport(people(1), EXPORT_VCARD, nowhere, rn);
    EXPECT_EQ(rn.errors, QStringList({"Not a directory"}));
    EXPECT_FALSE(QFile::exists(nowhere));
}

// The worker under a real progress dialog: the dialog ends with the worker's outcome.
TEST(ExportToFileThread, ReportsThroughTheForm) {
    QTemporaryDir dir;
    QStringList boxes;
    g_setMessageBoxHook([&boxes](QMessageBox& box) {
        boxes << box.text();
        return int(QMessageBox::Ok);
    });
    auto run = [](const QList<pim::_Contact>& contacts, ExportToFileThread::TYPE type,
                  const QString& path, QString* written) {
        ProgressForm form{QStringLiteral("IDS_STARTING_EXPORT_CONTACTS_TO_FILE")};
        ExportToFileThread worker(contacts, type, path, &form);
        worker.start(QThread::InheritPriority);
        const int result = form.exec();
        worker.wait();
        if (written)
            *written = worker.path();
        return result;
    };
    QString page;
    EXPECT_EQ(run(people(4), ExportToFileThread::HTML, dir.filePath("p.html"), &page), 1);
    EXPECT_EQ(page, dir.filePath("p.html"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.first().contains("IDS_SUC_EXPORT_4_CONTACTS_TO_FILE") ||
                boxes.first().contains("4 contacts"))
        << boxes.first().toStdString();

    boxes.clear();
    writeFile(dir.filePath("f"), "x");
    EXPECT_EQ(run(people(1), ExportToFileThread::CSV, dir.filePath("f/out.csv"), nullptr), 0);
    EXPECT_EQ(boxes.size(), 1);
    g_setMessageBoxHook(MessageBoxHook());
}

// The texts the export shows exist in the program's translation file.
TEST(ExportTexts, TranslationFileHoldsTheKeys) {
    tw_initUiResources();
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
    EXPECT_EQ(translator.translate("ExportToFileThread", "IDS_EXPORTING_CONTACTS_TO_FILE"),
              "Exporting contacts to File now...");
    EXPECT_FALSE(
        translator.translate("ExportToFileThread", "IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").isEmpty());
    EXPECT_FALSE(translator.translate("ExportToFileThread", "IDS_EXPORT_UNKNOWN_ERROR").isEmpty());
    EXPECT_EQ(translator.translate("ContactsPrinter", "IDS_PRINT_CONTACTS"), "Print Contacts");
    EXPECT_FALSE(translator.translate("ContactsPrinter", "IDS_EXPORT_PDF_FAILED").isEmpty());
}
