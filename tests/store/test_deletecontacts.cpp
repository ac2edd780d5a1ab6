// Deleting many contacts off the window's thread: one transaction, whatever ends it.
#include "store_test_util.h"

#include "store/deletecontactsthread.h"
#include "store/runreporter.h"

#include <gtest/gtest.h>

namespace {

struct Recorder : RunReporter {
    int cancelAt = -1;           // cancelled() answers true from this poll on (1-based)
    bool confirmCancel = false;  // what cancelConfirmed() answers
    int polls = 0;
    QList<int> percents;
    QStringList succeeded, errors;
    bool cancelled() override { return cancelAt > 0 && ++polls >= cancelAt; }
    bool cancelConfirmed() override { return confirmCancel; }
    void progress(QString, int percent, QString) override { percents << percent; }
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

QList<unsigned long long> fill(TempDb& t, int n) {
    QList<unsigned long long> ids;
    t.db->beginEdit();
    for (int i = 0; i < n; ++i) {
        pim::_Contact c = makeContact(QStringLiteral("C%1").arg(i));
        t.db->insertContactBase(c);
        pim::Entity phone = makeEntity({{"data1", QStringLiteral("555 %1").arg(i)}});
        t.db->insertEntity(c._id, pim::ENTITY_PHONE, phone);
        ids << c._id;
    }
    t.db->endEdit(true);
    return ids;
}

}  // namespace

TEST(DeleteContacts, AllInOneTransactionWithProgress) {
    TempDb t;
    const QList<unsigned long long> ids = fill(t, 250);
    Recorder r;
    // On its own thread, as the window runs it.
    DeleteContactsThread worker(t.db.get(), ids.mid(0, 200), &r);
    worker.start();
    ASSERT_TRUE(worker.wait(30000));
    EXPECT_TRUE(worker.deleted());
    EXPECT_EQ(r.succeeded, QStringList{QString()});
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_EQ(r.percents.size(), 101);  // one report per percent (0 to 100), not per contact
    EXPECT_EQ(r.percents.last(), 100);
    EXPECT_EQ(t.count("select count(*) from contact"), 50);
    EXPECT_EQ(t.count("select count(*) from data"), 50);
    EXPECT_EQ(t.db->contacts().first()._id, ids.at(200));
}

TEST(DeleteContacts, CancelOrFailureKeepsEveryContact) {
    TempDb t;
    const QList<unsigned long long> ids = fill(t, 30);

    // Cancelled between contacts: nothing gone, nothing reported after the cancel.
    Recorder cancel;
    cancel.cancelAt = 11;
    EXPECT_FALSE(DeleteContactsThread::deleteContacts(*t.db, ids, cancel));
    EXPECT_TRUE(cancel.succeeded.isEmpty());
    EXPECT_TRUE(cancel.errors.isEmpty());
    EXPECT_EQ(t.count("select count(*) from contact"), 30);
    EXPECT_EQ(t.count("select count(*) from data"), 30);

    // A cancel confirmed once the last contact went: still nothing gone.
    Recorder late;
    late.confirmCancel = true;
    EXPECT_FALSE(DeleteContactsThread::deleteContacts(*t.db, ids, late));
    EXPECT_EQ(late.percents.last(), 100);
    EXPECT_TRUE(late.succeeded.isEmpty());
    EXPECT_EQ(t.count("select count(*) from contact"), 30);

    // A row that refuses to go: the store's text, and every contact (details too) stays.
    t.db->db().executeScriptThrow(
        "CREATE TRIGGER keep BEFORE DELETE ON contact WHEN OLD.full_name = 'C20' "
        "BEGIN SELECT RAISE(ABORT, 'C20 stays'); END;");
    Recorder failing;
    EXPECT_FALSE(DeleteContactsThread::deleteContacts(*t.db, ids, failing));
    ASSERT_EQ(failing.errors.size(), 1);
    EXPECT_TRUE(failing.errors.first().contains("C20 stays"));
    EXPECT_TRUE(failing.succeeded.isEmpty());
    EXPECT_EQ(t.count("select count(*) from contact"), 30);
    EXPECT_EQ(t.count("select count(*) from data"), 30);
    // The store is usable again: no edit was left open.
    EXPECT_FALSE(t.db->db().inTransaction());

    // An empty list succeeds without a percentage.
    Recorder none;
    EXPECT_TRUE(DeleteContactsThread::deleteContacts(*t.db, {}, none));
    EXPECT_TRUE(none.percents.isEmpty());
    EXPECT_EQ(none.succeeded.size(), 1);
}
