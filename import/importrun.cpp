#include "importrun.h"

#include "absimport.h"
#include "store/entitycolumns.h"
#include "store/localdb.h"
#include "store/mergerun.h"

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
        LocalDb::KnownPhotoHashes photoHashes;  // of the contact's photos
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
                        hashPhotos(item);
                        // Here rather than in the merge: its new rows then share these maps.
                        entitycolumns::holdRowKeys(item.contact);
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

    // Hashing a photo costs about as much as storing it: done here, the merges need not.
    static void hashPhotos(Item& item) {
        const auto photos = item.contact.entities.constFind(pim::ENTITY_PHOTO);
        if (photos == item.contact.entities.constEnd())
            return;
        for (const pim::Entity& photo : *photos) {
            const QByteArray bytes = photo.fields.value(QStringLiteral("data15")).toByteArray();
            if (!bytes.isEmpty())
                item.photoHashes.append(qMakePair(bytes, pim::Entity::photoHash(bytes)));
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

// The feed as a source of a merge run: its failures come out where they happened.
class FeedSource : public MergeSource {
public:
    FeedSource(ContactFeed& feed, int total, LocalDb& db)
        : m_feed(feed), m_total(total), m_db(db) {}
    ~FeedSource() override { m_db.setKnownPhotoHashes(LocalDb::KnownPhotoHashes()); }
    int total() const override { return m_total; }
    const pim::_Contact* next() override {
        ContactFeed::Item& item = m_feed.take();
        m_db.setKnownPhotoHashes(item.photoHashes);
        switch (item.kind) {
            case ContactFeed::CONTACT:
                return &item.contact;
            case ContactFeed::END:
                return nullptr;
            case ContactFeed::HASNEXT_FAILED:
            case ContactFeed::NEXT_FAILED:
                break;
        }
        std::rethrow_exception(item.error);
    }

private:
    ContactFeed& m_feed;
    int m_total;
    LocalDb& m_db;
};

QString tr(const char* key) {
    return QCoreApplication::translate("ImportContactsToLocalThread", key);
}

QString unknownError() {
    return tr("IDS_IMPORT_UNKNOWN_ERROR");
}

}  // namespace

void g_runImport(AbsImport& importer, const QString& path, LocalDb& db, ImportReporter& reporter) {
    int total = 0;
    try {
        importer.initialize(path);
        total = importer.total();
    } catch (const std::exception& e) {
        reporter.error(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        reporter.error(unknownError());
        return;
    }

    MergeRun run(db, reporter);
    run.setProgress(tr("IDS_IMPORTING_CONTACTS_TO_DB"));
    // A group the file defines is made even when none of its members is in the file; inside
    // the run's one edit, so a cancel or a failure keeps none.
    const QStringList groups = importer.groups();
    if (!groups.isEmpty()) {
        run.setBeforeCommit([&db, groups] {
            for (const QString& name : groups)
                db.getGroupIdOrAdd(name);
        });
    }
    run.setUnexpectedFailureText(unknownError());
    // Cards or rows with nothing to store are counted, not merged.
    run.setStep([&run](int, const pim::_Contact& incoming) {
        return incoming.fullName.isEmpty() ? MergeRun::SKIPPED : run.merge(incoming);
    });
    MergeRun::Outcome outcome = MergeRun::FAILED;
    {
        ContactFeed feed(importer);
        FeedSource source(feed, total, db);
        outcome = run.run(source);
        feed.stop();
    }
    // The importer is the feed's alone until it stopped.
    try {
        importer.uninitialize();
    } catch (...) {
    }
    if (outcome != MergeRun::FINISHED)
        return;
    const int added = run.counts().added;
    const int merged = run.counts().merged;
    QString text = merged == 0
                       ? tr("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB").arg(added)
                       : tr("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED").arg(added).arg(merged);
    // What was left out is said, so that a short count does not go unexplained.
    const int skippedLines = importer.skippedLines();
    if (skippedLines > 0)
        text += "\n" + tr("%1 lines that could not be read were skipped.").arg(skippedLines);
    const int skippedEntries = run.counts().skipped;
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
        text += "\n" +
                tr("Columns not understood, left out: %1.").arg(unread.join(QStringLiteral(", ")));
    }
    if (importer.groupCardCount() > 0) {
        text += "\n" + tr("%1 group cards were read as groups, not as contacts.")
                           .arg(importer.groupCardCount());
    }
    if (importer.membersNotFound() > 0) {
        text += "\n" + tr("%1 group members named by the group cards are not in the file.")
                           .arg(importer.membersNotFound());
    }
    if (importer.skippedDates() > 0) {
        text += "\n" + tr("%1 dates that could not be read as dates were left out.")
                           .arg(importer.skippedDates());
    }
    reporter.succeed(text);
}
