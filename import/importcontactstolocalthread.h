// Worker thread that imports a vCard or CSV file into a local database under a progress dialog.
#ifndef TW_IMPORT_IMPORTCONTACTSTOLOCALTHREAD_H
#define TW_IMPORT_IMPORTCONTACTSTOLOCALTHREAD_H

#include <QString>
#include <QThread>

class LocalDb;
class RunReporter;

// The caller creates the progress dialog (the reporter), then the worker, starts it, runs the
// dialog's modal loop and waits for the worker. The import succeeded when the dialog ended with
// result 1 and was not cancelled.
class ImportContactsToLocalThread : public QThread {
    Q_OBJECT
public:
    enum TYPE { VCARD = 1, CSV = 2 };

    ImportContactsToLocalThread(QString path, TYPE type, LocalDb* db, RunReporter* reporter,
                                QObject* parent = nullptr);
    ~ImportContactsToLocalThread() override;

protected:
    void run() override;

private:
    QString path;
    TYPE type;
    LocalDb* db;
    RunReporter* reporter;
};

#endif
