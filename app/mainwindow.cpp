#include "app/mainwindow.h"

#include <QAction>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QRegExp>
#include <QResizeEvent>
#include <QTimer>
#include <exception>

#include "app/mainwindow_form.h"
#include "app/ui/groupform.h"
#include "app/ui/localdbselform.h"
#include "app/ui/progressform.h"
#include "app/ui/stylesheet.h"
#include "app/ui/tips.h"
#include "app/ui/updatecheck.h"
#include "device/mobiledevice.h"
#include "device/plistcftype.h"
#include "backup/backupmanifest.h"
#include "backup/importcontactsfromitunesthread.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"
#include "device/workers/backupcontactstolocalthread.h"
#include "device/workers/iossendchangesthread.h"
#include "device/workers/iossynctodevicethread.h"
#include "device/workers/iossynctopcthread.h"
#include "editor/editcontactform.h"
#include "export/contactsprinter.h"
#include "export/exporttofilethread.h"
#include "import/importcontactstolocalthread.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"

QAction* toolBarActions[TBA_COUNT] = {};

using _ItemNode = ItemModelMainTree::_ItemNode;
using _DBItemNode = ItemModelMainTree::_DBItemNode;
using _GroupItemNode = ItemModelMainTree::_GroupItemNode;

namespace {

const char* const kStyle = ":/res/style.css";

QString utf8(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// Runs a worker under its progress dialog: start, modal loop, wait. True on success only.
bool runUnderForm(ProgressForm& form, QThread& worker) {
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    worker.wait();
    return result == 1 && !form.rejected;
}

// The group a tree node stands for; 0 for a whole database.
quint64 groupIdOf(const MainWindow::_CurrentNode& cur) {
    return cur.groupNode ? cur.groupNode->group._id : 0;
}

int selectedRowCount(QTreeView* view) {
    QItemSelectionModel* sel = view->selectionModel();
    return sel ? sel->selectedRows(0).size() : 0;
}

}  // namespace

// Marks a running flow: device events that arrive meanwhile are held back until the outermost
// flow has ended, so no event removes a node or store that the flow still uses.
class MainWindow::BusyScope {
public:
    explicit BusyScope(MainWindow* w) : m_w(w) { ++m_w->m_busy; }
    ~BusyScope() {
        if (--m_w->m_busy == 0 && !m_w->m_pendingDeviceEvents.isEmpty()) {
            QTimer::singleShot(0, m_w, &MainWindow::processPendingDeviceEvents);
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    MainWindow* m_w;
};

MainWindow::Choosers& MainWindow::choosers() {
    static Choosers c;
    return c;
}

void MainWindow::resetChoosers() {
    choosers() = Choosers();
}

bool MainWindow::isSafeDeviceId(const QString& devid) {
    static const QRegExp re("[A-Za-z0-9-]+");
    return !devid.isEmpty() && devid.size() <= 128 && re.exactMatch(devid);
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
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

void MainWindow::buildMenus() {
    struct Def {
        const char* icon;
        const char* text;
        void (MainWindow::*slot)();
        bool enabled;
    };
    const Def defs[TBA_COUNT] = {
        {":res/new_ct.png", "IDS_MI_NEW_CONTACT", &MainWindow::miNewContact, false},
        {":res/backup.png", "IDS_MI_BACKUP_CONTACTS", &MainWindow::miFileBackup, false},
        {":res/from_itunes.png", "IDS_MI_FROM_ITUNES", &MainWindow::miFromiTunes, true},
        {":res/i2i.png", "IDS_MI_TRANSFER_TO_OTHER_IOS_FROM_IOS", &MainWindow::miFileI2I, false},
        {":res/db2i.png", "IDS_MI_TRANSFER_TO_IOS_FROM_LOCALDB", &MainWindow::miFileDB2I, false},
        {":res/import.png", "IDS_MI_IMPORT_FROM_FILE", &MainWindow::miImport, true},
        {":res/export.png", "IDS_MI_EXPORT_CONTACTS", &MainWindow::miFileExport, false},
        {":res/print.png", "IDS_MI_PRINT_CONTACTS", &MainWindow::miFilePrint, false},
        {":res/del.png", "IDS_MI_DEL_CONTACTS", &MainWindow::miFileDelete, false},
    };
    for (int i = 0; i < TBA_COUNT; ++i) {
        auto* a = new QAction(QIcon(defs[i].icon), tr(defs[i].text), this);
        a->setObjectName(QString("toolBarAction%1").arg(i));
        a->setEnabled(defs[i].enabled);
        connect(a, &QAction::triggered, this, defs[i].slot);
        toolBarActions[i] = a;
    }
    toolBarActions[TBA_NEW_CONTACT]->setShortcut(QKeySequence("Ctrl+N"));

    QMenu* file = ui->menuBar->addMenu(tr("File"));
    file->setObjectName("menuFile");
    file->setStyleSheet(getStyleSheet(kStyle));
    file->addAction(toolBarActions[TBA_BACKUP]);
    QMenu* p2p = file->addMenu(tr("IDS_MI_PHONE_TO_PHONE"));
    p2p->addAction(toolBarActions[TBA_I2I]);
    file->addAction(toolBarActions[TBA_DB2I]);
    file->addSeparator();
    file->addAction(toolBarActions[TBA_EXPORT]);
    file->addAction(toolBarActions[TBA_PRINT]);
    file->addAction(toolBarActions[TBA_NEW_CONTACT]);
    QMenu* imp = file->addMenu(tr("IDS_MI_IMPORT"));
    imp->addAction(toolBarActions[TBA_IMPORT]);
    imp->addAction(toolBarActions[TBA_FROM_ITUNES]);
    file->addAction(toolBarActions[TBA_DELETE]);
    file->addSeparator();
    file->addAction(QIcon(":res/open_db_folder.png"), tr("IDS_MI_OPEN_LOCALDB_FOLDER"), this,
                    &MainWindow::miOpenFolder);
    file->addAction(QIcon(":res/exit.png"), tr("Exit"), this, &QWidget::close);

    QMenu* tools = ui->menuBar->addMenu(tr("Tools"));
    tools->addAction(tr("IDS_MI_CHECK_FOR_UPDATE"), this, &MainWindow::miToolsCheckForUpdate);

    QMenu* help = ui->menuBar->addMenu(tr("Help"));
    help->addAction(QIcon(":res/help.png"), tr("IDS_MI_HELP"), this, &MainWindow::miHelpHelp);
    help->addAction(tr("IDS_MI_FEEDBACK"), this, &MainWindow::miHelpFeedback);
    help->addAction(tr("IDS_MI_ABOUT"), this, &MainWindow::miHelpAbout);
}

void MainWindow::buildToolBar() {
    QToolBar* tb = ui->toolBar;
    tb->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Short captions under the icons, so that all nine fit the window's 1000 pixels; the menu
    // and the tool tips keep the full texts.
    const char* const captions[TBA_COUNT] = {"Add Contact",      "Backup",  "From iTunes",
                                             "iPhone to iPhone", "Restore", "Import",
                                             "Export",           "Print",   "Delete"};
    for (int i = 0; i < TBA_COUNT; ++i) {
        toolBarActions[i]->setIconText(tr(captions[i]));
        toolBarActions[i]->setToolTip(toolBarActions[i]->text());
    }
    tb->addAction(toolBarActions[TBA_BACKUP]);
    tb->addAction(toolBarActions[TBA_I2I]);
    tb->addAction(toolBarActions[TBA_DB2I]);
    tb->addSeparator();
    tb->addAction(toolBarActions[TBA_EXPORT]);
    tb->addAction(toolBarActions[TBA_PRINT]);
    tb->addAction(toolBarActions[TBA_NEW_CONTACT]);
    tb->addAction(toolBarActions[TBA_IMPORT]);
    tb->addAction(toolBarActions[TBA_FROM_ITUNES]);
    tb->addAction(toolBarActions[TBA_DELETE]);
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
    for (const QModelIndex& idx : sel->selectedRows(0)) {
        auto* c = static_cast<pim::_Contact*>(idx.internalPointer());
        if (c) {
            out.append(*c);
        }
    }
    return out;
}

void MainWindow::showContacts(QList<pim::_Contact> contacts) {
    // The pane holds its own copy, but it must not show a contact that left the list.
    ui->wdContactInfo->clear();
    m_contactsModel.loadContacts(contacts);
    ui->lbTotal->setText(tr("Total:%1").arg(contacts.size()));
    ui->treeContacts->setCurrentIndex(m_contactsModel.indexOfPos(0));
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
        m_contactsModel.clear();
        ui->lbTotal->setText(tr("Total:0"));
        ui->wdContactInfo->clear();
        return;
    }
    _DBItemNode* db = cur.dbNode;
    updateDbActions(cur);

    ui->txtKeyword->clear();
    ui->lbDisplayKeyword->hide();
    try {
        if (db->children.isEmpty()) {
            m_treeModel.refreshDbNodeGroups(db);
        }
        ui->treeMain->expand(m_treeModel.indexOfItemNode(db));
        showContacts(nodeContacts(cur));
    } catch (const std::exception& e) {
        // Clearing the selection reaches this slot again; the guard keeps it to one box. A
        // phone plugged in meanwhile is read once the box has gone, not under it.
        BusyScope busy(this);
        m_inNodeSelection = true;
        Tips::error(utf8(e));
        ui->treeMain->selectionModel()->clearSelection();
        m_inNodeSelection = false;
        return;
    }
    ui->treeContacts->clearSelection();
}

void MainWindow::updateDbActions(const _CurrentNode& cur) {
    _DBItemNode* db = cur.dbNode;
    if (!db) {
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
    ui->wdContactInfo->showContact(
        static_cast<const pim::_Contact*>(idx.first().internalPointer()));
}

void MainWindow::onBtnSearchPressed() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    const QString keyword = ui->txtKeyword->text().trimmed();
    const quint64 group = groupIdOf(cur);
    try {
        showContacts(cur.dbNode->db->contacts(group, keyword));
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

// ---------------------------------------------------------------------------------------------
// Menus and command routing

QAction* MainWindow::execMenu(QMenu& menu) {
    BusyScope busy(this);
    if (choosers().contextMenu) {
        QAction* a = choosers().contextMenu(menu);
        if (a && a->isEnabled()) {
            a->trigger();
        }
        return a;
    }
    return menu.exec(QCursor::pos());
}

QAction* MainWindow::addMenuAction(QMenu& menu, const char* icon, const char* text,
                                   void (MainWindow::*command)()) {
    QAction* a = menu.addAction(QIcon(icon), tr(text));
    connect(a, &QAction::triggered, this, command);
    return a;
}

void MainWindow::treeCreateContextMenu() {
    const _CurrentNode cur = currentNode();
    if (!cur.node || cur.node->type == ItemModelMainTree::TYPE_DEVICE_ROOT) {
        return;
    }
    QMenu menu;
    menu.setStyleSheet(getStyleSheet(kStyle));
    const int phones = m_treeModel.connectedDeviceCount();
    if (cur.node->type == ItemModelMainTree::TYPE_LOCALDB_ROOT) {
        addMenuAction(menu, ":res/open_db_folder.png", "IDS_MI_OPEN_LOCALDB_FOLDER",
                      &MainWindow::miOpenFolder);
        addMenuAction(menu, ":res/from_itunes.png", "IDS_MI_FROM_ITUNES",
                      &MainWindow::miFromiTunes);
        addMenuAction(menu, ":res/import.png", "IDS_MI_IMPORT_FROM_FILE", &MainWindow::miImport);
    } else if (!cur.dbNode) {
        return;
    } else if (cur.dbNode->type == ItemModelMainTree::TYPE_LOCAL_DB) {
        addMenuAction(menu, ":res/db2i.png", "IDS_MI_TRANSFER_TO_IOS_FROM_LOCALDB",
                      &MainWindow::miTreeDB2I)
            ->setEnabled(phones >= 1);
        menu.addSeparator();
        addMenuAction(menu, ":res/export.png", "IDS_MI_EXPORT_CONTACTS", &MainWindow::miTreeExport);
        addMenuAction(menu, ":res/print.png", "IDS_MI_PRINT_CONTACTS", &MainWindow::miTreePrint);
        addMenuAction(menu, ":res/new_ct.png", "IDS_MI_NEW_CONTACT", &MainWindow::miNewContact);
        addMenuAction(menu, ":res/del.png",
                      cur.groupNode ? "IDS_MI_DEL_CONTACTS" : "IDS_MI_REMOVE_LOCAL_DB",
                      &MainWindow::miTreeDel);
    } else {
        _DBItemNode* db = cur.dbNode;
        const bool isPhone = db->kind == ItemModelMainTree::KIND_IPHONE;
        addMenuAction(menu, ":res/backup.png", "IDS_MI_BACKUP_CONTACTS", &MainWindow::miTreeBackup);
        if (isPhone) {
            const int others = phones - (db->isConnectedPhone() ? 1 : 0);
            addMenuAction(menu, ":res/i2i.png", "IDS_MI_TRANSFER_TO_OTHER_IOS_FROM_IOS",
                          &MainWindow::miTreeI2I)
                ->setEnabled(others >= 1);
        }
        menu.addSeparator();
        addMenuAction(menu, ":res/export.png", "IDS_MI_EXPORT_CONTACTS", &MainWindow::miTreeExport);
        addMenuAction(menu, ":res/print.png", "IDS_MI_PRINT_CONTACTS", &MainWindow::miTreePrint);
        // A mirror without a phone behind it takes no writes meant for a device.
        if (db->isConnectedPhone()) {
            addMenuAction(menu, ":res/new_ct.png", "IDS_MI_NEW_CONTACT", &MainWindow::miNewContact);
            addMenuAction(menu, ":res/del.png", "IDS_MI_DEL_CONTACTS", &MainWindow::miTreeDel);
        }
        if (!cur.groupNode) {
            menu.addSeparator();
            addMenuAction(menu, ":res/unmount.png", "IDS_MI_UNMOUNT_DEVICE",
                          &MainWindow::miTreeUnmount);
        }
    }
    execMenu(menu);
}

void MainWindow::contactCreateContextMenu() {
    const _CurrentNode cur = currentNode();
    const int selectedRows = selectedRowCount(ui->treeContacts);
    if (selectedRows == 0 || !cur.dbNode) {
        return;
    }
    QMenu menu;
    menu.setStyleSheet(getStyleSheet(kStyle));
    _DBItemNode* db = cur.dbNode;
    const int phones = m_treeModel.connectedDeviceCount();
    if (db->type == ItemModelMainTree::TYPE_DEVICE_DB) {
        addMenuAction(menu, ":res/backup.png", "IDS_MI_BACKUP_SELECTIONS",
                      &MainWindow::miContactBackup);
        if (db->kind == ItemModelMainTree::KIND_IPHONE) {
            const int others = phones - (db->isConnectedPhone() ? 1 : 0);
            addMenuAction(menu, ":res/i2i.png", "IDS_MI_TRANSFER_SELECTIONS_TO_OTHER_IOS_FROM_IOS",
                          &MainWindow::miContactI2I)
                ->setEnabled(others >= 1);
        }
    } else {
        addMenuAction(menu, ":res/db2i.png", "IDS_MI_TRANSFER_SELECTIONS_TO_IOS_FROM_DB",
                      &MainWindow::miContactDB2I)
            ->setEnabled(phones >= 1);
    }
    menu.addSeparator();
    addMenuAction(menu, ":res/export.png", "IDS_MI_EXPORT_SELECTIONS",
                  &MainWindow::miContactExport);
    addMenuAction(menu, ":res/print.png", "IDS_MI_PRINT_SELECTIONS", &MainWindow::miContactPrint);
    const bool writable = db->isConnectedPhone() || db->type == ItemModelMainTree::TYPE_LOCAL_DB;
    if (writable) {
        addMenuAction(menu, ":res/edit.png", "IDS_MI_EDIT_CONTACT", &MainWindow::miContactEdit)
            ->setEnabled(selectedRows == 1);
        addMenuAction(menu, ":res/group.png", "IDS_MI_SET_GROUP", &MainWindow::miContactSetGroup);
        addMenuAction(menu, ":res/del.png", "IDS_MI_DEL_SELECTIONS", &MainWindow::miContactDel);
    }
    execMenu(menu);
}

void MainWindow::miFileBackup() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactBackup() : miTreeBackup();
}
void MainWindow::miFileI2I() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactI2I() : miTreeI2I();
}
void MainWindow::miFileDB2I() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactDB2I() : miTreeDB2I();
}
void MainWindow::miFileExport() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactExport() : miTreeExport();
}
void MainWindow::miFilePrint() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactPrint() : miTreePrint();
}
void MainWindow::miFileDelete() {
    selectedRowCount(ui->treeContacts) > 0 ? miContactDel() : miTreeDel();
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

void MainWindow::miTreeBackup() {
    runOnNodeContacts([this](const _CurrentNode& cur, const QList<pim::_Contact>& list) {
        backupContacts(list, QString("%1-backup.db").arg(cur.dbNode->name));
    });
}

void MainWindow::miTreeI2I() {
    runOnNodeContacts([this](const _CurrentNode& cur, const QList<pim::_Contact>& list) {
        transfer2IOS(list, cur.dbNode->id);
    });
}

void MainWindow::miTreeDB2I() {
    runOnNodeContacts([this](const _CurrentNode&, const QList<pim::_Contact>& list) {
        transfer2IOS(list, QString());
    });
}

void MainWindow::miTreeExport() {
    runOnNodeContacts(
        [this](const _CurrentNode&, const QList<pim::_Contact>& list) { exportContacts(list); });
}

void MainWindow::miTreePrint() {
    runOnNodeContacts(
        [this](const _CurrentNode&, const QList<pim::_Contact>& list) { printContacts(list); });
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

void MainWindow::miContactBackup() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    backupContacts(contactsSelected(), QString("%1-backup.db").arg(cur.dbNode->name));
}

void MainWindow::miContactI2I() {
    const _CurrentNode cur = currentNode();
    if (!cur.dbNode) {
        return;
    }
    transfer2IOS(contactsSelected(), cur.dbNode->id);
}

void MainWindow::miContactDB2I() {
    transfer2IOS(contactsSelected(), QString());
}

void MainWindow::miContactExport() {
    exportContacts(contactsSelected());
}

void MainWindow::miContactPrint() {
    printContacts(contactsSelected());
}

void MainWindow::miContactDel() {
    BusyScope busy(this);
    const QList<pim::_Contact> list = contactsSelected();
    if (!Tips::question(tr("IDS_CONFIRM_DEL_SELECTIONS"))) {
        return;
    }
    delContacts(list);
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

void MainWindow::miOpenFolder() {
    g_openFileOrFolder(LocalDb::dbDir().absolutePath());
}

// ---------------------------------------------------------------------------------------------
// Tree deletion and group assignment

void MainWindow::miTreeDel() {
    BusyScope busy(this);
    const _CurrentNode cur = currentNode();
    if (!cur.node) {
        return;
    }
    try {
        if (cur.node->type == ItemModelMainTree::TYPE_GROUP) {
            _DBItemNode* db = cur.dbNode;
            if (!db || !(db->isConnectedPhone() || db->type == ItemModelMainTree::TYPE_LOCAL_DB)) {
                return;
            }
            if (!Tips::question(tr("IDS_CONFIRM_DEL_GROUP"))) {
                return;
            }
            const quint64 groupId = cur.groupNode->group._id;
            QSharedPointer<LocalDb> store = db->db;
            const QList<pim::_Contact> members = store->contacts(groupId, QString());
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
            if (!db->isConnectedPhone()) {
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
    if (!cur.dbNode) {
        return;
    }
    _DBItemNode* dbNode = cur.dbNode;
    QSharedPointer<LocalDb> db = dbNode->db;
    quint64 groupId = 0;
    QString groupName;
    bool accepted = false;
    if (choosers().group) {
        accepted = choosers().group(this, db.data(), groupId, groupName);
    } else {
        GroupForm dlg(db.data(), this);
        accepted = dlg.exec() == 1;
        groupId = dlg.groupId;
        groupName = dlg.groupName;
    }
    if (!accepted) {
        return;
    }
    const QList<pim::_Contact> list = contactsSelected();
    try {
        db->beginEdit();
        try {
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
            db->endEdit(true);
        } catch (...) {
            try {
                db->endEdit(false);
            } catch (const std::exception&) {
            }
            throw;
        }
        selectDbNode(dbNode);
        Tips::info(tr("IDS_UPDATE_GROUP_SUC"));
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

// ---------------------------------------------------------------------------------------------
// Device connection and mirror refresh

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
    Tips::info(tr("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));

    QString name;
    try {
        const PlistCFType values = mobiledevice_info(devid, QString(), QString());
        name = values.get(QString("DeviceName")).CFStringQString();
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
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
    iosDeviceConnected(devid);
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

// ---------------------------------------------------------------------------------------------
// Backup and the other flows into a store

_DBItemNode* MainWindow::selOrCreateLocalDb(QString defaultName, bool* created) {
    BusyScope busy(this);
    if (created) {
        *created = false;
    }
    QString name;
    if (choosers().dbName) {
        name = choosers().dbName(this, defaultName);
    } else {
        LocalDbSelForm dlg(this, defaultName);
        name = dlg.execGetDbName();
    }
    if (name.isEmpty()) {
        return nullptr;
    }
    for (_ItemNode* child : m_treeModel.localDbRoot()->children) {
        if (child->name == name) {
            return static_cast<_DBItemNode*>(child);
        }
    }
    try {
        // A file name inside the database folder, never a path elsewhere.
        if (name.contains('/') || name.contains('\\') || name == "." || name == "..") {
            throw std::runtime_error(tr("Invalid database name.").toStdString());
        }
        const QString path = QFileInfo(LocalDb::dbDir().absoluteFilePath(name)).absoluteFilePath();
        QSharedPointer<LocalDb> db(
            new LocalDb(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
        if (!QFileInfo::exists(path)) {
            db->create();
            if (created) {
                *created = true;
            }
        }
        _DBItemNode* node = m_treeModel.addLocalDb(db, name);
        m_treeModel.contentsUpdate();
        return node;
    } catch (const std::exception& e) {
        Tips::error(tr("IDS_CREATE_DB_FAIL_%1").arg(utf8(e)));
        return nullptr;
    }
}

void MainWindow::backupContacts(QList<pim::_Contact> contacts, QString defaultName) {
    BusyScope busy(this);
    try {
        _DBItemNode* node = selOrCreateLocalDb(defaultName);
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        ProgressForm form(tr("IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE"), nullptr);
        BackupContactsToLocalThread worker(contacts, db.data(), &form, this);
        if (runUnderForm(form, worker)) {
            selectDbNode(node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

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
        void* chosen = nullptr;
        const QString label = tr("IDS_SELECT_IOS_TO_TRANSFER");
        if (choosers().dataSource) {
            chosen = choosers().dataSource(this, label, items);
        } else {
            DataSourceSelForm dlg(this);
            chosen = dlg.execSel(label, items);
        }
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
        QSharedPointer<LocalDb> db = target->db;
        bool ok = false;
        {
            ProgressForm form(QString(), this);
            IOSSyncToDeviceThread worker(target->id, db.data(), contacts, &form);
            ok = runUnderForm(form, worker);
        }
        if (ok) {
            selectDbNode(target);
        } else {
            // The mirror may hold what never reached the phone: read the phone again.
            deviceRefreshAfterFailedWrite(target);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

namespace {

// The export file kinds, in the order the save dialog offers them.
struct ExportKind {
    const char* filter;
    const char* extension;
    int workerType;  // ExportToFileThread::TYPE; 0 for PDF, which the card printer writes
};
const ExportKind kExportKinds[] = {
    {QT_TRANSLATE_NOOP("MainWindow", "VCard Files(*.vcf)"), ".vcf", ExportToFileThread::VCARD},
    {QT_TRANSLATE_NOOP("MainWindow", "CSV Files(*.csv)"), ".csv", ExportToFileThread::CSV},
    {QT_TRANSLATE_NOOP("MainWindow", "Text Files(*.txt)"), ".txt", ExportToFileThread::TXT},
    {QT_TRANSLATE_NOOP("MainWindow", "HTML files(*.html)"), ".html", ExportToFileThread::HTML},
    // Word opens the HTML page.
    {QT_TRANSLATE_NOOP("MainWindow", "Word files(*.doc)"), ".doc", ExportToFileThread::HTML},
    {QT_TRANSLATE_NOOP("MainWindow", "PDF files(*.pdf)"), ".pdf", 0},
};

}  // namespace

void MainWindow::exportContacts(const QList<pim::_Contact>& contacts) {
    BusyScope busy(this);
    try {
        QStringList filters;
        for (const ExportKind& k : kExportKinds) {
            filters << tr(k.filter);
        }
        const QString defaultPath =
            QDir(QDir::homePath())
                .absoluteFilePath(
                    QString("contacts(%1)")
                        .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss")));
        QString selected;
        QString path;
        if (choosers().saveFile) {
            path = choosers().saveFile(this, defaultPath, filters.join(";;"), &selected);
        } else {
            path = QFileDialog::getSaveFileName(this, QString(), defaultPath, filters.join(";;"),
                                                &selected);
        }
        if (path.isEmpty()) {
            return;
        }
        const int pos = filters.indexOf(selected);
        if (pos < 0) {
            return;
        }
        const ExportKind& kind = kExportKinds[pos];
        // A name the user gave a suffix of his own keeps it.
        if (QFileInfo(path).suffix().isEmpty()) {
            path += QLatin1String(kind.extension);
        }
        if (kind.workerType == 0) {
            ContactsPrinter printer(this);
            const int cards = printer.printToPDF(contacts, path);
            if (cards < 0) {
                Tips::error(printer.errorString());
                return;
            }
            Tips::info(tr("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(cards));
            return;
        }
        ProgressForm form(tr("IDS_STARTING_EXPORT_CONTACTS_TO_FILE"), nullptr);
        ExportToFileThread worker(contacts, static_cast<ExportToFileThread::TYPE>(kind.workerType),
                                  path, &form, this);
        runUnderForm(form, worker);
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::printContacts(const QList<pim::_Contact>& contacts) {
    BusyScope busy(this);
    try {
        ContactsPrinter printer(this);
        printer.printContacts(contacts);
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

_DBItemNode* MainWindow::writableTarget(const _CurrentNode& cur) const {
    _DBItemNode* node = cur.dbNode;
    if (!node || !node->db) {
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
    showContacts(cur.dbNode->db->contacts(group, keyword));
    const QList<pim::_Contact>& listed = m_contactsModel.contacts();
    for (int row = 0; row < listed.size(); ++row) {
        if (listed[row]._id == contact._id) {
            ui->treeContacts->setCurrentIndex(m_contactsModel.indexOfPos(row));
            break;
        }
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
        QList<EditContactForm::_ChangeData> changes;
        {
            EditContactForm form(&contact, isNew ? db.data() : nullptr, nullptr);
            const int rc = choosers().editForm ? choosers().editForm(form) : form.exec();
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
        EditContactForm::applyChanges(*db, work, changes);

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

void MainWindow::miFromiTunes() {
    BusyScope busy(this);
    try {
        QSharedPointer<BackupManifest> backup;
        {
            LoadItunesBackupDlg dlg(this);
            const int rc = choosers().backupChooser ? choosers().backupChooser(dlg) : dlg.exec();
            if (rc != 1 || !dlg.selected) {
                return;
            }
            backup = dlg.selected;
        }
        if (backup->info.isEncrypted) {
            PasscodeDlg dlg(backup.data(), this);
            const int rc = choosers().passcode ? choosers().passcode(dlg) : dlg.exec();
            if (rc != 1) {
                return;
            }
        }
        backup->parseInfo();

        const QString defaultName = backup->info.deviceName.isEmpty()
                                        ? tr("Unknown Device")
                                        : backup->info.deviceName + "-backup.db";
        bool created = false;
        _DBItemNode* node = selOrCreateLocalDb(defaultName, &created);
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        bool ok = false;
        {
            ProgressForm form(QString(), this);
            ImportContactsFromiTunesThread worker(*backup, db.data(), &form, nullptr);
            ok = runUnderForm(form, worker);
        }
        if (ok) {
            selectDbNode(node);
            return;
        }
        if (created) {
            // A database made for this import goes again; one that existed stays as it was.
            const QList<_ItemNode*>& rows = m_treeModel.localDbRoot()->children;
            const int row = rows.indexOf(node);
            db->removeDB();
            if (row >= 0) {
                m_treeModel.removeChild(m_treeModel.localDbRoot(), row);
            }
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
}

void MainWindow::miImport() {
    BusyScope busy(this);
    try {
        const QStringList filters = {tr("VCard Files(*.vcf)"), tr("CSV Files(*.csv)")};
        QString selected;
        QString path;
        if (choosers().openFile) {
            path = choosers().openFile(this, filters.join(";;"), &selected);
        } else {
            path = QFileDialog::getOpenFileName(this, QString(), QDir::homePath(),
                                                filters.join(";;"), &selected);
        }
        if (path.isEmpty()) {
            return;
        }
        const int pos = filters.indexOf(selected);
        if (pos < 0) {
            return;
        }
        const auto type =
            pos == 0 ? ImportContactsToLocalThread::VCARD : ImportContactsToLocalThread::CSV;
        _DBItemNode* node = selOrCreateLocalDb(QFileInfo(path).fileName());
        if (!node) {
            return;
        }
        QSharedPointer<LocalDb> db = node->db;
        ProgressForm form(tr("IDS_STARTING_IMPORT_CONTACTS_FROM_FILE"), nullptr);
        ImportContactsToLocalThread worker(path, type, db.data(), &form, this);
        if (runUnderForm(form, worker)) {
            selectDbNode(node);
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
    }
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
    try {
        db->beginEdit();
        try {
            for (const pim::_Contact& c : contacts) {
                db->removeContact(c._id);
            }
            db->endEdit(true);
        } catch (...) {
            try {
                db->endEdit(false);
            } catch (const std::exception&) {
                // The first failure is the one to report.
            }
            throw;
        }
    } catch (const std::exception& e) {
        Tips::error(utf8(e));
        return false;
    }
    if (onDevice &&
        !sendChangesToDevice(node, nullptr, QList<EditContactForm::_ChangeData>(), contacts)) {
        deviceRefreshAfterFailedWrite(node);
        return false;
    }
    try {
        m_contactsModel.clear();
        ui->lbTotal->setText(tr("Total:0"));
        // The list comes back whole: a keyword shown from an earlier search no longer applies.
        ui->txtKeyword->clear();
        ui->lbDisplayKeyword->hide();
        showContacts(db->contacts(group, QString()));
    } catch (const std::exception& e) {
        // The contacts are gone; only the list could not be read back.
        Tips::error(utf8(e));
        return true;
    }
    Tips::info(tr("IDS_SUC_DEL_CONTACTS"));
    return true;
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
