// The merge run against a real database: what a failure, a cancel and a finished run leave,
// how often progress goes out, and the bulk path's indexes.
#include "store_test_util.h"

#include "store/edittransaction.h"
#include "store/mergerun.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QList<pim::_Contact> people(int n) {
    QList<pim::_Contact> out;
    for (int i = 0; i < n; ++i) {
        const QString name = QString("Person %1").arg(i);
        out << makeContact(name,
                           {{pim::ENTITY_NAME, makeEntity({{"data1", name}})},
                            {pim::ENTITY_PHONE, makeEntity({{"data1", QString::number(i)}})}});
    }
    return out;
}

struct Recorder : RunReporter {
    QList<int> percents;
    QStringList texts;
    QList<qint64> at;  // milliseconds since the run began
    QStringList succeeded, errors;
    int cancelAfter = -1;  // polls before the cancel shows; -1: never
    bool confirmAtEnd = false;
    int polls = 0;
    QElapsedTimer clock;

    Recorder() { clock.start(); }
    bool cancelled() override { return cancelAfter >= 0 && ++polls > cancelAfter; }
    bool cancelConfirmed() override { return confirmAtEnd || cancelled(); }
    void progress(QString, int percent, QString text) override {
        percents << percent;
        texts << text;
        at << clock.elapsed();
    }
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

int contacts(TempDb& t) {
    t.db->open_check();
    return t.count("select count(*) from contact");
}

int indexes(TempDb& t) {
    t.db->open_check();
    return t.count("select count(*) from sqlite_master where type='index'");
}

}  // namespace

TEST(MergeRun, FinishedRunCommitsAndCounts) {
    TempDb t;
    Recorder r;
    QList<pim::_Contact> list = people(5);
    list << list.first() << makeContact(QString());
    MergeRun run(*t.db, r);
    run.setStep([&run](int, const pim::_Contact& c) {
        return c.fullName.isEmpty() ? MergeRun::SKIPPED : run.merge(c);
    });
    ListSource source(list);
    EXPECT_EQ(run.run(source), MergeRun::FINISHED);
    EXPECT_EQ(run.counts().done, 7);
    EXPECT_EQ(run.counts().added, 5);
    EXPECT_EQ(run.counts().merged, 1);
    EXPECT_EQ(run.counts().skipped, 1);
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_TRUE(r.succeeded.isEmpty());  // the caller's to say
    EXPECT_EQ(contacts(t), 5);
    EXPECT_FALSE(t.db->db().inTransaction());
}

TEST(MergeRun, FailureMidRunRollsBackAndReportsOnce) {
    TempDb t;
    const int all = indexes(t);
    t.db->db().executeScriptThrow(
        "CREATE TRIGGER fail BEFORE INSERT ON contact WHEN (SELECT count(*) FROM contact) >= 700 "
        "BEGIN SELECT RAISE(ABORT, 'disk on fire'); END;");
    Recorder r;
    MergeRun run(*t.db, r);
    int during = -1;
    run.setStep([&](int i, const pim::_Contact& c) {
        if (i == 300)
            during = indexes(t);
        return run.merge(c);
    });
    const QList<pim::_Contact> list = people(1000);
    ListSource source(list);
    EXPECT_EQ(run.run(source), MergeRun::FAILED);
    EXPECT_LT(during, all);  // large: the bulk path dropped indexes, the rollback brings them
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors[0].contains("disk on fire")) << r.errors[0].toStdString();
    EXPECT_EQ(contacts(t), 0);
    EXPECT_FALSE(t.db->db().inTransaction());
    EXPECT_EQ(indexes(t), all);

    // A step that throws something else says so in plain words.
    Recorder odd;
    MergeRun other(*t.db, odd);
    other.setUnexpectedFailureText("could not store");
    other.setStep([&other](int i, const pim::_Contact& c) {
        if (i == 3)
            throw 42;
        return other.merge(c);
    });
    const QList<pim::_Contact> few = people(5);
    ListSource again(few);
    EXPECT_EQ(other.run(again), MergeRun::FAILED);
    EXPECT_EQ(odd.errors, QStringList{"could not store"});
    EXPECT_EQ(contacts(t), 0);
}

TEST(MergeRun, CancelKeepsNothingUnlessBatchesWereTaken) {
    TempDb t;
    const QList<pim::_Contact> list = people(25);
    {
        Recorder midway;
        midway.cancelAfter = 12;
        MergeRun run(*t.db, midway);
        ListSource source(list);
        EXPECT_EQ(run.run(source), MergeRun::CANCELLED);
        EXPECT_EQ(run.counts().done, 12);
        EXPECT_TRUE(midway.errors.isEmpty());
        EXPECT_EQ(contacts(t), 0);
    }
    {
        Recorder atEnd;
        atEnd.confirmAtEnd = true;
        MergeRun run(*t.db, atEnd);
        ListSource source(list);
        EXPECT_EQ(run.run(source), MergeRun::CANCELLED);
        EXPECT_EQ(run.counts().done, 25);
        EXPECT_EQ(contacts(t), 0);
    }
    {
        // Batches of 10 handed on: the cancel in the third keeps the first two.
        Recorder midway;
        midway.cancelAfter = 23;
        MergeRun run(*t.db, midway);
        int taken = 0;
        run.setBatches(10, [&] { ++taken; });
        ListSource source(list);
        EXPECT_EQ(run.run(source), MergeRun::CANCELLED);
        EXPECT_EQ(taken, 2);
        EXPECT_EQ(contacts(t), 20);
        EXPECT_FALSE(t.db->db().inTransaction());
    }
}

TEST(MergeRun, BatchesKeepWhatWasTakenWhenLaterOnesFail) {
    TempDb t;
    const QList<pim::_Contact> list = people(25);
    Recorder r;
    MergeRun run(*t.db, r);
    int taken = 0;
    // The third hand-over fails: its batch goes, the two before stay.
    run.setBatches(10, [&] {
        if (++taken == 3)
            throw std::runtime_error("phone gone");
    });
    bool finished = false;
    run.setBeforeCommit([&] { finished = true; });
    ListSource source(list);
    EXPECT_EQ(run.run(source), MergeRun::FAILED);
    EXPECT_EQ(r.errors, QStringList{"phone gone"});
    EXPECT_FALSE(finished);
    EXPECT_EQ(contacts(t), 20);
    EXPECT_FALSE(t.db->db().inTransaction());

    // With every batch taken, a cancel confirmed at the end keeps them all.
    TempDb u;
    Recorder atEnd;
    atEnd.confirmAtEnd = true;
    MergeRun all(*u.db, atEnd);
    all.setBatches(10, [] {});
    ListSource again(list);
    EXPECT_EQ(all.run(again), MergeRun::CANCELLED);
    EXPECT_EQ(contacts(u), 25);
}

// Batches handed on while earlier ones are still on their way (a phone that answers later):
// each stays undoable until it is taken. A failure or a cancel undoes exactly the batches not
// taken, and what was written for the taken ones inside the undone parts (the phone's ids,
// written when a batch is taken) comes back through the after-undo hook.
TEST(MergeRun, BatchesOnTheirWayStayUndoableUntilTaken) {
    struct Case {
        int lag;          // batches on their way before the oldest is taken
        int failTaking;   // the batch whose taking fails; -1: none
        int cancelAfter;  // contacts before the cancel shows; -1: never
        MergeRun::Outcome outcome;
        int kept;
    };
    const Case cases[] = {
        {0, -1, -1, MergeRun::FINISHED, 25},  {2, -1, -1, MergeRun::FINISHED, 25},
        {1, 1, -1, MergeRun::FAILED, 10},     {2, 1, -1, MergeRun::FAILED, 10},
        {2, 2, -1, MergeRun::FAILED, 20},     {2, -1, 23, MergeRun::CANCELLED, 20},
        {1, -1, 13, MergeRun::CANCELLED, 10},
    };
    const QList<pim::_Contact> list = people(25);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lag << " " << c.failTaking << " " << c.cancelAfter);
        TempDb t;
        Recorder r;
        r.cancelAfter = c.cancelAfter;
        MergeRun run(*t.db, r);
        std::deque<int> onItsWay;
        int handed = 0, taken = 0;
        // Taking a batch marks its contacts, as the phone's ids are written.
        auto mark = [&](int batch) {
            t.db->db().executeThrow(
                QString("update contact set src_id='taken' where _id>%1 and _id<=%2")
                    .arg(batch * 10)
                    .arg(batch * 10 + 10));
        };
        // After a failure the batches behind it are dropped, never taken.
        bool failed = false;
        auto take = [&] {
            const int batch = onItsWay.front();
            onItsWay.pop_front();
            failed = failed || batch == c.failTaking;
            if (batch == c.failTaking)
                throw std::runtime_error("phone gone");
            if (!failed) {
                mark(batch);
                ++taken;
            }
        };
        run.setBatches(10, MergeRun::Hand([&](bool batchDone) {
                           if (batchDone)
                               onItsWay.push_back(handed++);
                           while (!onItsWay.empty() && (!batchDone || int(onItsWay.size()) > c.lag))
                               take();
                           return taken;
                       }));
        run.setAfterUndo([&] {
            for (int b = 0; b < taken; ++b)
                mark(b);
        });
        ListSource source(list);
        EXPECT_EQ(run.run(source), c.outcome);
        EXPECT_EQ(run.counts().taken, c.kept);
        EXPECT_FALSE(t.db->db().inTransaction());
        EXPECT_EQ(contacts(t), c.kept);
        EXPECT_EQ(t.count("select count(*) from contact where src_id='taken'"), c.kept);
    }
}

TEST(MergeRun, ProgressIsThrottled) {
    TempDb t;
    Recorder r;
    MergeRun run(*t.db, r);
    run.setProgress("Merging", 50, 100);
    run.setStep([&run](int, const pim::_Contact& c) {
        QThread::usleep(2000);
        return run.merge(c);
    });
    const QList<pim::_Contact> list = people(150);  // 300 ms or more
    ListSource source(list);
    ASSERT_EQ(run.run(source), MergeRun::FINISHED);
    const qint64 took = r.clock.elapsed();
    ASSERT_GE(r.percents.size(), 3);
    EXPECT_LE(r.percents.size(), took / MergeRun::PROGRESS_INTERVAL_MS + 2);
    EXPECT_LT(r.percents.size(), 150 / 4);
    EXPECT_EQ(r.texts.first(), "Contacts:1/150");
    EXPECT_EQ(r.percents.first(), 50);
    EXPECT_EQ(r.texts.last(), "Contacts:150/150");
    EXPECT_EQ(r.percents.last(), 100);
    // Two clocks read in whole milliseconds: one may lose a millisecond on the other.
    for (int i = 1; i + 1 < r.at.size(); ++i)
        EXPECT_GE(r.at[i] - r.at[i - 1], MergeRun::PROGRESS_INTERVAL_MS - 1) << i;
}

TEST(MergeRun, BulkPathRebuildsTheIndexes) {
    TempDb t;
    const int all = indexes(t);
    Recorder r;
    MergeRun run(*t.db, r);
    int during = -1;
    run.setStep([&](int i, const pim::_Contact& c) {
        if (i == 300)
            during = indexes(t);
        return run.merge(c);
    });
    const QList<pim::_Contact> list = people(600);
    ListSource source(list);
    ASSERT_EQ(run.run(source), MergeRun::FINISHED);
    EXPECT_LT(during, all);  // deferred for the run
    EXPECT_EQ(indexes(t), all);
    EXPECT_EQ(t.count("select count(*) from data where data1='599'"), 1);
    Sqlite3Cursor check = t.db->db().queryThrow("pragma integrity_check");
    ASSERT_TRUE(check.moveNext());
    EXPECT_EQ(check.getText(0), "ok");
}

// The restore's fast writes to a phone's mirror last as long as their scope.
TEST(CacheWrites, SettingsComeBackWithTheScope) {
    TempDb t;
    auto pragma = [&](const char* name) {
        Sqlite3Cursor c = t.db->db().queryThrow(QString("pragma ") + name);
        return c.moveNext() ? c.getText(0) : QString();
    };
    {
        LocalDb::CacheWrites fast(*t.db);
        EXPECT_EQ(pragma("journal_mode"), "memory");
        EXPECT_EQ(pragma("synchronous"), "0");
        EXPECT_EQ(pragma("cache_spill"), "0");
        EditTransaction edit(*t.db);
        pim::_Contact a = makeContact("A");
        t.db->insertContactBase(a);
        edit.commit();
    }
    EXPECT_EQ(pragma("journal_mode"), "delete");
    EXPECT_EQ(pragma("synchronous"), "2");
    EXPECT_NE(pragma("cache_spill"), "0");
    EXPECT_EQ(contacts(t), 1);
}

// A phone's fresh mirror lets its pages go to the file as the read writes them: the commit has
// little left to write, and a rollback still leaves the file as it was.
TEST(CacheWrites, SpilledPagesReachTheFileEarlyAndARollbackStillUndoesThem) {
    TempDb t;
    auto pragma = [&](const char* name) {
        Sqlite3Cursor c = t.db->db().queryThrow(QString("pragma ") + name);
        return c.moveNext() ? c.getText(0) : QString();
    };
    {
        EditTransaction edit(*t.db);
        pim::_Contact kept = makeContact("Kept");
        t.db->insertContactBase(kept);
        edit.commit();
    }
    const QString usualCache = pragma("cache_size");
    const qint64 before = QFileInfo(t.path).size();
    // 8 MB of photos, twice the cache: most of them must be in the file before the commit.
    auto writePhotos = [&](int n) {
        QList<QPair<unsigned long long, QByteArray>> written;
        for (int i = 0; i < n; ++i) {
            pim::_Contact c = makeContact(QString("Photo %1").arg(i));
            t.db->insertContactBase(c);
            const QByteArray bytes(40000, char('a' + i % 26));
            pim::Entity photo;
            photo.fields["data15"] = bytes;
            // Every other one with its hash worked out ahead, as a phone read does.
            if (i % 2)
                t.db->insertPhoto(c._id, photo, pim::Entity::photoHash(bytes));
            else
                t.db->insertEntity(c._id, pim::ENTITY_PHOTO, photo);
            written << qMakePair(c._id, bytes);
        }
        return written;
    };
    {
        LocalDb::CacheWrites fast(*t.db, LocalDb::CacheWrites::SpilledAsWritten);
        EXPECT_EQ(pragma("journal_mode"), "memory");
        EXPECT_NE(pragma("cache_spill"), "0");
        EditTransaction edit(*t.db);
        writePhotos(200);
        EXPECT_GT(QFileInfo(t.path).size(), before + 4000000);
        // A cancel or a failure: the edit goes.
    }
    EXPECT_EQ(pragma("journal_mode"), "delete");
    EXPECT_EQ(pragma("synchronous"), "2");
    EXPECT_EQ(pragma("cache_size"), usualCache);
    EXPECT_EQ(contacts(t), 1);
    EXPECT_EQ(t.count("select count(*) from data"), 0);
    EXPECT_EQ(pragma("integrity_check"), "ok");

    QList<QPair<unsigned long long, QByteArray>> written;
    {
        LocalDb::CacheWrites fast(*t.db, LocalDb::CacheWrites::SpilledAsWritten);
        EditTransaction edit(*t.db);
        written = writePhotos(200);
        edit.commit();
    }
    EXPECT_EQ(pragma("integrity_check"), "ok");
    EXPECT_EQ(contacts(t), 201);
    for (const auto& w : written) {
        const pim::_Contact back = t.db->contact(w.first);
        ASSERT_EQ(back.entities.value(pim::ENTITY_PHOTO).size(), 1);
        const pim::Entity& photo = back.entities.value(pim::ENTITY_PHOTO).first();
        EXPECT_EQ(photo.fields.value("data15").toByteArray(), w.second);
        EXPECT_EQ(photo.text("data4"), pim::Entity::photoHash(w.second));
    }
}

// A restore's writes into a phone's mirror reach the file as they are made; a crash after that
// still leaves the mirror as it was, once it is opened again.
TEST(CacheWrites, ACrashAfterPagesReachedTheFileLeavesItAsItWas) {
    TempDb t;
    {
        EditTransaction edit(*t.db);
        for (int i = 0; i < 300; ++i) {
            pim::_Contact kept = makeContact(QString("Kept %1 ").arg(i) + QString(200, 'k'));
            t.db->insertContactBase(kept);
        }
        edit.commit();
    }
    const QStringList before = t.rows("select * from contact");
    t.db->close();
    const qint64 size = QFileInfo(t.path).size();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LocalDb db(t.path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.open_check();
        LocalDb::CacheWrites fast(db, LocalDb::CacheWrites::SpilledWithJournal);
        EditTransaction edit(db);
        // The rows the file held changed, 8 MB of photos (twice the cache) after them, then
        // the process dies inside the edit.
        db.db().executeThrow(Sqlite3Sql("update contact set full_name='Changed'"));
        for (int i = 0; i < 200; ++i) {
            pim::_Contact c = makeContact(QString("Photo %1").arg(i));
            db.insertContactBase(c);
            pim::Entity photo;
            photo.fields["data15"] = QByteArray(40000, char('a' + i % 26));
            db.insertEntity(c._id, pim::ENTITY_PHOTO, photo);
        }
        ::_exit(QFileInfo(t.path).size() > size + 4000000 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the pages did not reach the file before the crash";
    t.db->open_check();
    EXPECT_EQ(t.rows("pragma integrity_check").join(' ').left(200).toStdString(), "ok");
    EXPECT_TRUE(t.rows("select * from contact") == before) << "the rows the file held changed";
    EXPECT_EQ(t.count("select count(*) from data"), 0);
}
