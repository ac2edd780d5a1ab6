// The window itself: building it, the tree of databases, the contact list and its search.
// Each flow lives in a file of its own beside this one (mainwindow_<flow>.cpp).
#include "mainwindow.h"
#include "unfinishedimport.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QRegExp>
#include <QResizeEvent>
#include <algorithm>
#include <exception>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "app/ui/updatecheck.h"
#include "device/mobiledevice.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"
#include "ui/fieldnames.h"

QAction* toolBarActions[TBA_COUNT] = {};

using namespace mainwindow_steps;

bool MainWindow::isSafeDeviceId(const QString& devid) {
    static const QRegExp re("[A-Za-z0-9-]+");
    return !devid.isEmpty() && devid.size() <= 128 && re.exactMatch(devid);
}

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(std::make_unique<DialogChoosers>(), nullptr, parent) {}

MainWindow::MainWindow(Choosers& choosers, QWidget* parent)
    : MainWindow(nullptr, &choosers, parent) {}

MainWindow::MainWindow(std::unique_ptr<Choosers> own, Choosers* choosers, QWidget* parent)
    : QMainWindow(parent),
      m_ownChoosers(std::move(own)),
      m_choosers(choosers ? choosers : m_ownChoosers.get()),
      m_subscriber(new MobiledeviceSubscribe()),
      ui(new Ui_MainWindow),
      m_treeModel(nullptr),
      m_contactsModel(nullptr),
      m_updateCheck(nullptr) {
    ui->setupUi(this);
    setStyleSheet(getStyleSheet(kStyle));
    ui->treeMain->setModel(&m_treeModel);
    ui->treeContacts->setModel(&m_contactsModel);
    ui->lbDisplayKeyword->hide();
    ui->txtKeyword->setPlaceholderText(tr("Search contacts"));
    g_nameField(ui->txtKeyword, ui->txtKeyword->placeholderText());
    updateWindowTitle();

    connect(ui->treeMain, &MyTreeView::onSelectionChanged, this,
            &MainWindow::onMainTreeItemSelected);
    connect(ui->treeMain, &MyTreeView::clicked, this, &MainWindow::onMainTreeItemClicked);
    connect(ui->treeMain, &MyTreeView::createContextMenu, this, &MainWindow::treeCreateContextMenu);
    connect(ui->treeContacts, &MyTreeView::createContextMenu, this,
            &MainWindow::contactCreateContextMenu);
    connect(ui->treeContacts, &MyTreeView::onSelectionChanged, this,
            &MainWindow::onContactsTreeItemSelected);
    connect(ui->treeContacts, &MyTreeView::doubleClicked, this,
            &MainWindow::onContactsTreeItemDoubleClicked);
    connect(ui->btnSearch, &QToolButton::pressed, this, &MainWindow::onBtnSearchPressed);
    connect(ui->txtKeyword, &QLineEdit::returnPressed, this, &MainWindow::onBtnSearchPressed);

    buildMenus();
    buildToolBar();

    connect(m_subscriber, &MobiledeviceSubscribe::newDevice, this, &MainWindow::onNewDevice);
    connect(m_subscriber, &MobiledeviceSubscribe::kickDevice, this, &MainWindow::onKickDevice);
    if (!m_subscriber->start()) {
        Tips::warning(
            tr("Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) "
               "first and then re-connect your iPhone. Once your iPhone is visible in iTunes "
               "(Finder if MacOS 10.15 or above), please restart Quorvanteli software."));
    }

    try {
        fillTree();
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
    ui->treeMain->expandAll();

    m_updateCheck = new UpdateCheck(this, this);
    m_updateCheck->start();
}

MainWindow::~MainWindow() {
    // Device events stop first: nothing may reach a half-destroyed window.
    delete m_subscriber;
    m_subscriber = nullptr;
    delete m_updateCheck;
    m_updateCheck = nullptr;
    ui->treeContacts->setModel(nullptr);
    ui->treeMain->setModel(nullptr);
    delete ui;
    // The actions go with the window; nobody may reach them through the shared array after.
    for (QAction*& a : toolBarActions) {
        a = nullptr;
    }
}

void MainWindow::updateWindowTitle() {
    setWindowTitle(QObject::tr("Quorvanteli Tellwick for Mac"));
}
void MainWindow::fillTree() {
    const QDir virtualDir(g_dataSaveDir().absoluteFilePath("ios_virtual"));
    if (virtualDir.exists()) {
        const QFileInfoList files =
            virtualDir.entryInfoList(QStringList() << "*.db", QDir::Files, QDir::Name);
        for (const QFileInfo& fi : files) {
            QSharedPointer<LocalDb> db(
                new LocalDb(fi.absoluteFilePath(),
                            QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule)));
            _DBItemNode* node = m_treeModel.addDevice(db, fi.baseName(), fi.fileName(),
                                                      ItemModelMainTree::KIND_IPHONE);
            node->isVirtual = true;
            const QModelIndex idx = m_treeModel.indexOfItemNode(node);
            ui->treeMain->expand(idx);
            ui->treeMain->setCurrentIndex(idx);
        }
    }
    g_sweepUnfinishedImports(LocalDb::dbDir());
    const QFileInfoList locals = LocalDb::dbDir().entryInfoList(
        QStringList() << "*.db", QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& fi : locals) {
        QSharedPointer<LocalDb> db(new LocalDb(
            fi.absoluteFilePath(), QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
        m_treeModel.addLocalDb(db, fi.fileName());
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    const int w = event->size().width();
    const double h = (w - 220) * 0.5;
    const int half = qMax(0, static_cast<int>(h));
    ui->splitter->setSizes(QList<int>() << qMax(0, qMin(w, 220)) << half << half);
    const double c = h - 23.0;
    const int name = qMax(0, static_cast<int>(0.4 * c));
    const int other = qMax(0, static_cast<int>(0.2 * c));
    QHeaderView* header = ui->treeContacts->header();
    header->resizeSection(0, name);
    header->resizeSection(1, other);
    header->resizeSection(2, other);
    header->resizeSection(3, other);
}
// ---------------------------------------------------------------------------------------------
// Node selection, contact selection and search
MainWindow::_CurrentNode MainWindow::currentNode() {
    _CurrentNode cur;
    cur.node = ItemModelMainTree::nodeOf(ui->treeMain->currentIndex());
    if (!cur.node) {
        return cur;
    }
    if (cur.node->type == ItemModelMainTree::TYPE_DEVICE_DB ||
        cur.node->type == ItemModelMainTree::TYPE_LOCAL_DB) {
        cur.dbNode = static_cast<_DBItemNode*>(cur.node);
    } else if (cur.node->type == ItemModelMainTree::TYPE_GROUP) {
        cur.groupNode = static_cast<_GroupItemNode*>(cur.node);
        cur.dbNode = dynamic_cast<_DBItemNode*>(cur.node->parent);
    }
    return cur;
}

QList<pim::_Contact> MainWindow::contactsSelected() {
    QList<pim::_Contact> out;
    QItemSelectionModel* sel = ui->treeContacts->selectionModel();
    if (!sel) {
        return out;
    }
    // Rows listed from another database than the current node's hold that database's row ids.
    if (!isListed(currentNode())) {
        return out;
    }
    for (const QModelIndex& idx : sel->selectedRows(0)) {
        // A listed row's contact is made when first asked for.
        if (const pim::_Contact* c = m_contactsModel.contactAt(idx.row())) {
            out.append(*c);
        }
    }
    return out;
}

void MainWindow::showContacts(QList<pim::_Contact> contacts) {
    showList([&] { m_contactsModel.loadContacts(std::move(contacts)); });
}

void MainWindow::showListing(ContactListing listing) {
    showList([&] { m_contactsModel.loadListing(std::move(listing)); });
}

void MainWindow::showList(const std::function<void()>& load) {
    // The pane holds its own copy, but it must not show a contact that left the list.
    ui->wdContactInfo->clear();
    const _CurrentNode cur = currentNode();
    // Listed photos come without their bytes: the list and the pane read them when shown.
    const PhotoFetch fetch = cur.dbNode ? g_photoFetch(cur.dbNode->db) : PhotoFetch();
    m_contactsModel.setPhotoFetch(fetch);
    ui->wdContactInfo->setPhotoFetch(fetch);
    load();
    ui->lbTotal->setText(tr("Total:%1").arg(m_contactsModel.size()));
    m_listedDb = cur.dbNode ? cur.dbNode->db.toWeakRef() : QWeakPointer<LocalDb>();
    ui->treeContacts->setCurrentIndex(m_contactsModel.indexOfPos(0));
}

void MainWindow::clearContacts() {
    m_listedDb.clear();
    m_contactsModel.clear();
    ui->lbTotal->setText(tr("Total:0"));
    ui->wdContactInfo->clear();
}

bool MainWindow::isListed(const _CurrentNode& cur) const {
    return cur.dbNode && cur.dbNode->db && m_listedDb.toStrongRef() == cur.dbNode->db;
}

void MainWindow::setDbActionsEnabled(bool enabled) {
    for (int i :
         {TBA_BACKUP, TBA_I2I, TBA_DB2I, TBA_EXPORT, TBA_PRINT, TBA_DELETE, TBA_NEW_CONTACT}) {
        toolBarActions[i]->setEnabled(enabled);
    }
}

void MainWindow::onMainTreeItemSelected(QItemSelection, QItemSelection) {
    if (m_inNodeSelection) {
        return;
    }
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        setDbActionsEnabled(false);
        clearContacts();
        return;
    }
    _DBItemNode* db = cur.dbNode;

    ui->txtKeyword->clear();
    ui->lbDisplayKeyword->hide();
    try {
        if (db->children.isEmpty()) {
            m_treeModel.refreshDbNodeGroups(db);
        }
        ui->treeMain->expand(m_treeModel.indexOfItemNode(db));
        showListing(cur.dbNode->db->listing(groupIdOf(cur), QString()));
    } catch (const std::exception& e) {
        // Nothing of the previous database stays listed or actionable: its rows carry row ids
        // that would act on this one. Clearing the selection reaches this slot again; the guard
        // keeps it to one box. A phone plugged in meanwhile is read once the box has gone.
        BusyScope busy(this);
        m_inNodeSelection = true;
        clearContacts();
        setDbActionsEnabled(false);
        Tips::error(utf8(e));
        ui->treeMain->selectionModel()->clearSelection();
        m_inNodeSelection = false;
        return;
    }
    updateDbActions(cur);
    ui->treeContacts->clearSelection();
}

void MainWindow::updateDbActions(const _CurrentNode& cur) {
    _DBItemNode* db = cur.dbNode;
    // A node whose contacts could not be read offers nothing on contacts until it loads.
    if (!db || !isListed(cur)) {
        setDbActionsEnabled(false);
        return;
    }
    const bool isPhone = db->kind == ItemModelMainTree::KIND_IPHONE;
    const bool writable = db->isConnectedPhone() || db->type == ItemModelMainTree::TYPE_LOCAL_DB;
    const int phones = m_treeModel.connectedDeviceCount();
    const int otherPhones = phones - (db->isConnectedPhone() ? 1 : 0);
    toolBarActions[TBA_BACKUP]->setEnabled(db->type == ItemModelMainTree::TYPE_DEVICE_DB);
    toolBarActions[TBA_I2I]->setEnabled(isPhone && otherPhones >= 1);
    toolBarActions[TBA_DB2I]->setEnabled(db->type == ItemModelMainTree::TYPE_LOCAL_DB &&
                                         phones >= 1);
    toolBarActions[TBA_EXPORT]->setEnabled(true);
    toolBarActions[TBA_PRINT]->setEnabled(true);
    toolBarActions[TBA_DELETE]->setEnabled(writable);
    toolBarActions[TBA_NEW_CONTACT]->setEnabled(writable);
}

void MainWindow::onMainTreeItemClicked(QModelIndex) {
    ui->treeContacts->clearSelection();
}

void MainWindow::onContactsTreeItemSelected(QItemSelection selected, QItemSelection) {
    const QModelIndexList idx = selected.indexes();
    if (idx.isEmpty() || !idx.first().internalPointer()) {
        ui->wdContactInfo->clear();
        return;
    }
    ui->wdContactInfo->showContact(m_contactsModel.contactAt(idx.first().row()));
}

void MainWindow::onBtnSearchPressed() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    const QString keyword = ui->txtKeyword->text().trimmed();
    const quint64 group = groupIdOf(cur);
    try {
        if (!keyword.isEmpty() && isListed(cur) && ui->lbDisplayKeyword->isHidden()) {
            // The whole node is listed already: the search only picks among the listed
            // contacts instead of reading every detail of the database again. They come in the
            // store's order: a contact added since the listing no longer stands at the end.
            const QSet<unsigned long long> ids = cur.dbNode->db->contactIds(group, keyword);
            showList([&] { m_contactsModel.keepOnly(ids); });
        } else {
            showListing(cur.dbNode->db->listing(group, keyword));
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
        return;
    }
    if (keyword.isEmpty()) {
        ui->lbDisplayKeyword->hide();
    } else {
        ui->lbDisplayKeyword->setText(tr("IDS_SEARCH_KEYWORKD_%1").arg(keyword));
        ui->lbDisplayKeyword->show();
    }
}

QList<pim::_Contact> MainWindow::nodeContacts(const _CurrentNode& cur) {
    return cur.dbNode->db->contacts(groupIdOf(cur), QString());
}

void MainWindow::runOnNodeContacts(
    const std::function<void(const _CurrentNode&, const QList<pim::_Contact>&)>& command) {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    try {
        command(cur, nodeContacts(cur));
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::selectDbNode(_DBItemNode* node) {
    try {
        m_treeModel.refreshDbNodeGroups(node);
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
    const QModelIndex idx = m_treeModel.indexOfItemNode(node);
    ui->treeMain->expand(idx);
    if (ui->treeMain->currentIndex() == idx) {
        // Already current: no selection change would reload the list.
        onMainTreeItemSelected(QItemSelection(), QItemSelection());
    } else {
        ui->treeMain->setCurrentIndex(idx);
    }
}

void MainWindow::miOpenFolder() {
    g_openFileOrFolder(LocalDb::dbDir().absolutePath());
}

// ---------------------------------------------------------------------------------------------
// Tools and Help

void MainWindow::miToolsCheckForUpdate() {
    UpdateCheck::openUpdatePage();
}

void MainWindow::miHelpHelp() {
    UpdateCheck::openHelpPage();
}

void MainWindow::miHelpFeedback() {
    UpdateCheck::openSupportPage();
}

void MainWindow::miHelpAbout() {
    UpdateCheck::showAbout(nullptr);
}
