#include "pdfexportthread.h"

#include "contactsprinter.h"

#include "store/runreporter.h"

#include <QCoreApplication>

#include <exception>

PdfExportThread::PdfExportThread(const QList<pim::_Contact>& contacts, QString path,
                                 RunReporter* reporter, QObject* parent)
    : QThread(parent), m_contacts(contacts), m_path(path), m_reporter(reporter) {}

PdfExportThread::~PdfExportThread() {}

void PdfExportThread::run(const QList<pim::_Contact>& contacts, const QString& path,
                          RunReporter& reporter, const PhotoFetch& fetch) {
    int cards = 0;
    try {
        cards = ContactsPrinter::writePdfThrow(contacts, path, &reporter, fetch);
    } catch (const std::exception& e) {
        reporter.error(QString::fromUtf8(e.what()));
        return;
    }
    if (cards < 0)
        return;  // cancelled: the dialog has ended already
    reporter.succeed(
        QCoreApplication::translate("ExportToFileThread", "IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE")
            .arg(cards));
}

void PdfExportThread::run() {
    run(m_contacts, m_path, *m_reporter, m_photoFetch);
}
