// One cancel rule for every worker that writes contacts into a database: a cancel confirmed at
// any moment (also while the question is still open when the last contact is in) keeps nothing,
// except on the road to a phone, where what the phone took stays; a cancel declined loses
// nothing and ends in exactly one success.
#include <QFile>
#include <QSet>

#include "tests/backup/backup_fixture.h"
#include "backup/backupmanifest.h"
#include "device/workers/backupcontactstolocalthread.h"
#include "device/workers/iossynctodevicethread.h"
#include "export/exporttofilethread.h"
#include "backup/importcontactsfromitunesthread.h"
#include "import/importcontactstolocalthread.h"
#include "store/runreporter.h"
#include "workers_fixture.h"

namespace {

const int kContacts = 25;  // three batches on the road to a phone

QList<pim::_Contact> people(int n) {
    QList<pim::_Contact> out;
    for (int i = 0; i < n; ++i) {
        pim::Entity name;
        name.fields["data2"] = QString("Given%1").arg(i);
        name.fields["data3"] = QString("Family%1").arg(i);
        name.fields["data1"] = name.fullName();
        pim::_Contact c(0, QString(), name.fullName());
        c.entities[pim::ENTITY_NAME] = {name};
        pim::Entity p;
        p.fields["data1"] = QString("+46 70 %1").arg(i);
        p.fields["data2"] = 2;
        c.entities[pim::ENTITY_PHONE] = {p};
        out << c;
    }
    return out;
}

// How the user deals with the cancel question.
enum class Cancel {
    CONFIRMED_AT_END,  // asked while the last contact was taken, answered Yes
    DECLINED_AT_END,   // the same, answered No
    CONFIRMED_MIDWAY,  // answered Yes before the run was through
};

// The progress dialog as a worker sees it, with the user's answer scripted.
class ScriptedUser : public RunReporter {
public:
    ScriptedUser(Cancel how, int midwayPolls) : m_how(how), m_midwayPolls(midwayPolls) {}
    bool cancelled() override {
        // While the question is open the dialog is not cancelled yet.
        return m_how == Cancel::CONFIRMED_MIDWAY && ++m_polls > m_midwayPolls;
    }
    bool cancelConfirmed() override {
        ++asked;
        return m_how == Cancel::DECLINED_AT_END ? false
                                                : m_how == Cancel::CONFIRMED_AT_END || cancelled();
    }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { successes << m; }
    void error(QString m) override { errors << m; }

    int asked = 0;
    QStringList successes, errors;

private:
    Cancel m_how;
    int m_midwayPolls;
    int m_polls = 0;
};

int committedContacts(const QString& path, bool device) {
    LocalDb db(path, QSharedPointer<AbsContactCombineRule>(
                         device ? static_cast<AbsContactCombineRule*>(new IOSContactCombineRule)
                                : static_cast<AbsContactCombineRule*>(new LocalDbCombineRule)));
    return db.contacts().size();
}

class CancelTest;

// One worker that writes contacts into a database.
struct Flow {
    const char* name;
    bool toPhone;     // what the phone took stays after a cancel
    int midwayPolls;  // cancel polls before a midway cancel
    int stored;       // contacts stored by a whole run
    // Prepares the inputs and returns the worker writing into `target`.
    std::function<QThread*(CancelTest&, LocalDb& target, RunReporter*)> make;
};

class CancelTest : public WorkersTest, public ::testing::WithParamInterface<Flow> {
protected:
    void SetUp() override {
        WorkersTest::SetUp();
        if (GetParam().toPhone) {
            mirror = readPhone();
            before = onPhone();
            phone->clearJournal();
        } else {
            mirror = newDb(tmp.filePath("target.db"), false);
        }
    }

    // Runs the worker to its end with the user's answer scripted.
    std::unique_ptr<ScriptedUser> run(Cancel how) {
        std::unique_ptr<ScriptedUser> user(new ScriptedUser(how, GetParam().midwayPolls));
        std::unique_ptr<QThread> worker(GetParam().make(*this, *mirror, user.get()));
        worker->start();
        worker->wait();
        EXPECT_FALSE(mirror->db().inTransaction());
        return user;
    }
    // Contacts committed by the run (the mirror's read of the phone aside).
    int committed() const { return committedContacts(mirror->path(), GetParam().toPhone) - before; }
    int onPhone() const { return int(phone->recordIds("com.apple.contacts.Contact").size()); }
    int before = 0;

public:
    const QString& phoneUdid() const { return udid; }
    QString writeVCards() {
        QByteArray text;
        for (int i = 0; i < kContacts; ++i) {
            text += QString(
                        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Family%1;Given%1;;;\r\n"
                        "FN:Given%1 Family%1\r\nTEL;TYPE=CELL:+46 70 %1\r\nEND:VCARD\r\n")
                        .arg(i)
                        .toUtf8();
        }
        const QString path = tmp.filePath("people.vcf");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    BackupManifest& backup() {
        if (!m_backup) {
            fixture::BackupBuilder b(tmp.filePath("backup"), fixture::BackupBuilder::DB);
            b.addAddressBook();
            b.build();
            m_backup.reset(new BackupManifest(tmp.filePath("backup")));
            m_backup->readManifestInfo();
            m_backup->parseInfo();
        }
        return *m_backup;
    }

private:
    std::unique_ptr<BackupManifest> m_backup;
};

TEST_P(CancelTest, ConfirmedWhileTheLastContactIsTakenKeepsNothingAndSaysNothing) {
    const std::unique_ptr<ScriptedUser> user = run(Cancel::CONFIRMED_AT_END);
    EXPECT_EQ(user->asked, 1);
    EXPECT_TRUE(user->successes.isEmpty());
    EXPECT_TRUE(user->errors.isEmpty()) << user->errors.join("\n").toStdString();
    if (GetParam().toPhone) {
        // Every batch went to the phone: the mirror keeps them, and the phone too.
        ASSERT_TRUE(phone->waitForSyncEnd(5s, 1));
        EXPECT_TRUE(phone->syncSessions().back().finished);
        EXPECT_EQ(committed(), kContacts);
        EXPECT_EQ(onPhone() - before, kContacts);
    } else {
        EXPECT_EQ(committed(), 0);
    }
}

TEST_P(CancelTest, ConfirmedMidwayKeepsOnlyWhatThePhoneTook) {
    const std::unique_ptr<ScriptedUser> user = run(Cancel::CONFIRMED_MIDWAY);
    EXPECT_TRUE(user->successes.isEmpty());
    EXPECT_TRUE(user->errors.isEmpty()) << user->errors.join("\n").toStdString();
    if (GetParam().toPhone) {
        // The first batch went; the second was open.
        ASSERT_TRUE(phone->waitForSyncEnd(5s, 1));
        EXPECT_TRUE(phone->syncSessions().back().finished);
        EXPECT_EQ(committed(), 10);
        EXPECT_EQ(onPhone() - before, 10);
    } else {
        EXPECT_EQ(committed(), 0);
    }
}

TEST_P(CancelTest, DeclinedLosesNothingAndSucceedsOnce) {
    const std::unique_ptr<ScriptedUser> user = run(Cancel::DECLINED_AT_END);
    EXPECT_EQ(user->asked, 1);
    EXPECT_EQ(user->successes.size(), 1);
    EXPECT_TRUE(user->errors.isEmpty()) << user->errors.join("\n").toStdString();
    EXPECT_EQ(committed(), GetParam().stored);
    if (GetParam().toPhone) {
        EXPECT_EQ(onPhone() - before, kContacts);
    }
}

const Flow kFlows[] = {
    {"FileImport", false, 12, kContacts,
     [](CancelTest& t, LocalDb& db, RunReporter* r) -> QThread* {
         return new ImportContactsToLocalThread(t.writeVCards(), ImportContactsToLocalThread::VCARD,
                                                &db, r);
     }},
    {"PhoneToDatabase", false, 12, kContacts,
     [](CancelTest&, LocalDb& db, RunReporter* r) -> QThread* {
         return new BackupContactsToLocalThread(people(kContacts), &db, r, nullptr);
     }},
    {"BackupImport", false, 3, 3,
     [](CancelTest& t, LocalDb& db, RunReporter* r) -> QThread* {
         return new ImportContactsFromiTunesThread(t.backup(), &db, r);
     }},
    {"RestoreToPhone", true, 15, kContacts,
     [](CancelTest& t, LocalDb& db, RunReporter* r) -> QThread* {
         return new IOSSyncToDeviceThread(t.phoneUdid(), &db, people(kContacts), r);
     }},
};

INSTANTIATE_TEST_SUITE_P(Workers, CancelTest, ::testing::ValuesIn(kFlows),
                         [](const ::testing::TestParamInfo<Flow>& info) {
                             return std::string(info.param.name);
                         });

// The phone's contacts read into a fresh mirror: a cancel keeps none of them.
TEST_F(WorkersTest, PhoneReadFollowsTheCancelRule) {
    phone->generateContacts(kContacts);
    for (Cancel how : {Cancel::CONFIRMED_AT_END, Cancel::DECLINED_AT_END}) {
        const QString path = tmp.filePath(how == Cancel::DECLINED_AT_END ? "kept" : "gone");
        QSharedPointer<LocalDb> db = newDb(path, true);
        ScriptedUser user(how, 0);
        IOSSyncToPCThread worker(udid, db.data(), &user);
        worker.start();
        worker.wait();
        EXPECT_EQ(user.asked, 1);
        EXPECT_TRUE(user.errors.isEmpty()) << user.errors.join("\n").toStdString();
        const bool declined = how == Cancel::DECLINED_AT_END;
        EXPECT_EQ(user.successes.size(), declined ? 1 : 0);
        EXPECT_EQ(committedContacts(path, true), declined ? kContacts : 0);
    }
}

// A file export ends the same way: a cancel confirmed at the end leaves no file.
TEST_F(WorkersTest, ExportFollowsTheCancelRule) {
    for (Cancel how : {Cancel::CONFIRMED_AT_END, Cancel::DECLINED_AT_END}) {
        const bool declined = how == Cancel::DECLINED_AT_END;
        const QString path = tmp.filePath(declined ? "kept.vcf" : "gone.vcf");
        ScriptedUser user(how, 0);
        ExportToFileThread worker(people(kContacts), ExportToFileThread::VCARD, path, &user);
        worker.start();
        worker.wait();
        EXPECT_EQ(user.asked, 1);
        EXPECT_EQ(user.successes.size(), declined ? 1 : 0);
        EXPECT_EQ(QFile::exists(path), declined);
    }
}

}  // namespace
