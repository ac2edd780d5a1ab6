#include "mergerun.h"

#include "edittransaction.h"
#include "localdb.h"

#include <algorithm>
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

void MergeRun::setBatches(int size, Hand hand) {
    m_batchSize = size;
    m_hand = std::move(hand);
}

void MergeRun::setBatches(int size, Hook taken) {
    int handed = 0;
    setBatches(size, [taken, handed](bool batchDone) mutable {
        if (batchDone) {
            if (taken)
                taken();
            ++handed;
        }
        return handed;
    });
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

void MergeRun::noteTaken(int batches) {
    batches = std::min(batches, m_handed);
    for (; m_takenBatches < batches; ++m_takenBatches)
        m_counts.taken += m_openParts.at(size_t(m_takenBatches - m_firstOpen));
}

void MergeRun::handBatch(EditTransaction& edit, bool batchDone) {
    if (batchDone)
        ++m_handed;
    noteTaken(m_hand(batchDone));
    // A part can be kept only with the parts inside it: once nothing handed is still on its
    // way, they are all kept.
    if (m_takenBatches < m_handed || m_openParts.size() > size_t(m_handed - m_firstOpen))
        return;
    for (size_t k = 0; k < m_openParts.size(); ++k)
        edit.keepPart();
    m_firstOpen += int(m_openParts.size());
    m_openParts.clear();
}

void MergeRun::settle(EditTransaction* edit) {
    if (!edit || !edit->isOpen())
        return;
    if (m_batchSize <= 0) {
        edit->rollback();
        return;
    }
    // A hand-over that throws has settled the batch that failed; asked again it says what was
    // taken. Each throw settles at least one batch on its way.
    for (int left = m_handed - m_takenBatches; left >= 0; --left) {
        try {
            noteTaken(m_hand(false));
            break;
        } catch (...) {
        }
    }
    // The parts of the batches not taken are the innermost.
    const size_t kept = size_t(m_takenBatches - m_firstOpen);
    for (size_t k = m_openParts.size(); k > kept; --k)
        edit->dropPart();
    m_openParts.resize(std::min(kept, m_openParts.size()));
    try {
        if (edit->isOpen() && m_afterUndo)
            m_afterUndo();
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
    m_openParts.clear();
    m_firstOpen = 0;
    m_handed = 0;
    m_takenBatches = 0;
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
            if (m_batchSize > 0 && inBatch == 0) {
                edit->beginPart();
                m_openParts.push_back(0);
            }
            ++m_counts.done;
            report(total);
            count(m_step(index, *incoming));
            if (m_batchSize > 0) {
                ++m_openParts.back();
                if (++inBatch == m_batchSize) {
                    inBatch = 0;
                    handBatch(*edit, true);
                }
            }
        }
        if (inBatch > 0)
            handBatch(*edit, true);
        if (m_batchSize > 0)
            handBatch(*edit, false);
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
