// The contact edit widget: loading a contact, the single editors, picking a photo.
#include <gtest/gtest.h>

#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>

#include "editor/contacteditor.h"
#include "editor_test_util.h"

TEST(ContactEditor, EmptyFormGivesEmptyEntities) {
    ContactEditor ed;
    ed.fillContact(nullptr);
    const pim::Entity name = ed.nameEdit.toEntity();
    EXPECT_EQ(name._id, 0u);
    EXPECT_TRUE(name.srcId.isEmpty());
    EXPECT_EQ(name.fields.keys(),
              (QStringList{"data1", "data2", "data3", "data4", "data5", "data6"}));
    EXPECT_EQ(name.fields["data1"].toString(), "");
    const pim::Entity nick = ed.nicknameEdit.toEntity();
    EXPECT_EQ(nick.fields["data2"], QVariant(1));
    EXPECT_EQ(nick.fields["data1"].toString(), "");
    const pim::Entity photo = ed.photoEdit.toEntity();
    EXPECT_TRUE(photo.fields["data15"].toByteArray().isEmpty());
    EXPECT_EQ(photo.fields["data4"].toString(), pim::Entity::photoHash(QByteArray()));
    EXPECT_EQ(ed.photoEdit.photoLabel->pixmap(Qt::ReturnByValue).width(), 64);
    EXPECT_EQ(ed.nameEdit.firstName->placeholderText(), "First Name");

    // The header follows the editor's width, less the side margins.
    ed.show();
    ed.resize(400, 300);
    EXPECT_EQ(ed.headerWidget->minimumWidth(), 360);
    ed.resize(30, 300);
    EXPECT_EQ(ed.headerWidget->minimumWidth(), 0);
}

TEST(ContactEditor, LoadsFirstOfSingleKindsAndTrimsBack) {
    pim::_Contact c(9, "c9", "Dr Ann Lee");
    c.entities[pim::ENTITY_NAME]
        << ent({{"data5", "Dr"}, {"data2", "Ann"}, {"data3", "Lee"}, {"data7", "an"}}, 1, "n1")
        << ent({{"data2", "Other"}}, 2, "n2");
    c.entities[pim::ENTITY_NICKNAME] << ent({{"data1", "Annie"}}, 3) << ent({{"data1", "X"}}, 4);
    c.entities[pim::ENTITY_ORG] << ent({{"data1", "Acme"}, {"data2", "1"}, {"data6", "z"}}, 5);
    c.entities[pim::ENTITY_NOTES] << ent({{"data1", "<b>x</b>\nline"}}, 6) << ent({}, 7);
    c.entities[pim::ENTITY_PHONE] << ent({{"data1", "555"}, {"data2", "2"}}, 8);
    c.entities[pim::ENTITY_EVENT] << ent({{"data1", "2001-02-03"}, {"data2", 3}}, 9)
                                  << ent({{"data1", "garbage"}, {"data2", 1}}, 10);
    c.entities[pim::ENTITY_IM] << ent({{"data1", "im"}, {"data5", 4}}, 11);
    c.entities[pim::ENTITY_ADDR] << ent({{"data4", "St"}}, 12);
    c.entities[pim::ENTITY_URL] << ent({{"data1", "u"}}, 13);
    c.entities[pim::ENTITY_REL] << ent({{"data1", "r"}, {"data2", "x"}}, 14);
    c.entities[pim::ENTITY_EMAIL] << ent({{"data1", "e"}}, 15);
    c.entities[pim::ENTITY_GROUP] << ent({{"data1", "1"}}, 16);

    ContactEditor ed;
    ed.fillContact(&c);
    EXPECT_EQ(ed.nameEdit.id, 1u);
    EXPECT_EQ(ed.nameEdit.srcId, "n1");
    EXPECT_EQ(ed.nameEdit.firstName->text(), "Ann");
    EXPECT_EQ(ed.nicknameEdit.id, 3u);
    EXPECT_EQ(ed.orgEdit.company->text(), "Acme");
    EXPECT_EQ(ed.notesEdit.id, 6u);
    EXPECT_EQ(ed.notesEdit.notes->toPlainText(), "<b>x</b>\nline");  // shown literally
    EXPECT_EQ(ed.phoneEditor->rows().size(), 1);
    EXPECT_EQ(ed.phoneEditor->rows()[0].cbType->currentText(), "Mobile");
    EXPECT_EQ(ed.eventEditor->rows().size(), 2);
    EXPECT_EQ(ed.imEditor->rows().size(), 1);
    EXPECT_EQ(ed.addrEditor->rows().size(), 1);
    EXPECT_EQ(ed.urlEditor->rows().size(), 1);
    EXPECT_EQ(ed.relEditor->rows()[0].cbType->currentText(), "Other");  // "x" reads as 0
    EXPECT_EQ(ed.emailEditor->rows().size(), 1);
    // No stored photo: the sub-editor keeps no id.
    EXPECT_EQ(ed.photoEdit.id, 0u);

    ed.nameEdit.middleName->setText("  Q  ");
    ed.orgEdit.jobTitle->setText("   ");
    const pim::Entity name = ed.nameEdit.toEntity();
    EXPECT_EQ(name.fields["data4"].toString(), "Q");
    EXPECT_EQ(name.fields["data1"].toString(), "Dr Ann Q Lee");
    EXPECT_FALSE(name.fields.contains("data7"));
    const pim::Entity org = ed.orgEdit.toEntity();
    EXPECT_EQ(org._id, 5u);
    EXPECT_EQ(org.fields.keys(), (QStringList{"data1", "data4", "data5"}));
    EXPECT_EQ(org.fields["data4"].toString(), "");
    EXPECT_EQ(ed.notesEdit.toEntity().fields["data1"].toString(), "<b>x</b>\nline");

    const QList<pim::Entity> dates = ed.eventEditor->toEntityList("data2", "data3", "data1");
    EXPECT_EQ(dates[0].fields["data1"].toString(), "2001-02-03T00:00:00");
    // An unreadable date shows 2000-01-01 but is not overwritten with it.
    EXPECT_EQ(ed.eventEditor->rows()[1].dteValue->date(), QDate(2000, 1, 1));
    EXPECT_EQ(dates[1].fields["data1"].toString(), "garbage");
}

TEST(ContactEditor, PhotoLoadDeleteAndPick) {
    const QByteArray stored = imageBytes(128, 128, "PNG", Qt::blue);
    pim::_Contact c;
    c.entities[pim::ENTITY_PHOTO] << ent({{"data15", stored}}, 21, "p21");
    ContactEditor ed;
    ed.fillContact(&c);
    EXPECT_EQ(ed.photoEdit.photoData, stored);
    EXPECT_EQ(ed.photoEdit.id, 21u);

    // "Delete Photo" (a click on its link) keeps the id so that a new picture replaces the
    // stored one.
    ed.resize(400, 600);
    ed.show();
    QLabel* link = ed.deletePhotoLabel;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ed));
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, link->rect().center());
    EXPECT_TRUE(ed.photoEdit.photoData.isEmpty());
    EXPECT_EQ(ed.photoEdit.id, 21u);
    EXPECT_EQ(ed.photoEdit.srcId, "p21");

    QTemporaryDir dir;
    const QString png = dir.filePath("pick.png");
    {
        QFile f(png);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(imageBytes(100, 50, "PNG"));
    }
    FileChooser chooser(png);
    QTest::mousePress(ed.photoEdit.photoLabel, Qt::RightButton);
    EXPECT_TRUE(chooser.asked.isEmpty());
    QTest::mousePress(ed.photoEdit.photoLabel, Qt::LeftButton);
    ASSERT_EQ(chooser.asked, QStringList{"Images (*.png *.jpg)"});
    EXPECT_FALSE(chooser.saves.first());
    QImage picked;
    ASSERT_TRUE(picked.loadFromData(ed.photoEdit.photoData, "JPEG"));  // stored as JPEG
    EXPECT_EQ(picked.size(), QSize(320, 160));
    EXPECT_EQ(ed.photoEdit.photoLabel->pixmap(Qt::ReturnByValue).size(), QSize(64, 32));
    const pim::Entity e = ed.photoEdit.toEntity();
    EXPECT_EQ(e._id, 21u);
    EXPECT_EQ(e.fields["data4"].toString(), pim::Entity::photoHash(ed.photoEdit.photoData));

    // A file that is no image changes nothing.
    const QByteArray before = ed.photoEdit.photoData;
    const QString junk = dir.filePath("junk.jpg");
    {
        QFile f(junk);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("junk");
    }
    chooser.answer = junk;
    QTest::mousePress(ed.photoEdit.photoLabel, Qt::LeftButton);
    EXPECT_EQ(ed.photoEdit.photoData, before);

    // Undecodable stored bytes are kept as loaded.
    ContactEditor ed2;
    pim::_Contact c2;
    c2.entities[pim::ENTITY_PHOTO] << ent({{"data15", QByteArray("\0raw", 4)}}, 3);
    ed2.fillContact(&c2);
    EXPECT_EQ(ed2.photoEdit.toEntity().fields["data15"].toByteArray(), QByteArray("\0raw", 4));
}
