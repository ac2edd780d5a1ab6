// The modal, frameless dialog in which a contact is created or edited, and the change records
// that an applied edit turns into.
#pragma once

#include <QDialog>
#include <QList>
#include <QMap>

#include "ui/winmovable.h"
#include "editor/contacteditor.h"
#include "store/combinerule.h"
#include "store/contactchange.h"
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
    // One entity that an edit adds, updates or deletes (kept in the store, so that the
    // device road needs no dialog).
    using _ChangeData = ContactChange;
    using CHANGE_ACTION = ContactChange::Action;
    static constexpr CHANGE_ACTION ACTION_ADDED = ContactChange::ACTION_ADDED;
    static constexpr CHANGE_ACTION ACTION_UPDATED = ContactChange::ACTION_UPDATED;
    static constexpr CHANGE_ACTION ACTION_DELETED = ContactChange::ACTION_DELETED;

    // contact: the contact to edit (null: an empty form). db: the database of a new contact,
    // used to refuse a name that exists already (null: no such test).
    EditContactForm(const pim::_Contact* contact, LocalDb* db, QWidget* parent = nullptr);
    ~EditContactForm() override;

    // What the accepted edit changed against the stored contact, as ordered records: the name
    // first, then additions and updates by type, then deletions by type. The rule decides which
    // entities are empty and which are unchanged (null: the local-database rule). Reads the form
    // only.
    QList<_ChangeData> getChanges(AbsContactCombineRule* rule, const pim::_Contact& stored) const;

    // Writes the records to the database in one transaction, in list order. A new contact
    // (contact._id 0) first gets its contact row, named after the added name; the contact's
    // full name follows every name record. Added entities get their new row ids in their records.
    // On failure the transaction is rolled back and the std::exception is rethrown.
    static void applyChanges(LocalDb& db, pim::_Contact& contact, QList<_ChangeData>& changes);

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
