// The password dialog of an encrypted backup and the worker that checks the password.
#pragma once

#include "backupmanifest.h"

#include "ui/winmovable.h"

#include <QDialog>
#include <QThread>

class ProgressForm;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;
class QWidget;

class IOSiTunesBKSetPasswordThread : public QThread {
    Q_OBJECT
public:
    IOSiTunesBKSetPasswordThread(BackupManifest& manifest, QString password, ProgressForm& progress,
                                 QObject* parent = nullptr);

    BackupManifest& manifest;
    QString password;
    ProgressForm& progress;
    bool result;
    // Set when the check ended in an error (shown by the progress dialog), not a wrong password.
    bool failed = false;

protected:
    void run() override;
};

class Ui_PasscodeDlg {
public:
    QVBoxLayout* verticalLayout;
    QLabel* lbTitle2;
    QLineEdit* txtPasscode;
    QWidget* widget;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    void setupUi(QDialog* dlg);
    void retranslateUi(QDialog* dlg);
};

class PasscodeDlg : public QDialog {
    Q_OBJECT
public:
    explicit PasscodeDlg(BackupManifest* manifest, QWidget* parent = nullptr);
    ~PasscodeDlg() override;

    Ui_PasscodeDlg* ui;

public slots:
    void btnOKPressed();

private:
    WinMovable movable;
    BackupManifest* manifest;
};
