#include "backupcontactstolocalthread.h"

#include "store/localdb.h"
#include "store/mergerun.h"
#include "store/runreporter.h"

BackupContactsToLocalThread::BackupContactsToLocalThread(const QList<pim::_Contact>& contacts,
                                                         LocalDb* db, RunReporter* reporter,
                                                         QObject* parent)
    : QThread(parent), m_contacts(contacts), m_db(db), m_reporter(reporter) {}

BackupContactsToLocalThread::~BackupContactsToLocalThread() = default;

void BackupContactsToLocalThread::run() {
    MergeRun merge(*m_db, *m_reporter);
    merge.setProgress(tr("IDS_IMPORTING_CONTACTS_TO_LOCALDB"));
    ListSource source(m_contacts);
    // Cancelled: like every other cancelled batch, nothing of it stays.
    if (merge.run(source) != MergeRun::FINISHED)
        return;
    const int done = merge.counts().done;
    const int merged = merge.counts().merged;
    if (merged == 0) {
        m_reporter->succeed(tr("IDS_SUC_IMPORT_%1_TO_LOCALDB").arg(done));
    } else {
        m_reporter->succeed(
            tr("IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED").arg(done - merged).arg(merged));
    }
}
