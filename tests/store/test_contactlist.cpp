// The listing of a large database, whose rows are read on one thread and made into contacts on
// others, against each contact read alone through the row-by-row reader.
#include "store_test_util.h"

#include <gtest/gtest.h>

#include <QSet>

namespace {

// Enough contacts that their rows span several batches of the listing.
constexpr int kContacts = 3000;

// Varied rows: absent, NULL and empty values, numbers stored as integers, text outside ASCII,
// photos, addresses of many columns, and contacts of one row or of many.
void fill(TempDb& t) {
    LocalDb& db = *t.db;
    db.beginBulkEdit(kContacts);
    for (int i = 0; i < kContacts; ++i) {
        const QString n = QString::number(i);
        pim::_Contact c(0, i % 7 == 0 ? QString() : "src-" + n,
                        i % 5 == 0 ? QStringLiteral("Zoë Ünal %1").arg(i % 50) : "Person " + n);
        db.insertContactBase(c);
        pim::Entity name = makeEntity({{"data1", c.fullName}, {"data2", "Given"}});
        db.insertEntity(c._id, pim::ENTITY_NAME, name);
        for (int k = 0; k < i % 4; ++k) {
            pim::Entity phone =
                makeEntity({{"data1", QString("+1 555 %1 %2").arg(i).arg(k)}, {"data2", k + 1}});
            phone.srcId = k == 1 ? QString("3/%1/%2").arg(i).arg(k) : QString();
            db.insertEntity(c._id, pim::ENTITY_PHONE, phone);
        }
        if (i % 3 == 0) {
            pim::Entity adr = makeEntity({{"data4", n + " Straße"}, {"data7", "Köln"}});
            db.insertEntity(c._id, pim::ENTITY_ADDR, adr);
        }
        if (i % 2 == 0) {
            pim::Entity photo = makeEntity({{"data15", QByteArray(100 + i % 13, char(i))}});
            db.insertEntity(c._id, pim::ENTITY_PHOTO, photo);
        }
    }
    db.endEdit(true);
    // What other writers leave: NULL and empty columns side by side, a number as an integer.
    db.db().executeThrow("update data set data3=NULL, data2=2 where type=3 and _id % 5 = 0");
    db.db().executeThrow("update data set data3='' where type=3 and _id % 5 = 1");
}

TEST(ContactList, LargeListingHoldsEachContactAsReadAlone) {
    TempDb t;
    fill(t);
    const QList<pim::_Contact> listed = t.db->contacts();
    ASSERT_EQ(listed.size(), kContacts);
    QSet<unsigned long long> seen;
    for (int i = 0; i < listed.size(); ++i) {
        const pim::_Contact& c = listed.at(i);
        if (i > 0) {
            EXPECT_FALSE(c.fullName < listed.at(i - 1).fullName) << i;
        }
        EXPECT_FALSE(seen.contains(c._id));
        seen.insert(c._id);
        pim::_Contact alone = t.db->contact(c._id);
        // Listed photos come without their bytes.
        for (pim::Entity& photo : alone.entities[pim::ENTITY_PHOTO])
            photo.fields.remove(QStringLiteral("data15"));
        if (alone.entities[pim::ENTITY_PHOTO].isEmpty())
            alone.entities.remove(pim::ENTITY_PHOTO);
        ASSERT_EQ(c, alone) << "contact " << c._id;
        ASSERT_EQ(c.srcId.isNull(), alone.srcId.isNull());
        // NULL stays a null value and empty text an empty one, key by key.
        for (auto t = c.entities.constBegin(); t != c.entities.constEnd(); ++t) {
            for (int k = 0; k < t.value().size(); ++k) {
                const pim::Entity& a = t.value().at(k);
                const pim::Entity& b = alone.entities.value(t.key()).at(k);
                ASSERT_EQ(a.fields.keys(), b.fields.keys());
                for (auto f = a.fields.constBegin(); f != a.fields.constEnd(); ++f)
                    ASSERT_EQ(f.value().toString().isNull(),
                              b.fields.value(f.key()).toString().isNull())
                        << f.key().toStdString();
            }
        }
    }
}

TEST(ContactList, LargeSearchListsExactlyTheMatchingContacts) {
    TempDb t;
    fill(t);
    for (const QString& keyword : {QStringLiteral("Zoë"), QStringLiteral("+1 555"),
                                   QStringLiteral("Straße"), QStringLiteral("nobody")}) {
        QSet<unsigned long long> ids;
        for (const pim::_Contact& c : t.db->contacts(0, keyword)) {
            EXPECT_FALSE(ids.contains(c._id));
            ids.insert(c._id);
        }
        EXPECT_EQ(ids, t.db->contactIds(0, keyword)) << keyword.toStdString();
    }
}

}  // namespace

// The listing a window shows holds the same contacts, in the same order, as the full listing:
// made whole one by one, and field by field without making them.
TEST(ContactList, FlatListingHoldsWhatTheFullListingHolds) {
    TempDb t;
    fill(t);
    for (const QString& keyword : {QString(), QStringLiteral("Zoë")}) {
        const QList<pim::_Contact> full = t.db->contacts(0, keyword);
        const ContactListing flat = t.db->listing(0, keyword);
        ASSERT_EQ(flat.size(), full.size());
        for (int i = 0; i < full.size(); ++i) {
            const pim::_Contact& c = full.at(i);
            // Equal names stand in the same order too.
            ASSERT_EQ(flat.id(i), c._id) << i;
            EXPECT_EQ(flat.fullName(i), c.fullName);
            EXPECT_EQ(flat.fullName(i).isNull(), c.fullName.isNull());
            const pim::_Contact made = flat.contact(i);
            ASSERT_EQ(made, c);
            EXPECT_EQ(made.srcId.isNull(), c.srcId.isNull());
            for (int type = pim::ENTITY_NAME; type <= pim::ENTITY_URL; ++type) {
                const QList<pim::Entity> details = c.entities.value(type);
                ASSERT_EQ(flat.detailCount(i, type), details.size());
                for (int n = 0; n < details.size(); ++n) {
                    for (int k = 1; k <= 15; ++k) {
                        const QString key = "data" + QString::number(k);
                        const QVariant want = details.at(n).fields.value(key);
                        const QVariant got = flat.field(i, type, n, key);
                        ASSERT_EQ(got, want) << i << " " << type << " " << key.toStdString();
                        ASSERT_EQ(got.isValid(), want.isValid());
                        ASSERT_EQ(got.toString().isNull(), want.toString().isNull());
                    }
                }
                EXPECT_FALSE(flat.field(i, type, details.size(), "data1").isValid());
            }
        }
    }
    EXPECT_EQ(t.db->listing(0, "nobody").size(), 0);
}

// The listing reads through a small page cache and gives the connection its own back.
TEST(ContactList, ListingLeavesThePageCacheSettingAsItWas) {
    TempDb t;
    fill(t);
    auto cacheSize = [&t] {
        Sqlite3Cursor cur = t.db->db().queryThrow("pragma cache_size");
        return cur.moveNext() ? cur.getInt64(0) : 0;
    };
    t.db->db().executeThrow("pragma cache_size=-12345");
    EXPECT_EQ(t.db->listing().size(), kContacts);
    EXPECT_EQ(cacheSize(), -12345);
    EXPECT_EQ(t.db->listing(0, "Zoë").size(), t.db->contactIds(0, "Zoë").size());
    EXPECT_EQ(cacheSize(), -12345);
}
