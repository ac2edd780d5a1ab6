// What the main window's flows ask the user through a dialog of their own: a database name, a
// group, a file, a target phone, a backup and its password, a context-menu entry and an edit.
// The window takes an implementation; DialogChoosers opens the real dialogs.
#pragma once

#include <QList>
#include <QString>

#include "app/ui/datasourceselform.h"

class EditContactForm;
class LoadItunesBackupDlg;
class LocalDb;
class PasscodeDlg;
class QAction;
class QMenu;
class QWidget;

class Choosers {
public:
    virtual ~Choosers() = default;
    // The target database name ("....db"), empty when cancelled.
    virtual QString dbName(QWidget* parent, const QString& defaultName) = 0;
    // Group dialog: false when cancelled; else the chosen id (0 = new) and trimmed name.
    virtual bool group(QWidget* parent, LocalDb* db, quint64& groupId, QString& groupName) = 0;
    // File to open: the path (empty when cancelled) and the filter the user chose.
    virtual QString openFile(QWidget* parent, const QString& filters, QString* selectedFilter) = 0;
    // File to save: the path (empty when cancelled) and the filter the user chose. The flow
    // asks about an existing file itself, once the name has its suffix.
    virtual QString saveFile(QWidget* parent, const QString& defaultPath, const QString& filters,
                             QString* selectedFilter) = 0;
    // Shows a context menu; returns the entry the user picked, triggered already (null: none).
    virtual QAction* contextMenu(QMenu& menu) = 0;
    // Runs the filled contact edit form; returns what exec() does (1 when saved).
    virtual int editForm(EditContactForm& form) = 0;
    // The entry chosen from a list (the target phone of a transfer); null when cancelled.
    virtual void* dataSource(QWidget* parent, const QString& label,
                             const QList<DataSourceSelForm::_SelItem>& items) = 0;
    // Run the backup chooser and the password dialog; return what exec() does.
    virtual int backupChooser(LoadItunesBackupDlg& dlg) = 0;
    virtual int passcode(PasscodeDlg& dlg) = 0;
};

class DialogChoosers : public Choosers {
public:
    QString dbName(QWidget* parent, const QString& defaultName) override;
    bool group(QWidget* parent, LocalDb* db, quint64& groupId, QString& groupName) override;
    QString openFile(QWidget* parent, const QString& filters, QString* selectedFilter) override;
    QString saveFile(QWidget* parent, const QString& defaultPath, const QString& filters,
                     QString* selectedFilter) override;
    QAction* contextMenu(QMenu& menu) override;
    int editForm(EditContactForm& form) override;
    void* dataSource(QWidget* parent, const QString& label,
                     const QList<DataSourceSelForm::_SelItem>& items) override;
    int backupChooser(LoadItunesBackupDlg& dlg) override;
    int passcode(PasscodeDlg& dlg) override;
};
