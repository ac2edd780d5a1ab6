// The menu bar, the tool bar and the context menus of the two trees.
#include "mainwindow.h"

#include <QAction>
#include <QMenu>

#include "mainwindow_form.h"
#include "mainwindow_steps.h"
#include "ui/stylesheet.h"

using namespace mainwindow_steps;

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

QAction* MainWindow::execMenu(QMenu& menu) {
    BusyScope busy(this);
    return m_choosers->contextMenu(menu);
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
    } else if (!isListed(cur)) {
        // Its contacts could not be read: the node can only go.
        if (cur.groupNode) {
            return;
        }
        if (cur.dbNode->type == ItemModelMainTree::TYPE_LOCAL_DB) {
            addMenuAction(menu, ":res/del.png", "IDS_MI_REMOVE_LOCAL_DB", &MainWindow::miTreeDel);
        } else {
            addMenuAction(menu, ":res/unmount.png", "IDS_MI_UNMOUNT_DEVICE",
                          &MainWindow::miTreeUnmount);
        }
    } else if (cur.dbNode->type == ItemModelMainTree::TYPE_LOCAL_DB) {
        addMenuAction(menu, ":res/db2i.png", "IDS_MI_TRANSFER_TO_IOS_FROM_LOCALDB",
                      &MainWindow::miTreeDB2I)
            ->setEnabled(phones >= 1);
        menu.addSeparator();
        addMenuAction(menu, ":res/export.png", "IDS_MI_EXPORT_CONTACTS", &MainWindow::miTreeExport);
        addMenuAction(menu, ":res/print.png", "IDS_MI_PRINT_CONTACTS", &MainWindow::miTreePrint);
        addMenuAction(menu, ":res/new_ct.png", "IDS_MI_NEW_CONTACT", &MainWindow::miNewContact);
        addMenuAction(menu, ":res/del.png",
                      cur.groupNode ? "IDS_MI_DEL_GROUP" : "IDS_MI_REMOVE_LOCAL_DB",
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
            // On a group node the group goes with its members.
            addMenuAction(menu, ":res/del.png",
                          cur.groupNode ? "IDS_MI_DEL_GROUP" : "IDS_MI_DEL_CONTACTS",
                          &MainWindow::miTreeDel);
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
