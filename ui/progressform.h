#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <mutex>

#include "store/runreporter.h"
#include "winmovable.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

class Ui_ProgressForm {
public:
    QProgressBar* progressBar;
    QLabel* lbProgress;
    QPushButton* btnCancel;
    QLabel* lbStatus;

    void setupUi(QDialog* ProgressForm);
    void retranslateUi(QDialog* ProgressForm);
};

// The modal dialog every long operation runs under. The GUI thread creates it, starts the
// worker with a pointer to it and runs exec(); the worker reports only through the reporter
// operations or the invoke* ones (callable from any thread) and polls between items.
// exec() returns 1 after success, 0 after an error or a confirmed cancel.
class ProgressForm : public QDialog, public RunReporter {
    Q_OBJECT
public:
    // True once the dialog finished with result 0 (cancel or error); read by workers.
    std::atomic<bool> rejected;
    // True from invokeTipsWait until its information box has been closed.
    std::atomic<bool> tipsWaiting;
    // True while the user is being asked whether to cancel; `rejected` is set before it clears.
    std::atomic<bool> askingCancel;

    explicit ProgressForm(QString title, QWidget* parent = nullptr);
    ~ProgressForm() override;

    void setCancelable(bool cancelable);

    // Waits for the thread in steps of one second. With force, once the dialog ended with
    // result 0 and the thread is still running, terminates it and returns the last wait's result.
    bool waitForThread(QThread& thread, bool force);

    void invokeUpdateProgress(QString status, int value, QString text);
    void invokeErrorOccurred(QString err);
    void invokeSucceed(QString text);
    void invokeTipsWait(QString info);
    void invokeSetCancelBtnText(const QString& text);

    // Waits while the cancel question is open; then whether the dialog was cancelled. A worker
    // asks this before it makes its work final, so that a Cancel confirmed meanwhile still
    // undoes it.
    // From then on the Cancel button asks nothing.
    bool cancelConfirmed() override;

    // The reporter operations, for the workers.
    bool cancelled() override { return rejected; }
    void progress(QString status, int percent, QString text) override {
        invokeUpdateProgress(status, percent, text);
    }
    void succeed(QString message) override { invokeSucceed(message); }
    void error(QString message) override { invokeErrorOccurred(message); }
    void tellAndWait(QString message) override { invokeTipsWait(message); }
    bool waitingForUser() override { return tipsWaiting; }
    void setCancelText(QString text) override { invokeSetCancelBtnText(text); }
    const std::atomic<bool>* cancelFlag() const override { return &rejected; }

    // Escape and close requests must not end the dialog: only done() from the slots does.
    void accept() override;
    void reject() override;

signals:
    void userCacel();

private slots:
    void showProgress(QString status, int curProgress, QString progressText);
    void showError(QString err);
    void showSuccess(QString tipsStr);
    void onFinish(int result);
    void tipsWait(QString info);
    void cancel();
    void setCancelBtnText(QString text);

private:
    static constexpr int kStatusLineHeight = 16;
    void fitStatus();

    WinMovable movable;
    Ui_ProgressForm* form;
    // Set when the dialog has ended (GUI thread only). A worker's closing report that arrives
    // later belongs to an operation that is already over: it must neither show a box nor
    // change the outcome.
    bool ended;
    std::atomic<bool> finishing;  // a worker is making its work final
    // Progress requests come at most about 30 times a second: one per item would keep the GUI
    // thread busy repainting, and slow the worker that queues them.
    std::mutex progressMutex;
    QElapsedTimer progressClock;
    qint64 lastProgressAt;
    QString lastStatus;
};
