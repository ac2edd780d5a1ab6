#include "phonewait.h"

#include <QThread>
#include <exception>
#include <memory>

#include "mainwindow_steps.h"
#include "ui/tips.h"

namespace {

// The words of the exception being handled, as a call's failure (see phonecall.h).
QString currentFailure() {
    try {
        std::rethrow_exception(phonecall::failureOfCurrentException());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
}

}  // namespace

bool waitUnderForm(ProgressForm& form, const std::function<QString()>& wait, int quietMs) {
    QString failure;
    std::unique_ptr<QThread> waiter(QThread::create([&] {
        try {
            failure = wait();
        } catch (...) {
            failure = currentFailure();
        }
        // Reports to a dialog that never showed, or has ended, are dropped.
        if (failure.isEmpty())
            form.invokeSucceed(QString());
        else
            form.invokeErrorOccurred(failure);
    }));
    waiter->start(QThread::InheritPriority);
    if (quietMs > 0 && waiter->wait(quietMs)) {
        if (!failure.isEmpty())
            Tips::error(failure);
        return failure.isEmpty() && !form.rejected;
    }
    const int result = form.exec();
    mainwindow_steps::waitAnswering(*waiter);
    return result == 1 && !form.rejected;
}
