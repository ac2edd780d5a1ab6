// The one loop that merges a run of contacts into a contact database: one edit for the whole
// run, progress a few dozen times a second, a cancel between contacts, and a rollback on any
// failure. The file import, the copy of a phone's contacts into a local database, the import of
// a backup and the restore to a phone all run through it.
#pragma once

#include "localdb.h"
#include "runreporter.h"
#include "pim.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

class EditTransaction;

// Where a run's contacts come from.
class MergeSource {
public:
    virtual ~MergeSource() {}
    // How many contacts are expected: the progress counts against it, and a large run lets the
    // store defer its indexes.
    virtual int total() const = 0;
    // The next contact, valid until the following call; null after the last. May throw.
    virtual const pim::_Contact* next() = 0;
};

class ListSource : public MergeSource {
public:
    explicit ListSource(const QList<pim::_Contact>& contacts) : m_contacts(contacts) {}
    int total() const override { return m_contacts.size(); }
    const pim::_Contact* next() override {
        return m_pos < m_contacts.size() ? &m_contacts.at(m_pos++) : nullptr;
    }

private:
    const QList<pim::_Contact>& m_contacts;
    int m_pos = 0;
};

class MergeRun {
public:
    enum Outcome { FINISHED, CANCELLED, FAILED };
    enum Result { ADDED, MERGED, SKIPPED };
    struct Counts {
        int done = 0;  // contacts taken from the source
        int added = 0;
        int merged = 0;  // matched a stored contact
        int skipped = 0;
        int taken = 0;  // contacts of the batches taken
    };
    // What the run does with the contact at `index` of the source.
    using Step = std::function<Result(int index, const pim::_Contact& incoming)>;
    using Hook = std::function<void()>;

    // Progress goes out at most once in this many milliseconds, the first and last always.
    enum { PROGRESS_INTERVAL_MS = 33 };

    MergeRun(LocalDb& db, RunReporter& reporter);
    ~MergeRun();
    MergeRun(const MergeRun&) = delete;
    MergeRun& operator=(const MergeRun&) = delete;

    // The status line of the progress reports and the stretch of the bar the run fills.
    void setProgress(const QString& status, int fromPercent = 0, int toPercent = 100);
    // Replaces the default step, merge().
    void setStep(Step step) { m_step = std::move(step); }
    // How a run hands its batches on (to a phone). hand(true) is called after a batch's last
    // contact and hands that batch on; hand(false) hands nothing and returns once no batch is
    // on its way (before the commit, and after a cancel or a failure). Each returns how many of
    // the batches handed so far were taken: always the first ones. Either may throw (a batch
    // that failed); after a cancel or a failure the run asks again until the answer comes.
    using Hand = std::function<int(bool batchDone)>;
    // Splits the run into batches of `size` contacts, each a part of the edit. A batch handed
    // on stays undoable until it is taken, while the next ones are merged in parts inside its
    // own; a cancel or a failure then undoes the batches not taken and commits the rest.
    // Without batches a cancel or a failure keeps nothing.
    void setBatches(int size, Hand hand);
    // The same for batches that are taken by the time `taken` returns.
    void setBatches(int size, Hook taken);
    // Runs after a cancel or a failure undid the batches not taken, before the rest is
    // committed: what the run wrote for the taken batches inside the parts undone (an answer
    // of the phone that came while a later batch was merged) is written again.
    void setAfterUndo(Hook hook) { m_afterUndo = std::move(hook); }
    // Runs after the last contact, before the cancel is asked about and the edit committed.
    void setBeforeCommit(Hook hook) { m_beforeCommit = std::move(hook); }
    // The error text of a failure that is no std::exception.
    void setUnexpectedFailureText(const QString& text) { m_unexpected = text; }
    // Rewrites the text of a failure before it is reported, once what the failure kept is
    // settled (counts() then says how many contacts were taken).
    void setFailureText(std::function<QString(const QString& cause)> text) {
        m_failureText = std::move(text);
    }

    // Never throws. FINISHED: the edit is committed and the success (with counts()) is the
    // caller's to report. CANCELLED: nothing reported. FAILED: the error has been reported.
    // A cancel confirmed at any moment, also while the question is still open when the last
    // contact is in, counts: the run asks the reporter's cancelConfirmed before it commits.
    Outcome run(MergeSource& source);

    const Counts& counts() const { return m_counts; }

    // The default step: merges the contact under the database's rule.
    Result merge(const pim::_Contact& incoming,
                 LocalDb::AbsentField absent = LocalDb::ABSENT_IS_MISSING);

private:
    void report(int total);
    void count(Result result);
    // Hands a batch on (or, with false, waits for those on their way) and keeps the parts
    // once every batch handed is taken.
    void handBatch(EditTransaction& edit, bool batchDone);
    void noteTaken(int batches);
    // After a cancel or a failure: undoes what a cancel undoes.
    void settle(EditTransaction* edit);
    void fail(const QString& cause);

    LocalDb& m_db;
    RunReporter& m_reporter;
    Step m_step;
    Hand m_hand;
    Hook m_beforeCommit;
    Hook m_afterUndo;
    int m_batchSize = 0;
    // The contacts of each open part, oldest first: the first belongs to batch m_firstOpen.
    std::vector<int> m_openParts;
    int m_firstOpen = 0;
    int m_handed = 0;
    int m_takenBatches = 0;
    QString m_status;
    int m_fromPercent = 0;
    int m_toPercent = 100;
    QString m_unexpected;
    std::function<QString(const QString&)> m_failureText;
    Counts m_counts;
    QElapsedTimer m_reported;
};
