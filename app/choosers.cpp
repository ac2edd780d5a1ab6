#include "choosers.h"

#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QMenu>

#include "app/ui/groupform.h"
#include "app/ui/localdbselform.h"
#include "backup/loaditunesbackupdlg.h"
#include "backup/passcodedlg.h"
#include "editor/editcontactform.h"

QString DialogChoosers::dbName(QWidget* parent, const QString& defaultName) {
    LocalDbSelForm dlg(parent, defaultName);
    return dlg.execGetDbName();
}

bool DialogChoosers::group(QWidget* parent, LocalDb* db, quint64& groupId, QString& groupName) {
    GroupForm dlg(db, parent);
    if (dlg.exec() != 1) {
        return false;
    }
    groupId = dlg.groupId;
    groupName = dlg.groupName;
    return true;
}

QString DialogChoosers::openFile(QWidget* parent, const QString& filters, QString* selectedFilter) {
    return QFileDialog::getOpenFileName(parent, QString(), QDir::homePath(), filters,
                                        selectedFilter);
}

QString DialogChoosers::saveFile(QWidget* parent, const QString& defaultPath,
                                 const QString& filters, QString* selectedFilter) {
    return QFileDialog::getSaveFileName(parent, QString(), defaultPath, filters, selectedFilter,
                                        QFileDialog::DontConfirmOverwrite);
}

QAction* DialogChoosers::contextMenu(QMenu& menu) {
    return menu.exec(QCursor::pos());
}

int DialogChoosers::editForm(EditContactForm& form) {
    return form.exec();
}

void* DialogChoosers::dataSource(QWidget* parent, const QString& label,
                                 const QList<DataSourceSelForm::_SelItem>& items) {
    DataSourceSelForm dlg(parent);
    return dlg.execSel(label, items);
}

int DialogChoosers::backupChooser(LoadItunesBackupDlg& dlg) {
    return dlg.exec();
}

int DialogChoosers::passcode(PasscodeDlg& dlg) {
    return dlg.exec();
}
