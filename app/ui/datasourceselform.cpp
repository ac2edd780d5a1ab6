#include "datasourceselform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "ui/fieldnames.h"

void Ui_DataSourceSelForm::setupUi(QDialog* DataSourceSelForm) {
    if (DataSourceSelForm->objectName().isEmpty()) {
        DataSourceSelForm->setObjectName(QStringLiteral("DataSourceSelForm"));
    }
    DataSourceSelForm->resize(421, 152);
    DataSourceSelForm->setMinimumSize(QSize(421, 152));
    DataSourceSelForm->setMaximumSize(QSize(421, 152));
    lbSelDevice = new QLabel(DataSourceSelForm);
    lbSelDevice->setObjectName(QStringLiteral("lbSelDevice"));
    lbSelDevice->setGeometry(QRect(10, 20, 401, 16));
    cbDevice = new QComboBox(DataSourceSelForm);
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    cbDevice->setGeometry(QRect(10, 50, 401, 22));
    layoutWidget = new QWidget(DataSourceSelForm);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    layoutWidget->setGeometry(QRect(100, 110, 211, 25));
    horizontalLayout = new QHBoxLayout(layoutWidget);
    horizontalLayout->setSpacing(6);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    btnOK = new QPushButton(layoutWidget);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    horizontalLayout->addWidget(btnOK);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnClose = new QPushButton(layoutWidget);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    horizontalLayout->addWidget(btnClose);

    retranslateUi(DataSourceSelForm);
    QObject::connect(btnClose, SIGNAL(pressed()), DataSourceSelForm, SLOT(reject()));
    QMetaObject::connectSlotsByName(DataSourceSelForm);
}

void Ui_DataSourceSelForm::retranslateUi(QDialog* DataSourceSelForm) {
    // The caller's question (execSel) replaces this heading.
    const QString heading =
        QCoreApplication::translate("DataSourceSelForm", "IDS_SELECT_IOS_TO_TRANSFER");
    DataSourceSelForm->setWindowTitle(heading);
    g_nameField(cbDevice, heading);
    lbSelDevice->setText(QString());
    btnOK->setText(QCoreApplication::translate("DataSourceSelForm", "Confirm"));
    btnClose->setText(QCoreApplication::translate("DataSourceSelForm", "Cancel"));
}

DataSourceSelForm::DataSourceSelForm(QWidget* parent)
    : QDialog(parent), movable(this), form(new Ui_DataSourceSelForm) {
    form->setupUi(this);
    applyDialogLook(this);
    connect(form->btnOK, SIGNAL(pressed()), this, SLOT(onBtnOkPressed()));
}

DataSourceSelForm::~DataSourceSelForm() {
    delete form;
}

void* DataSourceSelForm::execSel(QString label, QList<_SelItem> items) {
    form->lbSelDevice->setText(label);
    setWindowTitle(label);
    g_nameField(form->cbDevice, label);
    for (const _SelItem& item : items) {
        form->cbDevice->addItem(QIcon(item.icon), item.text,
                                QVariant::fromValue<qulonglong>(static_cast<qulonglong>(
                                    reinterpret_cast<quintptr>(item.data))));
    }
    if (exec() != 1) {
        return nullptr;
    }
    const qulonglong value = form->cbDevice->currentData(Qt::UserRole).toULongLong();
    return reinterpret_cast<void*>(static_cast<quintptr>(value));
}

void DataSourceSelForm::onBtnOkPressed() {
    if (form->cbDevice->currentIndex() != -1) {
        accept();
        return;
    }
    Tips::warning(tr("IDS_PLEASE_SELECT_ONE_DATASOURCE"));
}
