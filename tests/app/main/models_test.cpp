// The two item models and the two workers, against real databases.
#include <gtest/gtest.h>

#include <QBuffer>

#include <QProgressBar>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>

#include "editor/contactdisplayer.h"
#include "ui/progressform.h"
#include "device/plistcftype.h"
#include "device/workers/backupcontactstolocalthread.h"
#include "device/workers/iossynctopcthread.h"
#include "testutil.h"

using namespace twtest;
using Tree = ItemModelMainTree;

namespace {

QSharedPointer<LocalDb> freshDb(const QString& name, bool device = false) {
    const QString path = LocalDb::dbDir().absoluteFilePath(name);
    QSharedPointer<AbsContactCombineRule> rule(
        device ? static_cast<AbsContactCombineRule*>(new IOSContactCombineRule)
               : static_cast<AbsContactCombineRule*>(new LocalDbCombineRule));
    QSharedPointer<LocalDb> db(new LocalDb(path, rule));
    db->create();
    return db;
}

QByteArray pngBytes() {
    QImage img(36, 36, QImage::Format_ARGB32);
    img.fill(Qt::red);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

class ModelsTest : public ::testing::Test {
protected:
    void SetUp() override {
        freshDataFolder();
        Boxes::instance().reset();
    }
};

}  // namespace

TEST_F(ModelsTest, TreeIndexesFollowNodesAfterRemovals) {
    Tree model;
    EXPECT_EQ(model.rowCount(QModelIndex()), 2);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "IDS_ROOT_DEVICE");
    EXPECT_FALSE(model.index(2, 0).isValid());
    EXPECT_FALSE(model.index(0, 1).isValid());
    EXPECT_FALSE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).isValid());

    auto* a = model.addLocalDb(QSharedPointer<LocalDb>(), "a.db");
    auto* b = model.addLocalDb(QSharedPointer<LocalDb>(), "b.db");
    new Tree::_GroupItemNode(pim::_Group(5, "Work"), b);
    const QModelIndex root = model.index(1, 0);
    const QModelIndex bi = model.index(1, 0, root);
    const QModelIndex gi = model.index(0, 0, bi);
    EXPECT_EQ(model.data(gi, Qt::ToolTipRole).toString(), "Work");
    EXPECT_EQ(model.parent(gi), bi);

    // After a removes itself, b moves to row 0: its children's parent follows.
    model.removeChild(model.localDbRoot(), a->row());
    const QModelIndex parentNow = model.parent(gi);
    EXPECT_EQ(parentNow.row(), 0);
    EXPECT_EQ(Tree::nodeOf(parentNow), b);
    EXPECT_EQ(model.indexOfItemNode(b).row(), 0);
    EXPECT_FALSE(model.indexOfItemNode(model.localDbRoot()).isValid());

    // Out-of-range removals change nothing and say nothing.
    QSignalSpy removed(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
    model.removeChild(model.localDbRoot(), -1);
    model.removeChild(model.localDbRoot(), 1);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(model.localDbRoot()->children.size(), 1);

    // Device nodes: kinds, duplicate ids, and removeDevice("") leaves local databases.
    model.addDevice(QSharedPointer<LocalDb>(), "P1", "u1", 1);
    model.addDevice(QSharedPointer<LocalDb>(), "P1b", "u1", 1);
    EXPECT_EQ(model.deviceCount(1), 2);
    EXPECT_EQ(model.deviceCount(2), 0);
    model.removeDevice("u1");
    ASSERT_EQ(model.deviceRoot()->children.size(), 1);
    EXPECT_EQ(model.deviceRoot()->children[0]->name, "P1b");
    model.removeDevice("");
    EXPECT_EQ(model.localDbRoot()->children.size(), 1);
}

TEST_F(ModelsTest, TreeGroupsComeFromTheDatabaseInNameOrder) {
    Tree model;
    QSharedPointer<LocalDb> db = freshDb("groups.db");
    db->open_check();
    db->db().executeScriptThrow(
        "INSERT INTO contact_group(name) VALUES ('b'); INSERT INTO contact_group(name) VALUES "
        "('A'); INSERT INTO contact_group(name) VALUES ('a');");
    auto* node = model.addLocalDb(db, "groups.db");
    int layouts = 0;
    QObject::connect(&model, &QAbstractItemModel::layoutChanged, [&layouts] { ++layouts; });
    model.refreshDbNodeGroups(node);
    ASSERT_EQ(node->children.size(), 3);
    EXPECT_EQ(node->children[0]->name, "A");
    EXPECT_EQ(node->children[1]->name, "a");
    EXPECT_EQ(node->children[2]->name, "b");
    EXPECT_GE(layouts, 1);

    // The node's store lives on with another holder after the node goes.
    QSharedPointer<LocalDb> other = node->db;
    model.removeChild(model.localDbRoot(), 0);
    EXPECT_EQ(other->groups().size(), 3);
}

TEST_F(ModelsTest, ContactListCellsAndCachedThumbnails) {
    ItemModelContacts model;
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "E-Mail");
    EXPECT_FALSE(model.headerData(4, Qt::Horizontal).isValid());

    pim::_Contact c = makeContact("Ann", "Lee");
    for (auto p : {std::make_pair("111", 1), std::make_pair("222", 2), std::make_pair("333", 2)}) {
        pim::Entity e;
        e.fields["data1"] = p.first;
        e.fields["data2"] = p.second;
        c.entities[pim::ENTITY_PHONE].append(e);
    }
    pim::Entity photo;
    photo.fields["data15"] = pngBytes();
    c.entities[pim::ENTITY_PHOTO].append(photo);
    pim::_Contact d = makeContact("Bo", "Ray");
    pim::Entity junk;
    junk.fields["data15"] = QByteArray("not an image");
    d.entities[pim::ENTITY_PHOTO].append(junk);
    pim::Entity onlyPhone;
    onlyPhone.fields["data1"] = "999";
    d.entities[pim::ENTITY_PHONE].append(onlyPhone);

    // A small file that claims a huge picture is refused like junk, not decoded.
    pim::_Contact huge = makeContact("Cy", "Zed");
    pim::Entity hugePhoto;
    {
        QImage img(10000, 10000, QImage::Format_Mono);
        img.fill(0);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        img.save(&buffer, "PNG");
        hugePhoto.fields["data15"] = buffer.data();
    }
    huge.entities[pim::ENTITY_PHOTO].append(hugePhoto);

    model.loadContacts({c, d, huge});
    EXPECT_EQ(model.data(model.index(2, 0), Qt::DecorationRole).value<QPixmap>().toImage(),
              model.data(model.index(1, 0), Qt::DecorationRole).value<QPixmap>().toImage());
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), "222");
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), "999");
    EXPECT_FALSE(model.data(model.index(0, 2)).isValid());
    EXPECT_EQ(model.data(model.index(0, 0), Qt::SizeHintRole).toSize(), QSize(0, 25));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::BackgroundRole).value<QBrush>().color(),
              QColor(250, 250, 250));
    EXPECT_EQ(model.data(model.index(1, 0), Qt::BackgroundRole).value<QBrush>().color(),
              QColor(255, 255, 255));
    const QPixmap pm = model.data(model.index(0, 0), Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(pm.width(), 18);
    EXPECT_FALSE(model.data(model.index(0, 1), Qt::DecorationRole).isValid());
    model.data(model.index(1, 0), Qt::DecorationRole);
    const int decodes = model.photoDecodeCount();
    for (int i = 0; i < 50; ++i) {
        model.data(model.index(0, 0), Qt::DecorationRole);
        model.data(model.index(1, 0), Qt::DecorationRole);
    }
    EXPECT_EQ(model.photoDecodeCount(), decodes);  // painted again without decoding again

    // Data never turns into markup: the pane and the tool tips escape it.
    pim::_Contact markup = makeContact("<b>Eve</b>", "<img src=x>", "<i>1</i>");
    model.loadContacts({markup});
    EXPECT_EQ(model.data(model.index(0, 1), Qt::ToolTipRole).toString(), "&lt;i&gt;1&lt;/i&gt;");
    ContactDisplayer pane;
    pane.showContact(&model.contacts()[0]);
    EXPECT_TRUE(paneText(&pane).contains("Eve"));
    EXPECT_FALSE(paneRendersMarkup(&pane, "<b>Eve"));
    EXPECT_FALSE(paneRendersMarkup(&pane, "<img"));
    model.clear();
    EXPECT_EQ(pane.shownContact().fullName, markup.fullName);  // its own copy survives
    model.loadContacts({c, d});

    // Appending keeps the addresses handed out for earlier rows.
    const void* first = model.index(0, 0).internalPointer();
    model.insertContact(makeContact("Cy", "Zed"));
    EXPECT_EQ(model.index(0, 0).internalPointer(), first);
    EXPECT_EQ(static_cast<pim::_Contact*>(model.indexOfPos(2).internalPointer())->fullName,
              "Cy Zed");
    EXPECT_FALSE(model.indexOfPos(3).isValid());
    EXPECT_FALSE(model.indexOfPos(-1).isValid());
}

TEST_F(ModelsTest, RecordWriterMapsRecordsAndAttachesEarlyChildren) {
    QSharedPointer<LocalDb> db = freshDb("mirror.db", true);
    auto rec = [](const char* kind) {
        PlistCFType r = PlistCFType::createCFDictionary();
        r.put("com.apple.syncservices.RecordEntityName", PlistCFType::createCFString(kind));
        return r;
    };
    auto owners = [](std::initializer_list<const char*> ids) {
        PlistCFType a = PlistCFType::createCFArray();
        for (const char* id : ids) {
            a.append(PlistCFType::createCFString(id));
        }
        return a;
    };
    PlistCFType batch1 = PlistCFType::createCFDictionary();
    PlistCFType early = rec("com.apple.contacts.Phone Number");
    early.put("value", PlistCFType::createCFString("555"));
    early.put("type", PlistCFType::createCFString("Mobile"));
    early.put("contact", owners({"c1"}));
    batch1.put("ph1", early);
    PlistCFType orphan = rec("com.apple.contacts.Email Address");
    orphan.put("value", PlistCFType::createCFString("x@y"));
    orphan.put("contact", owners({"nobody"}));
    batch1.put("em1", orphan);

    PlistCFType batch2 = PlistCFType::createCFDictionary();
    PlistCFType contact = rec("com.apple.contacts.Contact");
    contact.put("job title", PlistCFType::createCFString("Boss"));
    contact.put("image", PlistCFType::createCFString("not data"));
    contact.put("birthday", PlistCFType::createCFString("not a date"));
    batch2.put("c1", contact);
    PlistCFType addr = rec("com.apple.contacts.Street Address");
    addr.put("street", PlistCFType::createCFString("1 Main St"));
    addr.put("city", PlistCFType::createCFString("Springfield"));
    addr.put("type", PlistCFType::createCFString("work"));
    addr.put("contact", owners({"c1"}));
    batch2.put("ad1", addr);
    batch2.put("x1", rec("com.apple.contacts.Group"));

    db->beginEdit();
    {
        IOSSyncToPCThread::RecordWriter writer(db.data());
        writer.addBatch(batch1);
        writer.addBatch(batch2);
        EXPECT_EQ(writer.orphanCount(), 1);
    }
    db->endEdit(true);

    const QList<pim::_Contact> all = db->contacts();
    ASSERT_EQ(all.size(), 1);
    const pim::_Contact& c = all[0];
    EXPECT_EQ(c.fullName, "");
    EXPECT_EQ(c.srcId, "c1");
    ASSERT_EQ(c.entities.value(pim::ENTITY_PHONE).size(), 1);
    EXPECT_EQ(c.entities[pim::ENTITY_PHONE][0].text("data1"), "555");
    EXPECT_EQ(c.entities[pim::ENTITY_PHONE][0].text("data2"), "");  // "Mobile" is no type
    EXPECT_EQ(c.entities[pim::ENTITY_PHONE][0].srcId, "ph1");
    EXPECT_TRUE(c.entities.value(pim::ENTITY_EMAIL).isEmpty());
    const pim::Entity org = c.entities.value(pim::ENTITY_ORG).value(0);
    EXPECT_EQ(org.text("data4"), "Boss");
    EXPECT_EQ(org.text("data1"), "");
    EXPECT_EQ(org.text("data2"), "1");
    EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT).value(0).text("data1"), "");
    EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT).value(0).text("data2"), "3");
    const pim::Entity ad = c.entities.value(pim::ENTITY_ADDR).value(0);
    EXPECT_TRUE(ad.text("data1").contains("1 Main St"));
    EXPECT_TRUE(ad.text("data1").contains("Springfield"));
    EXPECT_EQ(ad.text("data2"), "2");
}

namespace {
// Runs a worker under a real progress dialog; returns the dialog's result.
int runWorker(ProgressForm& form, QThread& worker) {
    worker.start();
    const int r = form.exec();
    worker.wait();
    return r;
}
}  // namespace

TEST_F(ModelsTest, BackupWorkerCommitsMergesAndRollsBackOnFailure) {
    QSharedPointer<LocalDb> db = freshDb("backup.db");
    QList<pim::_Contact> list;
    for (int i = 0; i < 7; ++i) {
        list << makeContact("P", QString::number(i), QString::number(100 + i));
    }
    {
        ProgressForm form("backup", nullptr);
        BackupContactsToLocalThread worker(list, db.data(), &form, nullptr);
        EXPECT_EQ(runWorker(form, worker), 1);
        EXPECT_TRUE(
            Boxes::instance().contains(QMessageBox::Information, "IDS_SUC_IMPORT_7_TO_LOCALDB"));
    }
    EXPECT_EQ(db->contacts().size(), 7);
    Boxes::instance().reset();
    {
        ProgressForm form("backup", nullptr);
        BackupContactsToLocalThread worker(list.mid(0, 3) << makeContact("New", "One"), db.data(),
                                           &form, nullptr);
        EXPECT_EQ(runWorker(form, worker), 1);
        EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                               "IDS_SUC_IMPORT_1_TO_LOCALDB_3_MERGED"));
    }
    EXPECT_EQ(db->contacts().size(), 8);

    // A failure on the fifth new contact takes the first four back out.
    db->db().executeScriptThrow(
        "CREATE TRIGGER fail5 BEFORE INSERT ON contact WHEN (SELECT count(*) FROM contact) >= 12 "
        "BEGIN SELECT RAISE(ABORT, 'disk on fire'); END;");
    QList<pim::_Contact> more;
    for (int i = 0; i < 6; ++i) {
        more << makeContact("Q", QString::number(i));
    }
    Boxes::instance().reset();
    {
        ProgressForm form("backup", nullptr);
        BackupContactsToLocalThread worker(more, db.data(), &form, nullptr);
        EXPECT_EQ(runWorker(form, worker), 0);
    }
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, "disk on fire"));
    EXPECT_EQ(db->contacts().size(), 8);
}

TEST_F(ModelsTest, CancelledBackupLeavesNothingBehind) {
    QSharedPointer<LocalDb> db = freshDb("cancel.db");
    QList<pim::_Contact> list;
    for (int i = 0; i < 3000; ++i) {
        list << makeContact("C", QString::number(i), QString::number(i));
    }
    // A Cancel confirmed after a few contacts went through.
    struct CancelLater : RunReporter {
        int polls = 0;
        int reports = 0;
        bool cancelled() override { return ++polls > 40; }
        void progress(QString, int, QString) override {}
        void succeed(QString) override { ++reports; }
        void error(QString) override { ++reports; }
    } reporter;
    BackupContactsToLocalThread worker(list, db.data(), &reporter, nullptr);
    worker.start();
    worker.wait();
    EXPECT_EQ(reporter.reports, 0);
    EXPECT_TRUE(db->contacts().isEmpty());
}

// A list shown from a store's listing shows, orders, picks and hands out the very contacts a
// list of the same contacts made whole does.
TEST_F(ModelsTest, ContactListFromListingMatchesTheWholeContacts) {
    QSharedPointer<LocalDb> db = freshDb("listing.db");
    db->beginEdit();
    for (int i = 0; i < 40; ++i) {
        // Namesakes, a contact without a name, phones of several types in varied order,
        // numbers stored as integers, markup, photos good and bad.
        pim::_Contact c(0, QString(), i % 9 == 0 ? QString() : QString("Name %1").arg(i % 6));
        db->insertContactBase(c);
        for (int k = 0; k < i % 4; ++k) {
            pim::Entity phone;
            phone.fields["data1"] = QString("<b>%1-%2</b>").arg(i).arg(k);
            phone.fields["data2"] = (i + k) % 3;
            db->insertEntity(c._id, pim::ENTITY_PHONE, phone);
        }
        if (i % 3 == 0) {
            pim::Entity mail;
            mail.fields["data1"] = QString("p%1@example.org").arg(i);
            db->insertEntity(c._id, pim::ENTITY_EMAIL, mail);
        }
        if (i % 5 != 0) {
            pim::Entity adr;
            adr.fields["data4"] = QString("%1 Main St").arg(i);
            if (i % 2 == 0)
                adr.fields["data1"] = QString("%1 Main St, Town").arg(i);
            db->insertEntity(c._id, pim::ENTITY_ADDR, adr);
        }
        if (i % 4 == 1) {
            pim::Entity photo;
            photo.fields["data15"] = i % 8 == 1 ? pngBytes() : QByteArray("junk");
            db->insertEntity(c._id, pim::ENTITY_PHOTO, photo);
        }
    }
    db->endEdit(true);

    ItemModelContacts whole, flat;
    whole.setPhotoFetch(g_photoFetch(db));
    flat.setPhotoFetch(g_photoFetch(db));
    whole.loadContacts(db->contacts());
    flat.loadListing(db->listing());
    ASSERT_EQ(flat.rowCount(), 39);  // one holds no detail, and is not listed
    auto sameCells = [&](int rows) {
        for (int r = 0; r < rows; ++r) {
            for (int col = 0; col < 5; ++col) {
                for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
                    const QVariant a = whole.data(whole.index(r, col), role);
                    const QVariant b = flat.data(flat.index(r, col), role);
                    ASSERT_EQ(a, b) << r << " " << col << " " << role;
                    ASSERT_EQ(a.isValid(), b.isValid()) << r << " " << col;
                }
            }
            EXPECT_EQ(whole.data(whole.index(r, 0), Qt::DecorationRole).value<QPixmap>().toImage(),
                      flat.data(flat.index(r, 0), Qt::DecorationRole).value<QPixmap>().toImage())
                << r;
        }
    };
    sameCells(39);

    // Rows are made whole where they stay: the address handed out before is the one after.
    const void* second = flat.index(1, 0).internalPointer();
    EXPECT_EQ(flat.contactAt(1), second);
    EXPECT_EQ(*flat.contactAt(1), whole.contacts().at(1));
    EXPECT_EQ(flat.rowOf(whole.contacts().at(7)._id), 7);
    EXPECT_EQ(flat.rowOf(0), -1);

    // A contact added after the listing, then a search among the listed ones.
    whole.insertContact(makeContact("Aaron", "First"));
    flat.insertContact(makeContact("Aaron", "First"));
    EXPECT_EQ(flat.index(1, 0).internalPointer(), second);
    QSet<unsigned long long> ids;
    for (int r = whole.size() - 1; r >= 0; r -= 3)
        ids.insert(whole.contacts().at(r)._id);
    whole.keepOnly(ids);
    flat.keepOnly(ids);
    ASSERT_EQ(flat.size(), whole.size());
    // In the store's order: the added contact no longer stands at the end.
    EXPECT_GE(flat.rowOf(0), 0);
    EXPECT_LT(flat.rowOf(0), flat.size() - 1);
    sameCells(flat.size());
    EXPECT_EQ(flat.contacts(), whole.contacts());
}
