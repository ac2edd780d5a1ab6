// Worker thread that writes the contact cards into a PDF file under a progress dialog.
#ifndef TW_EXPORT_PDFEXPORTTHREAD_H
#define TW_EXPORT_PDFEXPORTTHREAD_H

#include "store/photofetch.h"
#include "store/pim.h"

#include <QList>
#include <QString>
#include <QThread>

class RunReporter;

// Used like ExportToFileThread: everything the user sees comes through the form. A cancel
// leaves the file that stood at the path as it was.
class PdfExportThread : public QThread {
    Q_OBJECT
public:
    PdfExportThread(const QList<pim::_Contact>& contacts, QString path, RunReporter* reporter,
                    QObject* parent = nullptr);
    ~PdfExportThread() override;

    // Reads the photos of contacts listed without their bytes, one card at a time.
    void setPhotoFetch(PhotoFetch fetch) { m_photoFetch = std::move(fetch); }

    // The export itself, reporting exactly once (succeed or error; nothing after a cancel).
    static void run(const QList<pim::_Contact>& contacts, const QString& path,
                    RunReporter& reporter, const PhotoFetch& fetch = PhotoFetch());

protected:
    void run() override;

private:
    QList<pim::_Contact> m_contacts;
    QString m_path;
    RunReporter* m_reporter;
    PhotoFetch m_photoFetch;
};

#endif
