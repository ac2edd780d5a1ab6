#pragma once

#include <QDialog>
#include <QString>

#include "ui/winmovable.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpacerItem;
class QWidget;

class Ui_LocalDbSelForm {
public:
    QLabel* label;
    QComboBox* cbLocalDbNames;
    QWidget* layoutWidget;
    QHBoxLayout* horizontalLayout;
    QPushButton* btnOK;
    QSpacerItem* horizontalSpacer;
    QPushButton* btnClose;

    void setupUi(QDialog* LocalDbSelForm);
    void retranslateUi(QDialog* LocalDbSelForm);
};

// Asks for the local database that receives a backup: an existing "*.db" of the local-database
// folder or a new name. Use once: construct, execGetDbName(), destroy.
class LocalDbSelForm : public QDialog {
    Q_OBJECT
public:
    LocalDbSelForm(QWidget* parent, QString defaultName);
    ~LocalDbSelForm() override;

    // The chosen file name ending in ".db", or an empty text when cancelled.
    QString execGetDbName();

protected slots:
    void onBtnOkPress();

private:
    WinMovable movable;
    QString chosenName;
    Ui_LocalDbSelForm* form;
};
