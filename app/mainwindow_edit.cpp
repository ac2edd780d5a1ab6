// Adding, editing and deleting contacts, deleting groups and databases, and setting groups.
// On a connected phone the change goes to its mirror first and then to the phone.
#include "mainwindow.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "ui/tips.h"
#include "device/workers/iossendchangesthread.h"
#include "editor/editcontactform.h"
#include "store/deletecontactsthread.h"
#include "store/edittransaction.h"
#include "store/localdb.h"

using namespace mainwindow_steps;

namespace {

// What deleting a group takes with it: its `members` contacts, on a phone from the phone too.
QString groupMembersGoText(int members, bool onPhone) {
    auto text = [](const char* key) { return QCoreApplication::translate("MainWindow", key); };
    if (members == 0) {
        return text("IDS_CONFIRM_DEL_GROUP_EMPTY");
    }
    if (members == 1) {
        return text(onPhone ? "IDS_CONFIRM_DEL_GROUP_1_MEMBER_PHONE"
                            : "IDS_CONFIRM_DEL_GROUP_1_MEMBER");
    }
    return text(onPhone ? "IDS_CONFIRM_DEL_GROUP_%1_MEMBERS_PHONE"
                        : "IDS_CONFIRM_DEL_GROUP_%1_MEMBERS")
        .arg(members);
}

}  // namespace

void MainWindow::onContactsTreeItemDoubleClicked(QModelIndex index) {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    const bool writable =
        cur.dbNode->isConnectedPhone() || cur.dbNode->type == ItemModelMainTree::TYPE_LOCAL_DB;
    if (!writable || !index.isValid() || index.row() < 0 || index.row() >= m_contactsModel.size()) {
        return;
    }
    editContact(*m_contactsModel.contactAt(index.row()));
}

void MainWindow::miContactEdit() {
    QItemSelectionModel* sel = ui->treeContacts->selectionModel();
    const QModelIndexList rows = sel ? sel->selectedRows(0) : QModelIndexList();
    if (rows.size() != 1) {
        return;
    }
    // The one selected row: after a Ctrl-click that took a row out, the current row is not it.
    onContactsTreeItemDoubleClicked(rows.first());
}

void MainWindow::miNewContact() {
    pim::_Contact contact;
    editContact(contact);
}

_DBItemNode* MainWindow::writableTarget(const _CurrentNode& cur) const {
    _DBItemNode* node = cur.dbNode;
    // Only the database whose contacts are listed: a node that failed to load takes no writes.
    if (!node || !node->db || !isListed(cur)) {
        return nullptr;
    }
    // A mirror read from a backup has no phone behind it: it takes no writes.
    if (node->type == ItemModelMainTree::TYPE_LOCAL_DB || node->isConnectedPhone()) {
        return node;
    }
    return nullptr;
}

bool MainWindow::sendChangesToDevice(_DBItemNode* node, pim::_Contact* contact,
                                     const QList<EditContactForm::_ChangeData>& changes,
                                     const QList<pim::_Contact>& contacts) {
    QSharedPointer<LocalDb> db = node->db;
    ProgressForm form(QString(), this);
    IOSSendChangesThread worker(&form, node->id, db.data(), contact, changes, contacts, nullptr);
    return runUnderForm(form, worker);
}

void MainWindow::reloadListKeeping(const _CurrentNode& cur, const pim::_Contact& contact) {
    const quint64 group = groupIdOf(cur);
    const QString keyword =
        ui->lbDisplayKeyword->isHidden() ? QString() : ui->txtKeyword->text().trimmed();
    showListing(cur.dbNode->db->listing(group, keyword));
    const int row = m_contactsModel.rowOf(contact._id);
    if (row >= 0) {
        ui->treeContacts->setCurrentIndex(m_contactsModel.indexOfPos(row));
    }
}

void MainWindow::editContact(pim::_Contact& contact) {
    BusyScope busy(this);
    const _CurrentNode cur = currentNode();
    _DBItemNode* node = writableTarget(cur);
    if (!node) {
        return;
    }
    const bool onDevice = node->type == ItemModelMainTree::TYPE_DEVICE_DB;
    QSharedPointer<LocalDb> db = node->db;
    try {
        const bool isNew = contact._id == 0;
        if (!isNew) {
            // A listed contact holds no photo bytes: the form shows, and compares with, the
            // stored photo.
            db->loadPhotos(contact);
        }
        QList<EditContactForm::_ChangeData> changes;
        {
            EditContactForm form(&contact, isNew ? db.data() : nullptr, nullptr);
            const int rc = m_choosers->editForm(form);
            if (rc != 1) {
                return;
            }
            changes = form.getChanges(db->combineRule().data(), contact);
        }
        if (changes.isEmpty()) {
            return;
        }
        // The caller's contact (often the list model's own copy) stays as stored until the
        // write has gone through; a failed write rolls back and leaves it as it was.
        pim::_Contact work = contact;
        g_writeChanges(*db, work, changes);

        if (onDevice) {
            work = db->contact(work._id);
            if (!sendChangesToDevice(node, &work, changes, QList<pim::_Contact>())) {
                // The node, its store and the listed contacts are replaced by a fresh read.
                deviceRefreshAfterFailedWrite(node);
                return;
            }
        }

        const pim::_Contact stored = db->contact(work._id);
        if (isNew) {
            contact = stored;
            m_contactsModel.insertContact(stored);
            ui->lbTotal->setText(tr("Total:%1").arg(m_contactsModel.size()));
            ui->treeContacts->setCurrentIndex(
                m_contactsModel.indexOfPos(m_contactsModel.rowCount() - 1));
        } else {
            // contact may be the model's copy, which the reload frees: update it first.
            contact = stored;
            reloadListKeeping(cur, stored);
        }
        ui->wdContactInfo->showContact(&stored);
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::miFileDelete() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactDel() : miTreeDel();
}

void MainWindow::miContactDel() {
    BusyScope busy(this);
    const QList<pim::_Contact> list = contactsSelected();
    if (!Tips::question(tr("IDS_CONFIRM_DEL_SELECTIONS"))) {
        return;
    }
    delContacts(list);
}

bool MainWindow::delContacts(const QList<pim::_Contact>& contacts) {
    BusyScope busy(this);
    const _CurrentNode cur = currentNode();
    _DBItemNode* node = writableTarget(cur);
    if (!node) {
        return false;
    }
    const bool onDevice = node->type == ItemModelMainTree::TYPE_DEVICE_DB;
    QSharedPointer<LocalDb> db = node->db;
    const quint64 group = groupIdOf(cur);
    QList<unsigned long long> ids;
    ids.reserve(contacts.size());
    for (const pim::_Contact& c : contacts) {
        ids.append(c._id);
    }
    // Off the window's thread: thousands of contacts take a second. The dialog shows a
    // failure; a cancel deletes nothing.
    {
        ProgressForm form(QString(), this);
        DeleteContactsThread worker(db.data(), ids, &form);
        if (!runUnderForm(form, worker) || !worker.deleted()) {
            return false;
        }
    }
    if (onDevice &&
        !sendChangesToDevice(node, nullptr, QList<EditContactForm::_ChangeData>(), contacts)) {
        deviceRefreshAfterFailedWrite(node);
        return false;
    }
    try {
        clearContacts();
        // The list comes back whole: a keyword shown from an earlier search no longer applies.
        ui->txtKeyword->clear();
        ui->lbDisplayKeyword->hide();
        showListing(db->listing(group, QString()));
    } catch (const std::exception& e) {
        // The contacts are gone; only the list could not be read back.
        Tips::error(utf8(e));
        return true;
    }
    Tips::info(tr("IDS_SUC_DEL_CONTACTS"));
    return true;
}

void MainWindow::miTreeDel() {
    BusyScope busy(this);
    const _CurrentNode cur = currentNode();
    if (!cur.node) {
        return;
    }
    try {
        if (cur.node->type == ItemModelMainTree::TYPE_GROUP) {
            _DBItemNode* db = cur.dbNode;
            if (!writableTarget(cur)) {
                return;
            }
            const quint64 groupId = cur.groupNode->group._id;
            QSharedPointer<LocalDb> store = db->db;
            const QList<pim::_Contact> members = store->contacts(groupId, QString());
            // The question says what goes with the group: its members, from the phone too.
            if (!Tips::question(
                    tr("IDS_CONFIRM_DEL_GROUP") + QLatin1Char('\n') +
                    groupMembersGoText(members.size(),
                                       db->type == ItemModelMainTree::TYPE_DEVICE_DB))) {
                return;
            }
            // The group goes only once its members are gone: a failed or cancelled deletion
            // keeps the group and its node as they are.
            if (!delContacts(members)) {
                return;
            }
            try {
                store->removeGroupOnly(groupId);
            } catch (const std::exception& e) {
                Tips::error(utf8(e));
                return;
            }
            selectDbNode(db);
        } else if (cur.node->type == ItemModelMainTree::TYPE_LOCAL_DB) {
            if (!Tips::question(tr("IDS_CONFIRM_DEL_LOCALDB"))) {
                return;
            }
            _DBItemNode* db = cur.dbNode;
            const QString path = db->db->path();
            bool removed = false;
            try {
                db->db->removeDB();
                removed = !QFileInfo::exists(path);
            } catch (const std::exception&) {
                removed = false;
            }
            if (!removed) {
                Tips::error(tr("IDS_DELETE_LOCALDB_ERROR"));
                return;
            }
            m_treeModel.removeChild(m_treeModel.localDbRoot(), db->row());
            Tips::info(tr("IDS_DELETE_LOCALDB_SUC"));
        } else if (cur.node->type == ItemModelMainTree::TYPE_DEVICE_DB) {
            _DBItemNode* db = cur.dbNode;
            if (!writableTarget(cur)) {
                return;
            }
            if (!Tips::question(tr("IDS_CONFIRM_CLEAR_IOS_CONTACTS"))) {
                return;
            }
            delContacts(db->db->contacts(0, QString()));
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::miContactSetGroup() {
    BusyScope busy(this);
    const _CurrentNode cur = currentNode();
    if (!isListed(cur)) {
        return;
    }
    _DBItemNode* dbNode = cur.dbNode;
    QSharedPointer<LocalDb> db = dbNode->db;
    quint64 groupId = 0;
    QString groupName;
    if (!m_choosers->group(this, db.data(), groupId, groupName)) {
        return;
    }
    const QList<pim::_Contact> list = contactsSelected();
    try {
        {
            EditTransaction edit(*db);
            if (groupId == 0 && !groupName.isEmpty()) {
                groupId = db->getGroupIdOrAdd(groupName);
            }
            for (const pim::_Contact& c : list) {
                if (groupId == 0) {
                    db->ungroup(c._id);
                } else {
                    db->setGroup(c._id, groupId, groupName);
                }
            }
            edit.commit();
        }
        selectDbNode(dbNode);
        Tips::info(tr("IDS_UPDATE_GROUP_SUC"));
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}
