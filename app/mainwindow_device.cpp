// Phones coming and going: the mirror of each connected phone, read when it is plugged in.
#include "app/mainwindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <memory>

#include "app/mainwindow_form.h"
#include "app/mainwindow_steps.h"
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

bool waitForTrust(const QString& devid) {
    // A phone still asking "Trust this computer?" sends no new event once "Trust" is tapped:
    // the road waits for the tap itself, for a bounded time, under a dialog that says what to do.
    DeviceFailure state = DeviceFailure::None;
    std::unique_ptr<QThread> check(QThread::create([&] { state = mobiledevice_check(devid); }));
    check->start();
    waitAnswering(*check);
    if (state != DeviceFailure::TrustPending) {
        return true;
    }
    ProgressForm form(QString(), nullptr);
    const QString words = QString::fromStdString(deviceFailureWords(state));
    std::unique_ptr<QThread> waiter(QThread::create([&] {
        form.invokeUpdateProgress(words, 0, QStringLiteral(" "));
        QElapsedTimer waited;
        waited.start();
        while (!form.rejected && waited.elapsed() < kTrustWaitMs) {
            // Short naps, so that a cancel is answered at once.
            const qint64 next = waited.elapsed() + kTrustPollMs;
            while (!form.rejected && waited.elapsed() < next) {
                QThread::msleep(20);
            }
            if (form.rejected) {
                return;
            }
            const DeviceFailure now = mobiledevice_check(devid);
            if (now == DeviceFailure::TrustPending) {
                continue;
            }
            if (now == DeviceFailure::None) {
                form.invokeSucceed(QString());
            } else {
                form.invokeErrorOccurred(QString::fromStdString(deviceFailureWords(now)));
            }
            return;
        }
        if (!form.rejected) {
            form.invokeErrorOccurred(words);
        }
    }));
    return runUnderForm(form, *waiter);
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
    Tips::infoHtml(tr("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));
    if (!waitForTrust(devid)) {
        return;
    }

    // On a thread of its own: a slow phone must not freeze the window.
    QString name;
    QString failure;
    std::unique_ptr<QThread> nameReader(QThread::create([&] {
        try {
            const PlistCFType values = mobiledevice_info(devid, QString(), QString());
            name = values.get(QString("DeviceName")).CFStringQString();
        } catch (const std::exception& e) {
            failure = utf8(e);
        }
    }));
    nameReader->start();
    waitAnswering(*nameReader);
    if (!failure.isEmpty()) {
        Tips::error(failure);
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
    // A phone unplugged during the write has nothing to re-read: the write's own error was the
    // one message; its node goes as on any unplug.
    if (iDevice(devid).newDevice() != 0) {
        iosDeviceDisconnected(devid);
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
