#include "deletecontactsthread.h"

#include "edittransaction.h"
#include "localdb.h"
#include "runreporter.h"

#include <QCoreApplication>

#include <exception>

DeleteContactsThread::DeleteContactsThread(LocalDb* db, QList<unsigned long long> contactIds,
                                           RunReporter* reporter, QObject* parent)
    : QThread(parent), m_db(db), m_ids(std::move(contactIds)), m_reporter(reporter) {}

DeleteContactsThread::~DeleteContactsThread() = default;

bool DeleteContactsThread::deleteContacts(LocalDb& db, const QList<unsigned long long>& contactIds,
                                          RunReporter& reporter) {
    const int n = contactIds.size();
    const QString status = QCoreApplication::translate("DeleteContactsThread", "Deleting contacts");
    try {
        EditTransaction edit(db);
        int lastPercent = -1;
        for (int i = 0; i < n; ++i) {
            if (reporter.cancelled())
                return false;  // the transaction goes back with the scope
            db.removeContact(contactIds.at(i));
            const int percent = static_cast<int>(static_cast<double>(i + 1) / n * 100);
            if (percent != lastPercent) {
                lastPercent = percent;
                reporter.progress(
                    status, percent,
                    QCoreApplication::translate("ExportToFileThread", "Contacts:%1/%2")
                        .arg(i + 1)
                        .arg(n));
            }
        }
        // A cancel the user confirms while the last contacts went still keeps them all.
        if (reporter.cancelConfirmed())
            return false;
        edit.commit();
    } catch (const std::exception& e) {
        reporter.error(QString::fromUtf8(e.what()));
        return false;
    }
    reporter.succeed(QString());
    return true;
}

void DeleteContactsThread::run() {
    m_deleted = deleteContacts(*m_db, m_ids, *m_reporter);
}
