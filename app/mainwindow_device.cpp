// Phones coming and going: the mirror of each connected phone, read when it is plugged in.
#include "app/mainwindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

#include "app/mainwindow_form.h"
#include "app/mainwindow_steps.h"
#include "platform/mobilesync/phonecall.h"
#include "ui/appinfo.h"
#include "ui/tips.h"
#include "device/mobiledevice.h"
#include "device/plistcftype.h"
#include "device/workers/iossynctopcthread.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

namespace {

// How long the road waits for "Trust" to be tapped, and how often it asks the phone.
constexpr int kTrustWaitMs = 60000;
constexpr qint64 kTrustPollMs = 1000;
// A call that answers within this shows no dialog.
constexpr int kQuietCallMs = 100;

// Runs one call that waits on the phone off the GUI thread, under a progress dialog whose
// Cancel stops the wait at once: the call, left behind, ends on its own thread and its result
// is dropped. Empty after a confirmed cancel.
template <class R>
std::optional<R> waitOnPhone(const QString& status, typename phonecall::Call<R>::Fn fn) {
    phonecall::Call<R> call(std::move(fn));
    if (call.waitFor(kQuietCallMs)) {
        return call.take();
    }
    ProgressForm form(QString(), nullptr);
    form.invokeUpdateProgress(status, 0, QStringLiteral(" "));
    QTimer answered;
    QObject::connect(&answered, &QTimer::timeout, &form, [&] {
        if (call.finished()) {
            answered.stop();
            form.invokeSucceed(QString());
        }
    });
    answered.start(phonecall::kPollMs);
    if (form.exec() != 1 || form.rejected) {
        return std::nullopt;
    }
    return call.take();
}

DeviceFailure checkPhone(const QString& devid, const std::atomic<bool>* cancel) {
    const std::optional<DeviceFailure> state = phonecall::waitUnlessCancelled<DeviceFailure>(
        [devid](const std::atomic<bool>&) { return mobiledevice_check(devid); }, cancel);
    return state ? *state : DeviceFailure::Cancelled;
}

enum class TrustOutcome { Trusted, Failed, Gone, TimedOut };

// One minute of waiting for "Trust" to be tapped, under a dialog with the whole request, the
// time left and Cancel. A phone still asking "Trust this computer?" sends no new event once
// "Trust" is tapped: the road asks the phone itself, once a second.
TrustOutcome waitOneMinuteForTrust(const QString& devid) {
    ProgressForm form(QString(), nullptr);
    const QString words = QString::fromStdString(deviceFailureWords(DeviceFailure::TrustPending));
    const auto timeLeft = [](qint64 ms) {
        const qint64 s = std::max<qint64>(0, (ms + 999) / 1000);
        return QCoreApplication::translate("MainWindow", "%1:%2 left")
            .arg(s / 60)
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    };
    form.invokeUpdateProgress(words, 0, timeLeft(kTrustWaitMs));
    TrustOutcome outcome = TrustOutcome::TimedOut;
    std::unique_ptr<QThread> waiter(QThread::create([&] {
        QElapsedTimer waited;
        waited.start();
        while (!form.rejected && waited.elapsed() < kTrustWaitMs) {
            // Short naps, so that a cancel is answered at once.
            const qint64 next = waited.elapsed() + kTrustPollMs;
            while (!form.rejected && waited.elapsed() < next) {
                QThread::msleep(20);
            }
            const qint64 spent = std::min<qint64>(waited.elapsed(), kTrustWaitMs);
            form.invokeUpdateProgress(words, int(spent * 100 / kTrustWaitMs),
                                      timeLeft(kTrustWaitMs - spent));
            const DeviceFailure now = checkPhone(devid, &form.rejected);
            if (form.rejected || now == DeviceFailure::Cancelled) {
                return;
            }
            if (now == DeviceFailure::TrustPending) {
                continue;
            }
            if (now == DeviceFailure::None) {
                outcome = TrustOutcome::Trusted;
                form.invokeSucceed(QString());
            } else if (now == DeviceFailure::NotFound) {
                // Unplugged: plugging it in again starts the road afresh.
                outcome = TrustOutcome::Gone;
                form.invokeSucceed(QString());
            } else {
                outcome = TrustOutcome::Failed;
                form.invokeErrorOccurred(QString::fromStdString(deviceFailureWords(now)));
            }
            return;
        }
        if (!form.rejected) {
            form.invokeSucceed(QString());
        }
    }));
    if (!runUnderForm(form, *waiter)) {
        return TrustOutcome::Failed;
    }
    return outcome;
}

// Waits for "Trust" to be tapped, a minute at a time; true once the phone trusts this computer.
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

}  // namespace

_DBItemNode* MainWindow::findDeviceNode(const QString& devid, int* row) {
    _ItemNode* root = m_treeModel.deviceRoot();
    for (int i = 0; i < root->children.size(); ++i) {
        auto* n = dynamic_cast<_DBItemNode*>(root->children[i]);
        if (n && n->kind == ItemModelMainTree::KIND_IPHONE && n->id == devid) {
            if (row) {
                *row = i;
            }
            return n;
        }
    }
    return nullptr;
}

void MainWindow::onNewDevice(QString devid) {
    if (m_busy > 0) {
        m_pendingDeviceEvents.append(qMakePair(true, devid));
        return;
    }
    iosDeviceConnected(devid);
}

void MainWindow::onKickDevice(QString devid) {
    if (m_busy > 0) {
        m_pendingDeviceEvents.append(qMakePair(false, devid));
        return;
    }
    iosDeviceDisconnected(devid);
}

void MainWindow::processPendingDeviceEvents() {
    while (m_busy == 0 && !m_pendingDeviceEvents.isEmpty()) {
        const QPair<bool, QString> ev = m_pendingDeviceEvents.takeFirst();
        if (ev.first) {
            iosDeviceConnected(ev.second);
        } else {
            iosDeviceDisconnected(ev.second);
        }
    }
}

void MainWindow::iosDeviceConnected(QString devid) {
    if (!isSafeDeviceId(devid)) {
        Tips::error(tr("The device identifier \"%1\" is not supported.").arg(devid));
        return;
    }
    BusyScope busy(this);
    // Every wait on the phone runs off the GUI thread under a dialog with Cancel.
    const std::optional<DeviceFailure> state = waitOnPhone<DeviceFailure>(
        tr("Connecting to the phone..."),
        [devid](const std::atomic<bool>&) { return mobiledevice_check(devid); });
    if (!state) {
        return;
    }
    // Without usbmuxd no later step can reach the phone.
    if (isUsbmuxdFailure(*state)) {
        Tips::error(QString::fromStdString(deviceFailureWords(*state)));
        return;
    }
    if (*state == DeviceFailure::TrustPending && !waitForTrust(devid)) {
        return;
    }
    // Once per plug-in, and only for a phone that trusts this computer.
    if ((*state == DeviceFailure::None || *state == DeviceFailure::TrustPending) &&
        !m_tipsShown.contains(devid)) {
        m_tipsShown.insert(devid);
        Tips::infoHtml(tr("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));
    }

    const std::optional<QPair<QString, QString>> named = waitOnPhone<QPair<QString, QString>>(
        tr("Reading the phone's name..."), [devid](const std::atomic<bool>&) {
            QPair<QString, QString> nameAndFailure;
            try {
                const PlistCFType values = mobiledevice_info(devid, QString(), QString());
                nameAndFailure.first = values.get(QString("DeviceName")).CFStringQString();
            } catch (const std::exception& e) {
                nameAndFailure.second = utf8(e);
            }
            return nameAndFailure;
        });
    if (!named) {
        return;
    }
    const QString name = named->first;
    if (!named->second.isEmpty()) {
        Tips::error(named->second);
        return;
    }

    const QString folder = QDir(g_dataSaveDir().absoluteFilePath("ios_cache")).absolutePath();
    QDir().mkpath(folder);
    const QString path = QDir(folder).absoluteFilePath(devid);
    QSharedPointer<LocalDb> db(
        new LocalDb(path, QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule)));

    // The old node's store has this very file open: close it before the file is replaced.
    if (_DBItemNode* old = findDeviceNode(devid)) {
        if (old->db) {
            old->db->close();
        }
    }
    try {
        db->create();
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
        return;
    }
    int oldRow = -1;
    if (findDeviceNode(devid, &oldRow)) {
        m_treeModel.removeChild(m_treeModel.deviceRoot(), oldRow);
    }

    ProgressForm form(QString(), nullptr);
    IOSSyncToPCThread worker(devid, db.data(), &form);
    if (!runUnderForm(form, worker)) {
        // The phone's old node may have gone: the actions follow the phones still listed.
        updateDbActions(currentNode());
        return;
    }
    _DBItemNode* node = m_treeModel.addDevice(db, name, devid, ItemModelMainTree::KIND_IPHONE);
    selectDbNode(node);
}

void MainWindow::iosDeviceDisconnected(QString devid) {
    // The next plug-in shows the connection tips again.
    m_tipsShown.remove(devid);
    int row = -1;
    if (findDeviceNode(devid, &row)) {
        m_treeModel.removeChild(m_treeModel.deviceRoot(), row);
        // One phone fewer: the transfer commands of the node now current may no longer apply.
        updateDbActions(currentNode());
    }
}

void MainWindow::deviceRefreshAfterFailedWrite(_DBItemNode* node) {
    const QString devid = node->id;
    if (node->db) {
        node->db->close();
    }
    // The mirror may hold what never reached the phone: it goes now and comes back only from a
    // fresh read, which may be cancelled or fail.
    int row = -1;
    if (findDeviceNode(devid, &row)) {
        m_treeModel.removeChild(m_treeModel.deviceRoot(), row);
        updateDbActions(currentNode());
    }
    // A phone unplugged during the write has nothing to re-read: the write's own error was the
    // one message.
    const std::optional<int> found =
        waitOnPhone<int>(tr("Looking for the phone..."),
                         [devid](const std::atomic<bool>&) { return iDevice(devid).newDevice(); });
    if (!found || *found != 0) {
        return;
    }
    iosDeviceConnected(devid);
}

void MainWindow::miTreeUnmount() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode || cur.dbNode->type != ItemModelMainTree::TYPE_DEVICE_DB) {
        return;
    }
    m_treeModel.removeDevice(cur.dbNode->id);
    // One phone fewer: the transfer commands of the node now current may no longer apply.
    updateDbActions(currentNode());
}
