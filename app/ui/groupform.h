#pragma once

#include <QDialog>
#include <QString>

#include "ui/winmovable.h"

class LocalDb;
class QComboBox;
class QLabel;
class QPushButton;

class Ui_GroupForm {
public:
    QLabel* label;
    QComboBox* cbGroups;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    void setupUi(QDialog* GroupForm);
    void retranslateUi(QDialog* GroupForm);
};

// Asks which group the selected contacts go into. After exec() == 1: groupName is the trimmed
// name (empty = take the contacts out of their group) and groupId the id of the listed group of
// exactly that name, else 0 (a new group).
class GroupForm : public QDialog {
    Q_OBJECT
public:
    GroupForm(LocalDb* db, QWidget* parent);
    ~GroupForm() override;

    quint64 groupId;
    QString groupName;

public slots:
    void onBtnOKPressed();

private:
    WinMovable movable;
    Ui_GroupForm* form;
    LocalDb* db;
};
