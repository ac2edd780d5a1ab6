#include "groupform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <exception>

#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "store/localdb.h"
#include "ui/fieldnames.h"

void Ui_GroupForm::setupUi(QDialog* GroupForm) {
    if (GroupForm->objectName().isEmpty()) {
        GroupForm->setObjectName(QStringLiteral("GroupForm"));
    }
    GroupForm->resize(403, 146);
    label = new QLabel(GroupForm);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(20, 10, 361, 41));
    label->setWordWrap(true);
    cbGroups = new QComboBox(GroupForm);
    cbGroups->setObjectName(QStringLiteral("cbGroups"));
    cbGroups->setGeometry(QRect(20, 60, 361, 22));
    cbGroups->setEditable(true);
    btnOK = new QPushButton(GroupForm);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(QRect(98, 104, 75, 23));
    btnCancel = new QPushButton(GroupForm);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(QRect(238, 104, 75, 23));

    retranslateUi(GroupForm);
    QObject::connect(btnCancel, SIGNAL(pressed()), GroupForm, SLOT(reject()));
    QMetaObject::connectSlotsByName(GroupForm);
}

void Ui_GroupForm::retranslateUi(QDialog* GroupForm) {
    label->setText(
        QCoreApplication::translate("GroupForm", "Pick a Group or enter new Group name;"));
    GroupForm->setWindowTitle(g_fieldName(label->text()));
    g_nameField(cbGroups, label->text());
    btnOK->setText(QCoreApplication::translate("GroupForm", "OK"));
    btnCancel->setText(QCoreApplication::translate("GroupForm", "Cancel"));
}

GroupForm::GroupForm(LocalDb* db, QWidget* parent)
    : QDialog(parent), groupId(0), movable(this), form(new Ui_GroupForm), db(db) {
    form->setupUi(this);
    applyDialogLook(this);
    connect(form->btnOK, SIGNAL(pressed()), this, SLOT(onBtnOKPressed()));

    try {
        const QList<pim::_Group> groups = db->groups();
        for (const pim::_Group& group : groups) {
            form->cbGroups->addItem(group.name, QVariant::fromValue<qulonglong>(group._id));
        }
    } catch (const std::exception& e) {
        Tips::error(QString::fromUtf8(e.what()));
        reject();
    }
}

GroupForm::~GroupForm() {
    delete form;
}

void GroupForm::onBtnOKPressed() {
    groupName = form->cbGroups->currentText().trimmed();
    groupId = 0;
    if (!groupName.isEmpty()) {
        const int index =
            form->cbGroups->findText(groupName, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0) {
            groupId = form->cbGroups->itemData(index, Qt::UserRole).toULongLong();
        }
        accept();
        return;
    }
    if (Tips::question(tr("IDS_CONFIRM_UNGROUP_CONTACTS"))) {
        accept();
    }
}
