#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include "ui/winmovable.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpacerItem;
class QWidget;

class Ui_DataSourceSelForm {
public:
    QLabel* lbSelDevice;
    QComboBox* cbDevice;
    QWidget* layoutWidget;
    QHBoxLayout* horizontalLayout;
    QPushButton* btnOK;
    QSpacerItem* horizontalSpacer;
    QPushButton* btnClose;

    void setupUi(QDialog* DataSourceSelForm);
    void retranslateUi(QDialog* DataSourceSelForm);
};

// Lets the user pick one entry (icon, text, caller's pointer) from a list, e.g. a target device.
class DataSourceSelForm : public QDialog {
    Q_OBJECT
public:
    struct _SelItem {
        QString icon;  // resource or file path of the entry's icon
        QString text;
        void* data;  // the caller's pointer, returned when chosen; not owned
        _SelItem(QString icon, QString text, void* data) : icon(icon), text(text), data(data) {}
    };

    explicit DataSourceSelForm(QWidget* parent);
    ~DataSourceSelForm() override;

    // Shows label as the prompt, runs the dialog and returns the chosen entry's data, or
    // nullptr when cancelled.
    void* execSel(QString label, QList<_SelItem> items);

protected slots:
    void onBtnOkPressed();

private:
    WinMovable movable;
    Ui_DataSourceSelForm* form;
};
