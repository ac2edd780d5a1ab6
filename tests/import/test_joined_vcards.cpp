// Files joined from several vCard files ("copy /B *.vcf all.vcf", "cat *.vcf"), and cards
// behind other bytes before their BEGIN line, through the whole import into a real database:
// every card of the file is stored, merged or named in the closing words.
#include "import/cardsource.h"
#include "import/importrun.h"
#include "import/qvcardparser.h"
#include "import/vcardimport.h"

#include "store/localdb.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Closing : ImportReporter {
    QStringList succeeded, errors;
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

std::string text(const QStringList& list) {
    return list.join("\n--\n").toStdString();
}

// "name|first phone" of each stored contact, sorted.
std::string stored(LocalDb& db) {
    QStringList out;
    for (const pim::_Contact& c : db.contacts())
        out << c.fullName + "|" + c.entities.value(pim::ENTITY_PHONE).value(0).text("data1");
    out.sort();
    return text(out);
}

}  // namespace

TEST(JoinedVCards, EveryCardIsStoredOrNamed) {
    const QString anna = "Anna Berg|+49 30 1111", karl = "Karl Ott|+49 30 2222",
                  lena = "Lena Voss|+49 30 3333";
    struct Row {
        const char* file;
        QStringList contacts;
        QString closing;
    } rows[] = {
        // Each file began with a byte-order mark.
        {"joined-bom-2-crlf.vcf", {anna, karl}, "IDS_SUC_IMPORT_2_CONTACTS_TO_DB"},
        {"joined-bom-3-lf.vcf", {anna, karl, lena}, "IDS_SUC_IMPORT_3_CONTACTS_TO_DB"},
        // The first file ended without a line break: the mark stands after "END:VCARD".
        {"joined-bom-no-final-break.vcf", {anna, karl}, "IDS_SUC_IMPORT_2_CONTACTS_TO_DB"},
        {"joined-bom-lower-case.vcf", {anna, karl}, "IDS_SUC_IMPORT_2_CONTACTS_TO_DB"},
        {"joined-utf16le-2.vcf", {anna, karl}, "IDS_SUC_IMPORT_2_CONTACTS_TO_DB"},
        // A blank (after a 2.1 card, then a tab after a 3.0 one), NUL, Ctrl-Z as "copy" writes.
        {"blank-before-begin.vcf", {anna, karl, lena}, "IDS_SUC_IMPORT_3_CONTACTS_TO_DB"},
        {"nul-before-begin.vcf", {anna, karl, lena}, "IDS_SUC_IMPORT_3_CONTACTS_TO_DB"},
        {"ctrl-z-before-begin.vcf", {anna, karl, lena}, "IDS_SUC_IMPORT_3_CONTACTS_TO_DB"},
        // A BEGIN line no reader can make out, and a line of text between cards.
        {"damaged-begin-line.vcf",
         {anna, lena},
         "IDS_SUC_IMPORT_2_CONTACTS_TO_DB\n1 lines that could not be read were skipped.\n"
         "1 cards that could not be read were skipped."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        LocalDb db(dir.filePath("t.db"),
                   QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        Closing closing;
        VCardImport importer;
        g_runImport(importer, QStringLiteral(TW_IMPORT_DATA "/") + row.file, db, closing);
        EXPECT_EQ(text(closing.errors), "");
        EXPECT_EQ(text(closing.succeeded), row.closing.toStdString());
        EXPECT_EQ(stored(db), text(row.contacts));
    }
}

// The files above joined once more and read in two parts, cut apart wherever a cut is looked
// for: the parts find the cards and the unread cards that the whole parse finds.
TEST(JoinedVCards, PartsFindWhatTheWholeFinds) {
    QByteArray joined;
    for (const QFileInfo& file :
         QDir(TW_IMPORT_DATA).entryInfoList({"*-begin*.vcf", "joined-bom*.vcf"})) {
        QFile f(file.filePath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        joined += f.readAll();
    }
    int unread = 0;
    const int cards = QVCardParser::parse(joined, nullptr, &unread).size();
    const auto text = std::make_shared<CardSource>(QVCardParser::utf8Text(joined));
    for (qint64 from = 0; from < text->size(); ++from) {
        const qint64 cut = QVCardParser::cardCut(*text, from);
        VCardStream head(text, 0, cut), tail(text, cut, -1);
        int got = 0;
        for (QVCardParser::Card card; head.next(card) || tail.next(card);)
            ++got;
        EXPECT_EQ(got, cards) << "cut at " << cut;
        EXPECT_EQ(head.unreadCards() + tail.unreadCards(), unread) << "cut at " << cut;
    }
}
