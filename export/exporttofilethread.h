// Worker thread that writes contacts into a vCard, CSV, text, HTML or Word file under a
// progress dialog.
#ifndef TW_EXPORT_EXPORTTOFILETHREAD_H
#define TW_EXPORT_EXPORTTOFILETHREAD_H

#include "store/pim.h"

#include <QList>
#include <QString>
#include <QThread>

class RunReporter;

// The caller creates the form (title "IDS_STARTING_EXPORT_CONTACTS_TO_FILE"), then the worker,
// starts it, runs the form's modal loop and waits for the worker. Everything the user sees
// (progress, success, error) comes through the form.
class ExportToFileThread : public QThread {
    Q_OBJECT
public:
    // HTML also serves Word files (the same page under a ".doc" name).
    enum TYPE { VCARD = 1, CSV = 2, TXT = 3, HTML = 4 };

    ExportToFileThread(const QList<pim::_Contact>& contacts, TYPE type, QString path,
                       RunReporter* reporter, QObject* parent = nullptr);
    ~ExportToFileThread() override;

    // The file written: the path given, or for HTML the page inside the folder of that name.
    // Read it after the thread has finished.
    QString path() const { return m_path; }

protected:
    void run() override;

private:
    QList<pim::_Contact> m_contacts;
    TYPE m_type;
    QString m_path;
    RunReporter* m_reporter;
};

#endif
