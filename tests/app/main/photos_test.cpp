// Photos in the window: the list holds no photo bytes, yet the list, the pane, the editor, the
// backup and the file export all get the stored photo.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "app/mainwindow_form.h"
#include "store/photofetch.h"
#include "testutil.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

QByteArray png(QColor colour) {
    QImage img(40, 40, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return bytes;
}

QByteArray storedPhoto(LocalDb& db, const QString& fullName) {
    for (const pim::_Contact& c : db.contacts()) {
        if (c.fullName == fullName) {
            return g_firstPhotoBytes(db.contact(c._id), PhotoFetch());
        }
    }
    return QByteArray();
}

class PhotosTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
        pim::_Contact ann = makeContact("Ann", "Lee", "100");
        pim::Entity photo;
        photo.fields["data15"] = annPhoto;
        ann.entities[pim::ENTITY_PHOTO].append(photo);
        makeDb(LocalDb::dbDir().absoluteFilePath("family.db"), {ann, makeContact("Ben", "Lee")});
        win = std::make_unique<MainWindow>(answering);
        node = dynamic_cast<Tree::_DBItemNode*>(tree().localDbRoot()->children.value(0));
        ASSERT_NE(node, nullptr);
        win->form()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
        ASSERT_EQ(win->contactsModel().size(), 2);
    }
    void TearDown() override { win.reset(); }
    Tree& tree() { return win->treeModel(); }

    const QByteArray annPhoto = png(QColor(200, 40, 40));
    ChooserScripts choosers;
    ScriptedChoosers answering{choosers};
    std::unique_ptr<MainWindow> win;
    Tree::_DBItemNode* node = nullptr;
};

}  // namespace

TEST_F(PhotosTest, ListHoldsNoBytesButListAndPaneShowThePhoto) {
    const ItemModelContacts& model = win->contactsModel();
    const pim::_Contact& ann = model.contacts().at(0);
    ASSERT_EQ(ann.fullName, "Ann Lee");
    ASSERT_EQ(ann.entities.value(pim::ENTITY_PHOTO).size(), 1);
    EXPECT_FALSE(g_photoBytesHeld(ann.entities.value(pim::ENTITY_PHOTO).first()));

    // The thumbnail is the photo's, not the placeholder that Ben's row shows.
    const QImage annThumb =
        model.data(model.index(0, 0), Qt::DecorationRole).value<QPixmap>().toImage();
    const QImage benThumb =
        model.data(model.index(1, 0), Qt::DecorationRole).value<QPixmap>().toImage();
    EXPECT_NE(annThumb, benThumb);
    EXPECT_EQ(annThumb.pixel(9, 9), qRgb(200, 40, 40));

    // Row 0 is current after the listing: the pane shows the photo and offers to save it.
    win->form()->treeContacts->selectionModel()->select(
        win->contactsModel().indexOfPos(0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ContactDisplayer* pane = win->form()->wdContactInfo;
    ASSERT_EQ(pane->shownContact().fullName, "Ann Lee");
    QLabel* photo = nullptr;
    for (QLabel* l : pane->contentWidget()->findChildren<QLabel*>()) {
        if (l->accessibleName() == "imgPhoto")
            photo = l;
    }
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(photo->pixmap(Qt::ReturnByValue).toImage().pixel(64, 64), qRgb(200, 40, 40));
}

TEST_F(PhotosTest, EditingAListedContactKeepsItsPhoto) {
    choosers.editForm = [](EditContactForm& form) {
        form.editor()->nameEdit.lastName->setText("Leigh");
        form.form().btnSave->click();
        return form.result();
    };
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().index(0, 0)));
    EXPECT_EQ(storedPhoto(*node->db, "Ann Leigh"), annPhoto);
    EXPECT_TRUE(Boxes::instance().shown.empty()) << Boxes::instance().dump().toStdString();
}

TEST_F(PhotosTest, BackupAndFileExportCarryTheStoredPhoto) {
    // Backup of the selected row into a new database.
    choosers.dbName = [](QWidget*, const QString&) { return QStringLiteral("copy.db"); };
    win->form()->treeContacts->selectionModel()->select(
        win->contactsModel().indexOfPos(0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QMetaObject::invokeMethod(win.get(), "miFileBackup");
    LocalDb copy(LocalDb::dbDir().absoluteFilePath("copy.db"),
                 QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    EXPECT_EQ(storedPhoto(copy, "Ann Lee"), annPhoto) << Boxes::instance().dump().toStdString();

    // vCard export of the whole node.
    QTemporaryDir dir;
    const QString path = dir.filePath("all.vcf");
    choosers.saveFile = [path](QWidget*, const QString&, const QString&, QString* selected) {
        *selected = "VCard Files(*.vcf)";
        return path;
    };
    win->form()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    win->form()->treeContacts->clearSelection();
    QMetaObject::invokeMethod(win.get(), "miFileExport");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    text.replace("\r\n ", "");  // unfolded
    EXPECT_TRUE(text.contains(annPhoto.toBase64())) << text.left(400).constData();
}
