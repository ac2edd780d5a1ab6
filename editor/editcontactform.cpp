#include "editcontactform.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <exception>

#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "store/localdb.h"

// ---------------------------------------------------------------------------------------------
// Form

void Ui_EditContactForm::setupUi(QDialog* dialog) {
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("EditContactForm"));
    dialog->resize(500, 660);
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(5);
    verticalLayout->setContentsMargins(12, 12, 12, 12);

    lbTitle = new QLabel(dialog);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    lbTitle->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    lbTitle->setMinimumSize(QSize(0, 25));
    // The title carries a contact's name: never markup.
    lbTitle->setTextFormat(Qt::PlainText);
    verticalLayout->addWidget(lbTitle);

    wdEditContact = new ContactEditor(dialog);
    wdEditContact->setObjectName(QStringLiteral("wdEditContact"));
    verticalLayout->addWidget(wdEditContact);

    widget = new QWidget(dialog);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnSave = new QPushButton(widget);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    horizontalLayout->addWidget(btnSave);
    btnCancel = new QPushButton(widget);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    horizontalLayout->addWidget(btnCancel);
    verticalLayout->addWidget(widget);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_EditContactForm::retranslateUi(QDialog* dialog) {
    dialog->setWindowTitle(QCoreApplication::translate("EditContactForm", "新增联系人"));
    lbTitle->setText(QString());
    btnSave->setText(QCoreApplication::translate("EditContactForm", "Apply"));
    btnCancel->setText(QCoreApplication::translate("EditContactForm", "Cancel"));
}

// ---------------------------------------------------------------------------------------------
// Dialog

EditContactForm::EditContactForm(const pim::_Contact* contact, LocalDb* db_, QWidget* parent)
    : QDialog(parent), ui(new Ui_EditContactForm), db(db_), winMovable(this) {
    ui->setupUi(this);
    applyDialogLook(this);
    connect(ui->btnSave, &QPushButton::pressed, this, &EditContactForm::onBtnSavePressed);
    connect(ui->btnCancel, &QPushButton::pressed, this, &EditContactForm::onBtnCancelPressed);
    if (contact) {
        ui->wdEditContact->fillContact(contact);
        if (!contact->fullName.isEmpty())
            setWindowTitle(tr("IDS_EDIT_CONTACT_%1").arg(contact->fullName));
        else
            setWindowTitle(tr("IDS_NEW_CONTACT"));
    }
    ui->lbTitle->setText(windowTitle());
    loadedName = ui->wdEditContact->nameEdit.toEntity();
    loadedEntities = editedEntities();
}

EditContactForm::~EditContactForm() {
    delete ui;
}

void EditContactForm::onBtnSavePressed() {
    const ContactEditor::_NameEdit& name = ui->wdEditContact->nameEdit;
    if (name.firstName->text().trimmed().isEmpty() && name.lastName->text().trimmed().isEmpty()) {
        Tips::warning(tr("IDS_ENTER_FIRSTNAME_OR_LASTNAME"));
        return;
    }
    if (db) {
        const QString fullName = name.toEntity().fullName();
        unsigned long long existing = 0;
        try {
            existing = db->isContactBaseExist(fullName);
        } catch (const std::exception& e) {
            // The database could not be asked: say why and keep the edit open, nothing written.
            Tips::error(QString::fromUtf8(e.what()));
            return;
        }
        if (existing != 0) {
            Tips::warning(tr("IDS_CONTACT_NAME_%1_EXIST").arg(fullName));
            return;
        }
    }
    accept();
}

void EditContactForm::onBtnCancelPressed() {
    if (Tips::question(tr("IDS_CANCEL_EDIT_CONTACT_WILL_LOST_CHANGES_CONTINUE")))
        reject();
}

void EditContactForm::keyPressEvent(QKeyEvent* event) {
    // Escape must not throw an edit away, nor may the keypad Enter end it.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Edit diff

namespace {

const char* actionName(EditContactForm::CHANGE_ACTION a) {
    switch (a) {
        case EditContactForm::ACTION_ADDED:
            return "ACTION_ADDED";
        case EditContactForm::ACTION_UPDATED:
            return "ACTION_UPDATED";
        case EditContactForm::ACTION_DELETED:
            return "ACTION_DELETED";
    }
    return "?";
}

QByteArray local8(const pim::Entity& e, const QString& key) {
    return e.text(key).toLocal8Bit();
}

// Kinds the form shows in one single editor: only the first stored entity of each is shown.
bool isSingleEditorType(int type) {
    return type == pim::ENTITY_PHOTO || type == pim::ENTITY_NICKNAME || type == pim::ENTITY_NOTES ||
           type == pim::ENTITY_ORG;
}

// A value the user left as the form showed it goes back as stored: the form's own rendering of
// it (a date with a time, 0 for an empty type code, a note without its carriage returns, the
// date edit's 2000-01-01 for an empty or unreadable date) must not replace what is stored.
pim::Entity keepUntouched(pim::Entity edited, const pim::Entity& loaded,
                          const pim::Entity& stored) {
    for (auto it = edited.fields.begin(); it != edited.fields.end();) {
        const auto shown = loaded.fields.constFind(it.key());
        if (shown == loaded.fields.constEnd() || shown.value() != it.value()) {
            ++it;
        } else if (stored.fields.contains(it.key())) {
            it.value() = stored.fields.value(it.key());
            ++it;
        } else {
            it = edited.fields.erase(it);
        }
    }
    return edited;
}

const pim::Entity* findById(const QList<pim::Entity>& list, unsigned long long id) {
    for (const pim::Entity& e : list) {
        if (e._id == id)
            return &e;
    }
    return nullptr;
}

// An updated entity carries the stored values of the columns the form does not edit (phonetic
// names, an organisation's type, an address's country code ...), so that writing it back does
// not blank them.
pim::Entity withUneditedKeys(pim::Entity edited, const pim::Entity& stored) {
    for (auto it = stored.fields.constBegin(); it != stored.fields.constEnd(); ++it) {
        if (!edited.fields.contains(it.key()))
            edited.fields.insert(it.key(), it.value());
    }
    return edited;
}

}  // namespace

QList<EditContactForm::_ChangeData> EditContactForm::getChanges(AbsContactCombineRule* rule,
                                                                const pim::_Contact& stored) const {
    QList<_ChangeData> changes;
    const ContactEditor* ed = ui->wdEditContact;
    LocalDbCombineRule fallbackRule;
    if (!rule)
        rule = &fallbackRule;

    // The name, always first; compared on its five edited parts only.
    pim::Entity name = ed->nameEdit.toEntity();
    const QList<pim::Entity> storedNames = stored.entities.value(pim::ENTITY_NAME);
    if (!storedNames.isEmpty()) {
        name = keepUntouched(name, loadedName, storedNames.first());
        static const QStringList nameKeys{QStringLiteral("data5"), QStringLiteral("data2"),
                                          QStringLiteral("data4"), QStringLiteral("data3"),
                                          QStringLiteral("data6")};
        const pim::Entity& storedName = storedNames.first();
        if (!AbsContactCombineRule::isEntityEqual(name, storedName, nameKeys)) {
            // The record must describe the stored row it replaces.
            pim::Entity updated = withUneditedKeys(name, storedName);
            updated._id = storedName._id;
            updated.srcId = storedName.srcId;
            changes.append(_ChangeData(pim::ENTITY_NAME, ACTION_UPDATED, updated));
            qDebug("action=ACTION_UPDATED, type=pim::ENTITY_NAME, fullName=%s",
                   name.fullName().toLocal8Bit().constData());
        }
    } else {
        changes.append(_ChangeData(pim::ENTITY_NAME, ACTION_ADDED, name));
        qDebug("action=ACTION_ADDED, type=pim::ENTITY_NAME, fullName=%s",
               name.fullName().toLocal8Bit().constData());
    }

    const QMap<int, QList<pim::Entity>> edited = editedEntities();

    // Additions and updates.
    QSet<unsigned long long> seen;
    for (auto it = edited.constBegin(); it != edited.constEnd(); ++it) {
        const int type = it.key();
        const QStringList emptyKeys = rule->checkEmptyFields(type);
        const QStringList equalKeys = rule->checkEqualFieldsFull(type);
        const QList<pim::Entity> storedList = stored.entities.value(type);
        for (const pim::Entity& e : it.value()) {
            if (AbsContactCombineRule::isEntityEmpty(e, emptyKeys)) {
                qDebug("EditContactForm::getChanges, Empty Entity: type=%d, _id=%llu, srcId=%s",
                       type, e._id, e.srcId.toLocal8Bit().constData());
                continue;
            }
            seen.insert(e._id);
            if (e._id == 0) {
                changes.append(_ChangeData(type, ACTION_ADDED, e));
                qDebug("action=ACTION_ADDED, type=%d", type);
                continue;
            }
            for (const pim::Entity& s : storedList) {
                if (s._id != e._id)
                    continue;
                const pim::Entity* shown = findById(loadedEntities.value(type), e._id);
                // Columns the form cannot edit count as unchanged (an address's country
                // code, which the form has no box for, must not make every address differ).
                const pim::Entity merged =
                    withUneditedKeys(shown ? keepUntouched(e, *shown, s) : e, s);
                if (!AbsContactCombineRule::isEntityEqual(merged, s, equalKeys)) {
                    changes.append(_ChangeData(type, ACTION_UPDATED, merged));
                    qDebug("action=ACTION_UPDATED, type=%d {", type);
                    for (const QString& key : equalKeys) {
                        const QByteArray k = key.toLocal8Bit();
                        qDebug("%s(cur)=%s", k.constData(), local8(e, key).constData());
                        qDebug("%s(src)=%s", k.constData(), local8(s, key).constData());
                    }
                    qDebug("}");
                }
                break;
            }
        }
    }

    // Deletions: stored entities the edit no longer holds. Names and groups are not edited
    // here, and entities the form never showed (a second note, nickname, organisation or
    // photo) are kept rather than deleted unseen.
    for (auto it = stored.entities.constBegin(); it != stored.entities.constEnd(); ++it) {
        const int type = it.key();
        if (type == pim::ENTITY_NAME || type == pim::ENTITY_GROUP)
            continue;
        const QList<pim::Entity>& list = it.value();
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0 && isSingleEditorType(type))
                break;
            const pim::Entity& s = list.at(i);
            if (seen.contains(s._id))
                continue;
            changes.append(_ChangeData(type, ACTION_DELETED, s));
            qDebug("action=%s, type=%d, _id=%llu, srcId=%s", actionName(ACTION_DELETED), type,
                   s._id, s.srcId.toLocal8Bit().constData());
        }
    }
    return changes;
}

QMap<int, QList<pim::Entity>> EditContactForm::editedEntities() const {
    const ContactEditor* ed = ui->wdEditContact;
    const QString t = QStringLiteral("data2"), l = QStringLiteral("data3"),
                  v = QStringLiteral("data1");
    QMap<int, QList<pim::Entity>> edited;
    if (!ed->photoEdit.photoData.isEmpty())
        edited[pim::ENTITY_PHOTO].append(ed->photoEdit.toEntity());
    edited[pim::ENTITY_PHONE] = ed->phoneEditor->toEntityList(t, l, v);
    edited[pim::ENTITY_EMAIL] = ed->emailEditor->toEntityList(t, l, v);
    edited[pim::ENTITY_NICKNAME].append(ed->nicknameEdit.toEntity());
    edited[pim::ENTITY_EVENT] = ed->eventEditor->toEntityList(t, l, v);
    edited[pim::ENTITY_IM] = ed->imEditor->toEntityList();
    edited[pim::ENTITY_NOTES].append(ed->notesEdit.toEntity());
    edited[pim::ENTITY_ORG].append(ed->orgEdit.toEntity());
    edited[pim::ENTITY_REL] = ed->relEditor->toEntityList(t, l, v);
    edited[pim::ENTITY_ADDR] = ed->addrEditor->toEntityList();
    edited[pim::ENTITY_URL] = ed->urlEditor->toEntityList(t, l, v);
    return edited;
}
