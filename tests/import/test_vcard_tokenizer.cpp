// The tokenizer's events for whole and byte-by-byte input.
#include "import/vcardtokenizer.h"

#include "import/base64groups.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Recorder {
    std::vector<std::string> events;

    static void onProp(void* ud, const char* name, const char** params) {
        std::string e = std::string("P:") + name;
        for (const char** s = params; s[0]; s += 2) {
            e += "|" + std::string(s[0]);
            if (s[1])
                e += "=" + std::string(s[1]);
        }
        static_cast<Recorder*>(ud)->events.push_back(e);
    }
    static void onData(void* ud, const char* data, int len) {
        Recorder* r = static_cast<Recorder*>(ud);
        r->events.push_back(data ? "D:" + std::string(data, static_cast<size_t>(len)) : "E");
    }
};

struct Tokens {
    std::vector<std::string> events;
    int result;
};

// Feeds `in` in pieces of `step` bytes (0: whole), the final flag on the last call.
Tokens tokenize(const std::string& in, size_t step = 0, bool withProp = true,
                bool withData = true) {
    Recorder rec;
    CARD_Parser* p = CARD_ParserCreate();
    CARD_SetUserData(p, &rec);
    if (withProp)
        CARD_SetPropHandler(p, Recorder::onProp);
    if (withData)
        CARD_SetDataHandler(p, Recorder::onData);
    int result = -1;
    if (step == 0) {
        result = CARD_Parse(p, in.data(), static_cast<int>(in.size()), 1);
    } else {
        size_t pos = 0;
        do {
            size_t n = std::min(step, in.size() - pos);
            bool last = pos + n >= in.size();
            result = CARD_Parse(p, in.data() + pos, static_cast<int>(n), last ? 1 : 0);
            pos += n;
            if (!result)
                break;
        } while (pos < in.size());
    }
    CARD_ParserFree(p);
    return {rec.events, result};
}

typedef std::vector<std::string> Events;

struct Case {
    const char* label;
    std::string input;
    Events events;
    int result;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"worked example",
         "BEGIN:VCARD\r\nitem1.TEL;TYPE=CELL;PREF:+1 555\r\n 0100\r\n"
         "NOTE;ENCODING=QUOTED-PRINTABLE:caf=C3=A9\r\nEND:VCARD\r\n",
         {"P:BEGIN", "D:VCARD", "E", "P:item1.TEL|TYPE=CELL|PREF", "D:+1 555 0100", "E",
          "P:NOTE|ENCODING=QUOTED-PRINTABLE", "D:caf\xC3\xA9", "E", "P:END", "D:VCARD", "E"},
         -1},
        {"empty input", "", {}, -1},
        {"empty lines between properties",
         "A:1\n\nB:2\r\n\r\nC:3",
         {"P:A", "D:1", "E", "P:B", "D:2", "E", "P:C", "D:3", "E"},
         -1},
        {"continuation with two blanks keeps one", "NOTE:a\n  b\n", {"P:NOTE", "D:a  b", "E"}, -1},
        {"continuation space skipped at value start", "NOTE:\n x\n", {"P:NOTE", "D:x", "E"}, -1},
        // A blank-only line joins nothing, and a line without ":" is dropped on its own.
        {"blank-only line joins nothing",
         "NOTE:a\n \nb\nX:1\n",
         {"P:NOTE", "D:a", "E", "P:X", "D:1", "E"},
         -1},
        {"line without colon is dropped", "garbage\nA:1\n", {"P:A", "D:1", "E"}, -1},
        {"header without colon does not eat the next line",
         "TEL;TYPE=CELL\nX:1\n",
         {"P:X", "D:1", "E"},
         -1},
        {"quoted parameter value keeps colons, semicolons and blanks",
         "ADR;LABEL=\"1 Main St: A;B\";TYPE=home:;;x\n",
         {"P:ADR|LABEL=1 Main St: A;B|TYPE=home", "D:;;x", "E"},
         -1},
        {"blanks dropped in the header",
         "TEL ; TYPE = CE LL :1\n",
         {"P:TEL|TYPE=CELL", "D:1", "E"},
         -1},
        {"empty name", ":x\n", {"P:", "D:x", "E"}, -1},
        // Empty parameters and empty parameter values, as Outlook writes them
        // ("ADR;HOME;PREF;:", "EMAIL;TYPE=:"), are read as KContacts reads them: no parameter,
        // or a parameter with an empty value.
        {"double semicolon", "TEL;;X=1:v\n", {"P:TEL|X=1", "D:v", "E"}, -1},
        {"colon at parameter start", "TEL;:1\nA:2\n", {"P:TEL", "D:1", "E", "P:A", "D:2", "E"}, -1},
        {"colon after parameters", "ADR;HOME;PREF;:;;x\n", {"P:ADR|HOME|PREF", "D:;;x", "E"}, -1},
        {"colon at parameter value start",
         "TEL;TYPE=:1\nA:2\n",
         {"P:TEL|TYPE=", "D:1", "E", "P:A", "D:2", "E"},
         -1},
        {"semicolon at parameter value start",
         "TEL;TYPE=;X:1\n",
         {"P:TEL|TYPE=|X", "D:1", "E"},
         -1},
        {"escapes in a parameter value",
         "X;P=a\\;b\\\\c;Q=\\x:v\n",
         {"P:X|P=a;b\\c|Q=\\x", "D:v", "E"},
         -1},
        {"escaped byte keeps the next semicolon literal",
         "X;P=a\\zb;c:v\n",
         {"P:X|P=azb;c", "D:v", "E"},
         -1},
        {"ENCODING=b selects Base64", "P;ENCODING=b:QUJD\n", {"P:P|ENCODING=b", "D:ABC", "E"}, -1},
        {"bare B selects Base64", "P;B=whatever:QUI=\n", {"P:P|B=whatever", "D:AB", "E"}, -1},
        {"ENCODING without value selects nothing",
         "P;ENCODING:QUI=\n",
         {"P:P|ENCODING", "D:QUI=", "E"},
         -1},
        {"later encoding wins",
         "P;QUOTED-PRINTABLE;ENCODING=8BIT:a=41\n",
         {"P:P|QUOTED-PRINTABLE|ENCODING=8BIT", "D:a=41", "E"},
         -1},
        {"Base64 short last groups",
         "P;BASE64:QUJDRA\nQ;BASE64:QUJDREU\nR;BASE64:QUJDR\n",
         {"P:P|BASE64", "D:ABCD", "E", "P:Q|BASE64", "D:ABCDE", "E", "P:R|BASE64", "D:ABC", "E"},
         -1},
        {"Base64 '=' in third place", "P;BASE64:QQ=x\n", {"P:P|BASE64", "D:A", "E"}, -1},
        {"Base64 folded with blanks", "P;BASE64:QU\n JD\n", {"P:P|BASE64", "D:ABC", "E"}, -1},
        {"Base64 bad group stops", "P;BASE64:QU*D\nA:1\n", {"P:P|BASE64"}, 0},
        {"quoted-printable odd escapes",
         "N;QUOTED-PRINTABLE:=41=ZZ=4Z=4\n",
         {"P:N|QUOTED-PRINTABLE", std::string("D:A\0\x04", 5), "E"},
         -1},
        {"value blanks: leading dropped, trailing kept, CR dropped",
         "N:  a\rb  \r\n",
         {"P:N", "D:ab  ", "E"},
         -1},
        {"no line end at the end", "A:1", {"P:A", "D:1", "E"}, -1},
        // A soft line break carries no character; the blank that begins the next line is text
        // (the tokenizer's own rule is 2.1's), and an empty line ends the value.
        {"quoted-printable soft break keeps the next line's blank",
         "N;QUOTED-PRINTABLE:come=\r\n to\r\n",
         {"P:N|QUOTED-PRINTABLE", "D:come to", "E"},
         -1},
        {"quoted-printable soft break then an empty line (Android)",
         "N;QUOTED-PRINTABLE:ab=\r\n\r\nX:1\r\n",
         {"P:N|QUOTED-PRINTABLE", "D:ab", "E", "P:X", "D:1", "E"},
         -1},
        {"quoted-printable soft break without fold (2.1)",
         "N;QUOTED-PRINTABLE:ab=\r\ncd=\r\nef\r\nX:1\r\n",
         {"P:N|QUOTED-PRINTABLE", "D:abcdef", "E", "P:X", "D:1", "E"},
         -1},
        {"quoted-printable soft break at the value's end",
         "N;QUOTED-PRINTABLE:ab=\r\n \r\nX:1\r\n",
         {"P:N|QUOTED-PRINTABLE", "D:ab", "E", "P:X", "D:1", "E"},
         -1},
        {"quoted-printable UTF-8 split across a soft break",
         "N;CHARSET=UTF-8;QUOTED-PRINTABLE:=C3=\r\n=A9\r\n",
         {"P:N|CHARSET=UTF-8|QUOTED-PRINTABLE", "D:\xC3\xA9", "E"},
         -1},
        // Sony Ericsson breaks inside an escape ("=9A=" then "D0=A1"): in a value that names
        // UTF-8 the digits join where as text they would break a character. A value of another
        // set, or of none named (whatever the version), reads the break as a plain soft break.
        {"quoted-printable escape split by a soft break",
         "N;CHARSET=utf-8;QUOTED-PRINTABLE:=D0=9A=\r\nD0=A1;=D0=\nA1\n"
         "M;QUOTED-PRINTABLE:=D0=\nA1\nO;CHARSET=ISO-8859-5;QUOTED-PRINTABLE:=D0=\nA1\n",
         {"P:N|CHARSET=utf-8|QUOTED-PRINTABLE", "D:\xD0\x9A\xD0\xA1;\xD0\xA1", "E",
          "P:M|QUOTED-PRINTABLE", "D:\xD0" + std::string("A1"), "E",
          "P:O|CHARSET=ISO-8859-5|QUOTED-PRINTABLE", "D:\xD0" + std::string("A1"), "E"},
         -1},
        // ... and with the escape's "=" before the soft break's ("=9A==" then "D0=A1"); digits
        // that do not end there begin a property line, as does a line of no digits.
        {"quoted-printable escape open at a soft break",
         "N;QUOTED-PRINTABLE:=D0=9A==\r\nD0=A1;=D0==\nA1\nM;QUOTED-PRINTABLE:=41==\n4\nX:1\n",
         {"P:N|QUOTED-PRINTABLE", "D:\xD0\x9A\xD0\xA1;\xD0\xA1", "E", "P:M|QUOTED-PRINTABLE", "D:A",
          "E", "P:X", "D:1", "E"},
         -1},
        // The line after the digits goes on: it is the rest of the value unless it has a
        // property name and a ":".
        {"quoted-printable split escape with text after its digits",
         "N;QUOTED-PRINTABLE:Z=C3==\nBCrich;;630004;Russia\nM;QUOTED-PRINTABLE:a==\nBD;X=1:2\n"
         "O;CHARSET=UTF-8;QUOTED-PRINTABLE:Z=C3=\r\nBCrich\r\nQ;QUOTED-PRINTABLE:=0A=\nCD=92s\n",
         {"P:N|QUOTED-PRINTABLE", "D:Z\xC3\xBCrich;;630004;Russia", "E", "P:M|QUOTED-PRINTABLE",
          "D:a", "E", "P:BD|X=1", "D:2", "E", "P:O|CHARSET=UTF-8|QUOTED-PRINTABLE",
          "D:Z\xC3\xBCrich", "E", "P:Q|QUOTED-PRINTABLE", "D:\nCD\x92s", "E"},
         -1},
        {"quoted-printable value ending in '==' before a property line",
         "N;QUOTED-PRINTABLE:ab==\nBDAY:1\nM;QUOTED-PRINTABLE:c==\r\nFN:x\r\n"
         "O;QUOTED-PRINTABLE:d==\r\nAD:y\r\nP;QUOTED-PRINTABLE:e==\n:z\n",
         {"P:N|QUOTED-PRINTABLE", "D:ab", "E", "P:BDAY", "D:1", "E",
          "P:M|QUOTED-PRINTABLE", "D:c",  "E", "P:FN",   "D:x", "E",
          "P:O|QUOTED-PRINTABLE", "D:d",  "E", "P:AD",   "D:y", "E",
          "P:P|QUOTED-PRINTABLE", "D:e",  "E", "P:",     "D:z", "E"},
         -1},
        {"quoted-printable digits after a soft break that are text",
         "N;CHARSET=UTF-8;QUOTED-PRINTABLE:=0A=\r\nAB Street=0A=\r\nDEF=0A=\r\nC=0A=\r\n8a\r\n"
         "M;CHARSET=UTF-8;QUOTED-PRINTABLE:a=\r\nC3=A9\r\n",
         {"P:N|CHARSET=UTF-8|QUOTED-PRINTABLE", "D:\nAB Street\nDEF\nC\n8a", "E",
          "P:M|CHARSET=UTF-8|QUOTED-PRINTABLE", "D:aC3\xA9", "E"},
         -1},
        {"8bit byte at line start is not a blank",
         "A:1\n\xA0:2\n",
         {"P:A", "D:1", "E", "P:\xA0", "D:2", "E"},
         -1},
    };
    return all;
}

TEST(VCardTokenizer, CasesWholeAndByteByByte) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.label);
        Tokens whole = tokenize(c.input);
        EXPECT_EQ(whole.events, c.events);
        EXPECT_EQ(whole.result, c.result);
        for (size_t step : {1, 2, 3, 7}) {
            SCOPED_TRACE(step);
            Tokens pieces = tokenize(c.input, step);
            EXPECT_EQ(pieces.events, whole.events);
            EXPECT_EQ(pieces.result, whole.result);
        }
    }
}

// vCard 3.0 and 4.0 unfold by removing the line break and one blank, so bytes cut anywhere (in
// a word, in a UTF-8 sequence) join as they were.
TEST(VCardTokenizer, UnfoldingOf30) {
    Recorder rec;
    CARD_Parser* p = CARD_ParserCreate();
    CARD_SetUserData(p, &rec);
    CARD_SetPropHandler(p, Recorder::onProp);
    CARD_SetDataHandler(p, Recorder::onData);
    CARD_SetFoldKeepsBlank(p, 0);
    const std::string in = "EMAIL:john.\r\n doe@ibm.com\r\nN:J\xC3\r\n\t\xA9\r\nX:a\r\n  b\r\n";
    EXPECT_EQ(CARD_Parse(p, in.data(), int(in.size()), 1), -1);
    CARD_ParserFree(p);
    EXPECT_EQ(rec.events, (Events{"P:EMAIL", "D:john.doe@ibm.com", "E", "P:N", "D:J\xC3\xA9", "E",
                                  "P:X", "D:a b", "E"}));
}

TEST(VCardTokenizer, WithoutFinalFlagTheLastLineStaysOpen) {
    Recorder rec;
    CARD_Parser* p = CARD_ParserCreate();
    CARD_SetUserData(p, &rec);
    CARD_SetPropHandler(p, Recorder::onProp);
    CARD_SetDataHandler(p, Recorder::onData);
    EXPECT_EQ(CARD_Parse(p, "A:1\nB:2", 7, 0), -1);
    EXPECT_EQ(rec.events, (Events{"P:A", "D:1", "E", "P:B"}));
    EXPECT_EQ(CARD_Parse(p, nullptr, 0, 1), -1);
    EXPECT_EQ(rec.events, (Events{"P:A", "D:1", "E", "P:B", "D:2", "E"}));
    CARD_ParserFree(p);
}

TEST(VCardTokenizer, MissingHandlers) {
    EXPECT_EQ(tokenize("P;BASE64:QUJD\n", 0, true, false).events, (Events{"P:P|BASE64"}));
    // Without a property handler no encoding is selected: the value arrives as its text.
    EXPECT_EQ(tokenize("P;BASE64:QUJD\n", 0, false, true).events, (Events{"D:QUJD", "E"}));
}

TEST(VCardTokenizer, LongValuesArriveWholeAndBuffersAreReleased) {
    std::string big(300000, 'x');
    Tokens r = tokenize("NOTE:" + big + "\nA:1\n");
    ASSERT_EQ(r.events.size(), 6u);
    EXPECT_EQ(r.events[1], "D:" + big);
    EXPECT_EQ(r.events[4], "D:1");

    Recorder rec;
    CARD_Parser* p = CARD_ParserCreate();
    CARD_SetUserData(p, &rec);
    CARD_SetPropHandler(p, Recorder::onProp);
    CARD_SetDataHandler(p, Recorder::onData);
    std::string in = "NOTE:" + big + "\n";
    CARD_Parse(p, in.data(), static_cast<int>(in.size()), 1);
    EXPECT_EQ(p->line, nullptr);  // a line buffer past 256 KB is not kept
    EXPECT_EQ(p->line_capacity, 0);
    // Mid-line the buffer has grown by doubling, never far past what the line needs.
    CARD_Parse(p, in.data(), static_cast<int>(in.size()) - 1, 0);
    EXPECT_GE(p->line_capacity, 300000);
    EXPECT_LT(p->line_capacity, 2 * 300000 + 128);
    EXPECT_EQ(p->line_capacity % 128, 0);
    CARD_Parse(p, "\nA:1\n", 5, 1);
    EXPECT_GT(p->line_capacity, 0);
    EXPECT_LE(p->line_capacity, 1024);
    // One of a photo's size is kept for the next.
    const std::string photo = "PHOTO:" + std::string(40000, 'y') + "\n";
    CARD_Parse(p, photo.data(), static_cast<int>(photo.size()), 1);
    EXPECT_GE(p->line_capacity, 40000);
    CARD_ParserFree(p);
}

TEST(VCardTokenizer, ManyParametersGrowTheArray) {
    std::string in = "X";
    Events expected;
    std::string ev = "P:X";
    for (int i = 0; i < 300; ++i) {
        in += ";P" + std::to_string(i) + "=" + std::to_string(i);
        ev += "|P" + std::to_string(i) + "=" + std::to_string(i);
    }
    in += ":v\n";
    EXPECT_EQ(tokenize(in).events, (Events{ev, "D:v", "E"}));
}

TEST(VCardTokenizer, ErrorOffsetAndSkipLineResume) {
    Recorder rec;
    CARD_Parser* p = CARD_ParserCreate();
    CARD_SetUserData(p, &rec);
    CARD_SetPropHandler(p, Recorder::onProp);
    CARD_SetDataHandler(p, Recorder::onData);
    // A Base64 group with a byte outside the alphabet fails where the group completes.
    const std::string in = "A:1\nPHOTO;ENCODING=b:QU*D\n more bad\nB:2\n";
    EXPECT_EQ(CARD_Parse(p, in.data(), static_cast<int>(in.size()), 1), 0);
    const int off = CARD_GetErrorOffset(p);
    EXPECT_EQ(in.substr(static_cast<size_t>(off) - 3, 4), "QU*D");
    CARD_SkipLine(p);
    const int rest = static_cast<int>(in.size()) - off - 1;
    EXPECT_EQ(CARD_Parse(p, in.data() + off + 1, rest, 1), -1);
    EXPECT_EQ(rec.events, (Events{"P:A", "D:1", "E", "P:PHOTO|ENCODING=b", "P:B", "D:2", "E"}));
    CARD_ParserFree(p);
}

// Values far past one decoding stretch, of every length remainder, folded as writers fold them,
// decode to what Qt's own decoder gives for the same text.
TEST(VCardTokenizer, LongBase64ValuesMatchQtsDecoder) {
    for (int size : {2303, 2304, 2305, 40000}) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * 131 + i / 7) & 0xFF);
        const QByteArray text = bytes.toBase64();
        std::string folded;
        for (int i = 0; i < text.size(); i += 75)
            folded += (i ? "\r\n " : "") + text.mid(i, 75).toStdString();
        for (size_t step : {size_t(0), size_t(3), size_t(1000)}) {
            const Tokens r = tokenize("PHOTO;ENCODING=b:" + folded + "\r\nA:1\n", step);
            ASSERT_EQ(r.result, -1);
            ASSERT_EQ(r.events.size(), 6u) << size;
            EXPECT_TRUE(r.events[1] == "D:" + QByteArray::fromBase64(text).toStdString())
                << size << " step " << step;
        }
    }
}

// A pass that wants no values (the count) reads none: it does not fail on a malformed one, yet
// sees every property a full pass sees, as lines begin and end where they do for it (a
// quoted-printable soft break joins the next line either way); a value wanted again after one
// that was not arrives whole.
TEST(VCardTokenizer, UnusedValuesArePassedOverLineByLine) {
    struct Pass {
        CARD_Parser* p = CARD_ParserCreate();
        bool unwanted = false;
        std::vector<std::string> props, values;  // values as "name=value"
        ~Pass() { CARD_ParserFree(p); }
        static void onProp(void* ud, const char* name, const char**) {
            Pass* pass = static_cast<Pass*>(ud);
            pass->props.push_back(name);
            CARD_SetValueUnused(pass->p, pass->unwanted && pass->props.back() != "A");
        }
        static void onData(void* ud, const char* data, int len) {
            Pass* pass = static_cast<Pass*>(ud);
            if (data)
                pass->values.push_back(pass->props.back() + "=" + std::string(data, size_t(len)));
        }
        // Fed in steps of `step` bytes, a failing line dropped as the parser drops it.
        int failures(const std::string& in, size_t step) {
            CARD_SetUserData(p, this);
            CARD_SetPropHandler(p, onProp);
            CARD_SetDataHandler(p, onData);
            int failed = 0;
            for (size_t at = 0; at < in.size(); at += step) {
                const char* bytes = in.data() + at;
                int left = int(std::min(step, in.size() - at));
                const int last = at + step >= in.size();
                while (!CARD_Parse(p, bytes, left, last)) {
                    ++failed;
                    const int used = CARD_GetErrorOffset(p) + 1;
                    bytes += used;
                    left -= used;
                    CARD_SkipLine(p);
                }
            }
            return failed;
        }
    };
    const std::string good(3000, 'Q');
    const std::string inputs[] = {
        "PHOTO;ENCODING=b:" + good + "Q*QQ\nA:1\nNOTE:x\n",
        "PHOTO;ENCODING=b:" + good + "QQ\xC3\xA9\n A:2\nA:1\n",
        "PHOTO;ENCODING=b:QQ*Q" + good + "\r\n X:Y\r\nA:" + good + "\r\n",
        "NOTE;ENCODING=QUOTED-PRINTABLE:a=\r\nA:inside\r\nA:1\r\nB;ENCODING=b:**\r\n",
        "NOTE;ENCODING=QUOTED-PRINTABLE:=C3=\r\nA9 A:2\r\nA;ENCODING=b:QUJD\r\n",
    };
    for (const std::string& in : inputs) {
        for (size_t step : {size_t(1), size_t(7), in.size()}) {
            Pass full, count;
            count.unwanted = true;
            full.failures(in, step);
            EXPECT_EQ(count.failures(in, step), 0) << in.substr(0, 40);
            EXPECT_EQ(count.props, full.props) << in.substr(0, 40) << " step " << step;
            auto ofA = [](const std::vector<std::string>& values) {
                std::vector<std::string> out;
                for (const std::string& v : values) {
                    if (v.compare(0, 2, "A=") == 0)
                        out.push_back(v);
                }
                return out;
            };
            const std::vector<std::string> wanted = ofA(full.values);
            EXPECT_FALSE(wanted.empty());
            EXPECT_EQ(ofA(count.values), wanted) << in.substr(0, 40) << " step " << step;
        }
    }
}

// Photos are decoded in runs of whole groups, eight at a time where the processor has 256-bit
// vectors: every run stops before the first group that holds a byte that is no symbol, wherever
// it stands, and decodes what Qt decodes.
TEST(VCardTokenizer, Base64GroupRunsStopBeforeTheFirstOtherByte) {
    QByteArray bytes(3000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 167 + i / 13) & 0xFF);
    const QByteArray text = bytes.toBase64().left(3000 / 3 * 4);
    const char others[] = {'=', ' ',  '\n',   '\r',   '*', '-', '_', '.',
                           ':', '\0', '\x80', '\xFF', '@', '[', '`', '{'};
    for (int groups : {0, 1, 7, 8, 9, 16, 33, 250}) {
        for (int at = -1; at < groups * 4; at += at < 40 ? 1 : 37) {
            for (char other : others) {
                QByteArray in = text.left(groups * 4);
                if (at >= 0)
                    in[at] = other;
                const auto* symbols = reinterpret_cast<const unsigned char*>(in.constData());
                QByteArray plain(groups * 3 + 8, '\0'), fast(groups * 3 + 8, '\0');
                const int n = base64groups::decodePlain(symbols, groups, plain.data());
                ASSERT_EQ(n, at < 0 ? groups : at / 4) << groups << " " << at;
                ASSERT_EQ(base64groups::decode(symbols, groups, fast.data()), n);
                ASSERT_EQ(fast.left(n * 3), plain.left(n * 3));
                ASSERT_EQ(plain.left(n * 3), QByteArray::fromBase64(in.left(n * 4)));
                if (at < 0)
                    break;
            }
        }
    }
}

TEST(VCardTokenizer, Base64Alphabet) {
    EXPECT_EQ(Base64ToOrd('A'), 0);
    EXPECT_EQ(Base64ToOrd('z'), 51);
    EXPECT_EQ(Base64ToOrd('9'), 61);
    EXPECT_EQ(Base64ToOrd('+'), 62);
    EXPECT_EQ(Base64ToOrd('/'), 63);
    EXPECT_EQ(Base64ToOrd('='), 255);
    EXPECT_EQ(Base64ToOrd(0xC3), 255);
    EXPECT_STREQ(CARD_ParserVersion(), "1.0");
}

}  // namespace

// Writers fold Base64 at every width, so groups of four break anywhere across lines; blanks
// inside a line, padding and a bad symbol after a group begun on the line before are read as
// a byte at a time would read them.
TEST(VCardTokenizer, Base64GroupsBrokenByAnyFold) {
    QByteArray bytes(3001, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 37 + i / 5) & 0xFF);
    const std::string text = bytes.toBase64().toStdString();
    for (size_t width : {1, 2, 3, 5, 6, 7, 73, 74, 76, 77}) {
        std::string folded;
        for (size_t i = 0; i < text.size(); i += width)
            folded += (i ? "\r\n " : "") + text.substr(i, width);
        for (size_t step : {size_t(0), size_t(1), size_t(5), size_t(999)}) {
            const Tokens r = tokenize("PHOTO;ENCODING=b:" + folded + "\r\nA:1\n", step);
            ASSERT_EQ(r.result, -1) << width;
            ASSERT_EQ(r.events.size(), 6u) << width;
            EXPECT_TRUE(r.events[1] == "D:" + bytes.toStdString())
                << "width " << width << " step " << step;
        }
    }
    // Blanks inside a line are no symbols; a group cut by them still decodes.
    const Tokens spaced = tokenize("PHOTO;ENCODING=b:QU JD\r\n RE VG\tRw==\r\n");
    ASSERT_EQ(spaced.result, -1);
    EXPECT_EQ(spaced.events[1], "D:ABCDEFG");
    // A group with a bad symbol, begun right after one that the line before began, fails at
    // its last symbol, whole or fed a byte at a time.
    const std::string bad = "PHOTO;ENCODING=b:QUJ\r\n D*QUJ\r\nA:1\n";
    const Tokens whole = tokenize(bad);
    EXPECT_EQ(whole.result, 0);
    EXPECT_EQ(tokenize(bad, 1).result, 0);
    CARD_Parser* p = CARD_ParserCreate();
    Recorder rec;
    CARD_SetUserData(p, &rec);
    CARD_SetPropHandler(p, Recorder::onProp);
    CARD_SetDataHandler(p, Recorder::onData);
    EXPECT_EQ(CARD_Parse(p, bad.data(), static_cast<int>(bad.size()), 1), 0);
    EXPECT_EQ(CARD_GetErrorOffset(p), static_cast<int>(bad.find('*') + 3));
    CARD_ParserFree(p);
}
