// Group cards imported into a real local database, one group of cases per producer: RFC 6350's
// KIND:group, Apple's Calendar and Contacts Server and Fastmail (X-ADDRESSBOOKSERVER-KIND:group).
// Each case names the file its cards come from.
#include "import/cardsource.h"
#include "import/importrun.h"
#include "import/vcardimport.h"

#include "store/localdb.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <gtest/gtest.h>

namespace {

struct Recorder : ImportReporter {
    QStringList succeeded, errors;
    std::function<bool(int)> cancelAt = [](int) { return false; };
    int polls = 0;
    bool cancelled() override { return cancelAt(polls++); }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

class VCardGroupImport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        db.reset(new LocalDb(dir.filePath("t.db"),
                             QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
        db->create();
    }
    // Imports `data` as a file; returns the closing text (or the error).
    QString import(const QByteArray& data, Recorder&& r = Recorder()) {
        const QString path = dir.filePath("cards.vcf");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
        f.close();
        VCardImport importer;
        g_runImport(importer, path, *db, r);
        EXPECT_TRUE(r.errors.isEmpty()) << r.errors.join("|").toStdString();
        return r.succeeded.value(0);
    }
    // The full names of each group's contacts by group name, sorted; all contacts under "*".
    QMap<QString, QStringList> membership() {
        QMap<QString, QStringList> out;
        QList<pim::_Group> groups = db->groups();
        groups.prepend(pim::_Group(0, "*"));
        for (const pim::_Group& g : groups) {
            QStringList names;
            for (const pim::_Contact& c : db->contacts(g._id))
                names << c.fullName;
            names.sort();
            out.insert(g.name, names);
        }
        return out;
    }

    QTemporaryDir dir;
    QScopedPointer<LocalDb> db;
};

// RFC 6350, section 6.6.5 (MEMBER): the standard's own group, its members after it.
const QByteArray kRfcDoeFamily =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:The Doe family\r\n"
    "MEMBER:urn:uuid:03a0e51f-d1aa-4385-8a53-e29025acd8af\r\n"
    "MEMBER:urn:uuid:b8767877-b4a1-4c70-9acc-505d3819e519\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:John Doe\r\n"
    "UID:urn:uuid:03a0e51f-d1aa-4385-8a53-e29025acd8af\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Jane Doe\r\n"
    "UID:urn:uuid:b8767877-b4a1-4c70-9acc-505d3819e519\r\nEND:VCARD\r\n";

// Apple's Calendar and Contacts Server, the address book of its revision-cleanup store test
// (txdav): plain UIDs, "urn:uuid:" members, card1 in both groups, a member from elsewhere; the
// groups after their members.
const QByteArray kAppleServerBook =
    "BEGIN:VCARD\nVERSION:3.0\nUID:card1\nFN:Card 1\nN:card1;;;;\nEND:VCARD\n"
    "BEGIN:VCARD\nVERSION:3.0\nUID:card2\nFN:Card 2\nN:card2;;;;\nEND:VCARD\n"
    "BEGIN:VCARD\nVERSION:3.0\nUID:card3\nFN:Card 3\nN:card3;;;;\nEND:VCARD\n"
    "BEGIN:VCARD\nVERSION:3.0\nUID:group1\nFN:Group 1\nN:group1;;;;\n"
    "X-ADDRESSBOOKSERVER-KIND:group\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:card1\n"
    "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:card2\nEND:VCARD\n"
    "BEGIN:VCARD\nVERSION:3.0\nUID:group2\nFN:Group 2\nN:group2;;;;\n"
    "X-ADDRESSBOOKSERVER-KIND:group\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:card1\n"
    "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:card3\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:foreign\n"
    "END:VCARD\n";

}  // namespace

TEST_F(VCardGroupImport, Rfc6350GroupBeforeItsMembers) {
    const QString text = import(kRfcDoeFamily);
    EXPECT_EQ(membership().value("*"),
              (QStringList{"Jane Doe", "John Doe"}));  // no contact "The Doe family"
    EXPECT_EQ(membership().value("The Doe family"), (QStringList{"Jane Doe", "John Doe"}));
    EXPECT_EQ(text,
              "IDS_SUC_IMPORT_2_CONTACTS_TO_DB\n"
              "1 group cards were read as groups, not as contacts.");
}

TEST_F(VCardGroupImport, AppleServerFirstGroupKeepsAContactAndStrangersAreCounted) {
    const QString text = import(kAppleServerBook);
    EXPECT_EQ(membership().value("*"), (QStringList{"card1", "card2", "card3"}));
    const QMap<QString, QStringList> groups = membership();
    EXPECT_EQ(groups.keys(), (QStringList{"*", "Group 1", "Group 2"}));
    // A contact holds one group: card1 stays in the first that names it.
    EXPECT_EQ(groups.value("Group 1"), (QStringList{"card1", "card2"}));
    EXPECT_EQ(groups.value("Group 2"), QStringList{"card3"});
    EXPECT_EQ(text,
              "IDS_SUC_IMPORT_3_CONTACTS_TO_DB\n"
              "2 group cards were read as groups, not as contacts.\n"
              "1 group members named by the group cards are not in the file.");
}

TEST_F(VCardGroupImport, FastmailNamelessMemberAStoredGroupAndCancel) {
    // A Fastmail CardDAV answer kept in the tests of an Elixir CardDAV client (PRODID
    // CyrusIMAP ...-fm-): a member known only by its e-mail address, its UID in another case.
    const QByteArray fastmail =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:1c6cd38e-79be-4902-84bf-0010cc256d07\r\nN:;;;;\r\n"
        "FN:\r\nORG:;\r\nEMAIL;TYPE=HOME;TYPE=PREF:test2@example.com\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:6b2cf630-ac03-4ca1-b266-34a451a2d6bb\r\n"
        "N:test group\r\nFN:test group\r\nX-ADDRESSBOOKSERVER-KIND:group\r\n"
        "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:1C6CD38E-79BE-4902-84BF-0010CC256D07\r\nEND:VCARD\r\n"
        // Apple's server test again: a group whose members are all gone ("group2Empty").
        "BEGIN:VCARD\nVERSION:3.0\nUID:group2\nFN:Group 2\nN:group2;;;;\n"
        "X-ADDRESSBOOKSERVER-KIND:group\nEND:VCARD\n";

    // Cancel confirmed when the last contact is in: neither the contact nor a group stays.
    Recorder cancel;
    cancel.cancelAt = [](int polls) { return polls >= 1; };
    import(fastmail, std::move(cancel));
    EXPECT_TRUE(membership().value("*").isEmpty());
    EXPECT_TRUE(db->groups().isEmpty());

    // A group of that name stored before, in another case, is used, not doubled.
    db->beginEdit();
    db->getGroupIdOrAdd("TEST GROUP");
    db->endEdit(true);
    const QString text = import(fastmail);
    EXPECT_EQ(membership().value("*"), QStringList{"test2@example.com"});
    const QMap<QString, QStringList> groups = membership();
    EXPECT_EQ(groups.keys(), (QStringList{"*", "Group 2", "TEST GROUP"}));
    EXPECT_EQ(groups.value("TEST GROUP"), QStringList{"test2@example.com"});
    EXPECT_EQ(text,
              "IDS_SUC_IMPORT_1_CONTACTS_TO_DB\n"
              "2 group cards were read as groups, not as contacts.");
}

// The count tells whether a group card may be in the file, so that files without one are read
// only once: a property of a card named "...KIND" in any case, whatever its group prefix and
// however the file is encoded; the word in a value or outside a card does not count.
TEST(VCardGroupLook, CountNamesKindProperties) {
    const QByteArray photo = "PHOTO;ENCODING=b:" + QByteArray(100000, 'k') + "\r\n";
    const QByteArray begin = "BEGIN:VCARD\r\n", end = "END:VCARD\r\n";
    struct Case {
        QByteArray bytes;
        bool expected;
    };
    const Case cases[] = {
        {begin + "KIND:group\r\n" + end, true},
        {begin + "kind;VALUE=text:group\r\n" + end, true},
        {begin + photo + "item1.X-ADDRESSBOOKSERVER-KiNd:group\r\n" + end, true},
        {begin + photo + "NOTE:what kind:of\r\nKINDLY:x\r\n" + end, false},
        {"KIND:group\r\n" + begin + end, false},
        {QTextCodec::codecForName("UTF-16")->fromUnicode("BEGIN:VCARD\nKIND:group\nEND:VCARD\n"),
         true},
        {"", false},
    };
    for (const Case& c : cases) {
        const CardSource text(QVCardParser::utf8Text(c.bytes));
        EXPECT_EQ(QVCardParser::countCards(text).kindNamed, c.expected)
            << c.bytes.left(40).constData();
    }
}
