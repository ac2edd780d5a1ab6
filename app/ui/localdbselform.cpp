#include "localdbselform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "store/localdb.h"
#include "ui/fieldnames.h"

void Ui_LocalDbSelForm::setupUi(QDialog* LocalDbSelForm) {
    if (LocalDbSelForm->objectName().isEmpty()) {
        LocalDbSelForm->setObjectName(QStringLiteral("LocalDbSelForm"));
    }
    LocalDbSelForm->resize(423, 156);
    LocalDbSelForm->setMinimumSize(QSize(423, 156));
    LocalDbSelForm->setMaximumSize(QSize(423, 156));
    label = new QLabel(LocalDbSelForm);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(10, 20, 401, 16));
    cbLocalDbNames = new QComboBox(LocalDbSelForm);
    cbLocalDbNames->setObjectName(QStringLiteral("cbLocalDbNames"));
    cbLocalDbNames->setGeometry(QRect(10, 40, 401, 22));
    cbLocalDbNames->setEditable(true);
    layoutWidget = new QWidget(LocalDbSelForm);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    layoutWidget->setGeometry(QRect(100, 120, 211, 25));
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

    retranslateUi(LocalDbSelForm);
    QObject::connect(btnClose, SIGNAL(pressed()), LocalDbSelForm, SLOT(reject()));
    QMetaObject::connectSlotsByName(LocalDbSelForm);
}

void Ui_LocalDbSelForm::retranslateUi(QDialog* LocalDbSelForm) {
    LocalDbSelForm->setWindowTitle(
        QCoreApplication::translate("LocalDbSelForm", "Select one Database for backup"));
    label->setText(QCoreApplication::translate(
        "LocalDbSelForm", "Select current database to merge or enter a new database name:"));
    g_nameField(cbLocalDbNames, label->text());
    cbLocalDbNames->setToolTip(QCoreApplication::translate(
        "LocalDbSelForm",
        "Selecting current Database will merge contacts;entering new DB name will create a new "
        "Database."));
    btnOK->setText(QCoreApplication::translate("LocalDbSelForm", "Confirm"));
    btnClose->setText(QCoreApplication::translate("LocalDbSelForm", "Cancel"));
}

LocalDbSelForm::LocalDbSelForm(QWidget* parent, QString defaultName)
    : QDialog(parent), movable(this), form(new Ui_LocalDbSelForm) {
    form->setupUi(this);
    applyDialogLook(this);
    connect(form->btnOK, SIGNAL(pressed()), this, SLOT(onBtnOkPress()));

    form->cbLocalDbNames->addItem(QString());
    const QFileInfoList files = LocalDb::dbDir().entryInfoList(
        QStringList() << QStringLiteral("*.db"), QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& file : files) {
        form->cbLocalDbNames->addItem(file.fileName());
    }
    form->cbLocalDbNames->setCurrentIndex(-1);
    if (!defaultName.isEmpty()) {
        form->cbLocalDbNames->setEditText(defaultName);
    }
}

LocalDbSelForm::~LocalDbSelForm() {
    delete form;
}

QString LocalDbSelForm::execGetDbName() {
    if (exec() != 1 || chosenName.isEmpty()) {
        return QString();
    }
    QString name = chosenName;
    if (!name.endsWith(QLatin1String(".db"))) {
        name += QLatin1String(".db");
    }
    return name;
}

void LocalDbSelForm::onBtnOkPress() {
    chosenName = form->cbLocalDbNames->currentText();
    if (chosenName.trimmed().isEmpty()) {
        Tips::warning(tr("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME"));
        return;
    }
    static const QString kForbidden = QStringLiteral("\\/:*?\"<>|\n\r\t");
    bool invalid = false;
    for (const QChar c : chosenName) {
        if (kForbidden.contains(c)) {
            invalid = true;
            break;
        }
    }
    // A leading dot would make a hidden file that the database lists never show.
    if (invalid || chosenName.startsWith(QLatin1Char('.'))) {
        Tips::warning(tr("IDS_INVALID_LOCALDB_NAME"));
        return;
    }
    accept();
}
