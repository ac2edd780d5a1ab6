#pragma once

#include <QDialog>

#include "ui/winmovable.h"

class QGraphicsView;
class QLabel;
class QPushButton;

class Ui_AboutUsForm {
public:
    QGraphicsView* picApp;
    QLabel* lbTitle;
    QLabel* lbProduct;
    QPushButton* btnOK;
    QLabel* lbHomePage;

    void setupUi(QDialog* AboutUsForm);
    void retranslateUi(QDialog* AboutUsForm);
};

// Product title with version, the application icon and a link to the maker's home page.
class AboutUsForm : public QDialog {
    Q_OBJECT
public:
    explicit AboutUsForm(QWidget* parent);
    ~AboutUsForm() override;

private:
    WinMovable movable;
    Ui_AboutUsForm* form;
};
