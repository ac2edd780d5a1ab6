#include "store_test_util.h"

#include "store/entitycolumns.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

using Map = QMap<int, QList<pim::Entity> >;

class Merge : public ::testing::Test {
protected:
    explicit Merge(AbsContactCombineRule* rule = new LocalDbCombineRule) : t(rule) {}
    Map merge(const pim::_Contact& in, bool* existedOut = nullptr,
              pim::_Contact* outOut = nullptr) {
        pim::_Contact out;
        bool existed = false;
        Map m = t.db->combineContact(in, out, existed);
        if (existedOut)
            *existedOut = existed;
        if (outOut)
            *outOut = out;
        return m;
    }
    int rows(int type) {
        return t.count(QStringLiteral("select count(*) from data where type=%1").arg(type));
    }
    int contactRows() { return t.count("select count(*) from contact"); }
    pim::_Contact stored(const QString& name) {
        return t.db->contact(t.db->isContactBaseExist(name));
    }
    TempDb t;
};

class MirrorMerge : public Merge {
protected:
    MirrorMerge() : Merge(new IOSContactCombineRule) {}
};

pim::Entity phone(const char* number, QVariant type = QVariant(), const char* label = nullptr) {
    pim::Entity e = makeEntity({{"data1", number}});
    if (type.isValid())
        e.fields["data2"] = type;
    if (label)
        e.fields["data3"] = label;
    return e;
}

TEST_F(Merge, NewContactThenDuplicateByName) {
    pim::Entity name = makeEntity({{"data1", "Ann Lee"}, {"data2", "Ann"}, {"data3", "Lee"}});
    name.srcId = "dev-name";
    pim::Entity second = makeEntity({{"data1", "Other"}});
    pim::_Contact in = makeContact("Ann Lee", {{1, name}, {1, second}, {3, phone("555", 2)}});
    bool existed = true;
    pim::_Contact out;
    Map m = merge(in, &existed, &out);
    EXPECT_FALSE(existed);
    ASSERT_EQ(m.value(1).size(), 1);
    EXPECT_EQ(m.value(1).first().srcId, "");
    EXPECT_NE(m.value(1).first()._id, 0u);
    EXPECT_EQ(m.value(3).size(), 1);
    EXPECT_EQ(m.keys(), QList<int>({1, 3}));
    EXPECT_EQ(rows(1), 1);
    EXPECT_NE(out._id, 0u);
    EXPECT_EQ(out.entities.value(3).first()._id, m.value(3).first()._id);

    // Same name in other case: merges into it; stored name, source id and name entity stay.
    pim::Entity renamed = makeEntity({{"data1", "ANN LEE"}, {"data2", "ANN"}});
    m = merge(makeContact("ann lee", {{1, renamed}, {3, phone("555", 2, "")}}), &existed, &out);
    EXPECT_TRUE(existed);
    EXPECT_TRUE(m.isEmpty());  // nothing changed
    EXPECT_EQ(contactRows(), 1);
    EXPECT_EQ(stored("Ann Lee").fullName, "Ann Lee");
    EXPECT_EQ(stored("Ann Lee").entities.value(1).first().fields.value("data1").toString(),
              "Ann Lee");
}

TEST_F(Merge, NamesMatchLiterallyNotAsPatterns) {
    merge(makeContact("Anne", {{3, phone("1")}}));
    merge(makeContact("100%", {{3, phone("2")}}));
    bool existed = true;
    merge(makeContact("Ann_", {{3, phone("3")}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact("100", {{3, phone("4")}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact("100%", {{3, phone("2")}}), &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(contactRows(), 4);
    // ASCII letters in either case; other letters, and surrounding blanks, as they are.
    merge(makeContact("aNNE", {{3, phone("1")}}), &existed);
    EXPECT_TRUE(existed);
    merge(makeContact(QString::fromUtf8("\xc3\x84rger"), {{3, phone("7")}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact(QString::fromUtf8("\xc3\xa4rger"), {{3, phone("8")}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact("Anne ", {{3, phone("9")}}), &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(contactRows(), 7);
}

TEST_F(Merge, ContactsWithoutANameAreKnownByTheirDetailsOrNeverMerged) {
    bool existed = true;
    // Known by nothing at all (only notes): two such contacts are two people.
    merge(makeContact(QString(), {{9, makeEntity({{"data1", "a"}})}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact(QString(""), {{9, makeEntity({{"data1", "b"}})}}), &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(contactRows(), 2);
    EXPECT_EQ(rows(9), 2);

    // Known by the first e-mail address, else the first number, as the phone lists them: the
    // same one again merges, another stays apart.
    merge(makeContact(QString(), {{3, phone("555 01")}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact(QString(), {{3, phone("555 02")}}), &existed);
    EXPECT_FALSE(existed);
    merge(makeContact(QString(), {{3, phone("555 01")}, {3, phone("555 09")}}), &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(contactRows(), 4);
    EXPECT_EQ(stored("555 01").entities.value(3).size(), 2);
    EXPECT_EQ(stored("555 02").entities.value(3).size(), 1);
    merge(makeContact(QString(),
                      {{4, makeEntity({{"data1", "x@example.com"}})}, {3, phone("555 01")}}),
          &existed);
    EXPECT_FALSE(existed);
    EXPECT_NE(t.db->isContactBaseExist("x@example.com"), 0u);

    // No name entity: the contact row alone, under the incoming full name.
    Map m = merge(makeContact("Nameless"));
    EXPECT_TRUE(m.isEmpty());
    EXPECT_EQ(stored("Nameless").entities.value(1).size(), 0);
}

TEST_F(Merge, PhoneMatchUpdatesLabelKeepsRow) {
    pim::_Contact out;
    merge(makeContact("P", {{3, phone("555", 1, "")}}), nullptr, &out);
    const pim::Entity first = out.entities.value(3).first();
    t.db->updateEntitySrcId(first._id, "dev-7");
    Map m = merge(makeContact("P", {{3, phone("555", 0, "Cottage")}}));
    ASSERT_EQ(m.value(3).size(), 1);
    EXPECT_EQ(m.value(3).first()._id, first._id);
    EXPECT_EQ(m.value(3).first().srcId, "dev-7");
    m = merge(makeContact("P", {{3, phone("555")}}));  // lacks data2/data3: counts as changed
    EXPECT_EQ(m.value(3).size(), 1);
    const pim::Entity now = stored("P").entities.value(3).first();
    EXPECT_EQ(rows(3), 1);
    EXPECT_EQ(now.fields.value("data2").toString(), "0");
    EXPECT_EQ(now.fields.value("data3").toString(), "Cottage");
    EXPECT_EQ(now.srcId, "dev-7");
}

TEST_F(Merge, EmptyAndIdenticalEntities) {
    Map m = merge(makeContact("E", {{3, makeEntity({{"data9", "x"}})},
                                    {4, makeEntity({{"data1", ""}, {"data2", ""}, {"data3", ""}})},
                                    {13, makeEntity({{"data1", "http://a"}})},
                                    {13, makeEntity({{"data1", "http://a"}})}}));
    EXPECT_EQ(rows(3), 0);   // none of the merge keys: ignored
    EXPECT_EQ(rows(4), 1);   // all keys present but empty: a new, empty row
    EXPECT_EQ(rows(13), 1);  // two identical: one row
    EXPECT_EQ(m.value(13).size(), 1);
}

TEST_F(Merge, SingleTypesNeverGetTwoRows) {
    pim::Entity p1 = makeEntity({{"data15", QByteArray("\0PNGone", 7)}});
    p1.fields["data4"] = pim::Entity::photoHash(p1.fields["data15"].toByteArray());
    pim::Entity p2 = makeEntity({{"data15", QByteArray("\0PNGtwo", 7)}});
    p2.fields["data4"] = pim::Entity::photoHash(p2.fields["data15"].toByteArray());
    pim::_Contact out;
    Map m = merge(makeContact("S", {{2, p1},
                                    {2, p2},
                                    {5, makeEntity({{"data1", "Al"}})},
                                    {5, makeEntity({{"data1", "Bo"}})},
                                    {10, makeEntity({{"data1", "Acme"}})},
                                    {10, makeEntity({{"data4", "CTO"}})}}),
                  nullptr, &out);
    EXPECT_EQ(rows(2), 1);
    EXPECT_EQ(rows(5), 1);
    EXPECT_EQ(rows(10), 1);
    const pim::_Contact s = stored("S");
    // A picture starting with a 0 byte is kept; the second one wins.
    EXPECT_EQ(s.entities.value(2).first().fields.value("data15").toByteArray(),
              QByteArray("\0PNGtwo", 7));
    EXPECT_EQ(s.entities.value(5).first().fields.value("data1").toString(), "Bo");
    EXPECT_EQ(s.entities.value(10).first().fields.value("data1").toString(), "Acme");
    EXPECT_EQ(s.entities.value(10).first().fields.value("data4").toString(), "CTO");
    EXPECT_EQ(out.entities.value(2).size(), 1);
    EXPECT_EQ(out.entities.value(2).first()._id, s.entities.value(2).first()._id);

    // Into a stored contact: merged into the first stored one whatever its values.
    merge(makeContact("S", {{5, makeEntity({{"data1", "Cy"}})}}));
    EXPECT_EQ(rows(5), 1);
    EXPECT_EQ(stored("S").entities.value(5).first().fields.value("data1").toString(), "Cy");
}

TEST_F(Merge, DatesCompareInOneForm) {
    const QDateTime when(QDate(1990, 5, 6), QTime(0, 0, 0, 123));
    merge(makeContact("D", {{6, makeEntity({{"data1", when}, {"data2", 3}, {"data3", ""}})}}));
    EXPECT_EQ(stored("D").entities.value(6).first().fields.value("data1").toString(),
              "1990-05-06T00:00:00");
    Map m =
        merge(makeContact("D", {{6, makeEntity({{"data1", when}, {"data2", 3}, {"data3", ""}})}}));
    EXPECT_TRUE(m.isEmpty());
    EXPECT_EQ(rows(6), 1);
}

TEST_F(Merge, GroupsInLocalDatabase) {
    const auto work = t.db->getGroupIdOrAdd("Work");
    // Each contact has a phone as well: a contact of group memberships alone is not stored.
    Map m = merge(makeContact(
        "G", {{3, phone("1", 2)}, {7, makeEntity({{"data1", "9999"}, {"data2", "work"}})}}));
    ASSERT_EQ(m.value(7).size(), 1);
    EXPECT_EQ(m.value(7).first().fields.value("data1"), QVariant(qulonglong(work)));
    merge(makeContact("H", {{3, phone("2", 2)}, {7, makeEntity({{"data2", "New_Group"}})}}));
    merge(makeContact("I", {{3, phone("3", 2)}, {7, makeEntity({{"data2", "NewXGroup"}})}}));
    EXPECT_EQ(t.db->groups().size(), 3);  // '_' is no wildcard
    merge(makeContact(
        "J",
        {{3, phone("4", 2)}, {7, makeEntity({{"data2", ""}})}, {7, makeEntity({{"data1", "5"}})}}));
    EXPECT_EQ(t.db->groups().size(), 3);  // no name: no group
    EXPECT_EQ(stored("J").entities.value(7).size(), 0);
    EXPECT_EQ(t.db->contacts(work, "").size(), 1);
}

TEST_F(Merge, FailureRollsBackTheWholeBatch) {
    t.db->open_check();
    t.db->db().executeScriptThrow(
        "create trigger boom before insert on data when new.data1='BOOM' begin select "
        "raise(abort,'refused by trigger'); end");
    t.db->beginEdit();
    merge(makeContact("A", {{3, phone("1")}}));
    merge(makeContact("B", {{3, phone("2")}}));
    try {
        merge(makeContact("C", {{3, phone("3")}, {9, makeEntity({{"data1", "BOOM"}})}}));
        FAIL() << "the merge must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("refused by trigger"), std::string::npos) << e.what();
    }
    t.db->endEdit(false);
    EXPECT_EQ(contactRows(), 0);
    EXPECT_EQ(rows(3), 0);
    // The store stays usable: the next batch commits.
    t.db->beginEdit();
    merge(makeContact("D", {{3, phone("4")}}));
    t.db->endEdit(true);
    EXPECT_EQ(contactRows(), 1);
}

TEST_F(Merge, CancelledBatchLeavesNothing) {
    t.db->beginEdit();
    for (int i = 0; i < 5; ++i)
        merge(makeContact(QString("C%1").arg(i), {{3, phone("1")}}));
    t.db->endEdit(false);
    EXPECT_EQ(contactRows(), 0);
}

TEST_F(MirrorMerge, DeviceRuleDifferences) {
    merge(makeContact("M", {{9, makeEntity({{"data1", "old note"}})},
                            {6, makeEntity({{"data1", "2000-01-01T00:00:00"}, {"data2", 3}})},
                            {8, makeEntity({{"data1", "h"}, {"data5", 1}, {"data6", "custom"}})}}));
    const auto noteId = stored("M").entities.value(9).first()._id;
    merge(makeContact("M", {{7, makeEntity({{"data2", "Friends"}})},
                            {9, makeEntity({{"data1", "new note"}})},
                            {6, makeEntity({{"data1", "2000-01-01T00:00:00"}, {"data2", 1}})}}));
    EXPECT_EQ(rows(7), 0);
    EXPECT_TRUE(t.db->groups().isEmpty());
    EXPECT_EQ(rows(9), 1);
    EXPECT_EQ(stored("M").entities.value(9).first()._id, noteId);
    EXPECT_EQ(stored("M").entities.value(9).first().fields.value("data1").toString(), "new note");
    EXPECT_EQ(rows(6), 2);
    // A custom IM service goes to the phone by name, so the mirror keeps it.
    EXPECT_EQ(stored("M").entities.value(8).first().fields.value("data6").toString(), "custom");
}

TEST_F(Merge, CombineEntityIsNotLeakedIntoIdentity) {
    // Two incoming addresses with the same text: the second matches the first, appended one.
    pim::Entity a1 = makeEntity({{"data1", "1 Road"}, {"data7", "Town"}});
    pim::Entity a2 = makeEntity({{"data1", "1 Road"}, {"data7", "City"}});
    merge(makeContact("A", {{12, a1}, {12, a2}}));
    EXPECT_EQ(rows(12), 1);
    EXPECT_EQ(stored("A").entities.value(12).first().fields.value("data7").toString(), "City");
}

}  // namespace

TEST_F(Merge, NoContactRowWithoutADetailAListShows) {
    // Only group memberships (one with an empty group name), or no details at all: nothing is
    // stored, no group is made, and a later contact of the same name gets a row of its own.
    pim::Entity member = makeEntity({{"data2", "Friends"}});
    pim::Entity unnamed = makeEntity({{"data2", ""}});
    for (const pim::_Contact& in :
         {makeContact("", {{pim::ENTITY_GROUP, member}}),
          makeContact("Zed", {{pim::ENTITY_GROUP, unnamed}}),
          makeContact("Zed", {{pim::ENTITY_NAME, makeEntity({})}}), makeContact("Zed", {})}) {
        bool existed = true;
        pim::_Contact out;
        EXPECT_TRUE(merge(in, &existed, &out).isEmpty());
        EXPECT_FALSE(existed);
        EXPECT_EQ(out._id, 0u);
    }
    EXPECT_EQ(contactRows(), 0);
    EXPECT_EQ(t.count("select count(*) from data"), 0);
    EXPECT_TRUE(t.db->groups().isEmpty());

    bool existed = true;
    merge(makeContact("Zed", {{pim::ENTITY_PHONE, phone("777", 2)}, {pim::ENTITY_GROUP, member}}),
          &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(contactRows(), 1);
    EXPECT_EQ(rows(pim::ENTITY_PHONE), 1);
    EXPECT_EQ(rows(pim::ENTITY_GROUP), 1);
    EXPECT_EQ(t.db->contacts().size(), 1);
}

// A source that leaves out the fields it has no value for merges as one that sends them as
// empty text, also when the same contacts come again (the backup import's second run); and
// as one whose reading thread gave its details their row keys as null values.
TEST(MergeAbsentFields, ReadAsEmptyTextTheyMergeLikeEmptyOnes) {
    LocalDbCombineRule rule;
    const int types[] = {pim::ENTITY_PHONE,    pim::ENTITY_EMAIL, pim::ENTITY_ADDR,
                         pim::ENTITY_EVENT,    pim::ENTITY_IM,    pim::ENTITY_ORG,
                         pim::ENTITY_NICKNAME, pim::ENTITY_NOTES, pim::ENTITY_URL};
    // Few values, so that details and names repeat within and across contacts.
    const char* const values[] = {"", "a", "b", "1"};
    quint32 seed = 7;
    auto next = [&seed](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    QList<pim::_Contact> contacts;
    for (int i = 0; i < 300; ++i) {
        pim::_Contact c = makeContact(QStringLiteral("Person %1").arg(next(60)));
        for (int k = 0, n = int(next(6)); k < n; ++k) {
            const int type = types[next(9)];
            bool single = false;
            pim::Entity e;
            for (const QString& key : rule.validFields(type, single)) {
                const quint32 pick = next(6);  // absent, or one of the values
                if (pick < 4)
                    e.fields.insert(key, QString::fromLatin1(values[pick]));
            }
            c.entities[type].append(e);
        }
        contacts << c;
    }
    auto padded = [&rule](pim::_Contact c) {
        for (auto t = c.entities.begin(); t != c.entities.end(); ++t) {
            bool single = false;
            QStringList keys = rule.validFields(t.key(), single) +
                               rule.checkEqualFieldsMin(t.key()) +
                               rule.checkEqualFieldsFull(t.key());
            for (pim::Entity& e : t.value()) {
                for (const QString& key : keys) {
                    if (!e.fields.contains(key))
                        e.fields.insert(key, QString(QLatin1String("")));
                }
            }
        }
        return c;
    };
    auto held = [](pim::_Contact c) {
        entitycolumns::holdRowKeys(c);
        return c;
    };
    TempDb absent, empty(new LocalDbCombineRule, "empty.db"),
        nulls(new LocalDbCombineRule, "nulls.db");
    auto dump = [](TempDb& t) {
        return t.rows(
            "select d.*, c.full_name from data d join contact c on c._id = d.contact_id "
            "order by d._id");
    };
    QStringList afterFirst;
    // Names repeat, so contacts merge into each other as well.
    for (int round = 0; round < 2; ++round) {
        for (const pim::_Contact& c : contacts) {
            const bool a = absent.db->mergeContact(c, LocalDb::ABSENT_IS_EMPTY_TEXT);
            const bool b = empty.db->mergeContact(padded(c));
            const bool n = nulls.db->mergeContact(held(c), LocalDb::ABSENT_IS_EMPTY_TEXT);
            ASSERT_EQ(a, b);
            ASSERT_EQ(a, n);
        }
        const QStringList rows = dump(absent);
        for (TempDb* t : {&empty, &nulls}) {
            const QStringList other = dump(*t);
            ASSERT_EQ(rows.size(), other.size()) << "round " << round;
            for (int i = 0; i < rows.size(); ++i)
                ASSERT_EQ(rows[i].toStdString(), other[i].toStdString()) << "round " << round;
        }
        if (round == 0)
            afterFirst = rows;
    }
    EXPECT_GT(afterFirst.size(), 300);
}
