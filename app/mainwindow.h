#pragma once

#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <functional>
#include <memory>

#include "choosers.h"
#include "itemmodelcontacts.h"
#include "app/ui/datasourceselform.h"
#include "itemmodelmaintree.h"
#include "editor/editcontactform.h"
#include "store/pim.h"

#include <QItemSelection>

class QAction;
class QMenu;
class QResizeEvent;
class LocalDb;
class MobiledeviceSubscribe;
class UnfinishedImportMark;
class UpdateCheck;
class Ui_MainWindow;

// The nine actions shared by the File menu, the tool bar and the enabling rules.
enum ToolBarActionIndex {
    TBA_NEW_CONTACT = 0,
    TBA_BACKUP = 1,
    TBA_FROM_ITUNES = 2,
    TBA_I2I = 3,
    TBA_DB2I = 4,
    TBA_IMPORT = 5,
    TBA_EXPORT = 6,
    TBA_PRINT = 7,
    TBA_DELETE = 8,
    TBA_COUNT = 9,
};
extern QAction* toolBarActions[TBA_COUNT];

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    struct _CurrentNode {
        ItemModelMainTree::_ItemNode* node = nullptr;
        ItemModelMainTree::_DBItemNode* dbNode = nullptr;
        ItemModelMainTree::_GroupItemNode* groupNode = nullptr;
    };

    // The real dialogs answer the flows' questions.
    explicit MainWindow(QWidget* parent = nullptr);
    // choosers answers them instead; it is not owned and must outlive the window.
    explicit MainWindow(Choosers& choosers, QWidget* parent = nullptr);
    ~MainWindow() override;

    void updateWindowTitle();

    _CurrentNode currentNode();
    QList<pim::_Contact> contactsSelected();
    void showContacts(QList<pim::_Contact> contacts);
    void showListing(ContactListing listing);

    // Flows.
    // The chosen or created local database node; null when cancelled or creation failed.
    // With `mark`, a database that has to be made is marked unfinished before it is made and
    // the mark is handed back there (null when the database existed).
    ItemModelMainTree::_DBItemNode* selOrCreateLocalDb(
        QString defaultName, std::unique_ptr<UnfinishedImportMark>* mark = nullptr);
    void backupContacts(QList<pim::_Contact> contacts, QString defaultName);
    void transfer2IOS(const QList<pim::_Contact>& contacts, QString excludeId);
    void exportContacts(const QList<pim::_Contact>& contacts);
    void printContacts(const QList<pim::_Contact>& contacts);
    // True when the contacts were deleted (false: nothing current, failed, or not possible).
    bool delContacts(const QList<pim::_Contact>& contacts);
    void editContact(pim::_Contact& contact);

    // For tests and the flows: the models and widgets.
    ItemModelMainTree& treeModel() { return m_treeModel; }
    ItemModelContacts& contactsModel() { return m_contactsModel; }
    Ui_MainWindow* form() { return ui; }
    // A flow (modal dialog plus worker) is running; device events wait until it ends.
    bool isBusy() const { return m_busy > 0; }

    // Device identifiers become file names: only letters, digits and "-" are accepted.
    static bool isSafeDeviceId(const QString& devid);

public slots:
    void iosDeviceConnected(QString devid);
    void iosDeviceDisconnected(QString devid);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onMainTreeItemSelected(QItemSelection selected, QItemSelection deselected);
    void onMainTreeItemClicked(QModelIndex index);
    void onContactsTreeItemSelected(QItemSelection selected, QItemSelection deselected);
    void onContactsTreeItemDoubleClicked(QModelIndex index);
    void onBtnSearchPressed();

    void treeCreateContextMenu();
    void contactCreateContextMenu();
    void miFileBackup();
    void miFileExport();
    void miFilePrint();
    void miFileDelete();
    void miNewContact();
    void miOpenFolder();
    void miFileI2I();
    void miFileDB2I();
    void miContactEdit();
    void miContactExport();
    void miContactPrint();
    void miContactDel();
    void miContactBackup();
    void miContactSetGroup();
    void miTreeExport();
    void miTreePrint();
    void miTreeDel();
    void miTreeBackup();
    void miTreeUnmount();
    void miTreeI2I();
    void miContactI2I();
    void miTreeDB2I();
    void miContactDB2I();
    void miFromiTunes();
    void miImport();
    void miToolsCheckForUpdate();
    void miHelpHelp();
    void miHelpFeedback();
    void miHelpAbout();

    // Device events from the subscriber: run now, or after the running flow has ended.
    void onNewDevice(QString devid);
    void onKickDevice(QString devid);
    void processPendingDeviceEvents();

private:
    friend class BusyScope;
    class BusyScope;

    void buildMenus();
    void buildToolBar();
    void fillTree();
    void setDbActionsEnabled(bool enabled);
    // Empties the list, the total and the pane; no database is listed afterwards.
    void clearContacts();
    // Shows in the list what `load` puts in its model, with the total and no contact in the pane.
    void showList(const std::function<void()>& load);
    // True when the list shows the contacts of the node's own database.
    bool isListed(const _CurrentNode& cur) const;
    // Enables the database commands for the node, by its type and the phones in the tree.
    void updateDbActions(const _CurrentNode& cur);
    void selectDbNode(ItemModelMainTree::_DBItemNode* node);
    QList<pim::_Contact> nodeContacts(const _CurrentNode& cur);
    // Runs a tree command on the contacts of the current node; errors end up in a message box.
    void runOnNodeContacts(
        const std::function<void(const _CurrentNode&, const QList<pim::_Contact>&)>& command);
    // The node the edit and delete flows write to: a local database or a connected phone's
    // mirror (for a group, its database); null otherwise.
    ItemModelMainTree::_DBItemNode* writableTarget(const _CurrentNode& cur) const;
    // Sends changes already committed to a phone's mirror to the phone, under a progress
    // dialog. True when the phone took them; on false the caller re-reads the phone.
    bool sendChangesToDevice(ItemModelMainTree::_DBItemNode* node, pim::_Contact* contact,
                             const QList<EditContactForm::_ChangeData>& changes,
                             const QList<pim::_Contact>& contacts);
    // Reloads the list after an edit, keeping the group and the keyword shown, and makes the
    // contact's row current.
    void reloadListKeeping(const _CurrentNode& cur, const pim::_Contact& contact);
    void deviceRefreshAfterFailedWrite(ItemModelMainTree::_DBItemNode* node);
    ItemModelMainTree::_DBItemNode* findDeviceNode(const QString& devid, int* row = nullptr);
    QAction* execMenu(QMenu& menu);
    // Adds a context-menu entry (icon, translated text) that runs the given command.
    QAction* addMenuAction(QMenu& menu, const char* icon, const char* text,
                           void (MainWindow::*command)());

    MainWindow(std::unique_ptr<Choosers> own, Choosers* choosers, QWidget* parent);

    std::unique_ptr<Choosers> m_ownChoosers;
    Choosers* m_choosers;
    MobiledeviceSubscribe* m_subscriber;
    Ui_MainWindow* ui;
    ItemModelMainTree m_treeModel;
    ItemModelContacts m_contactsModel;
    UpdateCheck* m_updateCheck;

    // The database whose contacts the list holds: their row ids are valid only there.
    QWeakPointer<LocalDb> m_listedDb;
    int m_busy = 0;
    bool m_inNodeSelection = false;
    QList<QPair<bool, QString>> m_pendingDeviceEvents;  // (connected, devid)
    // Phones plugged in whose connection tips were shown (until they are unplugged).
    QSet<QString> m_tipsShown;
};
