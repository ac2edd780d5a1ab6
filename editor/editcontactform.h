// The modal, frameless dialog in which a contact is created or edited, and the change records
// that an applied edit turns into.
#pragma once

#include <QDialog>
#include <QList>
#include <QMap>

#include "ui/winmovable.h"
#include "contacteditor.h"
#include "store/combinerule.h"
#include "store/contactchanges.h"
#include "store/pim.h"

class LocalDb;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;

class Ui_EditContactForm {
public:
    QVBoxLayout* verticalLayout = nullptr;
    QLabel* lbTitle = nullptr;
    ContactEditor* wdEditContact = nullptr;
    QWidget* widget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnCancel = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class EditContactForm : public QDialog {
    Q_OBJECT
public:
    // The change records belong to the store; the form only collects them.
    using CHANGE_ACTION = contactchanges::CHANGE_ACTION;
    using _ChangeData = contactchanges::_ChangeData;
    static constexpr CHANGE_ACTION ACTION_ADDED = contactchanges::ACTION_ADDED;
    static constexpr CHANGE_ACTION ACTION_UPDATED = contactchanges::ACTION_UPDATED;
    static constexpr CHANGE_ACTION ACTION_DELETED = contactchanges::ACTION_DELETED;

    // contact: the contact to edit (null: an empty form). db: the database of a new contact,
    // used to refuse a name that exists already (null: no such test).
    EditContactForm(const pim::_Contact* contact, LocalDb* db, QWidget* parent = nullptr);
    ~EditContactForm() override;

    // What the accepted edit changed against the stored contact, as ordered records: the name
    // first, then additions and updates by type, then deletions by type. The rule decides which
    // entities are empty and which are unchanged (null: the local-database rule). Reads the form
    // only.
    QList<_ChangeData> getChanges(AbsContactCombineRule* rule, const pim::_Contact& stored) const;

    const Ui_EditContactForm& form() const { return *ui; }
    ContactEditor* editor() const { return ui->wdEditContact; }

protected slots:
    void onBtnSavePressed();
    void onBtnCancelPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The form's entities by type, as its editors give them back now (the name apart).
    QMap<int, QList<pim::Entity>> editedEntities() const;

    Ui_EditContactForm* ui;
    LocalDb* db;
    WinMovable winMovable;
    // What the editors gave back right after they were filled: a value still equal to it was
    // not touched by the user and is written back as stored.
    pim::Entity loadedName;
    QMap<int, QList<pim::Entity>> loadedEntities;
};
