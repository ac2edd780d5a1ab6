// vCard files of other programs (KContacts' and Android's test data, read in place): every card
// imports, and what lands equals what KDE's KContacts reads from the same file. Our own export
// read back through both readers gives the stored contact again.
#include "foreign_util.h"

#include "import/importrun.h"
#include "import/qvcardparser.h"
#include "export/vcardexport.h"
#include "import/vcardimport.h"

#include "store/localdb.h"

#include "kcontacts_view.h"

#include <KContacts/VCardConverter>

#include <QDir>
#include <QRegExp>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Differences kept on purpose, by file and field, each with its reason.
struct KeptDifference {
    const char* file;
    const char* field;
    const char* reason;
};
const KeptDifference kKept[] = {
    // A vCard 2.1 continuation line keeps its fold blank (2.1's own rule: the line break and
    // the blank stand for that blank); KContacts removes it as 3.0 does.
    {"v21_invalid_multiple_line.vcf", "email", "2.1 unfolding keeps the fold blank"},
    // A second NOTE is added to the first; KContacts keeps only the last.
    {"v21_complicated.vcf", "note", "repeated notes are joined"},
    // A second ORG, TITLE or PHOTO writes over the first (one organisation and one photo per
    // contact); KContacts keeps the first.
    {"v21_pref_handling.vcf", "org", "a later ORG or TITLE wins"},
    {"vcard12.vcf", "photo", "a later PHOTO wins"},
    // A Base64 value with bytes outside the alphabet (here a ":") is left out as unreadable and
    // the line counted as skipped; KContacts decodes the part it can.
    {"v21_malformed_photo.vcf", "photo", "an invalid Base64 value is skipped"},
    // A card opened inside another comes after the outer card, and the outer card's lines
    // after the inner END belong to no card; KContacts orders them inner first.
    {"v21_nest.vcf", "name", "nested cards keep the order of their BEGIN lines"},
    // Lines ending in CR CR LF (as iOS 6.1.3 writes): the stray CR is a line end for us;
    // KContacts keeps it inside the values and loses the grouped lines.
    {"v30_ios_613_multiline.vcf", "name", "CR CR LF line ends"},
    {"v30_ios_613_multiline.vcf", "email", "CR CR LF line ends"},
    {"v30_ios_613_multiline.vcf", "url", "CR CR LF line ends"},
    {"v30_ios_613_multiline.vcf", "org", "CR CR LF line ends"},
    // A delivery LABEL is a formatted copy of an address; this program keeps the ADR only, so a
    // card whose sole address is a LABEL has none.
    {"vcard4.vcf", "address", "LABEL is not read"},
    {"vcard7.vcf", "address", "LABEL is not read"},
    // A group prefix (item1.URL) only ties lines together; KContacts drops a grouped URL.
    {"vcard15.vcf", "url", "grouped lines are read like the others"},
    // vCard 2.1 has no text escapes; a backslash makes only ";" and "\" literal (as Android
    // reads its own files), and a line ending in a backslash is not joined to the next.
    {"v21_backslash.vcf", "name", "2.1 backslashes"},
};

// Cards that hold nothing this program stores (no name, number, address, e-mail or
// organisation): they are skipped and counted, not imported.
const char* const kNothingToStore[] = {
    "vcard7.vcf",                   // an empty N, a LABEL and a UID
    "v21_im.vcf",                   // only Android's private X-ANDROID-CUSTOM and X-GOOGLE-TALK
    "v21_android_custom_prop.vcf",  // only X-ANDROID-CUSTOM lines
};

bool kept(const QString& file, const QString& field) {
    for (const KeptDifference& k : kKept) {
        if (file == QLatin1String(k.file) && field == QLatin1String(k.field))
            return true;
    }
    return false;
}

QStringList vcardFiles() {
    QStringList files;
    for (const char* sub : {"vcard/kcontacts", "vcard/android"}) {
        QDir dir(testDataDir() + "/" + sub);
        for (const QString& name : dir.entryList({"*.vcf"}, QDir::Files, QDir::Name))
            files << dir.filePath(name);
    }
    return files;
}

TEST(ForeignVCards, EveryCardImportsAsKContactsReadsIt) {
    const QStringList files = vcardFiles();
    if (files.isEmpty())
        GTEST_SKIP() << "no shared test data at " << testDataDir().toStdString();
    int cards = 0;
    QStringList failures;
    for (const QString& path : files) {
        const QString name = QFileInfo(path).fileName();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const KContacts::Addressee::List theirs =
            KContacts::VCardConverter().parseVCards(f.readAll());
        VCardImport importer;
        importer.initialize(path);
        QList<pim::_Contact> ours;
        while (importer.hasNext())
            ours << importer.nextContact();
        if (ours.size() != theirs.size()) {
            failures << QString("%1: %2 cards, KContacts %3")
                            .arg(name)
                            .arg(ours.size())
                            .arg(theirs.size());
            continue;
        }
        for (int i = 0; i < ours.size(); ++i) {
            ++cards;
            bool nothing = false;
            for (const char* f : kNothingToStore)
                nothing = nothing || name == QLatin1String(f);
            if (ours[i].fullName.isEmpty() && !nothing)
                failures << QString("%1 #%2: no name, would not import").arg(name).arg(i);
            const KContacts::Addressee& a = theirs[i];
            ContactView mine = ourView(ours[i]);
            // A card without N is named from FN, ORG, the e-mail or the number so that it is
            // imported; KContacts leaves its name empty.
            const bool noName = a.familyName().isEmpty() && a.givenName().isEmpty() &&
                                a.additionalName().isEmpty() && a.prefix().isEmpty() &&
                                a.suffix().isEmpty();
            if (noName)
                mine.given.clear();
            for (const QString& d : differences(mine, kcontactsView(a))) {
                if (!kept(name, d.section(':', 0, 0)))
                    failures << QString("%1 #%2 %3").arg(name).arg(i).arg(d);
            }
        }
    }
    EXPECT_GT(cards, 60);
    EXPECT_TRUE(failures.isEmpty()) << failures.join("\n").toStdString();
}

// Every foreign file goes through the whole import into a real database: each card is stored
// (new or merged), none is lost.
TEST(ForeignVCards, WholeImportStoresEveryCard) {
    const QStringList files = vcardFiles();
    if (files.isEmpty())
        GTEST_SKIP() << "no shared test data";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& path : files) {
        LocalDb db(dir.filePath(QFileInfo(path).baseName() + ".db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        VCardImport importer;
        CountingReporter rep;
        g_runImport(importer, path, db, rep);
        ASSERT_EQ(rep.errors.size(), 0) << path.toStdString() << rep.errors.join(",").toStdString();
        ASSERT_EQ(rep.succeeded.size(), 1);
        EXPECT_EQ(rep.lastCounter, QString("Contacts:%1/%1").arg(importer.total()))
            << path.toStdString();
        int nothing = 0;
        for (const char* f : kNothingToStore)
            nothing += QFileInfo(path).fileName() == QLatin1String(f) ? 1 : 0;
        EXPECT_EQ(storedPlusMerged(rep.succeeded.first()), importer.total() - nothing)
            << path.toStdString() << " " << rep.succeeded.first().toStdString();
    }
}

pim::_Contact richContact() {
    pim::_Contact c;
    auto add = [&c](int type, QMap<QString, QVariant> f) {
        pim::Entity e;
        e.fields = f;
        c.entities[type].append(e);
    };
    add(pim::ENTITY_NAME, {{"data2", "Jürgen"},
                           {"data3", "Müller; Sohn"},
                           {"data4", "K."},
                           {"data5", "Dr."},
                           {"data6", "Jr."}});
    c.fullName = c.entities[pim::ENTITY_NAME][0].fullName();
    add(pim::ENTITY_PHONE, {{"data1", "+49 30 1234"}, {"data2", 3}});
    add(pim::ENTITY_PHONE, {{"data1", "+49 170 555"}, {"data2", 2}});
    add(pim::ENTITY_EMAIL, {{"data1", "j@example.de"}, {"data2", 2}});
    add(pim::ENTITY_EVENT, {{"data1", QDateTime(QDate(1970, 3, 9), QTime(0, 0))}, {"data2", 3}});
    add(pim::ENTITY_NOTES, {{"data1", "line one, with a comma\nline two; \\ backslash"}});
    add(pim::ENTITY_ORG, {{"data1", "Acme, Inc."}, {"data5", "R&D"}, {"data4", "Chief, Tester"}});
    add(pim::ENTITY_ADDR, {{"data2", 2},
                           {"data4", "Hauptstraße 1\nHinterhaus"},
                           {"data7", "Berlin"},
                           {"data9", "10115"},
                           {"data10", "Germany"}});
    add(pim::ENTITY_URL, {{"data1", "https://example.de/a,b"}, {"data2", 5}});
    QByteArray photo;
    for (int i = 0; i < 300; ++i)
        photo.append(char(i * 7));
    add(pim::ENTITY_PHOTO, {{"data15", photo}});
    return c;
}

// Export, then read the file back through our reader and through KContacts: both give the
// stored contact again.
TEST(ForeignVCards, ExportReadsBackThroughBothReaders) {
    pim::_Contact c = richContact();
    pim::_Contact noYear = richContact();
    noYear.entities[pim::ENTITY_EVENT][0].fields["data1"] =
        QDateTime(QDate(1604, 2, 3), QTime(0, 0));
    for (const pim::_Contact& src : {c, noYear}) {
        VCardExport exporter;
        const QByteArray bytes = exporter.ct2Bytes(src);
        const QList<QList<QVCardParser::_Property> > cards = QVCardParser::parse(bytes);
        ASSERT_EQ(cards.size(), 1);
        const pim::_Contact back = VCardImport::cardToContact(cards.first());
        EXPECT_EQ(back.fullName, src.fullName);
        const ContactView expected = ourView(src);
        EXPECT_EQ(differences(ourView(back), expected).join("\n").toStdString(), "")
            << bytes.toStdString();
        // Types survive too.
        EXPECT_EQ(back.entities[pim::ENTITY_PHONE][0].text("data2"), "3");
        EXPECT_EQ(back.entities[pim::ENTITY_EMAIL][0].text("data2"), "2");
        EXPECT_EQ(back.entities[pim::ENTITY_ADDR][0].text("data2"), "2");

        const KContacts::Addressee::List theirs = KContacts::VCardConverter().parseVCards(bytes);
        ASSERT_EQ(theirs.size(), 1);
        const ContactView k = kcontactsView(theirs.first());
        EXPECT_EQ(differences(k, expected).join("\n").toStdString(), "") << bytes.toStdString();
    }
}

}  // namespace
