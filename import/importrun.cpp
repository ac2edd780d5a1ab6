#include "importrun.h"

#include "absimport.h"
#include "store/localdb.h"

#include <QCoreApplication>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// Takes the importer's contacts on a thread of its own, a bounded stretch ahead of the merges:
// mapping a card costs about as much as parsing it, and the merges need not wait for it. The
// importer is used by that thread alone from start to stop; what it gives (contacts, the end,
// an exception) comes out in order, each exception in the place where it was thrown.
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

    Item take() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait(lock, [this] { return !m_items.empty(); });
        Item item = std::move(m_items.front());
        if (item.kind == CONTACT) {
            m_items.pop_front();  // the last item (end or failure) stays for any later take
            // The feed refills in batches: one wake-up per half queue, not one per contact.
            if (m_items.size() == AHEAD / 2)
                m_cond.notify_all();
        }
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
    enum { AHEAD = 64 };

    void run() {
        Item item;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (m_items.size() >= AHEAD)
                    m_cond.wait(lock, [this] { return m_stopping || m_items.size() <= AHEAD / 2; });
                if (m_stopping)
                    return;
            }
            item = Item();
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
            const bool last = item.kind != CONTACT;
            bool wasEmpty = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                wasEmpty = m_items.empty();
                m_items.push_back(std::move(item));
            }
            if (wasEmpty || last)
                m_cond.notify_all();
            if (last)
                return;
        }
    }

    AbsImport& m_importer;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Item> m_items;
    bool m_stopping = false;
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
            ContactFeed::Item item = feed.take();
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
        if (skippedEntries > 0) {
            text += "\n" + tr("%1 entries without a name, e-mail, phone or company were skipped.")
                               .arg(skippedEntries);
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
