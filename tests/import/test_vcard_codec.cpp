// The vCard parser, its value readers and the writers, with round trips through both halves.
#include "import/qvcardparser.h"

#include "import/cardsource.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTextCodec>
#include <gtest/gtest.h>

typedef QList<QList<QVCardParser::_Property> > Cards;

namespace {

QStringList names(const QList<QVCardParser::_Property>& card) {
    QStringList out;
    for (const auto& p : card)
        out << p.name;
    return out;
}

QVCardParser::_Property prop(const QString& name, const QByteArray& value,
                             const QMap<QString, QString>& params = {}) {
    QVCardParser::_Property p;
    p.name = name;
    p.value = value;
    p.params = params;
    return p;
}

}  // namespace

TEST(VCardParser, CardStructure) {
    struct {
        const char* label;
        QByteArray data;
        QList<QStringList> cards;  // property names per card
    } cases[] = {
        {"empty", "", {}},
        {"no BEGIN", "FN:x\nTEL:1\n", {}},
        {"empty card", "BEGIN:VCARD\nEND:VCARD\n", {QStringList()}},
        {"any BEGIN value opens a card", "BEGIN:VCALENDAR\nX:1\nEND:FOO\n", {QStringList{"X"}}},
        {"last card without END", "BEGIN:VCARD\nFN:a\nTEL:1", {QStringList{"FN", "TEL"}}},
        {"two BEGINs",
         "BEGIN:VCARD\nFN:a\nBEGIN:VCARD\nFN:b\nEND:VCARD\n",
         {QStringList{"FN"}, QStringList{"FN"}}},
        {"nested card",
         "BEGIN:VCARD\nA:1\nBEGIN:VCARD\nB:2\nEND:VCARD\nC:3\nEND:VCARD\n",
         {QStringList{"A"}, QStringList{"B"}}},
        {"between cards dropped",
         "BEGIN:VCARD\nA:1\nEND:VCARD\nX:9\nBEGIN:VCARD\nB:2\nEND:VCARD",
         {QStringList{"A"}, QStringList{"B"}}},
        // vCard names are case-insensitive.
        {"lower-case begin/end",
         "begin:vcard\nfn:a\nend:vcard\nBegin:VCARD\nN:b\nEnd:VCARD\n",
         {QStringList{"fn"}, QStringList{"N"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Cards cards = QVCardParser::parse(c.data);
        ASSERT_EQ(cards.size(), c.cards.size());
        for (int i = 0; i < cards.size(); ++i)
            EXPECT_EQ(names(cards[i]), c.cards[i]);
    }
}

TEST(VCardParser, PropertyFields) {
    Cards cards = QVCardParser::parse(
        "BEGIN:VCARD\r\nNOTE:\r\nTEL;TYPE=home;TYPE=work:1\r\nTEL;PREF;TYPE=cell:2\r\n"
        "item1.EMAIL;type=INTERNET:a@b\r\nEND:VCARD\r\n");
    ASSERT_EQ(cards.size(), 1);
    const auto& c = cards[0];
    ASSERT_EQ(c.size(), 4);
    EXPECT_TRUE(c[0].value.isEmpty());
    EXPECT_TRUE(c[0].toString().isEmpty());
    EXPECT_TRUE(c[0].values().isEmpty());
    // Repeated parameters make one list; parameter names are case-insensitive.
    EXPECT_EQ(c[1].params, (QMap<QString, QString>{{"TYPE", "home,work"}}));
    EXPECT_EQ(c[1].value, QByteArray("1"));
    EXPECT_EQ(c[2].params, (QMap<QString, QString>{{"PREF", ""}, {"TYPE", "cell"}}));
    EXPECT_EQ(c[3].name, "item1.EMAIL");
    EXPECT_EQ(c[3].params.value("TYPE"), "INTERNET");
}

TEST(VCardParser, ValuesTable) {
    struct {
        QByteArray text;
        QStringList parts;
    } cases[] = {
        {"a;b;", {"a", "b"}}, {";b", {"", "b"}}, {"a;;", {"a", ""}}, {";", {""}},
        {"a\\;b", {"a;b"}},   {"x\\", {"x"}},    {"a,b", {"a,b"}},   {"a\\\\b", {"a\\b"}},
        {"a\\nb", {"anb"}},   {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.constData());
        EXPECT_EQ(prop("N", c.text).values(), c.parts);
    }
}

TEST(VCardParser, CharsetDecoding) {
    const QByteArray utf8 = "caf\xC3\xA9";
    EXPECT_EQ(prop("N", utf8, {{"CHARSET", "UTF-8"}}).toString(), QString::fromUtf8(utf8));
    EXPECT_EQ(prop("N", "caf\xE9", {{"CHARSET", "ISO-8859-1"}}).toString(),
              QString::fromUtf8(utf8));
    // Unknown codec or a lower-case key: local 8-bit text.
    EXPECT_EQ(prop("N", utf8, {{"CHARSET", "NO-SUCH"}}).toString(), QString::fromLocal8Bit(utf8));
    EXPECT_EQ(prop("N", "caf\xE9", {{"charset", "ISO-8859-1"}}).toString(),
              QString::fromLocal8Bit("caf\xE9"));
}

TEST(VCardParser, MalformedLineIsSkippedAndParsingGoesOn) {
    int skipped = -1;
    Cards cards = QVCardParser::parse(
        "BEGIN:VCARD\nN:A;;;;\nTEL;X=1\nTEL:2\nEND:VCARD\n"
        "BEGIN:VCARD\nN:B;;;;\nPHOTO;ENCODING=b:QU*DQUJD\n ABCD\nNOTE:n\nEND:VCARD\n"
        "BEGIN:VCARD\nN:C;;;;\nEND:VCARD\n",
        &skipped);
    EXPECT_EQ(skipped, 2);
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(names(cards[0]), (QStringList{"N", "TEL"}));
    EXPECT_EQ(cards[0][1].value, QByteArray("2"));
    // The broken photo line (with its continuation) is gone; the rest of the card is kept.
    EXPECT_EQ(names(cards[1]), (QStringList{"N", "NOTE"}));
    EXPECT_EQ(cards[1][1].value, QByteArray("n"));
    EXPECT_EQ(names(cards[2]), QStringList{"N"});
}

TEST(VCardWriter, EncodeQuoted) {
    EXPECT_EQ(QVCardParser::encodeQuoted("a=b c", 0), QByteArray("a=3Db=20c"));
    EXPECT_EQ(QVCardParser::encodeQuoted("\xE9\t\r\n", 0), QByteArray("=E9=09=0D=0A"));
    EXPECT_EQ(QVCardParser::encodeQuoted(QByteArray(10, 'a'), 10), QByteArray("aaaaaaa=\r\n aaa"));
    EXPECT_EQ(QVCardParser::encodeQuoted(QByteArray(7, 'a'), 10), QByteArray("aaaaaaa=\r\n "));
    EXPECT_EQ(QVCardParser::encodeQuoted(QByteArray(), 10), QByteArray());
    // Lines never exceed the length, even inside a multi-byte character; the reader joins the
    // bytes again (see the round trip below). Lengths of 3 or less break after every byte.
    EXPECT_EQ(QVCardParser::encodeQuoted("ab\xC3\xA9", 7), QByteArray("ab=C3=\r\n =A9"));
    EXPECT_EQ(QVCardParser::encodeQuoted("ab", 2), QByteArray("a=\r\n b=\r\n "));
}

TEST(VCardWriter, EncodeBase64) {
    EXPECT_EQ(QVCardParser::encodeBase64("abcd", 4), QByteArray("YWJj\r\n ZA=="));
    EXPECT_EQ(QVCardParser::encodeBase64("abc", 4), QByteArray("YWJj"));
    EXPECT_EQ(QVCardParser::encodeBase64(QByteArray(), 4), QByteArray());
}

TEST(VCardWriter, Card) {
    EXPECT_EQ(QVCardParser::vcard2Bytes({}), QByteArray("BEGIN:VCARD\r\nEND:VCARD\r\n"));
    QMap<QString, QString> params;
    params.insert("TYPE", "cell");
    params.insert("CHARSET", "UTF-8");
    params.insert("PREF", "");
    EXPECT_EQ(
        QVCardParser::vcard2Bytes({prop("TEL", "1", params), prop("", "x")}),
        QByteArray("BEGIN:VCARD\r\nTEL;CHARSET=UTF-8;PREF;TYPE=cell:1\r\n:x\r\nEND:VCARD\r\n"));
}

TEST(VCardCodec, RoundTripThroughWriterAndReader) {
    // Every byte value and long multi-byte text through both encoders and the card writer.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QByteArray text = QString::fromUtf8("Grüße aus Köln — 東京 ☃ ").repeated(9).toUtf8();
    for (int len : {0, 4, 10, 19, 76}) {
        SCOPED_TRACE(len);
        QMap<QString, QString> qp{{"CHARSET", "UTF-8"}, {"ENCODING", "QUOTED-PRINTABLE"}};
        QMap<QString, QString> b64{{"ENCODING", "b"}};
        QList<QVCardParser::_Property> card{
            prop("NOTE", QVCardParser::encodeQuoted(text, len), qp),
            prop("X-BYTES", QVCardParser::encodeQuoted(all, len), qp),
            prop("PHOTO", QVCardParser::encodeBase64(all, len ? len : 1), b64),
            prop("X-EMPTY", QVCardParser::encodeQuoted(QByteArray(), len), qp),
            prop("X-FLAG", "v", {{"PREF", ""}}),
        };
        Cards back =
            QVCardParser::parse(QVCardParser::vcard2Bytes(card) + QVCardParser::vcard2Bytes(card));
        ASSERT_EQ(back.size(), 2);
        ASSERT_EQ(back[1].size(), 5);
        EXPECT_EQ(back[1][0].value, text);
        EXPECT_EQ(back[1][0].toString(), QString::fromUtf8(text));
        EXPECT_EQ(back[1][1].value, all);
        EXPECT_EQ(back[1][2].value, all);
        EXPECT_TRUE(back[1][3].value.isEmpty());
        EXPECT_EQ(back[1][4].params, (QMap<QString, QString>{{"PREF", ""}}));
    }
}

TEST(VCardParser, FilesOfOtherPrograms) {
    // vCard 2.1: quoted-printable with soft breaks and CHARSET, bare type words, LF only.
    const QByteArray v21 =
        "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=\n"
        "=BCrgen;;;\nTEL;HOME;VOICE:+49 30 1234\n"
        "NOTE;ENCODING=QUOTED-PRINTABLE:line one=0D=0Aline=\ntwo\nEND:VCARD\n";
    Cards c = QVCardParser::parse(v21);
    ASSERT_EQ(c.size(), 1);
    ASSERT_EQ(c[0].size(), 4);
    EXPECT_EQ(c[0][1].values(),
              (QStringList{QString::fromUtf8("Müller"), QString::fromUtf8("Jürgen"), "", ""}));
    EXPECT_EQ(c[0][2].params, (QMap<QString, QString>{{"HOME", ""}, {"VOICE", ""}}));
    EXPECT_EQ(c[0][3].value, QByteArray("line one\r\nlinetwo"));

    // vCard 3.0: CRLF, folded Base64 photo, TYPE lists and groups.
    const QByteArray v30 =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;John;;;\r\nFN:John Doe\r\n"
        "item1.TEL;type=CELL;type=VOICE;type=pref:+1 555 0100\r\n"
        "item1.X-ABLabel:mobile\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4A\r\n AQSkZJRg==\r\n"
        "END:VCARD\r\n";
    c = QVCardParser::parse(v30);
    ASSERT_EQ(c.size(), 1);
    ASSERT_EQ(c[0].size(), 6);
    EXPECT_EQ(c[0][3].name, "item1.TEL");
    EXPECT_EQ(c[0][5].value, QByteArray::fromBase64("/9j/4AAQSkZJRg=="));

    // vCard 4.0: plain UTF-8, a data: URI photo stays a text value here.
    const QByteArray v40 =
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Zoë\r\nN:Z;Zoë;;;\r\n"
        "PHOTO:data:image/png;base64,iVBORw0KGgo=\r\nEND:VCARD\r\n";
    c = QVCardParser::parse(v40);
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(c[0][3].value.left(5), QByteArray("data:"));
}

namespace {

// Cards compared property by property: name, parameters and value.
void expectSameCards(const Cards& want, const Cards& got, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (int c = 0; c < want.size(); ++c) {
        ASSERT_EQ(got[c].size(), want[c].size()) << what << " card " << c;
        for (int i = 0; i < want[c].size(); ++i) {
            EXPECT_EQ(got[c][i].name, want[c][i].name) << what << " card " << c;
            EXPECT_EQ(got[c][i].params, want[c][i].params) << what << " card " << c;
            EXPECT_EQ(got[c][i].value, want[c][i].value) << what << " card " << c;
        }
    }
}

}  // namespace

namespace {

// Files of every shape the reader must read alike however it is cut: the odd ones below, the
// fuzz corpus and, where the build has them, other programs' files.
QList<QByteArray> stretchedFiles() {
    QList<QByteArray> files = {
        "",
        "FN:x\nTEL:1\n",
        "BEGIN:VCARD\nEND:VCARD\n",
        "BEGIN:VCALENDAR\nX:1\nEND:FOO\nY:2\n",
        "BEGIN:VCARD\nFN:a\nTEL:1",
        "BEGIN:VCARD\nFN:a\nBEGIN:VCARD\nFN:b\nEND:VCARD\nNOTE:outside\n",
        "BEGIN:VCARD\nN:A;;;;\nTEL;X=1\nTEL:2\nEND:VCARD\n"
        "BEGIN:VCARD\nN:B;;;;\nPHOTO;ENCODING=b:QU*DQUJD\n ABCD\nNOTE:n\nEND:VCARD\n"
        "BEGIN:VCARD\nN:C;;;;\nEND:VCARD\n",
        "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=\n"
        "=BCrgen;;;\nTEL;HOME;VOICE:+49 30 1234\nNOTE;ENCODING=QUOTED-PRINTABLE:line one=0D="
        "0Aline=\ntwo\nFN:folded\n  in 2.1\nEND:VCARD\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Fol\r\n ded\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4A\r\n"
        " AQSkZJRg==\r\nEND:VCARD\r\n",
        "\xEF\xBB\xBF"
        "BEGIN:VCARD\r\nFN:bom\r\nEND:VCARD",
        QByteArray("\xFF\xFE"
                   "B\0E\0G\0I\0N\0:\0V\0C\0A\0R\0D\0\n\0F\0N\0:\0u\0\n\0",
                   30),
        "BEGIN:VCARD\nFN:a\nTEL;X=1",
        // A long photo with a stray byte, then a 2.1 card whose folding the count must follow.
        "BEGIN:VCARD\nVERSION:3.0\nPHOTO;ENCODING=b:" + QByteArray(3000, 'A') +
            "AA*A\n AAAA\nFN:p\nEND:VCARD\nBEGIN:VCARD\nVERSION:2.1\nPHOTO;ENCODING=BASE64:\n"
            " " +
            QByteArray(2000, '/') + "\n\nN:x\n BEGIN:VCARD\nEND:VCARD\n",
    };
    for (const char* folder : {TW_VCARD_CORPUS, TW_VCARD_TESTDATA}) {
        QDirIterator it(QString::fromUtf8(folder), {"*.vcf", "*.VCF", "*.ref", "*.2_1ref"},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
            files << file.readAll();
        }
    }
    return files;
}

}  // namespace

// The import counts first, without reading values, and parses as it goes: both must find what
// the whole parse finds (the stream also the lines it skips), however the file is cut into
// stretches.
TEST(VCardStream, SameCardsAsTheWholeParse) {
    const QList<QByteArray> files = stretchedFiles();
    ASSERT_GE(files.size(), 14);
    for (int n = 0; n < files.size(); ++n) {
        int skipped = -1;
        const Cards whole = QVCardParser::parse(files[n], &skipped);
        EXPECT_EQ(QVCardParser::countCards(files[n]), whole.size()) << "file " << n;
        for (int stretch : {1, 5, 40, 64 * 1024}) {
            VCardStream stream(files[n], stretch);
            Cards got;
            QVCardParser::Card card;
            while (stream.next(card))
                got << card;
            EXPECT_FALSE(stream.next(card));
            const std::string what =
                "file " + std::to_string(n) + " stretch " + std::to_string(stretch);
            expectSameCards(whole, got, what);
            EXPECT_EQ(stream.skippedLines(), skipped) << what;
        }
    }
}

namespace {

// Megabytes of photo cards between cards whose END line is a soft break's continuation, whose
// END is written in another case, that never end, whose END line ends in more carriage returns
// than a cut looks back over, or that hold a BEGIN line as a soft break's continuation.
QByteArray oddBigFile() {
    const QByteArray photo = QByteArray(200 * 1024, '\x5a').toBase64();
    QByteArray folded;
    for (int i = 0; i < photo.size(); i += 74)
        folded += (i ? "\r\n " : "") + photo.mid(i, 74);
    const QByteArray photoCard =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:p\r\nPHOTO;ENCODING=b:" + folded + "\r\nEND:VCARD\r\n";
    const QByteArray odd[] = {
        "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:a=\r\nEND:VCARD\r\n",
        "BEGIN:VCARD\nVERSION:3.0\nFN:b\nend:vcard\n",
        "BEGIN:VCARD\nFN:c\nTEL;X=1\nEND:VCARD\r\r\n",
        "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:d=\r\n",
        "BEGIN:VCARD\nFN:e\nEND:VCARD\n\n",
        "BEGIN:VCARD\nVERSION:3.0\nPHOTO;ENCODING=b:QUJD*QUJ\n\n",
        "BEGIN:VCARD\nFN:f\nEND:VCARD" + QByteArray(300, '\r') + "\n",
        "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:g=\r\nBEGIN:VCARD\r\n"
        "FN:g\r\nEND:VCARD\r\n",
    };
    QByteArray file;
    for (int n = 0; file.size() < 18 * 1024 * 1024; ++n) {
        file += photoCard;
        file += odd[n % 8];
    }
    return file;
}

}  // namespace

// A file of many megabytes is counted in pieces side by side; the pieces begin only where a
// card may begin afresh, and must count as the whole parse counts.
TEST(VCardParser, BigFilesCountAsTheyParse) {
    const QByteArray file = oddBigFile();
    EXPECT_EQ(QVCardParser::countCards(file), QVCardParser::parse(file).size());
}

// The import reads a file in parts side by side, each from one card cut to the next: the parts'
// cards one after the other are the whole parse's, and the lines they skip add up to its,
// wherever the cuts are looked for (in a small file, from every byte).
TEST(VCardParser, PartsBetweenCardCutsReadAsTheWhole) {
    QList<QByteArray> files = stretchedFiles();
    files << "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:g=\r\nBEGIN:VCARD\r\n"
             "FN:g\r\nEND:VCARD\r\nBEGIN:VCARD\r\nNOTE;ENCODING=QUOTED-PRINTABLE:h=\r\n"
             "END:VCARD\r\nBEGIN:VCARD\r\nFN:i\r\nEND:VCARD\r\n BEGIN:VCARD\r\nEND:VCARD\n"
             "BEGIN:VCARDS\nEND:VCARD\nBEGIN:VCARD"
          << oddBigFile();
    for (int n = 0; n < files.size(); ++n) {
        int skipped = -1;
        const Cards whole = QVCardParser::parse(files[n], &skipped);
        const auto text = std::make_shared<CardSource>(QVCardParser::utf8Text(files[n]));
        const qint64 size = text->size();
        const std::vector<int> counts =
            size < 4096 ? std::vector<int>{int(size) + 1} : std::vector<int>{2, 7, 40};
        for (int parts : counts) {
            Cards got;
            int partsSkipped = 0;
            qint64 begin = 0;
            for (int k = 1; k <= parts; ++k) {
                const qint64 end =
                    k == parts ? size : QVCardParser::cardCut(*text, size * k / parts);
                ASSERT_GE(end, begin) << "file " << n;
                VCardStream stream(text, begin, end, 4093);
                QVCardParser::Card card;
                while (stream.next(card))
                    got << card;
                partsSkipped += stream.skippedLines();
                begin = end;
            }
            const std::string what =
                "file " + std::to_string(n) + " parts " + std::to_string(parts);
            expectSameCards(whole, got, what);
            EXPECT_EQ(partsSkipped, skipped) << what;
        }
    }
}
