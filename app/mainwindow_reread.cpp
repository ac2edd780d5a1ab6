// The mirror of a phone read afresh after a write to it failed or was cancelled.
#include "mainwindow.h"

#include <atomic>
#include <optional>

#include "mainwindow_steps.h"
#include "phonewait.h"
#include "device/mobiledevice.h"

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
