// Sending contacts to a connected phone: from a local database or from another phone.
#include "mainwindow.h"

#include <QCoreApplication>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "app/ui/datasourceselform.h"
#include "ui/tips.h"
#include "device/workers/iossynctodevicethread.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

void MainWindow::miFileI2I() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactI2I() : miTreeI2I();
}

void MainWindow::miFileDB2I() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactDB2I() : miTreeDB2I();
}

void MainWindow::miTreeI2I() {
    runOnNodeContacts([this](const _CurrentNode& cur, const QList<pim::_Contact>& list) {
        transfer2IOS(list, cur.dbNode->id);
    });
}

void MainWindow::miContactI2I() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    transfer2IOS(contactsSelected(), cur.dbNode->id);
}

void MainWindow::miTreeDB2I() {
    runOnNodeContacts([this](const _CurrentNode&, const QList<pim::_Contact>& list) {
        transfer2IOS(list, QString());
    });
}

void MainWindow::miContactDB2I() {
    transfer2IOS(contactsSelected(), QString());
}

namespace {

// What a cancelled restore left on the phone, from what the phone acknowledged and the batch it
// did not answer for (inDoubt contacts that may be on it); empty when it took nothing and
// nothing may be on it.
QString cancelledRestoreText(int taken, int total, bool finishFailed, int inDoubt) {
    const bool batchInDoubt = inDoubt > 0;
    if (finishFailed) {
        return QCoreApplication::translate(
                   "MainWindow",
                   "The restore was cancelled. The phone acknowledged %1 of the %2 contacts but "
                   "did not accept the end of the session, so it may have kept none of them.")
            .arg(taken)
            .arg(total);
    }
    if (taken == 0 && !batchInDoubt) {
        return QString();
    }
    QString text;
    if (taken >= total) {
        text = QCoreApplication::translate(
                   "MainWindow",
                   "The restore was cancelled after the phone had taken all %1 contacts: they "
                   "stay on it.")
                   .arg(total);
    } else if (!batchInDoubt) {
        text = QCoreApplication::translate("MainWindow",
                                           "The restore was cancelled. The phone took %1 of the "
                                           "%2 contacts; the others were not written to it.")
                   .arg(taken)
                   .arg(total);
    } else if (taken + inDoubt < total) {
        text = QCoreApplication::translate(
                   "MainWindow",
                   "The restore was cancelled. The phone took %1 of the %2 contacts; those after "
                   "the ones being sent were not written to it.")
                   .arg(taken)
                   .arg(total);
    } else {
        text = QCoreApplication::translate(
                   "MainWindow", "The restore was cancelled. The phone took %1 of the %2 contacts.")
                   .arg(taken)
                   .arg(total);
    }
    if (batchInDoubt) {
        text += QCoreApplication::translate(
            "MainWindow",
            " The phone did not answer for the contacts being sent when you cancelled: they may "
            "be on it too, and the phone's contacts are read again now.");
    }
    return text;
}

}  // namespace

void MainWindow::transfer2IOS(const QList<pim::_Contact>& contacts, QString excludeId) {
    BusyScope busy(this);
    try {
        // Only phones that are plugged in: a mirror loaded from a file has no phone behind it.
        QList<DataSourceSelForm::_SelItem> items;
        for (_ItemNode* child : m_treeModel.deviceRoot()->children) {
            auto* n = dynamic_cast<_DBItemNode*>(child);
            if (n && n->isConnectedPhone() && n->db && n->id != excludeId) {
                items.append(DataSourceSelForm::_SelItem(":res/iphone.png", n->name, n));
            }
        }
        void* chosen = m_choosers->dataSource(this, tr("IDS_SELECT_IOS_TO_TRANSFER"), items);
        // Only an entry that was offered counts.
        _DBItemNode* target = nullptr;
        for (const DataSourceSelForm::_SelItem& item : items) {
            if (item.data == chosen) {
                target = static_cast<_DBItemNode*>(chosen);
            }
        }
        if (!target) {
            return;
        }
        // Listed contacts hold no photo bytes; the phone gets the stored photos.
        QList<pim::_Contact> sent = contacts;
        const _CurrentNode source = currentNode();
        if (source.dbNode && source.dbNode->db) {
            source.dbNode->db->loadPhotos(sent);
        }
        QSharedPointer<LocalDb> db = target->db;
        const QString devid = target->id;
        bool ok = false;
        // What the phone keeps is not known from its answers alone: the re-read says.
        bool inDoubt = false;
        {
            ProgressForm form(QString(), this);
            IOSSyncToDeviceThread worker(target->id, db.data(), sent, &form);
            ok = runUnderForm(form, worker);
            inDoubt = worker.finishFailed() || worker.batchInDoubt() || worker.endedByPhone();
            if (worker.wasCancelled()) {
                const QString text =
                    cancelledRestoreText(worker.takenCount(), contacts.size(),
                                         worker.finishFailed(), worker.inDoubtCount());
                if (!text.isEmpty()) {
                    Tips::info(text);
                }
            }
        }
        if (ok) {
            selectDbNode(target);
        } else {
            // The mirror may hold what never reached the phone: read the phone again.
            deviceRefreshAfterFailedWrite(target);
            _DBItemNode* reread = inDoubt ? findDeviceNode(devid) : nullptr;
            if (reread && reread->db) {
                Tips::info(tr("The phone's contacts were read again: it holds %1 contacts.")
                               .arg(reread->db->contactIds(0, QString()).size()));
            }
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
