// The display pane built for real contacts: header, sections, photo and its saving.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include "editor/contactdisplayer.h"
#include "editor/photoimage.h"
#include "editor_test_util.h"

namespace {

QLabel* photoLabel(ContactDisplayer& pane) {
    for (QLabel* l : pane.contentWidget()->findChildren<QLabel*>())
        if (l->accessibleName() == QLatin1String("imgPhoto"))
            return l;
    return nullptr;
}

// Texts of all labels of the content in creation order, the photo left out.
QStringList labelTexts(ContactDisplayer& pane) {
    QStringList texts;
    for (QLabel* l : pane.contentWidget()->findChildren<QLabel*>())
        if (l->accessibleName() != QLatin1String("imgPhoto"))
            texts << l->text();
    return texts;
}

pim::_Contact fullContact() {
    pim::_Contact c(7, QString(), QStringLiteral("Ann Lee"));
    c.entities[pim::ENTITY_NAME] << ent({{"data2", "Ann"}, {"data3", "Lee"}});
    c.entities[pim::ENTITY_NICKNAME] << ent({{"data1", "Annie"}}) << ent({{"data1", "Second"}});
    c.entities[pim::ENTITY_ORG] << ent({{"data4", "CTO"}, {"data5", "Lab"}, {"data1", "Acme"}})
                                << ent({{"data1", "Other Co"}, {"data2", 1}})
                                << ent({{"data4", "Advisor"}});
    c.entities[pim::ENTITY_PHONE] << ent({{"data1", "555"}, {"data2", 2}})
                                  << ent({{"data1", "777"}, {"data3", "Boat"}});
    c.entities[pim::ENTITY_EMAIL] << ent({{"data1", "<a@b>"}, {"data2", 1}});
    c.entities[pim::ENTITY_IM] << ent({{"data1", "ann"}, {"data2", 2}, {"data5", 5}});
    c.entities[pim::ENTITY_ADDR] << ent({{"data2", 1}, {"data4", "1 <Main> St"}});
    c.entities[pim::ENTITY_URL] << ent({{"data1", "http://a"}, {"data2", 1}});
    c.entities[pim::ENTITY_NOTES] << ent({{"data1", "<b>not bold</b>"}});
    c.entities[pim::ENTITY_GROUP] << ent({{"data1", "3"}, {"data2", "Friends"}});
    c.entities[pim::ENTITY_REL];  // present but empty: no section
    return c;
}

}  // namespace

TEST(ContactDisplayer, BuildsHeaderAndSectionsInOrder) {
    ContactDisplayer pane;
    pane.resize(400, 300);
    pane.show();
    const pim::_Contact c = fullContact();
    pane.showContact(&c);

    const QStringList texts = labelTexts(pane);
    const QStringList expected{
        "Ann Lee\n\"Annie\"\nCTO - Lab\nAcme",
        "Phone:",
        "Mobile:555",
        "Boat:777",
        "E-Mail:",
        "Home:<a@b>",
        "IM:",
        "Work:ann(QQ)",
        "Organization:",
        "Work:Other Co",
        "Other:Advisor",
        "Address:",
        "<b>Home</b><br/>1 &lt;Main&gt; St",
        "Website:",
        "Home page:http://a",
        "Notes:",
        "<b>not bold</b>",
    };
    EXPECT_EQ(texts, expected);
    // Data shows as typed; only the address line is rich text.
    for (QLabel* l : pane.contentWidget()->findChildren<QLabel*>()) {
        if (l->text().startsWith(QLatin1String("<b>Home"))) {
            EXPECT_EQ(l->textFormat(), Qt::RichText);
        } else if (l->text() == QLatin1String("<b>not bold</b>") || l->text().startsWith("Ann")) {
            EXPECT_EQ(l->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_EQ(pane.contentWidget()->width(), pane.viewport()->width());
    EXPECT_EQ(pane.verticalScrollBar()->value(), 0);
    EXPECT_EQ(pane.shownContact(), c);

    // Resizing follows the pane's width (its viewport's, so that no line hides under the
    // scroll bar) and keeps the content's height.
    const int h = pane.contentWidget()->height();
    pane.resize(520, 300);
    EXPECT_EQ(pane.contentWidget()->width(), pane.viewport()->width());
    EXPECT_EQ(pane.contentWidget()->height(), h);

    pane.clear();
    flushDeletes();
    EXPECT_TRUE(labelTexts(pane).isEmpty());
    EXPECT_EQ(pane.contentWidget()->layout(), nullptr);
}

TEST(ContactDisplayer, NameOnlyAndNameBlockVariants) {
    ContactDisplayer pane;
    pim::_Contact c(1, QString(), QStringLiteral("Solo"));
    pane.showContact(&c);
    EXPECT_EQ(labelTexts(pane), QStringList{"Solo"});
    ASSERT_NE(photoLabel(pane), nullptr);
    EXPECT_FALSE(photoLabel(pane)->pixmap(Qt::ReturnByValue).isNull());  // the placeholder
    EXPECT_EQ(photoLabel(pane)->cursor().shape(), Qt::ArrowCursor);

    // Empty nickname adds nothing; a department without job title joins the line before.
    c.entities[pim::ENTITY_NICKNAME] << ent({{"data1", ""}});
    c.entities[pim::ENTITY_ORG] << ent({{"data5", "Ops"}, {"data1", "Acme"}});
    pane.showContact(&c);
    EXPECT_EQ(labelTexts(pane), QStringList{"Solo - Ops\nAcme"});

    // The pane keeps its own copy: the caller's contact may go away.
    {
        auto gone = std::make_unique<pim::_Contact>(c);
        pane.showContact(gone.get());
    }
    EXPECT_EQ(pane.shownContact().fullName, QStringLiteral("Solo"));
    pane.showContact(nullptr);
    EXPECT_TRUE(labelTexts(pane).isEmpty());
}

TEST(ContactDisplayer, PhotoShowsAndSavesItsBytes) {
    const QByteArray png = imageBytes(256, 128, "PNG");
    pim::_Contact c(2, QString(), QStringLiteral("Pic Owner"));
    c.entities[pim::ENTITY_PHOTO] << ent({{"data15", png}});
    ContactDisplayer pane;
    pane.showContact(&c);
    QLabel* photo = photoLabel(pane);
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->pixmap(Qt::ReturnByValue).size(), QSize(128, 64));
    EXPECT_EQ(photo->size(), QSize(128, 128));
    EXPECT_EQ(photo->cursor().shape(), Qt::PointingHandCursor);

    QTemporaryDir dir;
    const QString target = dir.filePath("photo.jpg");
    FileChooser chooser(target);
    BoxRecorder boxes;

    // Other buttons do nothing.
    QTest::mousePress(photo, Qt::RightButton);
    QTest::mousePress(photo, Qt::MiddleButton);
    EXPECT_TRUE(chooser.asked.isEmpty());

    QTest::mousePress(photo, Qt::LeftButton);
    ASSERT_EQ(chooser.asked.size(), 1);
    EXPECT_TRUE(chooser.saves.first());
    EXPECT_EQ(chooser.asked.first(), QDir(QDir::homePath()).absoluteFilePath("Pic Owner.jpg"));
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), png);  // written unchanged, not re-encoded
    EXPECT_TRUE(boxes.texts.isEmpty());

    // Cancelling writes nothing.
    chooser.answer.clear();
    QTest::mousePress(photo, Qt::LeftButton);
    EXPECT_EQ(chooser.asked.size(), 2);

    // A name with "/" proposes a file in the home folder itself.
    pim::_Contact slashed = c;
    slashed.fullName = QStringLiteral("AC/DC ../x");
    pane.showContact(&slashed);
    QTest::mousePress(photoLabel(pane), Qt::LeftButton);
    ASSERT_EQ(chooser.asked.size(), 3);
    EXPECT_EQ(chooser.asked.last(), QDir(QDir::homePath()).absoluteFilePath("AC_DC .._x.jpg"));
    pane.showContact(&c);
    photo = photoLabel(pane);
    EXPECT_TRUE(boxes.texts.isEmpty());

    // A file that cannot be written gives one warning.
    chooser.answer = dir.filePath("missing-folder/photo.jpg");
    QTest::mousePress(photo, Qt::LeftButton);
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.icons.first(), QMessageBox::Warning);
    EXPECT_FALSE(QFile::exists(chooser.answer));
}

TEST(ContactDisplayer, UndecodablePhotoIsPlaceholderAndInert) {
    pim::_Contact c(3, QString(), QString());
    c.entities[pim::ENTITY_PHOTO] << ent({{"data15", QByteArray("not an image")}});
    ContactDisplayer pane;
    pane.showContact(&c);
    QLabel* photo = photoLabel(pane);
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->pixmap(Qt::ReturnByValue).size(),
              QSize(128, 128));  // the placeholder, unscaled
    EXPECT_EQ(photo->cursor().shape(), Qt::ArrowCursor);
    FileChooser chooser(QStringLiteral("/tmp/never"));
    QTest::mousePress(photo, Qt::LeftButton);
    EXPECT_TRUE(chooser.asked.isEmpty());

    // A JPEG photo of an unnamed contact proposes ".jpg" in the home folder.
    c.entities[pim::ENTITY_PHOTO].first().fields["data15"] = imageBytes(40, 40, "JPEG");
    pane.showContact(&c);
    chooser.answer.clear();
    QTest::mousePress(photoLabel(pane), Qt::LeftButton);
    ASSERT_EQ(chooser.asked.size(), 1);
    EXPECT_EQ(chooser.asked.first(), QDir(QDir::homePath()).absoluteFilePath(".jpg"));
}

TEST(ContactDisplayer, ShowingAgainScrollsBackToTheTop) {
    pim::_Contact c(8, QString(), QStringLiteral("Long"));
    for (int i = 0; i < 40; ++i)
        c.entities[pim::ENTITY_PHONE] << ent({{"data1", QString::number(i)}, {"data2", 1}});
    ContactDisplayer pane;
    pane.resize(300, 200);
    pane.show();
    pane.showContact(&c);
    QScrollBar* bar = pane.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    ASSERT_GT(bar->value(), 0);
    pane.showContact(&c);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(pane.contentWidget()->y(), 0);
}

TEST(ContactDisplayer, OversizedPictureIsRefused) {
    // A small file that claims far more pixels than a photo has (1 bit per pixel keeps the
    // test light) is treated like an undecodable one, by the pane and the edit widget alike.
    QImage huge(10000, 10000, QImage::Format_Mono);
    huge.fill(0);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(huge.save(&buf, "PNG"));
    ASSERT_LT(bytes.size(), 1024 * 1024);
    EXPECT_TRUE(g_decodePhoto(bytes).isNull());
    EXPECT_FALSE(g_decodePhoto(imageBytes(400, 300, "PNG")).isNull());

    pim::_Contact c(4, QString(), QStringLiteral("Huge"));
    c.entities[pim::ENTITY_PHOTO] << ent({{"data15", bytes}});
    ContactDisplayer pane;
    pane.showContact(&c);
    ASSERT_NE(photoLabel(pane), nullptr);
    EXPECT_EQ(photoLabel(pane)->cursor().shape(), Qt::ArrowCursor);

    QTemporaryDir dir;
    const QString path = dir.filePath("huge.png");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    EXPECT_TRUE(g_loadPhotoFile(path).isNull());
}
