// The backup chooser: lists the backups under the default root, newest first, and lets the user
// add any other folder by hand.
#pragma once

#include "abstreeitemmodel.h"
#include "backupmanifest.h"

#include "ui/winmovable.h"

#include <QDialog>
#include <QSharedPointer>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QResizeEvent;
class QSpacerItem;
class QTreeView;
class QVBoxLayout;
class QWidget;

class ItemModelLoadBk : public AbsTreeItemModel {
public:
    struct _BKItemNode : public AbsTreeItemModel::_ItemNode {
        _BKItemNode(AbsTreeItemModel::_ItemNode* parent, QSharedPointer<BackupManifest> backup);
        ~_BKItemNode() override;
        QSharedPointer<BackupManifest> manifest;
    };

    explicit ItemModelLoadBk(QObject* parent = nullptr);
    ~ItemModelLoadBk() override;

    // Inserts one row, newest backup first; returns its node.
    AbsTreeItemModel::_ItemNode* addBackup(QSharedPointer<BackupManifest> backup);
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Row backups in row order.
    QList<QSharedPointer<BackupManifest>> backups() const;
};

class Ui_LoadItunesBackupDlg {
public:
    QVBoxLayout* verticalLayout;
    QLabel* lbTitle;
    QTreeView* listBackups;
    QLabel* lbAddOther;
    QWidget* widget;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QPushButton* btnLoad;
    QPushButton* btnCancel;

    void setupUi(QDialog* dlg);
    void retranslateUi(QDialog* dlg);
};

class LoadItunesBackupDlg : public QDialog {
    Q_OBJECT
public:
    explicit LoadItunesBackupDlg(QWidget* parent = nullptr);
    ~LoadItunesBackupDlg() override;

    Ui_LoadItunesBackupDlg* ui;
    QSharedPointer<BackupManifest> selected;

    ItemModelLoadBk* model() { return &listModel; }
    // Lists one more backup folder as the "add" link does, without asking for it (the link's
    // file dialog ends here).
    void addOtherFolder(const QString& path);

protected slots:
    void btnAddOtherClicked(QString link);
    void btnLoadClicked();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    WinMovable movable;
    ItemModelLoadBk listModel;
};
