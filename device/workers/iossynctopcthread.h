#pragma once

#include <QString>
#include <QThread>

class LocalDb;
class PlistCFType;
class RunReporter;

// Reads every contact record of a connected iPhone into its (fresh, empty) mirror database,
// in one transaction, reporting to a progress dialog.
class IOSSyncToPCThread : public QThread {
    Q_OBJECT
public:
    IOSSyncToPCThread(QString devid, LocalDb* db, RunReporter* reporter);
    ~IOSSyncToPCThread() override;

    // Turns the record batches of a sync session into rows of a store; exposed so that the
    // record mapping can be exercised without a device. Call begin(), then add() per batch.
    class RecordWriter {
    public:
        explicit RecordWriter(LocalDb* db);
        ~RecordWriter();
        RecordWriter(const RecordWriter&) = delete;
        RecordWriter& operator=(const RecordWriter&) = delete;
        void addBatch(const PlistCFType& batch);
        // After the last batch: a contact with neither a name nor a company is listed (and
        // found by a merge) by its first e-mail address or number, as the phone lists it.
        void finish();
        // Child records whose contact never arrived.
        int orphanCount() const;
        // Contact records stored so far.
        int contactCount() const;

    private:
        struct Private;
        Private* d;
    };

protected:
    void run() override;

private:
    LocalDb* m_db;
    QString m_devid;
    RunReporter* m_reporter;
};
