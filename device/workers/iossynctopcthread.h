#pragma once

#include <QString>
#include <QThread>
#include <memory>

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
    // record mapping can be exercised without a device. Call addBatch() per batch, or
    // prepare() and store() on two threads, then finish().
    class RecordWriter {
    public:
        // The rows made of one batch, waiting to be stored.
        class Rows;

        explicit RecordWriter(LocalDb* db);
        ~RecordWriter();
        RecordWriter(const RecordWriter&) = delete;
        RecordWriter& operator=(const RecordWriter&) = delete;
        void addBatch(const PlistCFType& batch);
        // The two halves of addBatch: making the rows touches neither the store nor the
        // writer, so it may run on another thread than storing them; batches are stored in
        // the order the phone sent them.
        static std::shared_ptr<Rows> prepare(const PlistCFType& batch);
        void store(Rows& rows);
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
