// The edit dialog's checks and keys, and the change records of an edit written to a real
// database and read back.
#include <gtest/gtest.h>

#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include "editor/editcontactform.h"
#include "editor_test_util.h"

using Form = EditContactForm;

namespace {

std::string describe(const QList<Form::_ChangeData>& changes) {
    QStringList parts;
    for (const auto& c : changes)
        parts << QStringLiteral("%1/%2").arg(c.type).arg(int(c.action));
    return parts.join(' ').toStdString();
}

void press(QPushButton* b) {
    QTest::mousePress(b, Qt::LeftButton);
    QTest::mouseRelease(b, Qt::LeftButton);
}

// Builds a contact through the form, the way a user would, and stores it.
pim::_Contact createThroughForm(LocalDb& db) {
    const pim::_Contact fresh;
    Form form(&fresh, &db);
    ContactEditor* ed = form.editor();
    ed->nameEdit.prefix->setText("Dr");
    ed->nameEdit.firstName->setText(" Ann ");
    ed->nameEdit.lastName->setText("Lee");
    ed->nicknameEdit.nickname->setText("Annie");
    ed->orgEdit.company->setText("Acme");
    ed->orgEdit.jobTitle->setText("CTO");
    ed->notesEdit.notes->setPlainText("first line\n<b>second</b>");
    ed->photoEdit.setPhoto(imageBytes(32, 32, "JPEG"));
    QTest::mousePress(ed->phoneEditor->addButton(), Qt::LeftButton);
    ed->phoneEditor->rows()[0].leValue->setText("555-1");
    QTest::mousePress(ed->phoneEditor->addButton(), Qt::LeftButton);  // left empty: dropped
    QTest::mousePress(ed->emailEditor->addButton(), Qt::LeftButton);
    ed->emailEditor->rows()[0].leValue->setText("ann@example.com");
    ed->emailEditor->rows()[0].cbType->setEditText("Private");
    QTest::mousePress(ed->eventEditor->addButton(), Qt::LeftButton);
    ed->eventEditor->rows()[0].dteValue->setDate(QDate(1980, 2, 29));
    QTest::mousePress(ed->imEditor->addButton(), Qt::LeftButton);
    ed->imEditor->rows()[0].leHandle->setText("annlee");
    ed->imEditor->rows()[0].cbProtocol->setEditText("Signal");
    QTest::mousePress(ed->relEditor->addButton(), Qt::LeftButton);
    ed->relEditor->rows()[0].leValue->setText("Bob");
    QTest::mousePress(ed->addrEditor->addButton(), Qt::LeftButton);
    ed->addrEditor->rows()[0].teStreet->setPlainText("1 Main St");
    ed->addrEditor->rows()[0].leCity->setText("Springfield");
    QTest::mousePress(ed->urlEditor->addButton(), Qt::LeftButton);
    ed->urlEditor->rows()[0].leValue->setText("http://ann.example");

    QSignalSpy accepted(&form, &QDialog::accepted);
    press(form.form().btnSave);
    EXPECT_EQ(accepted.count(), 1);

    LocalDbCombineRule rule;
    QList<Form::_ChangeData> changes = form.getChanges(&rule, fresh);
    EXPECT_EQ(describe(changes), "1/1 2/1 3/1 4/1 5/1 6/1 8/1 9/1 10/1 11/1 12/1 13/1");
    for (const auto& c : changes)
        EXPECT_EQ(c.entity._id, 0u) << c.type;
    // Asking twice gives the same list.
    EXPECT_EQ(describe(form.getChanges(&rule, fresh)), describe(changes));

    pim::_Contact contact = fresh;
    g_writeChanges(db, contact, changes);
    EXPECT_NE(contact._id, 0u);
    for (const auto& c : changes)
        EXPECT_NE(c.entity._id, 0u) << c.type;  // new row ids handed back
    return db.contact(contact._id);
}

}  // namespace

TEST(EditContactForm, TitlesAndFramelessSetUp) {
    Form none(nullptr, nullptr);
    EXPECT_EQ(none.windowTitle(), "Add Contact");
    EXPECT_EQ(none.form().lbTitle->text(), "Add Contact");
    EXPECT_EQ(int(none.windowFlags()), 0x803);

    const pim::_Contact fresh;
    Form add(&fresh, nullptr);
    EXPECT_EQ(add.windowTitle(), "Add New Contact");

    const pim::_Contact stored(4, QString(), "Ann <Lee>");
    Form edit(&stored, nullptr);
    EXPECT_EQ(edit.windowTitle(), "Edit Contact Ann <Lee>");
    EXPECT_EQ(edit.form().lbTitle->text(), "Edit Contact Ann <Lee>");
    EXPECT_EQ(edit.form().lbTitle->textFormat(), Qt::PlainText);
}

TEST(EditContactForm, ApplyChecksNamesCancelAsksAndKeysAreSwallowed) {
    TempDb t;
    pim::_Contact existing(0, QString(), "Ann Lee");
    t.db->insertContactBase(existing);

    const pim::_Contact fresh;
    Form form(&fresh, t.db.get());
    QSignalSpy accepted(&form, &QDialog::accepted);
    QSignalSpy rejected(&form, &QDialog::rejected);
    ContactEditor* ed = form.editor();
    {
        BoxRecorder boxes;
        ed->nameEdit.firstName->setText("   ");
        ed->nameEdit.prefix->setText("Dr");
        ed->nameEdit.suffix->setText("Jr");
        press(form.form().btnSave);
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_EQ(boxes.icons[0], QMessageBox::Warning);
        EXPECT_EQ(boxes.texts[0], "First name or Last name can't be blank.");

        ed->nameEdit.prefix->clear();
        ed->nameEdit.suffix->clear();
        ed->nameEdit.firstName->setText("ann");
        ed->nameEdit.lastName->setText("LEE");
        press(form.form().btnSave);  // the same name in other case
        ASSERT_EQ(boxes.texts.size(), 2);
        EXPECT_EQ(boxes.texts[1], "Contact ann LEE has already existed.");
        EXPECT_EQ(accepted.count(), 0);
    }
    {
        BoxRecorder no(QMessageBox::No);
        press(form.form().btnCancel);
        EXPECT_EQ(no.texts, QStringList{"Discard the editing?"});
        EXPECT_EQ(rejected.count(), 0);
        EXPECT_EQ(ed->nameEdit.firstName->text(), "ann");
    }
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::keyClick(&form, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(rejected.count(), 0);
    EXPECT_EQ(accepted.count(), 0);
    {
        BoxRecorder yes(QMessageBox::Yes);
        press(form.form().btnCancel);
        EXPECT_EQ(rejected.count(), 1);
        EXPECT_EQ(form.result(), 0);
    }

    // A name that does not exist yet passes; no database means no duplicate test.
    Form other(&fresh, t.db.get());
    other.editor()->nameEdit.lastName->setText("Lee");
    QSignalSpy otherAccepted(&other, &QDialog::accepted);
    press(other.form().btnSave);
    EXPECT_EQ(otherAccepted.count(), 1);
    EXPECT_EQ(other.result(), 1);

    const pim::_Contact stored(existing._id, QString(), "Ann Lee");
    Form edit(&stored, nullptr);
    edit.editor()->nameEdit.firstName->setText("Ann");
    edit.editor()->nameEdit.lastName->setText("Lee");
    QSignalSpy editAccepted(&edit, &QDialog::accepted);
    press(edit.form().btnSave);
    EXPECT_EQ(editAccepted.count(), 1);
}

TEST(EditContactForm, BrokenDatabaseKeepsTheDialogOpen) {
    QTemporaryDir dir;
    LocalDb missing(dir.filePath("absent/none.db"),
                    QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    const pim::_Contact fresh;
    Form form(&fresh, &missing);
    form.editor()->nameEdit.firstName->setText("Ann");
    QSignalSpy accepted(&form, &QDialog::accepted);
    BoxRecorder boxes;
    press(form.form().btnSave);
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.icons[0], QMessageBox::Critical);
    EXPECT_EQ(accepted.count(), 0);
}

TEST(EditContactForm, NewContactRoundTripsThroughTheDatabase) {
    TempDb t;
    const pim::_Contact stored = createThroughForm(*t.db);
    EXPECT_EQ(stored.fullName, "Dr Ann Lee");
    const auto& e = stored.entities;
    EXPECT_EQ(e.value(pim::ENTITY_NAME).size(), 1);
    EXPECT_EQ(e.value(pim::ENTITY_PHONE).size(), 1);
    EXPECT_EQ(e[pim::ENTITY_PHONE][0].text("data1"), "555-1");
    EXPECT_EQ(e[pim::ENTITY_PHONE][0].text("data2"), "2");
    EXPECT_EQ(e[pim::ENTITY_EMAIL][0].text("data2"), "0");
    EXPECT_EQ(e[pim::ENTITY_EMAIL][0].text("data3"), "Private");
    EXPECT_EQ(e[pim::ENTITY_EVENT][0].text("data1"), "1980-02-29T00:00:00");
    EXPECT_EQ(e[pim::ENTITY_IM][0].text("data6"), "Signal");
    EXPECT_EQ(e[pim::ENTITY_ADDR][0].text("data1"), "1 Main St\nSpringfield");
    EXPECT_EQ(e[pim::ENTITY_NOTES][0].text("data1"), "first line\n<b>second</b>");
    EXPECT_EQ(e[pim::ENTITY_PHOTO][0].text("data4"),
              pim::Entity::photoHash(e[pim::ENTITY_PHOTO][0].fields["data15"].toByteArray()));

    // Opened again and applied untouched, under either rule: nothing changed.
    Form again(&stored, nullptr);
    LocalDbCombineRule local;
    IOSContactCombineRule device;
    EXPECT_EQ(describe(again.getChanges(&local, stored)), "");
    EXPECT_EQ(describe(again.getChanges(&device, stored)), "");
}

TEST(EditContactForm, EditsBecomeUpdatesAndDeletionsAndApply) {
    TempDb t;
    pim::_Contact stored = createThroughForm(*t.db);
    // Columns the form has no box for must survive an update.
    pim::Entity name = stored.entities[pim::ENTITY_NAME][0];
    name.fields["data7"] = "an";
    t.db->updateEntity(pim::ENTITY_NAME, name);
    pim::Entity org = stored.entities[pim::ENTITY_ORG][0];
    org.fields["data2"] = "1";
    org.fields["data6"] = "Symbol";
    t.db->updateEntity(pim::ENTITY_ORG, org);
    pim::Entity addr = stored.entities[pim::ENTITY_ADDR][0];
    addr.fields["data11"] = "us";
    t.db->updateEntity(pim::ENTITY_ADDR, addr);
    // Entities the form never shows: a second note and a group membership.
    pim::Entity secondNote = ent({{"data1", "kept"}});
    t.db->insertEntity(stored._id, pim::ENTITY_NOTES, secondNote);
    t.db->setGroup(stored._id, t.db->getGroupIdOrAdd("Friends"), "Friends");
    stored = t.db->contact(stored._id);
    ASSERT_EQ(stored.entities[pim::ENTITY_NOTES].size(), 2);

    Form form(&stored, nullptr);
    LocalDbCombineRule rule;
    ASSERT_EQ(describe(form.getChanges(&rule, stored)), "");

    ContactEditor* ed = form.editor();
    const auto phoneId = stored.entities[pim::ENTITY_PHONE][0]._id;
    const auto emailId = stored.entities[pim::ENTITY_EMAIL][0]._id;
    const auto relId = stored.entities[pim::ENTITY_REL][0]._id;
    ed->nameEdit.suffix->setText("PhD");                                      // name update
    ed->photoEdit.reset();                                                    // photo deleted
    ed->phoneEditor->rows()[0].cbType->setEditText("Work");                   // type only: update
    QTest::mousePress(ed->emailEditor->rows()[0].btnRemove, Qt::LeftButton);  // deleted
    ed->nicknameEdit.nickname->setText("  ");                                 // cleared: deleted
    ed->orgEdit.jobTitle->clear();                        // one part cleared: update
    ed->relEditor->rows()[0].leValue->setText(" ");       // value cleared: deleted
    ed->addrEditor->rows()[0].leCountry->setText("USA");  // update
    QTest::mousePress(ed->urlEditor->addButton(), Qt::LeftButton);
    ed->urlEditor->rows()[1].leValue->setText("http://second");  // added

    QList<Form::_ChangeData> changes = form.getChanges(&rule, stored);
    EXPECT_EQ(describe(changes), "1/2 3/2 10/2 12/2 13/1 2/3 4/3 5/3 11/3");
    EXPECT_EQ(changes[0].entity._id, stored.entities[pim::ENTITY_NAME][0]._id);
    EXPECT_EQ(changes[1].entity._id, phoneId);
    EXPECT_EQ(changes[6].entity._id, emailId);
    EXPECT_EQ(changes[6].entity, stored.entities[pim::ENTITY_EMAIL][0]);  // stored as it was
    EXPECT_EQ(changes[8].entity._id, relId);

    pim::_Contact working = stored;
    g_writeChanges(*t.db, working, changes);
    EXPECT_NE(changes[4].entity._id, 0u);
    const pim::_Contact after = t.db->contact(stored._id);
    EXPECT_EQ(after.fullName, "Dr Ann Lee PhD");
    EXPECT_EQ(after.entities[pim::ENTITY_NAME][0].text("data7"), "an");
    EXPECT_EQ(after.entities[pim::ENTITY_NAME][0].text("data6"), "PhD");
    EXPECT_FALSE(after.entities.contains(pim::ENTITY_PHOTO) &&
                 !after.entities[pim::ENTITY_PHOTO].isEmpty());
    EXPECT_EQ(after.entities[pim::ENTITY_PHONE][0].text("data2"), "3");
    EXPECT_TRUE(after.entities.value(pim::ENTITY_EMAIL).isEmpty());
    EXPECT_TRUE(after.entities.value(pim::ENTITY_NICKNAME).isEmpty());
    EXPECT_TRUE(after.entities.value(pim::ENTITY_REL).isEmpty());
    EXPECT_EQ(after.entities[pim::ENTITY_ORG][0].text("data4"), "");
    EXPECT_EQ(after.entities[pim::ENTITY_ORG][0].text("data1"), "Acme");
    EXPECT_EQ(after.entities[pim::ENTITY_ORG][0].text("data6"), "Symbol");
    EXPECT_EQ(after.entities[pim::ENTITY_ADDR][0].text("data11"), "us");
    EXPECT_EQ(after.entities[pim::ENTITY_ADDR][0].text("data10"), "USA");
    EXPECT_EQ(after.entities[pim::ENTITY_URL].size(), 2);
    EXPECT_EQ(after.entities[pim::ENTITY_NOTES].size(), 2);
    EXPECT_EQ(after.entities[pim::ENTITY_GROUP].size(), 1);
}

TEST(EditContactForm, PhotoReplacementAndRuleDifferences) {
    pim::_Contact stored(5, QString(), "Zed");
    stored.entities[pim::ENTITY_NAME] << ent({{"data1", "Zed"},
                                              {"data2", "Zed"},
                                              {"data3", ""},
                                              {"data4", ""},
                                              {"data5", ""},
                                              {"data6", ""}},
                                             50);
    stored.entities[pim::ENTITY_PHOTO]
        << ent({{"data15", imageBytes(8, 8, "PNG")},
                {"data4", pim::Entity::photoHash(imageBytes(8, 8, "PNG"))}},
               51, "p");
    stored.entities[pim::ENTITY_IM] << ent(
        {{"data1", "z"}, {"data2", "1"}, {"data3", ""}, {"data5", "0"}, {"data6", "OldChat"}}, 52);
    Form form(&stored, nullptr);
    form.editor()->photoEdit.reset();
    form.editor()->photoEdit.setPhoto(imageBytes(9, 9, "JPEG"));
    form.editor()->imEditor->rows()[0].cbProtocol->setEditText("NewChat");

    LocalDbCombineRule local;
    IOSContactCombineRule device;
    const auto onLocal = form.getChanges(&local, stored);
    EXPECT_EQ(describe(onLocal), "2/2 8/2");
    EXPECT_EQ(onLocal[0].entity._id, 51u);
    EXPECT_EQ(onLocal[0].entity.text("data4"), pim::Entity::photoHash(imageBytes(9, 9, "JPEG")));
    // The phone keeps a custom service by its name, so changing it is a change there too.
    EXPECT_EQ(describe(form.getChanges(&device, stored)), "2/2 8/2");

    // Only the first of two stored names is compared, and neither is deleted; a null rule
    // falls back to the local one.
    stored.entities[pim::ENTITY_NAME] << ent({{"data2", "Other"}}, 53);
    Form twoNames(&stored, nullptr);
    EXPECT_EQ(describe(twoNames.getChanges(nullptr, stored)), "");

    // A contact stored without a name entity gets one added.
    pim::_Contact nameless(6, QString(), "Nameless");
    Form add(&nameless, nullptr);
    add.editor()->nameEdit.firstName->setText("Nameless");
    const auto changes = add.getChanges(&local, nameless);
    EXPECT_EQ(describe(changes), "1/1");
}
