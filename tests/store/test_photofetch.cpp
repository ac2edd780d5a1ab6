// Contacts listed without their photo bytes, and reading those bytes back where they are needed.
#include "store_test_util.h"

#include "store/photofetch.h"

#include <gtest/gtest.h>

namespace {

QByteArray bytes(int n, char c) {
    return QByteArray(n, c);
}

// `n` contacts, every other one with a photo of its own bytes; returns their row ids in order.
QList<unsigned long long> fill(LocalDb& db, int n) {
    QList<unsigned long long> ids;
    db.beginEdit();
    for (int i = 0; i < n; ++i) {
        pim::_Contact c = makeContact(QStringLiteral("P%1").arg(i, 4, 10, QLatin1Char('0')));
        db.insertContactBase(c);
        pim::Entity name = makeEntity({{"data1", c.fullName}});
        db.insertEntity(c._id, pim::ENTITY_NAME, name);
        if (i % 2 == 0) {
            pim::Entity photo = makeEntity({{"data15", bytes(1000 + i, char('a' + i % 26))}});
            db.insertEntity(c._id, pim::ENTITY_PHOTO, photo);
        }
        ids << c._id;
    }
    db.endEdit(true);
    return ids;
}

const pim::Entity& photoOf(const pim::_Contact& c) {
    return c.entities[pim::ENTITY_PHOTO].first();
}

}  // namespace

TEST(PhotoFetch, ListHoldsNoBytesAndEveryReadGivesTheStoredOnes) {
    TempDb t;
    const QList<unsigned long long> ids = fill(*t.db, 200);

    QList<pim::_Contact> listed = t.db->contacts();
    ASSERT_EQ(listed.size(), 200);
    const pim::Entity& listedPhoto = photoOf(listed.at(0));
    EXPECT_FALSE(g_photoBytesHeld(listedPhoto));
    // The hash stays: merges and comparisons see the same photo.
    EXPECT_EQ(listedPhoto.fields.value("data4").toString(),
              pim::Entity::photoHash(bytes(1000, 'a')));

    // One contact, one photo, a fetch: all give the stored bytes.
    const pim::_Contact whole = t.db->contact(ids.at(4));
    EXPECT_TRUE(g_photoBytesHeld(photoOf(whole)));
    EXPECT_EQ(photoOf(whole).fields.value("data15").toByteArray(), bytes(1004, 'e'));
    EXPECT_EQ(t.db->photo(photoOf(listed.at(4))._id), bytes(1004, 'e'));
    EXPECT_EQ(g_firstPhotoBytes(listed.at(4), g_photoFetch(t.db.get())), bytes(1004, 'e'));
    // Without a fetch a listed photo has no bytes; a contact without a photo has none either.
    EXPECT_TRUE(g_firstPhotoBytes(listed.at(4), PhotoFetch()).isEmpty());
    EXPECT_TRUE(g_firstPhotoBytes(listed.at(1), g_photoFetch(t.db.get())).isEmpty());
    // A row id that is no photo reads as no bytes.
    EXPECT_TRUE(t.db->photo(listed.at(1).entities[pim::ENTITY_NAME].first()._id).isEmpty());

    // Loading a few (one by one) and many (in one pass) gives every contact its own photo.
    QList<pim::_Contact> few = listed.mid(0, 10);
    t.db->loadPhotos(few);
    QList<pim::_Contact> many = listed;
    t.db->loadPhotos(many);
    for (const QList<pim::_Contact>* list : {&few, &many}) {
        for (int i = 0; i < list->size(); ++i) {
            const pim::_Contact& c = list->at(i);
            if (i % 2 != 0) {
                EXPECT_FALSE(c.entities.contains(pim::ENTITY_PHOTO));
                continue;
            }
            EXPECT_EQ(photoOf(c).fields.value("data15").toByteArray(),
                      bytes(1000 + i, char('a' + i % 26)))
                << i;
            EXPECT_EQ(c.entities, t.db->contact(c._id).entities) << i;
        }
    }

    // A photo whose row went since the listing loads as an empty one (as a missing row reads),
    // in both ways of loading.
    t.db->removeContact(ids.at(0));
    QList<pim::_Contact> stale = listed;
    t.db->loadPhotos(stale);
    EXPECT_TRUE(g_photoBytesHeld(photoOf(stale.at(0))));
    EXPECT_TRUE(photoOf(stale.at(0)).fields.value("data15").toByteArray().isEmpty());
    pim::_Contact one = listed.at(0);
    t.db->loadPhotos(one);
    EXPECT_TRUE(photoOf(one).fields.value("data15").toByteArray().isEmpty());

    // Bytes a contact holds are never read again (an edited photo stays as edited).
    pim::_Contact edited = listed.at(2);
    edited.entities[pim::ENTITY_PHOTO].first().fields["data15"] = QByteArray("new");
    t.db->loadPhotos(edited);
    EXPECT_EQ(g_firstPhotoBytes(edited, g_photoFetch(t.db.get())), QByteArray("new"));
}

TEST(PhotoFetch, FetchOfAGoneDatabaseGivesNoBytes) {
    TempDb t;
    fill(*t.db, 3);
    QSharedPointer<LocalDb> db(
        new LocalDb(t.path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
    const QList<pim::_Contact> listed = db->contacts();
    const PhotoFetch fetch = g_photoFetch(db);
    EXPECT_EQ(g_firstPhotoBytes(listed.at(0), fetch), bytes(1000, 'a'));
    // Its own connection: it reads what the database's connection has committed, while that
    // one holds an edit open.
    db->beginEdit();
    db->removeContact(listed.at(2)._id);
    EXPECT_EQ(g_firstPhotoBytes(listed.at(2), fetch), bytes(1002, 'c'));
    db->endEdit(true);
    EXPECT_TRUE(g_firstPhotoBytes(listed.at(2), fetch).isEmpty());
    // A database that left the program gives no photos.
    db.reset();
    EXPECT_TRUE(g_firstPhotoBytes(listed.at(0), fetch).isEmpty());
    // Nor does a file that is not there.
    const PhotoFetch missing = g_photoFetch(QSharedPointer<LocalDb>(new LocalDb(
        t.dir.filePath("none.db"), QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule))));
    EXPECT_TRUE(missing(listed.at(0).entities[pim::ENTITY_PHOTO].first()).isEmpty());
}

TEST(PhotoFetch, FillEntityReadsAnyRowOfTheType) {
    TempDb t;
    fill(*t.db, 1);
    Sqlite3Cursor cur = t.db->db().queryThrow("select * from data where type=2");
    ASSERT_TRUE(cur.moveNext());
    pim::Entity e;
    t.db->fill_entity(cur, pim::ENTITY_PHOTO, e);
    EXPECT_EQ(e.fields.value("data15").toByteArray(), bytes(1000, 'a'));
    // A row read without the bytes' column leaves the photo unloaded.
    Sqlite3Cursor light = t.db->db().queryThrow("select _id,data4 from data where type=2");
    ASSERT_TRUE(light.moveNext());
    pim::Entity l;
    t.db->fill_entity(light, pim::ENTITY_PHOTO, l);
    EXPECT_FALSE(g_photoBytesHeld(l));
    EXPECT_EQ(l.fields.value("data4"), e.fields.value("data4"));
    // A type the store does not know stays without fields.
    pim::Entity unknown;
    t.db->fill_entity(cur, 99, unknown);
    EXPECT_TRUE(unknown.fields.isEmpty());
}
