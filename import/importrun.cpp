#include "importrun.h"

#include "absimport.h"
#include "importfeed.h"
#include "store/localdb.h"
#include "store/mergerun.h"

#include <QCoreApplication>

#include <thread>

namespace {

// The feed as a source of a merge run: its failures come out where they happened.
class FeedSource : public MergeSource {
public:
    FeedSource(ImportFeed& feed, int total, LocalDb& db) : m_feed(feed), m_total(total), m_db(db) {}
    ~FeedSource() override { m_db.setKnownPhotoHashes(LocalDb::KnownPhotoHashes()); }
    int total() const override { return m_total; }
    const pim::_Contact* next() override {
        ImportFeed::Item& item = m_feed.take();
        m_db.setKnownPhotoHashes(item.photoHashes);
        switch (item.kind) {
            case ImportFeed::CONTACT:
                return &item.contact;
            case ImportFeed::END:
                return nullptr;
            case ImportFeed::HASNEXT_FAILED:
            case ImportFeed::NEXT_FAILED:
                break;
        }
        std::rethrow_exception(item.error);
    }

private:
    ImportFeed& m_feed;
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
    {
        // The database is opened (a new one gets its name index, and waits for the disk)
        // while the file is read and counted. Its failures are the run's to report, when the
        // run opens it again.
        std::thread opening([&db] {
            try {
                db.open_check();
            } catch (...) {
            }
        });
        struct Join {
            std::thread& t;
            ~Join() { t.join(); }
        } join{opening};
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
        ImportFeed feed(importer);
        FeedSource source(feed, total, db);
        outcome = run.run(source);
        feed.stop();
    }
    // The importer is the feed's readers' alone until it stopped.
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
    const int unreadCards = importer.unreadCards();
    if (unreadCards > 0)
        text += "\n" + tr("%1 cards that could not be read were skipped.").arg(unreadCards);
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
