// Worker thread that imports a vCard or CSV file into a local database under a ProgressForm.
#ifndef TW_IMPORT_IMPORTCONTACTSTOLOCALTHREAD_H
#define TW_IMPORT_IMPORTCONTACTSTOLOCALTHREAD_H

#include <QString>
#include <QThread>

class LocalDb;
class ProgressForm;

// The caller creates the form, then the worker, starts it, runs the form's modal loop and waits
// for the worker. The import succeeded when the form ended with result 1 and was not cancelled.
class ImportContactsToLocalThread : public QThread {
    Q_OBJECT
public:
    enum TYPE { VCARD = 1, CSV = 2 };

    ImportContactsToLocalThread(QString path, TYPE type, LocalDb* db, ProgressForm* progressForm,
                                QObject* parent = nullptr);
    ~ImportContactsToLocalThread() override;

protected:
    void run() override;

private:
    QString path;
    TYPE type;
    LocalDb* db;
    ProgressForm* progressForm;
};

#endif
