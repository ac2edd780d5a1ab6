#include "trustwait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <optional>

#include "phonewait.h"
#include "device/mobiledevice.h"
#include "ui/appinfo.h"
#include "ui/tips.h"

namespace {

// How long the road waits for "Trust" to be tapped, and how often it asks the phone.
constexpr int kTrustWaitMs = 60000;
constexpr int kTrustPollMs = 1000;

DeviceFailure checkPhone(const QString& devid, const std::atomic<bool>* cancel) {
    const std::optional<DeviceFailure> state = phonecall::waitUnlessCancelled<DeviceFailure>(
        [devid](const std::atomic<bool>& abandoned) {
            return mobiledevice_check(devid, &abandoned);
        },
        cancel);
    return state ? *state : DeviceFailure::Cancelled;
}

QString timeLeft(qint64 ms) {
    const qint64 s = std::max<qint64>(0, (ms + 999) / 1000);
    return QCoreApplication::translate("MainWindow", "%1:%2 left")
        .arg(s / 60)
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

enum class TrustOutcome { Trusted, Failed, Gone, TimedOut };

// One minute of waiting. A phone still asking "Trust this computer?" sends no new event once
// "Trust" is tapped: the road asks the phone itself, once a second.
TrustOutcome waitOneMinuteForTrust(const QString& devid) {
    ProgressForm form(QString(), nullptr);
    const QString words = QString::fromStdString(deviceFailureWords(DeviceFailure::TrustPending));
    form.invokeUpdateProgress(words, 0, timeLeft(kTrustWaitMs));
    TrustOutcome outcome = TrustOutcome::TimedOut;
    const bool ended = waitUnderForm(form, [&]() -> QString {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kTrustWaitMs) {
            if (!phonecall::pause(kTrustPollMs, &form.rejected))
                return QString();
            const qint64 spent = std::min<qint64>(waited.elapsed(), kTrustWaitMs);
            form.invokeUpdateProgress(words, int(spent * 100 / kTrustWaitMs),
                                      timeLeft(kTrustWaitMs - spent));
            const DeviceFailure now = checkPhone(devid, &form.rejected);
            if (now == DeviceFailure::Cancelled || now == DeviceFailure::TrustPending)
                continue;  // a cancel ends the next pause at once
            if (now == DeviceFailure::None) {
                outcome = TrustOutcome::Trusted;
            } else if (now == DeviceFailure::NotFound) {
                // Unplugged: plugging it in again starts the road afresh.
                outcome = TrustOutcome::Gone;
            } else {
                outcome = TrustOutcome::Failed;
                return QString::fromStdString(deviceFailureWords(now));
            }
            return QString();
        }
        return QString();
    });
    return ended ? outcome : TrustOutcome::Failed;
}

}  // namespace

bool waitForTrust(const QString& devid) {
    for (;;) {
        const TrustOutcome outcome = waitOneMinuteForTrust(devid);
        if (outcome != TrustOutcome::TimedOut) {
            return outcome == TrustOutcome::Trusted;
        }
        // A phone whose question was missed or dismissed asks again only when it is plugged in
        // again: tapping "Trust" now does nothing.
        QMessageBox box(QMessageBox::Warning, g_productTitle(),
                        QCoreApplication::translate(
                            "MainWindow",
                            "The phone did not say within a minute that it trusts this "
                            "computer. Unplug the phone and plug it in again, then tap "
                            "\"Trust\" when it asks and enter its passcode.\n\nIf the "
                            "question is still on the phone's screen, tap \"Trust\" and "
                            "choose Try again."),
                        QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)
            ->setText(QCoreApplication::translate("MainWindow", "Try again"));
        box.button(QMessageBox::No)->setText(QCoreApplication::translate("MainWindow", "Close"));
        box.setDefaultButton(QMessageBox::No);
        if (g_execMessageBox(box) != QMessageBox::Yes) {
            return false;
        }
    }
}
