// The import loop against a real local database: counts, closing texts, progress, cancel and
// failures.
#include "import/csvimport.h"
#include "import/importrun.h"
#include "import/vcardimport.h"

#include "store/localdb.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace {

struct Recorder : ImportReporter {
    QList<int> percents;
    QStringList texts;
    QString status;
    QStringList succeeded, errors;
    // Asked with the contacts taken so far: the run asks before it takes each contact and once
    // more before it commits.
    std::function<bool(int)> cancelAt = [](int) { return false; };
    int polls = 0;

    bool cancelled() override { return cancelAt(polls++); }
    void progress(QString s, int percent, QString text) override {
        status = s;
        percents << percent;
        texts << text;
    }
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
    int reports() const { return succeeded.size() + errors.size(); }
};

// Contacts from a list, in parts of `partSize` when that is set; optionally throws while
// taking the contact at `throwAt`.
class ListImport : public AbsImport {
public:
    QList<pim::_Contact> list;
    int throwAt = -1;
    int hasNextThrowsAt = -1;
    bool throwStd = true;
    int partSize = 0;
    bool uninitialized = false;

    // The contacts [pos, end) of the list.
    class Part : public ImportPart {
    public:
        Part(ListImport& owner, int pos, int end) : m_owner(owner), m_pos(pos), m_end(end) {}
        bool hasNext() override {
            if (m_pos == m_owner.hasNextThrowsAt)
                throw std::runtime_error("file gone");
            return m_pos < m_end;
        }
        pim::_Contact nextContact() override {
            if (m_pos == m_owner.throwAt) {
                if (m_owner.throwStd)
                    throw std::runtime_error("broken contact \xC3\xA9");
                throw 42;
            }
            return m_owner.list.at(m_pos++);  // read alone: parts share the list
        }

    private:
        ListImport& m_owner;
        int m_pos, m_end;
    };

    void initialize(QString) override { whole.reset(new Part(*this, 0, list.size())); }
    int total() override { return list.size(); }
    bool hasNext() override { return whole->hasNext(); }
    pim::_Contact nextContact() override { return whole->nextContact(); }
    void uninitialize() override { uninitialized = true; }
    int partCount() const override {
        return partSize > 0 ? qMax(1, (list.size() + partSize - 1) / partSize) : 1;
    }
    std::unique_ptr<ImportPart> part(int index) override {
        if (partSize <= 0)
            return nullptr;
        return std::unique_ptr<ImportPart>(
            new Part(*this, index * partSize, qMin(list.size(), (index + 1) * partSize)));
    }

private:
    std::unique_ptr<Part> whole;
};

pim::_Contact named(const QString& given, const QString& phone = QString()) {
    pim::_Contact c;
    pim::Entity n;
    n.fields["data2"] = given;
    c.fullName = n.fullName();
    n.fields["data1"] = c.fullName;
    c.entities[pim::ENTITY_NAME].append(n);
    if (!phone.isEmpty()) {
        pim::Entity p;
        p.fields["data1"] = phone;
        p.fields["data2"] = 2;
        c.entities[pim::ENTITY_PHONE].append(p);
    }
    return c;
}

class ImportRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        db.reset(new LocalDb(dir.filePath("t.db"),
                             QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
        db->create();
    }
    QString write(const QByteArray& data, const char* name) {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return path;
    }
    QStringList names() {
        QStringList out;
        for (const pim::_Contact& c : db->contacts())
            out << c.fullName;
        out.sort();
        return out;
    }
    QList<pim::_Contact> some(int n) {
        QList<pim::_Contact> l;
        for (int i = 0; i < n; ++i)
            l << named(QString("P%1").arg(i));
        return l;
    }

    QTemporaryDir dir;
    QScopedPointer<LocalDb> db;
};

}  // namespace

TEST_F(ImportRun, CountsAndClosingTexts) {
    Recorder r;
    ListImport none;
    g_runImport(none, "", *db, r);
    EXPECT_EQ(r.succeeded, QStringList{"IDS_SUC_IMPORT_0_CONTACTS_TO_DB"});
    EXPECT_TRUE(r.percents.isEmpty());

    // Three new contacts, one nameless among five.
    Recorder r2;
    ListImport five;
    five.list = {named("A"), named("B"), pim::_Contact(), named("C"), pim::_Contact()};
    g_runImport(five, "", *db, r2);
    EXPECT_EQ(r2.percents.first(), 20);
    EXPECT_EQ(r2.percents.last(), 100);
    EXPECT_EQ(r2.texts.first(), "Contacts:1/5");
    EXPECT_EQ(r2.status, "IDS_IMPORTING_CONTACTS_TO_DB");
    // The closing text says what was left out.
    EXPECT_EQ(r2.succeeded,
              QStringList{"IDS_SUC_IMPORT_3_CONTACTS_TO_DB\n2 entries without a name, e-mail, "
                          "phone or company were skipped."});
    EXPECT_TRUE(five.uninitialized);
    EXPECT_EQ(names(), (QStringList{"A", "B", "C"}));

    // Same name twice in one file, plus names already stored (case-insensitive).
    Recorder r3;
    ListImport more;
    more.list = {named("D"), named("D", "123"), named("a"), named("E")};
    g_runImport(more, "", *db, r3);
    EXPECT_EQ(r3.succeeded, QStringList{"IDS_SUC_IMPORT_2_CONTACTS_TO_DB_2_MERGED"});
    EXPECT_EQ(names(), (QStringList{"A", "B", "C", "D", "E"}));

    Recorder r4;
    ListImport again;
    again.list = {named("A"), named("B")};
    g_runImport(again, "", *db, r4);
    EXPECT_EQ(r4.succeeded, QStringList{"IDS_SUC_IMPORT_0_CONTACTS_TO_DB_2_MERGED"});
}

TEST_F(ImportRun, PercentSequence) {
    Recorder r;
    ListImport three;
    three.list = some(3);
    g_runImport(three, "", *db, r);
    // Progress is throttled: the first contact and the last always show.
    ASSERT_GE(r.percents.size(), 2);
    EXPECT_EQ(r.percents.first(), 33);
    EXPECT_EQ(r.percents.last(), 100);
    EXPECT_EQ(r.texts.first(), "Contacts:1/3");
    EXPECT_EQ(r.texts.last(), "Contacts:3/3");
    EXPECT_EQ(r.status, "IDS_IMPORTING_CONTACTS_TO_DB");

    Recorder h;
    ListImport hundred;
    hundred.list = some(100);
    g_runImport(hundred, "", *db, h);
    ASSERT_FALSE(h.percents.isEmpty());
    EXPECT_EQ(h.percents.first(), 1);
    EXPECT_EQ(h.percents.last(), 100);
    EXPECT_TRUE(std::is_sorted(h.percents.begin(), h.percents.end()));
}

TEST_F(ImportRun, CancelRollsBack) {
    // Cancel seen at the start of pass 3: two contacts merged, then rolled back.
    Recorder r;
    r.cancelAt = [](int passes) { return passes == 2; };
    ListImport five;
    five.list = some(5);
    g_runImport(five, "", *db, r);
    EXPECT_EQ(r.polls, 3);
    EXPECT_EQ(r.reports(), 0);
    EXPECT_TRUE(five.uninitialized);
    EXPECT_TRUE(names().isEmpty());

    // Cancel confirmed while the last contact was merged: still nothing is kept.
    Recorder last;
    last.cancelAt = [](int passes) { return passes == 3; };
    ListImport three;
    three.list = some(3);
    g_runImport(three, "", *db, last);
    EXPECT_EQ(last.texts.last(), "Contacts:3/3");
    EXPECT_EQ(last.reports(), 0);
    EXPECT_TRUE(names().isEmpty());

    // The database is usable afterwards.
    Recorder after;
    ListImport one;
    one.list = some(1);
    g_runImport(one, "", *db, after);
    EXPECT_EQ(after.succeeded.size(), 1);
    EXPECT_EQ(names(), QStringList{"P0"});
}

TEST_F(ImportRun, FailuresRollBackAndReportOnce) {
    Recorder r;
    ListImport bad;
    bad.list = some(4);
    bad.throwAt = 2;
    g_runImport(bad, "", *db, r);
    EXPECT_EQ(r.errors, QStringList{QString::fromUtf8("broken contact é")});
    EXPECT_TRUE(r.succeeded.isEmpty());
    EXPECT_TRUE(names().isEmpty());

    Recorder r2;
    ListImport odd;
    odd.list = some(2);
    odd.throwAt = 1;
    odd.throwStd = false;
    g_runImport(odd, "", *db, r2);
    EXPECT_EQ(r2.errors, QStringList{"IDS_IMPORT_UNKNOWN_ERROR"});
    EXPECT_TRUE(names().isEmpty());
}

// Contacts reach the merges in batches from other threads, which read an importer's parts side
// by side: long runs cross many batches and parts, the merges take the contacts in the
// importer's order, and a failure or cancel anywhere inside one still keeps nothing and
// reports the one error.
TEST_F(ImportRun, LongRunsAcrossBatches) {
    for (int partSize : {0, 1, 7, 100}) {
        SCOPED_TRACE(partSize);
        db->create();
        QList<pim::_Contact> many;
        for (int i = 0; i < 500; ++i) {
            // Every tenth contact repeats the one before it (its number) with a number of its own.
            if (i % 10 == 9) {
                pim::_Contact repeat = named(QString("P%1").arg(i - 1), QString::number(i - 1));
                repeat.entities[pim::ENTITY_PHONE] +=
                    named(QString(), QString::number(i)).entities.value(pim::ENTITY_PHONE);
                many << repeat;
            } else {
                many << named(QString("P%1").arg(i), QString::number(i));
            }
        }

        for (int at : {1, 31, 32, 33, 100, 257, 499}) {
            SCOPED_TRACE(at);
            Recorder r;
            ListImport bad;
            bad.list = many;
            bad.throwAt = at;
            bad.partSize = partSize;
            g_runImport(bad, "", *db, r);
            EXPECT_EQ(r.errors, QStringList{QString::fromUtf8("broken contact é")});
            EXPECT_EQ(r.polls, at + 1);  // the failing take comes after its cancel poll
            EXPECT_TRUE(r.succeeded.isEmpty());

            Recorder gone;
            ListImport vanished;
            vanished.list = many;
            vanished.hasNextThrowsAt = at;
            vanished.partSize = partSize;
            g_runImport(vanished, "", *db, gone);
            EXPECT_EQ(gone.errors, QStringList{"file gone"});
            EXPECT_EQ(gone.polls, at + 1);

            Recorder stop;
            stop.cancelAt = [at](int passes) { return passes == at; };
            ListImport cancelled;
            cancelled.list = many;
            cancelled.partSize = partSize;
            g_runImport(cancelled, "", *db, stop);
            EXPECT_EQ(stop.polls, at + 1);
            EXPECT_EQ(stop.reports(), 0);
            EXPECT_TRUE(cancelled.uninitialized);
            EXPECT_TRUE(names().isEmpty());
        }

        Recorder r;
        ListImport all;
        all.list = many;
        all.partSize = partSize;
        g_runImport(all, "", *db, r);
        EXPECT_EQ(r.succeeded, QStringList{"IDS_SUC_IMPORT_450_CONTACTS_TO_DB_50_MERGED"});
        EXPECT_EQ(r.texts.last(), "Contacts:500/500");
        const QList<pim::_Contact> stored = db->contacts();
        ASSERT_EQ(stored.size(), 450);
        for (const pim::_Contact& c : stored) {
            const int n = c.fullName.mid(1).toInt();
            QStringList phones;
            for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE))
                phones << e.text("data1");
            phones.sort();
            const QStringList want = n % 10 == 8
                                         ? QStringList{QString::number(n), QString::number(n + 1)}
                                         : QStringList{QString::number(n)};
            EXPECT_EQ(phones, want) << c.fullName.toStdString();
        }
        // Stored in the importer's order.
        Sqlite3DB check;
        check.openThrow(db->path(), 1);
        Sqlite3Cursor cur =
            check.queryThrow(Sqlite3Sql("select full_name from contact order by _id"));
        for (int n = 0; n < 500; n += n % 10 == 8 ? 2 : 1) {
            ASSERT_TRUE(cur.moveNext());
            EXPECT_EQ(cur.getText(0), QString("P%1").arg(n));
        }
    }
}

TEST_F(ImportRun, UnreadableFileLeavesTheDatabase) {
    Recorder seed;
    ListImport one;
    one.list = some(1);
    g_runImport(one, "", *db, seed);
    const QString missing = dir.filePath("missing.vcf");
    for (int kind = 0; kind < 2; ++kind) {
        Recorder r;
        QScopedPointer<AbsImport> imp(kind ? static_cast<AbsImport*>(new CSVImport)
                                           : new VCardImport);
        g_runImport(*imp, missing, *db, r);
        QFile probe(missing);
        probe.open(QIODevice::ReadOnly);
        EXPECT_EQ(r.errors, QStringList{probe.errorString()});
        EXPECT_TRUE(r.percents.isEmpty());
    }
    EXPECT_EQ(names(), QStringList{"P0"});
}

// The database opens while the file is counted; one that cannot be opened is reported once, by
// the run, and a file that cannot be read still comes first.
TEST_F(ImportRun, UnopenableDatabaseIsReportedOnceByTheRun) {
    const QString file = write("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n", "one.vcf");
    LocalDb nowhere(dir.filePath("missing/folder/t.db"),
                    QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    for (const QString& path : {file, dir.filePath("missing.vcf")}) {
        Recorder r;
        VCardImport vcf;
        g_runImport(vcf, path, nowhere, r);
        ASSERT_EQ(r.errors.size(), 1);
        EXPECT_TRUE(r.succeeded.isEmpty());
        if (path == file) {
            EXPECT_TRUE(r.errors.first().contains("t.db")) << r.errors.first().toStdString();
        } else {
            QFile probe(path);
            probe.open(QIODevice::ReadOnly);
            EXPECT_EQ(r.errors.first(), probe.errorString());
        }
    }
}

TEST_F(ImportRun, FilesEndToEnd) {
    Recorder r;
    VCardImport vcf;
    g_runImport(vcf,
                write("BEGIN:VCARD\r\nN:Doe;John;;;\r\nTEL;TYPE=cell:1\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nFN:Only Formatted\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nN:Doe;John;;;\r\nTEL:1\r\nTEL;TYPE=cell:2\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n",
                      "a.vcf"),
                *db, r);
    EXPECT_EQ(r.succeeded,
              QStringList{"IDS_SUC_IMPORT_2_CONTACTS_TO_DB_1_MERGED\n1 entries without a name, "
                          "e-mail, phone or company were skipped."});
    EXPECT_EQ(names(), (QStringList{"John Doe", "Only Formatted"}));
    for (const pim::_Contact& c : db->contacts()) {
        if (c.fullName == "John Doe") {
            EXPECT_EQ(c.entities.value(pim::ENTITY_PHONE).size(), 2);
        }
    }

    Recorder r2;
    CSVImport csv;
    g_runImport(
        csv,
        write("First Name,Last Name,Home Phone,Home Phone 2\nAnn,Lee,1,2\nBob,Ray,3,", "b.csv"),
        *db, r2);
    EXPECT_EQ(r2.succeeded, QStringList{"IDS_SUC_IMPORT_2_CONTACTS_TO_DB"});
    for (const pim::_Contact& c : db->contacts()) {
        if (c.fullName == "Ann Lee") {
            EXPECT_EQ(c.entities.value(pim::ENTITY_PHONE).size(), 2);
        } else if (c.fullName == "Bob Ray") {
            EXPECT_EQ(c.entities.value(pim::ENTITY_PHONE).size(), 1);
        }
    }
}

// A German Outlook file through the whole import: the rows land in the database, and the
// closing text names what was left out without claiming a nameless row where a column was
// merely not understood.
TEST_F(ImportRun, ClosingTextNamesUnreadColumnsAndDates) {
    Recorder r;
    CSVImport csv;
    g_runImport(csv,
                write("Vorname;Nachname;Geburtstag;Spitzname intern\r\n"
                      "Anna;Berg;1.2.1990;Anni\r\n"
                      "Karl;Ott;irgendwann;\r\n"
                      ";;;Nur intern\r\n",
                      "de.csv"),
                *db, r);
    ASSERT_EQ(r.succeeded.size(), 1);
    EXPECT_EQ(r.succeeded[0],
              "IDS_SUC_IMPORT_2_CONTACTS_TO_DB\n1 entries with nothing in the columns that were "
              "understood were skipped.\nColumns not understood, left out: Spitzname intern.\n"
              "1 dates that could not be read as dates were left out.");
    EXPECT_EQ(names(), (QStringList{"Anna Berg", "Karl Ott"}));
    for (const pim::_Contact& c : db->contacts()) {
        if (c.fullName == "Anna Berg") {
            ASSERT_EQ(c.entities.value(pim::ENTITY_EVENT).size(), 1);
            EXPECT_EQ(c.entities.value(pim::ENTITY_EVENT)[0].text("data1"), "1990-02-01T00:00:00");
        }
    }
}

// A vCard of many megabytes of photos through the whole import: every photo is stored with the
// MD5 of its own bytes, also where contacts share one picture and where a second card of the
// same person brings another; the card count the progress runs against is the file's.
TEST_F(ImportRun, BigPhotoFileStoresEachPhotoWithItsHash) {
    QList<QByteArray> pictures;
    for (int k = 0; k < 3; ++k) {
        QByteArray bytes(300 * 1024 + k, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * (k + 3) + i / 11) & 0xFF);
        pictures << bytes;
    }
    QByteArray file;
    const int people = 40;
    for (int i = 0; i < people; ++i) {
        const QByteArray b64 = pictures[(i + i / 30) % 3].toBase64();
        QByteArray folded;
        for (int at = 0; at < b64.size(); at += 75)
            folded += (at ? "\r\n " : "") + b64.mid(at, 75);
        file += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + QByteArray::number(i % 30) +
                "\r\nTEL:" + QByteArray::number(i % 30) +
                "\r\nPHOTO;ENCODING=b;TYPE=JPEG:" + folded + "\r\nEND:VCARD\r\n";
    }
    ASSERT_GT(file.size(), 16 * 1024 * 1024);
    Recorder r;
    VCardImport vcf;
    g_runImport(vcf, write(file, "big.vcf"), *db, r);
    ASSERT_EQ(r.errors, QStringList());
    EXPECT_EQ(r.texts.last(), QStringLiteral("Contacts:%1/%1").arg(people));
    int photos = 0;
    Sqlite3DB check;
    check.openThrow(db->path(), 1);
    Sqlite3Cursor cur =
        check.queryThrow(Sqlite3Sql(QStringLiteral("select data4,data15 from data where type=2")));
    while (cur.moveNext()) {
        const QByteArray bytes = cur.getBlob(1);
        EXPECT_TRUE(pictures.contains(bytes));
        EXPECT_EQ(cur.getText(0),
                  QString::fromLatin1(
                      QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toBase64()));
        ++photos;
    }
    // Ten people come twice, with another picture the second time: a contact holds one photo.
    EXPECT_EQ(photos, 30);
}

// A vCard file is read in parts as the merges go: one that is cut short, emptied or rewritten
// meanwhile ends the import with one report, never a crash or a hang; the contacts stored are
// at most those counted first.
TEST_F(ImportRun, FileChangedWhileReadEndsInOneReport) {
    const QByteArray photo = QByteArray(30000, '\x5a').toBase64();
    QByteArray folded;
    for (int at = 0; at < photo.size(); at += 74)
        folded += (at ? "\r\n " : "") + photo.mid(at, 74);
    QByteArray file;
    const int people = 120;
    for (int i = 0; i < people; ++i) {
        file += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + QByteArray::number(i) +
                "\r\nPHOTO;ENCODING=b:" + folded + "\r\nEND:VCARD\r\n";
    }
    ASSERT_GT(file.size(), 4 * 1024 * 1024);
    const std::function<void(QFile&)> changes[] = {
        [](QFile& f) { f.resize(0); },
        [&](QFile& f) { f.resize(file.size() * 2 / 5); },
        [&](QFile& f) { f.write(QByteArray(file.size() * 2, '\n') + file); },
        [&](QFile& f) {
            f.seek(f.size());
            f.write(file);
        },
    };
    for (const auto& change : changes) {
        db->create();
        const QString path = write(file, "changing.vcf");
        Recorder r;
        r.cancelAt = [&](int polls) {
            if (polls == 1) {
                QFile f(path);
                EXPECT_TRUE(f.open(QIODevice::ReadWrite));
                change(f);
            }
            return false;
        };
        VCardImport vcf;
        g_runImport(vcf, path, *db, r);
        EXPECT_EQ(r.reports(), 1);
        EXPECT_LE(db->contacts().size(), people);
    }
}

namespace {

// Every stored detail as text, contact by contact: what a second import must leave as it was.
QStringList stored(LocalDb& db) {
    QList<pim::_Contact> cs = db.contacts();
    db.loadPhotos(cs);
    QStringList out;
    for (const pim::_Contact& c : cs) {
        for (auto t = c.entities.constBegin(); t != c.entities.constEnd(); ++t) {
            for (const pim::Entity& e : t.value()) {
                QStringList cells{c.fullName, QString::number(t.key())};
                for (auto f = e.fields.constBegin(); f != e.fields.constEnd(); ++f)
                    cells << f.key() + "=" + pim::fieldText(f.value());
                out << cells.join("|");
            }
        }
    }
    out.sort();
    return out;
}

int countOf(const QStringList& rows, const QString& prefix) {
    return int(std::count_if(rows.begin(), rows.end(),
                             [&](const QString& r) { return r.startsWith(prefix); }));
}

const QByteArray kBook =
    "First Name,Last Name,Mobile Phone,E-mail Address,Home Street,Home City,Birthday,Notes,"
    "Company,Job Title,Web Page\r\n"
    "Ann,Lee,+1 555 0101,ann@example.com,1 Main St,Springfield,1980-02-03,\"Met, at work\","
    "Acme,Boss,https://ann.example\r\n"
    "Bob,Ray,+1 555 0202,,,,,,,,\r\n"
    "Cy,Fox,,cy@example.com,,,,,Initech,,\r\n"
    "Ann,Lee,+1 555 0101,ann.lee@example.com,,,,,,,\r\n";

}  // namespace

// The same file twice: the second run matches every row to what the first stored and adds no
// row; a row that repeats a person in the file joins the first.
TEST_F(ImportRun, SameCsvTwiceAddsNothing) {
    Recorder r;
    CSVImport csv;
    const QString path = write(kBook, "book.csv");
    g_runImport(csv, path, *db, r);
    EXPECT_EQ(r.succeeded, QStringList{"IDS_SUC_IMPORT_3_CONTACTS_TO_DB_1_MERGED"});
    const QStringList first = stored(*db);
    EXPECT_EQ(countOf(first, "Ann Lee|4|"), 2);  // both addresses, on one contact
    EXPECT_EQ(countOf(first, "Ann Lee|3|"), 1);
    EXPECT_EQ(countOf(first, "Ann Lee|6|data1=1980-02-03T00:00:00"), 1);
    EXPECT_EQ(countOf(first, "Ann Lee|9|data1=Met, at work"), 1);
    EXPECT_EQ(countOf(first, "Ann Lee|12|data1="), 1);

    Recorder again;
    CSVImport csv2;
    g_runImport(csv2, path, *db, again);
    EXPECT_EQ(again.succeeded, QStringList{"IDS_SUC_IMPORT_0_CONTACTS_TO_DB_4_MERGED"});
    EXPECT_EQ(stored(*db), first);
    EXPECT_EQ(names(), (QStringList{"Ann Lee", "Bob Ray", "Cy Fox"}));
}

// Into a database that holds some of the file's people already: those rows join them, keeping
// what they held, and only the new person is added.
TEST_F(ImportRun, CsvIntoDatabaseHoldingSomeOfItsPeople) {
    ListImport held;
    held.list << named("Bob Ray", "+1 555 0202") << named("Cy Fox");
    pim::Entity mail;
    mail.fields["data1"] = "bob@work.example";
    mail.fields["data2"] = 2;
    held.list[0].entities[pim::ENTITY_EMAIL].append(mail);
    Recorder r0;
    g_runImport(held, QString(), *db, r0);
    ASSERT_EQ(r0.succeeded, QStringList{"IDS_SUC_IMPORT_2_CONTACTS_TO_DB"});

    Recorder r;
    CSVImport csv;
    g_runImport(csv, write(kBook, "book.csv"), *db, r);
    EXPECT_EQ(r.succeeded, QStringList{"IDS_SUC_IMPORT_1_CONTACTS_TO_DB_3_MERGED"});
    EXPECT_EQ(names(), (QStringList{"Ann Lee", "Bob Ray", "Cy Fox"}));
    const QStringList rows = stored(*db);
    EXPECT_EQ(countOf(rows, "Bob Ray|3|"), 1);  // the same number, not a second row
    EXPECT_EQ(countOf(rows, "Bob Ray|4|data1=bob@work.example"), 1);
    EXPECT_EQ(countOf(rows, "Cy Fox|3|"), 0);
    EXPECT_EQ(countOf(rows, "Cy Fox|4|data1=cy@example.com"), 1);
    EXPECT_EQ(countOf(rows, "Ann Lee|4|"), 2);

    // The same file into a fresh database gives Ann the same rows: a merge into stored people
    // does not change how the new one is written.
    QTemporaryDir other;
    LocalDb fresh(other.filePath("f.db"),
                  QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    fresh.create();
    Recorder r2;
    CSVImport csv2;
    g_runImport(csv2, write(kBook, "book2.csv"), fresh, r2);
    QStringList annHere, annThere;
    for (const QString& row : rows) {
        if (row.startsWith("Ann Lee|"))
            annHere << row;
    }
    for (const QString& row : stored(fresh)) {
        if (row.startsWith("Ann Lee|"))
            annThere << row;
    }
    EXPECT_EQ(annHere, annThere);
}

// The file import takes the new details' fields as the reading thread prepared them; the rows
// must be the ones the merge writes for the contacts as the importer gives them.
TEST_F(ImportRun, CsvRowsAsThePlainMergeWritesThem) {
    const QString path = write(kBook, "book.csv");
    Recorder r;
    CSVImport csv;
    g_runImport(csv, path, *db, r);
    ASSERT_EQ(r.succeeded.size(), 1);

    QTemporaryDir other;
    LocalDb plain(other.filePath("p.db"),
                  QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    plain.create();
    CSVImport reader;
    reader.initialize(path);
    while (reader.hasNext())
        plain.mergeContact(reader.nextContact());
    // A detail with values under keys the rule does not carry over.
    pim::_Contact dan = named("Dan Poe");
    pim::Entity org;
    org.fields["data1"] = "Globex";
    org.fields["data2"] = 1;
    org.fields["data6"] = "Sales floor";
    dan.entities[pim::ENTITY_ORG].append(org);
    ListImport list;
    list.list << dan;
    Recorder r2;
    g_runImport(list, QString(), *db, r2);
    plain.mergeContact(dan);
    const QStringList rows = stored(*db);
    EXPECT_EQ(rows, stored(plain));
    EXPECT_EQ(countOf(rows, "Dan Poe|10|"), 1);
    EXPECT_EQ(countOf(rows, "Ann Lee|10|"), 1);
    EXPECT_EQ(countOf(rows, "Cy Fox|10|"), 1);
    EXPECT_EQ(countOf(rows, "Ann Lee|13|"), 1);
}

// The columns not understood are named from every row, whether or not the rows were taken yet.
TEST_F(ImportRun, CsvUnreadColumnsBeforeAndAfterTheRows) {
    CSVImport csv;
    csv.initialize(
        write("Name,Shoe size,E-mail,Hat\r\n"
              "Ann,,ann@example.com,\r\n"
              "Bob,41,,\r\n"
              "Cy,,,\"big\nround\"",
              "u.csv"));
    ASSERT_EQ(csv.total(), 3);
    const QStringList both{"Shoe size", "Hat"};
    EXPECT_EQ(csv.unreadColumns(), both);
    ASSERT_TRUE(csv.hasNext());
    EXPECT_EQ(csv.nextContact().fullName, "Ann");
    EXPECT_EQ(csv.unreadColumns(), both);
    EXPECT_EQ(csv.nextContact().fullName, "Bob");
    EXPECT_EQ(csv.nextContact().fullName, "Cy");
    EXPECT_FALSE(csv.hasNext());
    EXPECT_EQ(csv.unreadColumns(), both);
}
