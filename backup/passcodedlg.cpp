#include "passcodedlg.h"

#include "ui/progressform.h"
#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "ui/fieldnames.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

IOSiTunesBKSetPasswordThread::IOSiTunesBKSetPasswordThread(BackupManifest& m, QString pwd,
                                                           ProgressForm& p, QObject* parent)
    : QThread(parent), manifest(m), password(std::move(pwd)), progress(p), result(false) {}

void IOSiTunesBKSetPasswordThread::run() {
    result = false;
    failed = false;
    try {
        progress.invokeUpdateProgress(tr("Verifying. Please wait..."), 99, QString());
        result = manifest.setPasscodeNoUIThrow(password);
        progress.invokeSucceed(QString());
    } catch (const std::exception& e) {
        result = false;
        failed = true;
        progress.invokeErrorOccurred(
            QStringLiteral("IOSiTunesBKSetPasswordThread: %1").arg(QString::fromUtf8(e.what())));
    }
}

bool BackupManifest::setPasscode(QString pwd, bool* failed) {
    ProgressForm form(QString(), nullptr);
    form.setCancelable(false);
    IOSiTunesBKSetPasswordThread worker(*this, pwd, form);
    worker.start(QThread::InheritPriority);
    form.exec();
    form.waitForThread(worker, true);
    if (failed)
        *failed = worker.failed;
    return worker.result;
}

void Ui_PasscodeDlg::setupUi(QDialog* dlg) {
    if (dlg->objectName().isEmpty())
        dlg->setObjectName(QStringLiteral("PasscodeDlg"));
    dlg->resize(338, 147);
    verticalLayout = new QVBoxLayout(dlg);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(12, 15, 12, -1);
    lbTitle2 = new QLabel(dlg);
    lbTitle2->setObjectName(QStringLiteral("lbTitle2"));
    verticalLayout->addWidget(lbTitle2);
    txtPasscode = new QLineEdit(dlg);
    txtPasscode->setObjectName(QStringLiteral("txtPasscode"));
    txtPasscode->setEchoMode(QLineEdit::Password);
    verticalLayout->addWidget(txtPasscode);
    widget = new QWidget(dlg);
    widget->setObjectName(QStringLiteral("widget"));
    horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalSpacer = new QSpacerItem(149, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnOK = new QPushButton(widget);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    horizontalLayout->addWidget(btnOK);
    btnCancel = new QPushButton(widget);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    horizontalLayout->addWidget(btnCancel);
    verticalLayout->addWidget(widget);

    retranslateUi(dlg);
    QObject::connect(btnCancel, SIGNAL(pressed()), dlg, SLOT(reject()));
}

void Ui_PasscodeDlg::retranslateUi(QDialog* dlg) {
    lbTitle2->setText(
        QCoreApplication::translate("PasscodeDlg", "IDS_PLEASE_ENTER_PASSWORD_TO_LOAD_BACKUP"));
    dlg->setWindowTitle(lbTitle2->text());
    txtPasscode->setPlaceholderText(
        QCoreApplication::translate("PasscodeDlg", "IDS_ENTER_PASSWORD"));
    g_nameField(txtPasscode, txtPasscode->placeholderText());
    btnOK->setText(QCoreApplication::translate("PasscodeDlg", "OK"));
    btnCancel->setText(QCoreApplication::translate("PasscodeDlg", "Cancel"));
}

PasscodeDlg::PasscodeDlg(BackupManifest* m, QWidget* parent)
    : QDialog(parent), ui(new Ui_PasscodeDlg), movable(this), manifest(m) {
    ui->setupUi(this);
    applyDialogLook(this);
    connect(ui->btnOK, SIGNAL(pressed()), this, SLOT(btnOKPressed()));
}

PasscodeDlg::~PasscodeDlg() {
    delete ui;
}

void PasscodeDlg::btnOKPressed() {
    const QString text = ui->txtPasscode->text();
    if (text.isEmpty()) {
        Tips::warning(tr("IDS_PWD_IS_NULL"));
        return;
    }
    bool failed = false;
    if (manifest && manifest->setPasscode(text, &failed)) {
        accept();
        return;
    }
    // The error has been shown already; only a key that did not unwrap is a wrong password.
    if (failed)
        return;
    Tips::warning(tr("IDS_INVALID_PASSWORD"));
    ui->txtPasscode->clear();
}
