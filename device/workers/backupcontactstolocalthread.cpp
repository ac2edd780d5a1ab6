#include "device/workers/backupcontactstolocalthread.h"

#include <exception>

#include "ui/progressform.h"
#include "store/localdb.h"

BackupContactsToLocalThread::BackupContactsToLocalThread(const QList<pim::_Contact>& contacts,
                                                         LocalDb* db, ProgressForm* form,
                                                         QObject* parent)
    : QThread(parent), m_contacts(contacts), m_db(db), m_form(form) {}

BackupContactsToLocalThread::~BackupContactsToLocalThread() = default;

void BackupContactsToLocalThread::run() {
    const int total = m_contacts.size();
    int done = 0;
    int merged = 0;
    try {
        m_db->beginEdit();
        for (const pim::_Contact& c : m_contacts) {
            if (m_form->rejected) {
                // Cancelled: like every other cancelled batch, nothing of it stays.
                m_db->endEdit(false);
                return;
            }
            ++done;
            m_form->invokeUpdateProgress(
                tr("IDS_IMPORTING_CONTACTS_TO_LOCALDB"),
                static_cast<int>(static_cast<double>(done) / total * 100.0),
                tr("Contacts:%1/%2").arg(done).arg(total));
            pim::_Contact dest;
            bool existed = false;
            m_db->combineContact(c, dest, existed);
            if (existed) {
                ++merged;
            }
        }
        m_db->endEdit(true);
    } catch (const std::exception& e) {
        try {
            m_db->endEdit(false);
        } catch (const std::exception&) {
        }
        m_form->invokeErrorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    if (merged == 0) {
        m_form->invokeSucceed(tr("IDS_SUC_IMPORT_%1_TO_LOCALDB").arg(done));
    } else {
        m_form->invokeSucceed(
            tr("IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED").arg(done - merged).arg(merged));
    }
}
