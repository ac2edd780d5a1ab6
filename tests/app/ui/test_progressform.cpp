#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>

#include "ui/progressform.h"
#include "testsupport.h"

namespace {

QString status(ProgressForm& f) {
    return f.findChild<QLabel*>("lbStatus")->text();
}
QString progressText(ProgressForm& f) {
    return f.findChild<QLabel*>("lbProgress")->text();
}
int bar(ProgressForm& f) {
    return f.findChild<QProgressBar*>("progressBar")->value();
}
QPushButton* cancelButton(ProgressForm& f) {
    return f.findChild<QPushButton*>("btnCancel");
}

// Runs fn on a worker thread the way every flow does: start, exec, wait.
template <typename Fn>
int runWorker(ProgressForm& form, Fn fn) {
    QThread* worker = QThread::create(fn);
    worker->start(QThread::InheritPriority);
    const int result = form.exec();
    worker->wait();
    delete worker;
    return result;
}

// A worker that never checks the flag and never ends by itself.
class StuckThread : public QThread {
protected:
    void run() override {
        setTerminationEnabled(true);
        for (;;) {
            QThread::msleep(5);
        }
    }
};

}  // namespace

TEST(ProgressForm, UpdateKeepsWhatIsNotGivenAndDefaultsTheText) {
    ProgressForm form("Start");
    EXPECT_EQ(status(form), "Start");
    form.invokeUpdateProgress("", -1, "");
    EXPECT_EQ(status(form), "Start");
    EXPECT_EQ(bar(form), 0);
    EXPECT_EQ(progressText(form), "Progress:0%");
    form.invokeUpdateProgress("Reading", 40, "");
    EXPECT_EQ(status(form), "Reading");
    EXPECT_EQ(bar(form), 40);
    EXPECT_EQ(progressText(form), "Progress:40%");
    form.invokeUpdateProgress("", -5, "Contacts:3/7");
    EXPECT_EQ(status(form), "Reading");
    EXPECT_EQ(bar(form), 40);
    EXPECT_EQ(progressText(form), "Contacts:3/7");
    form.invokeSetCancelBtnText("Stop");
    EXPECT_EQ(cancelButton(form)->text(), "Stop");
}

TEST(ProgressForm, WorkerReportsThenSucceedsWithABox) {
    BoxRecorder rec;
    ProgressForm form("");
    const int result = runWorker(form, [&form]() {
        for (int i = 1; i <= 10; ++i) {
            form.invokeUpdateProgress("Working", i * 10, QString("Contacts:%1/10").arg(i));
        }
        form.invokeSucceed("Done 10");
    });
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(form.rejected);
    EXPECT_EQ(bar(form), 100);
    EXPECT_EQ(progressText(form), "Contacts:10/10");
    ASSERT_EQ(rec.boxes.size(), 1);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(rec.boxes[0].text, "Done 10");
}

// A worker reporting every item of a large run: the GUI thread gets at most about 30
// requests a second, and the last one (100 %) always.
TEST(ProgressForm, ProgressRequestsAreThrottled) {
    struct Counter : QObject {
        int calls = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            calls += e->type() == QEvent::MetaCall ? 1 : 0;
            return false;
        }
    } counter;
    ProgressForm form("");
    form.installEventFilter(&counter);
    QElapsedTimer t;
    t.start();
    qint64 took = 0;
    const int result = runWorker(form, [&]() {
        for (int i = 1; i <= 20000; ++i)
            form.invokeUpdateProgress("Working", i / 200, QString("Contacts:%1/20000").arg(i));
        took = t.elapsed();
        form.invokeSucceed("");
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(bar(form), 100);
    EXPECT_EQ(progressText(form), "Contacts:20000/20000");
    EXPECT_LE(counter.calls, took / 33 + 4) << took << " ms";
}

TEST(ProgressForm, SucceedWithoutTextShowsNoBoxEvenWhenQueuedBeforeExec) {
    BoxRecorder rec;
    ProgressForm form("");
    QThread* worker = QThread::create([&form]() { form.invokeSucceed(""); });
    worker->start();
    worker->wait();  // the report is queued before the modal loop runs
    EXPECT_EQ(form.exec(), 1);
    delete worker;
    EXPECT_FALSE(form.rejected);
    EXPECT_TRUE(rec.boxes.isEmpty());
}

TEST(ProgressForm, ErrorShowsTheBoxPostsTheReportAndFails) {
    LocalHttpServer server;
    WebServiceOverride override(server.address());
    BoxRecorder rec;
    ProgressForm form("");
    const int result = runWorker(
        form, [&form]() { form.invokeErrorOccurred("mobilesync_finish failed. return -5."); });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(form.rejected);
    ASSERT_EQ(rec.boxes.size(), 1);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(rec.boxes[0].text.contains("mobilesync_finish failed. return -5."));
    EXPECT_TRUE(server.waitForRequests(1));
}

TEST(ProgressForm, CancelAsksAndOnlyYesEndsTheDialog) {
    BoxRecorder rec({"No", "Yes"});
    ProgressForm form("");
    QSignalSpy cancelled(&form, SIGNAL(userCacel()));
    std::atomic<bool> sawNoAndStillOpen{false};
    std::atomic<int> polls{0};
    QTimer::singleShot(50, [&]() {
        QTest::mousePress(cancelButton(form), Qt::LeftButton);  // answered No
        sawNoAndStillOpen = form.isVisible() && !form.rejected;
        QTest::mouseRelease(cancelButton(form), Qt::LeftButton);
        QTest::keyClick(&form, Qt::Key_Escape);  // Escape does nothing
        form.close();                            // nor does a close request
        QTimer::singleShot(50, [&]() {
            EXPECT_TRUE(form.isVisible());
            QTest::mousePress(cancelButton(form), Qt::LeftButton);  // answered Yes
        });
    });
    // A worker that stops at its next check of the flag, as the cancellable workers do.
    const int result = runWorker(form, [&]() {
        while (!form.rejected && polls < 400) {
            ++polls;
            QThread::msleep(5);
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(sawNoAndStillOpen);
    EXPECT_TRUE(form.rejected);
    EXPECT_EQ(cancelled.count(), 1);
    EXPECT_LT(polls, 400);
    ASSERT_EQ(rec.boxes.size(), 2);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(rec.boxes[0].text, "Are You Sure You Want To Cancel?");
}

TEST(ProgressForm, CancelConfirmedAfterSuccessStillCountsAsCancelled) {
    ProgressForm form("");
    BoxRecorder rec({"Yes", "OK"});
    // The success report arrives while the cancel question is open.
    rec.onBox = [&form](const RecordedBox& box) {
        if (box.icon == QMessageBox::Question) {
            form.invokeSucceed("");
            QCoreApplication::processEvents();
        }
    };
    QTimer::singleShot(20, [&]() { QTest::mousePress(cancelButton(form), Qt::LeftButton); });
    EXPECT_EQ(form.exec(), 0);
    EXPECT_TRUE(form.rejected);
}

TEST(ProgressForm, TipsWaitShowsInfoAndKeepsTheDialogOpen) {
    BoxRecorder rec;
    ProgressForm form("");
    std::atomic<bool> waited{false};
    const int result = runWorker(form, [&]() {
        form.invokeTipsWait("Unlock your phone");
        while (form.tipsWaiting) {
            QThread::msleep(2);
        }
        waited = true;
        form.invokeSucceed("");
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(waited);
    ASSERT_EQ(rec.boxes.size(), 1);
    EXPECT_EQ(rec.boxes[0].text, "Unlock your phone");
}

TEST(ProgressForm, WaitForThreadTerminatesOnlyWhenForcedAfterACancel) {
    ProgressForm form("");
    // Not forced: waits for a thread that ends on its own, even after a cancel.
    std::atomic<bool> ended{false};
    QThread* slow = QThread::create([&ended]() {
        QThread::msleep(1200);
        ended = true;
    });
    form.rejected = true;
    slow->start();
    EXPECT_TRUE(form.waitForThread(*slow, false));
    EXPECT_TRUE(ended);
    delete slow;

    // Forced after a cancel: a thread that never ends is terminated.
    StuckThread stuck;
    stuck.start();
    EXPECT_TRUE(form.waitForThread(stuck, true));
    EXPECT_TRUE(stuck.isFinished());
}

TEST(ProgressForm, ReportsArrivingAfterACancelChangeNothing) {
    // The worker did not check the flag and ended with a report after the user had cancelled;
    // the caller then runs an event loop while the dialog is still alive.
    BoxRecorder rec({"Yes"});
    ProgressForm form("");
    QTimer::singleShot(20, [&]() { QTest::mousePress(cancelButton(form), Qt::LeftButton); });
    const int result = runWorker(form, [&form]() {
        while (!form.rejected) {
            QThread::msleep(2);
        }
        form.invokeSucceed("Done 3");
        form.invokeErrorOccurred("late failure");
    });
    EXPECT_EQ(result, 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.rejected);
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(rec.boxes.size(), 1);  // the cancel question only
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Question);
}
