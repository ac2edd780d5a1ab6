#include "progressform.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <algorithm>

#include "stylesheet.h"
#include "tips.h"
#include "appinfo.h"

void Ui_ProgressForm::setupUi(QDialog* ProgressForm) {
    if (ProgressForm->objectName().isEmpty()) {
        ProgressForm->setObjectName(QStringLiteral("ProgressForm"));
    }
    ProgressForm->resize(350, 122);
    progressBar = new QProgressBar(ProgressForm);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setGeometry(QRect(20, 40, 321, 23));
    progressBar->setValue(0);
    progressBar->setTextVisible(true);
    progressBar->setOrientation(Qt::Horizontal);
    progressBar->setTextDirection(QProgressBar::TopToBottom);
    lbProgress = new QLabel(ProgressForm);
    lbProgress->setObjectName(QStringLiteral("lbProgress"));
    lbProgress->setGeometry(QRect(25, 70, 281, 20));
    lbProgress->setAlignment(Qt::AlignCenter);
    btnCancel = new QPushButton(ProgressForm);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(QRect(130, 90, 75, 23));
    lbStatus = new QLabel(ProgressForm);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setGeometry(QRect(20, 20, 311, 16));
    // A status of several sentences (what to do on the phone) is shown whole, wrapped.
    lbStatus->setWordWrap(true);

    retranslateUi(ProgressForm);
    QObject::connect(btnCancel, SIGNAL(pressed()), ProgressForm, SLOT(reject()));
    QMetaObject::connectSlotsByName(ProgressForm);
}

void Ui_ProgressForm::retranslateUi(QDialog* ProgressForm) {
    ProgressForm->setWindowTitle(g_productTitle());
    lbProgress->setText(QString());
    btnCancel->setText(QCoreApplication::translate("ProgressForm", "Cancel"));
    lbStatus->setText(QString());
}

ProgressForm::ProgressForm(QString title, QWidget* parent)
    : QDialog(parent),
      rejected(false),
      tipsWaiting(false),
      askingCancel(false),
      movable(this),
      form(new Ui_ProgressForm),
      ended(false),
      finishing(false),
      lastProgressAt(-1) {
    progressClock.start();
    form->setupUi(this);
    applyDialogLook(this);
    connect(this, SIGNAL(finished(int)), this, SLOT(onFinish(int)));
    connect(form->btnCancel, SIGNAL(pressed()), this, SLOT(cancel()));
    // Without a heading of its own the dialog is named after the program.
    setWindowTitle(title.isEmpty() ? g_productTitle() : title);
    form->lbStatus->setText(title);
    form->btnCancel->setFocusPolicy(Qt::NoFocus);
}

ProgressForm::~ProgressForm() {
    delete form;
}

void ProgressForm::setCancelable(bool cancelable) {
    form->btnCancel->setEnabled(cancelable);
}

bool ProgressForm::waitForThread(QThread& thread, bool force) {
    for (;;) {
        if (thread.wait(1000)) {
            return true;
        }
        if (rejected && force) {
            thread.terminate();
            return thread.wait(1000);
        }
    }
}

void ProgressForm::invokeUpdateProgress(QString status, int value, QString text) {
    {
        // A new status line and the final 100 % always get through.
        std::lock_guard<std::mutex> lock(progressMutex);
        const qint64 now = progressClock.elapsed();
        if (lastProgressAt >= 0 && now - lastProgressAt < 33 && value < 100 &&
            status == lastStatus) {
            return;
        }
        lastProgressAt = now;
        lastStatus = status;
    }
    QMetaObject::invokeMethod(this, "showProgress", Qt::AutoConnection, Q_ARG(QString, status),
                              Q_ARG(int, value), Q_ARG(QString, text));
}

void ProgressForm::invokeErrorOccurred(QString err) {
    QMetaObject::invokeMethod(this, "showError", Qt::AutoConnection, Q_ARG(QString, err));
}

void ProgressForm::invokeSucceed(QString text) {
    QMetaObject::invokeMethod(this, "showSuccess", Qt::AutoConnection, Q_ARG(QString, text));
}

void ProgressForm::invokeTipsWait(QString info) {
    tipsWaiting = true;
    QMetaObject::invokeMethod(this, "tipsWait", Qt::AutoConnection, Q_ARG(QString, info));
}

void ProgressForm::invokeSetCancelBtnText(const QString& text) {
    QMetaObject::invokeMethod(this, "setCancelBtnText", Qt::AutoConnection, Q_ARG(QString, text));
}

void ProgressForm::accept() {}

void ProgressForm::reject() {}

void ProgressForm::showProgress(QString status, int curProgress, QString progressText) {
    if (!status.isEmpty()) {
        form->lbStatus->setText(status);
        fitStatus();
    }
    if (curProgress < 0) {
        curProgress = form->progressBar->value();
    }
    form->progressBar->setValue(curProgress);
    if (progressText.isEmpty()) {
        progressText = QStringLiteral("Progress:%1%").arg(curProgress);
    }
    form->lbProgress->setText(progressText);
}

void ProgressForm::fitStatus() {
    // The status line grows to its wrapped text, and the rest of the dialog moves down with it.
    QLabel* status = form->lbStatus;
    const int wanted = std::max(kStatusLineHeight, status->heightForWidth(status->width()));
    const int grow = wanted - status->height();
    if (grow == 0) {
        return;
    }
    status->resize(status->width(), wanted);
    for (QWidget* w :
         {static_cast<QWidget*>(form->progressBar), static_cast<QWidget*>(form->lbProgress),
          static_cast<QWidget*>(form->btnCancel)}) {
        w->move(w->x(), w->y() + grow);
    }
    resize(width(), height() + grow);
}

void ProgressForm::showError(QString err) {
    if (ended) {
        return;
    }
    Tips::error(err);
    done(0);
}

void ProgressForm::showSuccess(QString tipsStr) {
    if (ended) {
        return;
    }
    if (!tipsStr.isEmpty()) {
        Tips::info(tipsStr);
    }
    done(1);
}

void ProgressForm::onFinish(int result) {
    ended = true;
    rejected = (result == 0);
}

void ProgressForm::tipsWait(QString info) {
    Tips::info(info);
    tipsWaiting = false;
}

void ProgressForm::cancel() {
    askingCancel = true;
    if (finishing) {
        // The worker is already making its work final: there is nothing left to cancel.
        askingCancel = false;
        return;
    }
    if (!Tips::question(tr("Are You Sure You Want To Cancel?"))) {
        askingCancel = false;
        return;
    }
    emit userCacel();
    done(0);
    askingCancel = false;
}

bool ProgressForm::cancelConfirmed() {
    // Set before the question is looked at, and looked at by cancel() after it sets its own
    // flag: one of the two always sees the other.
    finishing = true;
    while (askingCancel) {
        QThread::msleep(10);
    }
    return rejected;
}

void ProgressForm::setCancelBtnText(QString text) {
    form->btnCancel->setText(text);
}
