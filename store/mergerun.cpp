#include "mergerun.h"

#include "edittransaction.h"
#include "localdb.h"

#include <exception>
#include <memory>

MergeRun::MergeRun(LocalDb& db, RunReporter& reporter)
    : m_db(db),
      m_reporter(reporter),
      m_step([this](int, const pim::_Contact& c) { return merge(c); }),
      m_unexpected(QStringLiteral("The contacts could not be stored: an unexpected failure "
                                  "stopped the run.")) {}

MergeRun::~MergeRun() = default;

void MergeRun::setProgress(const QString& status, int fromPercent, int toPercent) {
    m_status = status;
    m_fromPercent = fromPercent;
    m_toPercent = toPercent;
}

void MergeRun::setBatches(int size, Hook taken) {
    m_batchSize = size;
    m_taken = std::move(taken);
}

MergeRun::Result MergeRun::merge(const pim::_Contact& incoming, LocalDb::AbsentField absent) {
    return m_db.mergeContact(incoming, absent) ? MERGED : ADDED;
}

void MergeRun::report(int total) {
    const int done = m_counts.done;
    // Often enough for the eye; a report per contact would keep the window (and this thread,
    // which hands each one over) busy.
    if (m_reported.isValid() && m_reported.elapsed() < PROGRESS_INTERVAL_MS && done != total)
        return;
    m_reported.start();
    int percent = m_toPercent;
    if (total > 0) {
        const double p =
            m_fromPercent + double(done) / double(total) * (m_toPercent - m_fromPercent);
        percent = p >= m_toPercent ? m_toPercent : int(p);
    }
    m_reporter.progress(m_status, percent, QStringLiteral("Contacts:%1/%2").arg(done).arg(total));
}

void MergeRun::count(Result result) {
    switch (result) {
        case ADDED:
            ++m_counts.added;
            break;
        case MERGED:
            ++m_counts.merged;
            break;
        case SKIPPED:
            ++m_counts.skipped;
            break;
    }
}

void MergeRun::takeBatch(EditTransaction& edit, int& inBatch) {
    if (m_taken)
        m_taken();
    edit.keepPart();
    m_counts.taken += inBatch;
    inBatch = 0;
}

void MergeRun::settle(EditTransaction* edit) {
    if (!edit || !edit->isOpen())
        return;
    if (m_batchSize <= 0) {
        edit->rollback();
        return;
    }
    edit->dropPart();
    try {
        if (edit->isOpen())
            edit->commit();
    } catch (const std::exception& e) {
        // What was taken elsewhere stays there; this copy of it goes without.
        qWarning("MergeRun: keeping the batches taken failed: %s", e.what());
    }
}

MergeRun::Outcome MergeRun::run(MergeSource& source) {
    m_counts = Counts();
    m_reported.invalidate();
    std::unique_ptr<EditTransaction> edit;
    try {
        const int total = source.total();
        // One edit for the run; the store decides whether deferring its indexes pays.
        edit.reset(new EditTransaction(m_db, total));
        int inBatch = 0;
        for (int index = 0;; ++index) {
            if (m_reporter.cancelled())
                throw RunCancelled();
            const pim::_Contact* incoming = source.next();
            if (!incoming)
                break;
            if (m_batchSize > 0 && inBatch == 0)
                edit->beginPart();
            ++m_counts.done;
            report(total);
            count(m_step(index, *incoming));
            if (m_batchSize > 0 && ++inBatch == m_batchSize)
                takeBatch(*edit, inBatch);
        }
        if (inBatch > 0)
            takeBatch(*edit, inBatch);
        if (m_beforeCommit)
            m_beforeCommit();
        // Waits while the user is still being asked: a cancel confirmed now still counts.
        if (m_reporter.cancelConfirmed())
            throw RunCancelled();
        edit->commit();
        return FINISHED;
    } catch (const RunCancelled&) {
        settle(edit.get());
        return CANCELLED;
    } catch (const std::exception& e) {
        settle(edit.get());
        fail(QString::fromUtf8(e.what()));
        return FAILED;
    } catch (...) {
        settle(edit.get());
        fail(m_unexpected);
        return FAILED;
    }
}

void MergeRun::fail(const QString& cause) {
    m_reporter.error(m_failureText ? m_failureText(cause) : cause);
}
