// A bulk edit (the import's batch) must leave exactly what a plain edit leaves: same rows, same
// ids, same merge results, same schema; and every way out of it must bring the indexes back.
#include "store_test_util.h"

#include <sqlite3.h>

#include <QDateTime>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using Map = QMap<int, QList<pim::Entity> >;

// Incoming contact i of a batch with repeated names (in either case), single and repeated
// types, groups, photos and dates, so that merges update rows as well as add them.
pim::_Contact incoming(int i) {
    const int k = i % 400;
    const QString name = (i % 3 ? QStringLiteral("Person %1") : QStringLiteral("PERSON %1")).arg(k);
    pim::_Contact c = makeContact(name);
    if (i % 7)
        c.entities[pim::ENTITY_NAME] << makeEntity({{"data1", name}, {"data2", "Person"}});
    c.entities[pim::ENTITY_PHONE] << makeEntity(
        {{"data1", QString("+1 555 %1").arg(k)}, {"data2", i % 3}});
    if (i % 4 == 0)
        c.entities[pim::ENTITY_PHONE]
            << makeEntity({{"data1", QString("+1 555 %1").arg(k)}, {"data3", "other label"}});
    c.entities[pim::ENTITY_EMAIL] << makeEntity({{"data1", QString("p%1@x.org").arg(i % 50)}});
    c.entities[pim::ENTITY_EVENT] << makeEntity(
        {{"data1", QDateTime(QDate(1970 + i % 40, 1 + i % 12, 1 + i % 28), QTime(0, 0))},
         {"data2", 3}});
    if (i % 5 == 0)
        c.entities[pim::ENTITY_GROUP] << makeEntity({{"data2", QString("Team %1").arg(i % 3)}});
    c.entities[pim::ENTITY_ORG] << makeEntity({{"data1", QString("Org %1").arg(i % 9)}});
    if (i % 11 == 0) {
        QByteArray jpeg(64 + i % 32, char(i));
        c.entities[pim::ENTITY_PHOTO] << makeEntity({{"data15", jpeg}});
    }
    return c;
}

QString text(const Map& m) {
    QString s;
    for (auto t = m.constBegin(); t != m.constEnd(); ++t) {
        for (const pim::Entity& e : t.value()) {
            s += QString("[%1 #%2 %3").arg(t.key()).arg(e._id).arg(e.srcId);
            for (auto f = e.fields.constBegin(); f != e.fields.constEnd(); ++f)
                s += QString(" %1=%2:%3").arg(f.key(), f.value().typeName(), pim::fieldText(*f));
            s += "]";
        }
    }
    return s;
}

QStringList schema(TempDb& t) {
    QStringList out;
    Sqlite3Cursor c =
        t.db->db().queryThrow("select type,name,sql from sqlite_master order by name");
    while (c.moveNext())
        out << c.getText(0) + " " + c.getText(1) + " " + c.getText(2);
    return out;
}

// Every row of every table in row-id order, and the schema by name.
QStringList dump(TempDb& t) {
    QStringList out;
    for (const char* table : {"contact", "data", "contact_group", "sqlite_sequence"}) {
        Sqlite3Cursor c =
            t.db->db().queryThrow(QString("select * from %1 order by rowid").arg(table));
        while (c.moveNext()) {
            QString row = table;
            for (int i = 0; i < c.columnCount(); ++i)
                row += "|" + (c.isNull(i) ? QString("NULL") : QString(c.getBlob(i).toHex()));
            out << row;
        }
    }
    return out << schema(t);
}

int indexCount(TempDb& t) {
    return t.count("select count(*) from sqlite_master where type='index'");
}

struct BatchRun {
    QStringList results;
    QStringList rows;
};

BatchRun runBatch(bool bulk, int n) {
    TempDb t;
    BatchRun r;
    if (bulk)
        t.db->beginBulkEdit(n);
    else
        t.db->beginEdit();
    for (int i = 0; i < n; ++i) {
        pim::_Contact out;
        bool existed = false;
        const Map m = t.db->combineContact(incoming(i), out, existed);
        r.results << QString("%1 %2 %3").arg(existed).arg(out._id).arg(text(m)) +
                         text(out.entities);
    }
    t.db->endEdit(true);
    EXPECT_EQ(t.count("select count(*) from pragma_integrity_check where integrity_check='ok'"), 1);
    r.rows = dump(t);
    for (const pim::_Contact& c : t.db->contacts())
        r.results << QString::number(c._id) + c.fullName + text(c.entities);
    return r;
}

TEST(BulkEdit, SameRowsIdsAndResultsAsAPlainEdit) {
    const BatchRun plain = runBatch(false, 1200);
    const BatchRun bulk = runBatch(true, 1200);
    EXPECT_EQ(plain.results, bulk.results);
    EXPECT_EQ(plain.rows, bulk.rows);  // the rebuilt indexes have their own definitions back
}

TEST(BulkEdit, IndexesAreAwayOnlyForALargeBatchIntoALittleStore) {
    TempDb t;
    t.db->open_check();
    const int all = indexCount(t);
    t.db->beginBulkEdit(499);  // too few to be worth a rebuild
    EXPECT_EQ(indexCount(t), all);
    t.db->endEdit(true);

    t.db->beginEdit();  // inside an open batch the outer edit decides
    t.db->beginBulkEdit(5000);
    EXPECT_EQ(indexCount(t), all);
    t.db->endEdit(true);
    t.db->endEdit(true);

    t.db->beginBulkEdit(5000);
    EXPECT_EQ(indexCount(t), all - 4);
    t.db->endEdit(true);
    EXPECT_EQ(indexCount(t), all);

    // A store already holding far more rows than the batch brings keeps its indexes.
    t.db->beginEdit();
    for (int i = 0; i < 1000; ++i) {
        pim::_Contact out;
        bool existed;
        pim::_Contact in = incoming(i);
        in.fullName += QString::number(i);
        t.db->combineContact(in, out, existed);
    }
    t.db->endEdit(true);
    t.db->beginBulkEdit(500);
    EXPECT_EQ(indexCount(t), all);
    t.db->endEdit(false);
}

TEST(BulkEdit, EveryWayOutBringsTheIndexesBack) {
    TempDb t;
    t.db->open_check();
    const QStringList before = schema(t);

    // Cancelled: nothing of the batch stays.
    t.db->beginBulkEdit(1000);
    pim::_Contact out;
    bool existed;
    t.db->combineContact(incoming(1), out, existed);
    t.db->endEdit(false);
    EXPECT_EQ(schema(t), before);
    EXPECT_EQ(t.count("select count(*) from contact"), 0);

    // Closed mid-batch: SQLite discards it; the next open sees the whole schema.
    t.db->beginBulkEdit(1000);
    t.db->combineContact(incoming(2), out, existed);
    t.db->close();
    t.db->open_check();
    EXPECT_EQ(schema(t), before);
    t.db->beginEdit();
    t.db->endEdit(true);  // nothing left over to rebuild
    EXPECT_EQ(schema(t), before);

    // A merge fails: it rolls the whole batch back, and the next batches work as usual, also
    // one that commits before the caller ends the failed one.
    t.db->beginBulkEdit(1000);
    t.db->combineContact(incoming(3), out, existed);
    t.db->db().executeThrow(
        "create trigger no_notes before insert on data when new.type=9 "
        "begin select raise(abort, 'notes refused'); end");
    pim::_Contact bad = incoming(4);
    bad.entities[pim::ENTITY_NOTES] << makeEntity({{"data1", "x"}});
    EXPECT_THROW(t.db->combineContact(bad, out, existed), std::runtime_error);
    EXPECT_EQ(schema(t), before);  // the trigger went with the batch
    t.db->beginEdit();
    t.db->combineContact(incoming(5), out, existed);
    EXPECT_NO_THROW(t.db->endEdit(true));
    t.db->endEdit(false);
    EXPECT_EQ(schema(t), before);
    EXPECT_EQ(t.count("select count(*) from contact"), 1);
}

// Interrupts the first statement that drops an index, as an I/O error or a full disk would
// end it: SQLite then rolls back the whole open transaction.
struct DropInterrupter {
    bool armed = false;
    static int authorize(void* self, int action, const char*, const char*, const char*,
                         const char*) {
        if (action == SQLITE_DROP_INDEX)
            static_cast<DropInterrupter*>(self)->armed = true;
        return SQLITE_OK;
    }
    static int progress(void* self) {
        auto* d = static_cast<DropInterrupter*>(self);
        const bool stop = d->armed;
        d->armed = false;
        return stop ? 1 : 0;
    }
};

TEST(BulkEdit, FailuresAtEitherEndLoseNeitherIndexesNorTheBatch) {
    TempDb t;
    t.db->open_check();
    sqlite3* h = t.db->db().handle();
    const QStringList before = schema(t);
    pim::_Contact out;
    bool existed;

    // The transaction is lost while the indexes are dropped: the batch must still be one
    // batch, so a cancel takes back what was merged after it.
    DropInterrupter stopper;
    sqlite3_set_authorizer(h, &DropInterrupter::authorize, &stopper);
    sqlite3_progress_handler(h, 1, &DropInterrupter::progress, &stopper);
    t.db->beginBulkEdit(1000);
    sqlite3_progress_handler(h, 0, nullptr, nullptr);
    sqlite3_set_authorizer(h, nullptr, nullptr);
    EXPECT_TRUE(t.db->db().inTransaction());
    t.db->combineContact(incoming(1), out, existed);
    t.db->endEdit(false);
    EXPECT_EQ(t.count("select count(*) from contact"), 0);
    EXPECT_EQ(schema(t), before);

    // The commit fails after the indexes are rebuilt: the rollback that follows restores the
    // schema as it was and keeps nothing of the batch; a later batch commits normally.
    t.db->db().executeScriptThrow(
        "pragma foreign_keys=on; create table p(id integer primary key); create table c(pid "
        "integer references p(id) deferrable initially deferred)");
    const QStringList withFk = schema(t);
    t.db->beginBulkEdit(1000);
    EXPECT_LT(indexCount(t), withFk.filter("index ").size());
    t.db->combineContact(incoming(2), out, existed);
    t.db->db().executeThrow("insert into c values(7)");
    EXPECT_THROW(t.db->endEdit(true), std::runtime_error);
    t.db->endEdit(false);
    EXPECT_EQ(schema(t), withFk);
    EXPECT_EQ(t.count("select count(*) from contact"), 0);

    t.db->beginBulkEdit(1000);
    t.db->combineContact(incoming(3), out, existed);
    t.db->endEdit(true);
    EXPECT_EQ(schema(t), withFk);
    EXPECT_EQ(t.count("select count(*) from contact"), 1);
}

}  // namespace

// The parts of an edit (a restore's batches): one undone alone leaves the others, and the
// indexes a bulk edit set aside come back with the commit. A merge that fails inside a part
// still rolls the whole edit back, and ending the part and the edit afterwards is harmless.
TEST(BulkEdit, PartsUndoAloneAndTheIndexesComeBack) {
    TempDb t;
    t.db->open_check();
    const QStringList before = schema(t);
    const int indexes = indexCount(t);
    pim::_Contact out;
    bool existed = false;

    t.db->beginBulkEdit(1000);
    EXPECT_LT(indexCount(t), indexes);
    for (int i = 0; i < 3; ++i) {
        t.db->beginPart();
        t.db->combineContact(incoming(i), out, existed);
        t.db->endPart(i != 1);
    }
    t.db->endEdit(true);
    EXPECT_EQ(schema(t), before);
    EXPECT_EQ(t.count("select count(*) from pragma_integrity_check where integrity_check='ok'"), 1);
    {
        // What another connection sees: the commit is on disk.
        LocalDb other(t.path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        QStringList names;
        for (const pim::_Contact& c : other.contacts())
            names << c.fullName;
        names.sort();
        EXPECT_EQ(names, (QStringList{"PERSON 0", "Person 2"}));
    }

    EXPECT_THROW(t.db->beginPart(), std::runtime_error);  // only inside an edit

    t.db->beginBulkEdit(1000);
    t.db->beginPart();
    t.db->combineContact(incoming(5), out, existed);
    t.db->endPart(true);
    t.db->beginPart();
    t.db->db().executeThrow(
        "create trigger no_notes before insert on data when new.type=9 "
        "begin select raise(abort, 'notes refused'); end");
    pim::_Contact bad = incoming(6);
    bad.entities[pim::ENTITY_NOTES] << makeEntity({{"data1", "x"}});
    EXPECT_THROW(t.db->combineContact(bad, out, existed), std::runtime_error);
    EXPECT_NO_THROW(t.db->endPart(false));
    EXPECT_NO_THROW(t.db->endEdit(true));
    EXPECT_EQ(schema(t), before);
    EXPECT_EQ(t.count("select count(*) from contact"), 2);
}
