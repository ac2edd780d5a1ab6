#include "importrun.h"

#include "absimport.h"
#include "store/localdb.h"

#include <QCoreApplication>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Takes the importer's contacts on a thread of its own, a bounded stretch ahead of the merges:
// mapping a card costs about as much as parsing it, and the merges need not wait for it. The
// importer is used by that thread alone from start to stop; what it gives (contacts, the end,
// an exception) comes out in order, each exception in the place where it was thrown.
//
// Contacts cross in chunks, one hand-off per chunk rather than per contact, and each chunk goes
// back to the feed once merged, to be freed there: memory then returns to the thread that took
// it, instead of both threads contending for the allocator's locks.
class ContactFeed {
public:
    enum Kind { CONTACT, END, HASNEXT_FAILED, NEXT_FAILED };
    struct Item {
        Kind kind = END;
        pim::_Contact contact;
        std::exception_ptr error;
    };

    explicit ContactFeed(AbsImport& importer) : m_importer(importer) {
        m_thread = std::thread([this] { run(); });
    }
    ~ContactFeed() { stop(); }
    ContactFeed(const ContactFeed&) = delete;
    ContactFeed& operator=(const ContactFeed&) = delete;

    // The next item, valid until the following take. The last item (the end or a failure)
    // stays for any later take.
    Item& take() {
        if (m_pos == m_current.size())
            nextChunk();
        Item& item = m_current[m_pos];
        if (item.kind == CONTACT)
            ++m_pos;
        return item;
    }

    // Returns once the thread has let go of the importer.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_cond.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    enum { CHUNK = 64, CHUNKS_AHEAD = 8 };
    using Chunk = std::vector<Item>;

    void nextChunk() {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_current.empty())
                m_spent.push_back(std::move(m_current));
            m_cond.wait(lock, [this] { return !m_ready.empty(); });
            m_current = std::move(m_ready.front());
            m_ready.pop_front();
        }
        m_pos = 0;
        m_cond.notify_all();  // room ahead, and a chunk to free
    }

    void run() {
        std::vector<Chunk> spent;
        for (;;) {
            Chunk chunk;
            chunk.reserve(CHUNK);
            bool last = false;
            while (!last && chunk.size() < CHUNK) {
                chunk.emplace_back();
                Item& item = chunk.back();
                bool more = false;
                try {
                    more = m_importer.hasNext();
                } catch (...) {
                    item.kind = HASNEXT_FAILED;
                    item.error = std::current_exception();
                }
                if (more) {
                    try {
                        item.contact = m_importer.nextContact();
                        item.kind = CONTACT;
                    } catch (...) {
                        item.kind = NEXT_FAILED;
                        item.error = std::current_exception();
                    }
                }
                last = item.kind != CONTACT;
            }
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cond.wait(lock, [this] { return m_stopping || m_ready.size() < CHUNKS_AHEAD; });
                if (m_stopping)
                    return;
                m_ready.push_back(std::move(chunk));
                spent.swap(m_spent);
            }
            m_cond.notify_all();
            spent.clear();
            if (last)
                return;
        }
    }

    AbsImport& m_importer;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Chunk> m_ready;   // filled, in order
    std::vector<Chunk> m_spent;  // merged, to be freed by the feed
    bool m_stopping = false;
    Chunk m_current;  // the chunk being merged; touched by the merging thread alone
    size_t m_pos = 0;
    std::thread m_thread;
};

QString tr(const char* key) {
    return QCoreApplication::translate("ImportContactsToLocalThread", key);
}

QString unknownError() {
    return tr("IDS_IMPORT_UNKNOWN_ERROR");
}

// Rolls back, and keeps a failing rollback from hiding the error being reported.
void rollback(LocalDb& db) {
    try {
        db.endEdit(false);
    } catch (...) {
    }
}

}  // namespace

void g_runImport(AbsImport& importer, const QString& path, LocalDb& db, ImportReporter& reporter) {
    try {
        importer.initialize(path);
        db.beginBulkEdit(importer.total());
    } catch (const std::exception& e) {
        reporter.error(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        reporter.error(unknownError());
        return;
    }

    try {
        const int total = importer.total();
        int added = 0;
        int merged = 0;
        int skippedEntries = 0;  // cards or rows with nothing to store
        int i = 1;
        // Translated once: the loop reports every contact.
        const QString status = tr("IDS_IMPORTING_CONTACTS_TO_DB");
        const QString counter = tr("Contacts:%1/%2");
        ContactFeed feed(importer);
        for (;;) {
            ContactFeed::Item& item = feed.take();
            if (item.kind == ContactFeed::END)
                break;
            if (item.kind == ContactFeed::HASNEXT_FAILED)
                std::rethrow_exception(item.error);
            if (reporter.cancelled()) {
                feed.stop();
                importer.uninitialize();
                db.endEdit(false);
                return;
            }
            int percent = 100;
            if (total > 0) {
                double p = double(i) / double(total) * 100.0;
                percent = p >= 100.0 ? 100 : int(p);
            }
            reporter.progress(status, percent, counter.arg(i).arg(total));
            if (item.kind == ContactFeed::NEXT_FAILED)
                std::rethrow_exception(item.error);
            pim::_Contact stored;
            const pim::_Contact& incoming = item.contact;
            if (incoming.fullName.isEmpty()) {
                ++skippedEntries;
            } else {
                bool wasMerged = false;
                db.combineContact(incoming, stored, wasMerged);
                if (wasMerged) {
                    ++merged;
                } else {
                    ++added;
                }
            }
            ++i;
        }
        feed.stop();
        importer.uninitialize();
        // A cancel confirmed while the last contact was merged, or still being asked about,
        // means "keep nothing".
        if (reporter.cancelConfirmed()) {
            db.endEdit(false);
            return;
        }
        db.endEdit(true);
        QString text =
            merged == 0 ? tr("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB").arg(added)
                        : tr("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED").arg(added).arg(merged);
        // What was left out is said, so that a short count does not go unexplained.
        const int skippedLines = importer.skippedLines();
        if (skippedLines > 0)
            text += "\n" + tr("%1 lines that could not be read were skipped.").arg(skippedLines);
        const QStringList unread = importer.unreadColumns();
        if (skippedEntries > 0 && unread.isEmpty()) {
            text += "\n" + tr("%1 entries without a name, e-mail, phone or company were skipped.")
                               .arg(skippedEntries);
        } else if (skippedEntries > 0) {
            // Such a row may well hold a name, in a column that was not understood.
            text += "\n" + tr("%1 entries with nothing in the columns that were understood were "
                              "skipped.")
                               .arg(skippedEntries);
        }
        if (!unread.isEmpty()) {
            text +=
                "\n" +
                tr("Columns not understood, left out: %1.").arg(unread.join(QStringLiteral(", ")));
        }
        if (importer.skippedDates() > 0) {
            text += "\n" + tr("%1 dates that could not be read as dates were left out.")
                               .arg(importer.skippedDates());
        }
        reporter.succeed(text);
    } catch (const std::exception& e) {
        rollback(db);
        reporter.error(QString::fromUtf8(e.what()));
    } catch (...) {
        rollback(db);
        reporter.error(unknownError());
    }
}
