// The worker under a real progress dialog: the dialog always ends with the worker's outcome.
#include "import/importcontactstolocalthread.h"

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"
#include "ui/translator.h"
#include "resources/ui/uiresources.h"
#include "store/localdb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Outcome {
    int result;
    bool rejected;
    QStringList boxes;
};

Outcome runWorker(const QString& path, int type, LocalDb* db) {
    Outcome out;
    g_setMessageBoxHook([&out](QMessageBox& box) {
        out.boxes << box.text();
        return int(QMessageBox::Ok);
    });
    ProgressForm form{QString()};
    ImportContactsToLocalThread worker(path, ImportContactsToLocalThread::TYPE(type), db, &form);
    worker.start(QThread::InheritPriority);
    out.result = form.exec();
    worker.wait();
    out.rejected = form.rejected;
    g_setMessageBoxHook(MessageBoxHook());
    return out;
}

}  // namespace

TEST(ImportThread, SucceedsAndFails) {
    QTemporaryDir dir;
    LocalDb db(dir.filePath("t.db"), QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    const QString vcf = dir.filePath("a.vcf");
    QFile f(vcf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BEGIN:VCARD\r\nN:Doe;John\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:Roe;Jane\r\nEND:VCARD\r\n");
    f.close();

    Outcome ok = runWorker(vcf, ImportContactsToLocalThread::VCARD, &db);
    EXPECT_EQ(ok.result, 1);
    EXPECT_FALSE(ok.rejected);
    ASSERT_EQ(ok.boxes.size(), 1);
    EXPECT_TRUE(ok.boxes[0].contains("IDS_SUC_IMPORT_2_CONTACTS_TO_DB"))
        << ok.boxes[0].toStdString();
    EXPECT_EQ(db.contacts().size(), 2);

    // An unknown type and an unreadable file end the dialog with an error, database untouched.
    for (int type : {0, 3}) {
        Outcome badType = runWorker(vcf, type, &db);
        EXPECT_EQ(badType.result, 0);
        EXPECT_TRUE(badType.rejected);
        EXPECT_EQ(badType.boxes.size(), 1);
    }
    Outcome missing = runWorker(dir.filePath("none.csv"), ImportContactsToLocalThread::CSV, &db);
    EXPECT_EQ(missing.result, 0);
    ASSERT_EQ(missing.boxes.size(), 1);
    EXPECT_EQ(db.contacts().size(), 2);
}

// Cancel asked while the worker runs on to its end: the worker waits for the answer, and a
// confirmed Cancel rolls everything back; "No" lets the import stand.
TEST(ImportThread, CancelAnsweredAfterTheWorkerFinished) {
    QTemporaryDir dir;
    const QString vcf = dir.filePath("a.vcf");
    QFile f(vcf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < 50; ++i)
        f.write(QByteArray("BEGIN:VCARD\r\nN:Doe;John") + QByteArray::number(i) +
                "\r\nEND:VCARD\r\n");
    f.close();
    for (bool confirm : {true, false}) {
        LocalDb db(dir.filePath(confirm ? "yes.db" : "no.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        ProgressForm form{QString()};
        ImportContactsToLocalThread worker(vcf, ImportContactsToLocalThread::VCARD, &db, &form);
        QStringList boxes;
        g_setMessageBoxHook([&](QMessageBox& box) {
            boxes << box.text();
            if (boxes.size() == 1) {
                // The question is open: the worker reads and merges every card meanwhile.
                worker.start(QThread::InheritPriority);
                QElapsedTimer t;
                t.start();
                while (t.elapsed() < 700)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                return int(confirm ? QMessageBox::Yes : QMessageBox::No);
            }
            return int(QMessageBox::Ok);
        });
        QMetaObject::invokeMethod(&form, "cancel", Qt::QueuedConnection);
        const int result = form.exec();
        worker.wait();
        g_setMessageBoxHook(MessageBoxHook());
        if (confirm) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(form.rejected);
            EXPECT_EQ(boxes.size(), 1) << boxes.join("|").toStdString();
            EXPECT_EQ(db.contacts().size(), 0);
        } else {
            EXPECT_EQ(result, 1);
            ASSERT_EQ(boxes.size(), 2);
            EXPECT_TRUE(boxes[1].contains("IDS_SUC_IMPORT_50_CONTACTS_TO_DB"));
            EXPECT_EQ(db.contacts().size(), 50);
        }
    }
}

// The closing texts as the user reads them, from the program's own translation file.
TEST(ImportThread, EnglishClosingTexts) {
    tw_initUiResources();
    TwTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
    QCoreApplication::installTranslator(&translator);
    QTemporaryDir dir;
    LocalDb db(dir.filePath("t.db"), QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    const QString csv = dir.filePath("a.csv");
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("First Name,Last Name\r\nJohn,Doe\r\nJane,Roe\r\n");
    f.close();

    Outcome first = runWorker(csv, ImportContactsToLocalThread::CSV, &db);
    Outcome again = runWorker(csv, ImportContactsToLocalThread::CSV, &db);
    const QString status =
        QCoreApplication::translate("ImportContactsToLocalThread", "IDS_IMPORTING_CONTACTS_TO_DB");
    const QString counter =
        QCoreApplication::translate("ImportContactsToLocalThread", "Contacts:%1/%2");
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(first.boxes, QStringList{"Successfully imported 2 contacts."});
    EXPECT_EQ(again.boxes,
              QStringList{"Successfully imported 0 contacts, with 2 repeated contacts merged."});
    EXPECT_EQ(status, "Importing contacts to Local Database now...");
    EXPECT_EQ(counter, "Contacts:%1/%2");
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
