// Phones coming and going: the mirror of each connected phone, read when it is plugged in.
#include "mainwindow.h"

#include <QDir>
#include <atomic>
#include <optional>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "phonewait.h"
#include "trustwait.h"
#include "ui/tips.h"
#include "device/mobiledevice.h"
#include "device/plistcftype.h"
#include "device/workers/iossynctopcthread.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

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
        tr("Connecting to the phone..."), [devid](const std::atomic<bool>& abandoned) {
            return mobiledevice_check(devid, &abandoned);
        });
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

void MainWindow::miTreeUnmount() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode || cur.dbNode->type != ItemModelMainTree::TYPE_DEVICE_DB) {
        return;
    }
    m_treeModel.removeDevice(cur.dbNode->id);
    // One phone fewer: the transfer commands of the node now current may no longer apply.
    updateDbActions(currentNode());
}
