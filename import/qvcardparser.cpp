#include "qvcardparser.h"

#include "cardsource.h"
#include "textencoding.h"
#include "valuecharset.h"
#include "vcardtokenizer.h"

#include <QTextCodec>

#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include <strings.h>

namespace {

struct _ParseContext {
    QList<QVCardParser::Card>* cards = nullptr;
    // Counting only: BEGIN lines are counted here and no card is kept (`cards` unused).
    int* counted = nullptr;
    bool* kindNamed = nullptr;  // counting: set by a property of a card named "...KIND"
    CARD_Parser* tokenizer = nullptr;
    bool versionLine = false;  // the open property is the card's VERSION
    // Positions rather than references: QList may move its elements as it grows.
    int openCard = -1;          // index into cards, -1 when outside a card
    bool openProperty = false;  // the last property of the open card receives the value
    bool inValue = false;       // between the property event and its end mark
    bool endLine = false;       // the open property is an END line (its value is read)
    // Property lines read outside any card since the last END: the lines of a card whose BEGIN
    // line could not be read, when an END follows them.
    bool strayLines = false;
    // A BEGIN came while a card was open: the next END outside a card is that card's.
    bool outerOpen = false;
    int unreadCards = 0;
};

void openNewCard(_ParseContext* ctx) {
    // Folding follows the card's version; until its VERSION line says 2.1, the rule of 3.0 and
    // 4.0 holds.
    CARD_SetFoldKeepsBlank(ctx->tokenizer, 0);
    ctx->outerOpen = ctx->openCard >= 0;
    ctx->strayLines = false;
    if (ctx->counted) {
        ctx->openCard = (*ctx->counted)++;
    } else {
        ctx->cards->append(QVCardParser::Card());
        ctx->openCard = ctx->cards->size() - 1;
    }
    ctx->openProperty = false;
}

// An END line's value that ends in "BEGIN:VCARD": the next card's BEGIN line joined to it, as
// a blank at its start makes it a continuation, or a file without a last line break and the
// file joined after it do ("END:VCARD" then a byte-order mark and "BEGIN:VCARD").
bool beginsCard(const char* data, int len) {
    while (len > 0 && (data[len - 1] == ' ' || data[len - 1] == '\t'))
        --len;
    static const char kBegin[] = "BEGIN:VCARD";
    const int n = int(sizeof kBegin) - 1;
    return len >= n && strncasecmp(data + len - n, kBegin, size_t(n)) == 0;
}

void propHandler(void* userData, const char* name, const char** params) {
    _ParseContext* ctx = static_cast<_ParseContext*>(userData);
    ctx->inValue = false;
    ctx->versionLine = false;
    ctx->endLine = false;
    // Property names are case-insensitive in every vCard version.
    if (strcasecmp(name, "BEGIN") == 0) {
        openNewCard(ctx);
        return;
    }
    if (strcasecmp(name, "END") == 0) {
        if (ctx->openCard < 0 && ctx->outerOpen)
            ctx->outerOpen = false;
        else if (ctx->openCard < 0 && ctx->strayLines)
            ++ctx->unreadCards;
        ctx->strayLines = false;
        ctx->openCard = -1;
        ctx->openProperty = false;
        ctx->endLine = true;
        CARD_SetValueUnused(ctx->tokenizer, 0);
        return;
    }
    if (ctx->openCard < 0) {
        ctx->strayLines = true;
        ctx->openProperty = false;
        return;
    }
    ctx->versionLine = strcasecmp(name, "VERSION") == 0;
    ctx->openProperty = true;
    ctx->inValue = true;
    if (ctx->counted) {
        // Counting needs no value but the version's, which sets the folding rule.
        CARD_SetValueUnused(ctx->tokenizer, !ctx->versionLine);
        const size_t length = std::strlen(name);
        if (length >= 4 && strcasecmp(name + length - 4, "KIND") == 0)
            *ctx->kindNamed = true;
        return;
    }
    QVCardParser::_Property prop;
    prop.name = QString::fromLatin1(name);
    for (const char** slot = params; slot[0]; slot += 2) {
        // Parameter names are case-insensitive; a repeated one (TYPE=work;TYPE=voice) is one
        // list of values.
        const QString key = QString::fromLatin1(slot[0]).toUpper();
        const QString value = slot[1] ? QString::fromLatin1(slot[1]) : QString("");
        QMap<QString, QString>::iterator it = prop.params.find(key);
        if (it == prop.params.end()) {
            prop.params.insert(key, value);
        } else if (!value.isEmpty()) {
            *it = it->isEmpty() ? value : *it + QLatin1Char(',') + value;
        }
    }
    (*ctx->cards)[ctx->openCard].append(prop);
}

void dataHandler(void* userData, const char* data, int len) {
    _ParseContext* ctx = static_cast<_ParseContext*>(userData);
    if (len == 0 || !data) {
        ctx->inValue = false;
        return;
    }
    if (ctx->endLine && beginsCard(data, len)) {
        openNewCard(ctx);
        return;
    }
    if (!ctx->openProperty || ctx->openCard < 0)
        return;
    if (ctx->versionLine) {
        const QByteArray version = QByteArray(data, len).trimmed();
        CARD_SetFoldKeepsBlank(ctx->tokenizer, version == "2.1");
    }
    if (ctx->counted)
        return;
    (*ctx->cards)[ctx->openCard].last().value = QByteArray(data, len);
}

// The file as bytes the tokenizer can read: a UTF-8 byte-order mark is dropped and UTF-16 (with
// a mark or without, as some phones write it) becomes UTF-8. Other bytes stay: a 2.1 card names
// the character set of each value itself.
QByteArray toUtf8Bytes(QByteArray data) {
    if (!textencoding::utf16Name(data).isEmpty())
        return textencoding::toUtf8(data);
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    return data;
}

using TokenizerPtr = std::unique_ptr<CARD_Parser, void (*)(CARD_Parser*)>;

// Owned so that a handler running out of memory does not leak the tokenizer.
TokenizerPtr newTokenizer(_ParseContext& ctx) {
    TokenizerPtr p(CARD_ParserCreate(), CARD_ParserFree);
    if (p) {
        ctx.tokenizer = p.get();
        CARD_SetUserData(p.get(), &ctx);
        CARD_SetPropHandler(p.get(), propHandler);
        CARD_SetDataHandler(p.get(), dataHandler);
    }
    return p;
}

// Feeds `left` bytes; with `isFinal` the last line is ended. False when a failure stopped it.
// `skipped` counts the malformed lines dropped.
bool feed(_ParseContext& ctx, const char* bytes, int left, bool isFinal, int& skipped) {
    CARD_Parser* p = ctx.tokenizer;
    while (!CARD_Parse(p, bytes, left, isFinal ? 1 : 0)) {
        // One malformed line must not cost the rest of the file: drop that line (and the
        // property it had begun) and go on after it.
        ++skipped;
        if (!ctx.counted && ctx.inValue && ctx.openCard >= 0 &&
            !(*ctx.cards)[ctx.openCard].isEmpty()) {
            (*ctx.cards)[ctx.openCard].removeLast();
        }
        ctx.inValue = false;
        ctx.openProperty = false;
        int used = CARD_GetErrorOffset(p) + 1;
        if (used <= 0 || used > left)
            return false;
        bytes += used;
        left -= used;
        CARD_SkipLine(p);
    }
    return true;
}

}  // namespace

QByteArray QVCardParser::utf8Text(QByteArray file) {
    return toUtf8Bytes(std::move(file));
}

QList<QList<QVCardParser::_Property> > QVCardParser::parse(QByteArray data, int* skippedLines,
                                                           int* unreadCards) {
    QList<Card> cards;
    if (skippedLines)
        *skippedLines = 0;
    if (unreadCards)
        *unreadCards = 0;
    _ParseContext ctx;
    ctx.cards = &cards;
    TokenizerPtr owner = newTokenizer(ctx);
    if (!owner)
        return cards;
    data = toUtf8Bytes(data);
    int skipped = 0;
    feed(ctx, data.constData(), data.size(), true, skipped);
    if (skippedLines)
        *skippedLines = skipped + CARD_GetDroppedLines(owner.get());
    if (unreadCards)
        *unreadCards = ctx.unreadCards;
    return cards;
}

namespace {

// How much of a file a reader takes at a time.
enum { BLOCK_BYTES = 256 * 1024 };

// The cards of a stretch of text, counted with a tokenizer of their own.
struct PieceCount {
    int cards = 0;
    bool kindNamed = false;
};

PieceCount countPiece(const CardSource& text, qint64 begin, qint64 end) {
    PieceCount result;
    _ParseContext ctx;
    ctx.counted = &result.cards;
    ctx.kindNamed = &result.kindNamed;
    TokenizerPtr owner = newTokenizer(ctx);
    if (!owner)
        return result;
    QByteArray buffer;
    int skipped = 0;
    for (qint64 at = begin;;) {
        const char* bytes = nullptr;
        const int n = text.read(at, int(qMin<qint64>(BLOCK_BYTES, end - at)), buffer, bytes);
        at += n;
        const bool last = n == 0 || at >= end;
        if (!feed(ctx, bytes, n, last, skipped) || last)
            break;
    }
    return result;
}

// Whether a reader may begin at `at`, a "BEGIN:VCARD" line, and read on exactly as a reader
// of the whole: the line before is an "END:VCARD" line, and that line continues nothing (it
// begins with no blank, and the line before it ends in no quoted-printable soft break).
// Whatever state the tokenizer is in after such a line, the new card begins from scratch.
// `p` holds the bytes before `at` that were read, as far back as they go.
bool isCardCut(const char* p, int at) {
    int e = at;
    if (e < 1 || p[e - 1] != '\n')
        return false;
    --e;
    while (e > 0 && p[e - 1] == '\r')
        --e;
    static const char kEnd[] = "\nEND:VCARD";
    const int endLen = int(sizeof kEnd) - 1;
    if (e < endLen || std::memcmp(p + e - endLen, kEnd, size_t(endLen)) != 0)
        return false;
    e -= endLen;
    while (e > 0 && p[e - 1] == '\r')
        --e;
    return e > 0 && p[e - 1] != '=';
}

// Where the line of the "BEGIN:VCARD" at `at` begins, when isCardCut holds for it (a
// byte-order mark before it is read through, as in files joined into one); else -1. Told from
// the bytes shortly before it: a few hundred are plenty, and a cut that cannot be told from
// them is passed over, so where the text is cut depends on its bytes alone.
qint64 cutLineAt(const CardSource& text, qint64 at) {
    enum { LOOK_BACK = 256 };
    const qint64 from = qMax<qint64>(0, at - LOOK_BACK);
    int rel = int(at - from);
    QByteArray buffer;
    const char* p = nullptr;
    const int got = text.read(from, rel + 12, buffer, p);
    if (got < rel + 11)
        return -1;
    const char after = rel + 11 < got ? p[rel + 11] : '\n';
    if (after != '\r' && after != '\n')
        return -1;
    if (rel >= 3 && std::memcmp(p + rel - 3, "\xEF\xBB\xBF", 3) == 0)
        rel -= 3;
    return isCardCut(p, rel) ? from + rel : -1;
}

}  // namespace

qint64 QVCardParser::cardCut(const CardSource& text, qint64 from) {
    static const char kBegin[] = "BEGIN:VCARD";
    const int length = int(sizeof kBegin) - 1;
    const qint64 size = text.size();
    QByteArray buffer;
    // A card is seldom longer than a photo: the first look is short.
    int window = 32 * 1024;
    for (qint64 at = qMax<qint64>(0, from); at < size; window = BLOCK_BYTES) {
        const char* bytes = nullptr;
        const int got = text.read(at, window, buffer, bytes);
        if (got < length)
            break;
        for (const char* hit = bytes;;) {
            hit = static_cast<const char*>(
                memmem(hit, size_t(bytes + got - hit), kBegin, size_t(length)));
            if (!hit)
                break;
            // Only a line start, or a mark there, can be a cut.
            const char before = hit > bytes ? hit[-1] : '\n';
            const qint64 line =
                before == '\n' || before == '\xBF' ? cutLineAt(text, at + (hit - bytes)) : -1;
            if (line > from)
                return line;
            ++hit;
        }
        if (at + got >= size)
            break;
        // A mark cut by the end of the block is found in the next.
        at += got - (length - 1);
    }
    return size;
}

QVCardParser::CardCount QVCardParser::countCards(const CardSource& text) {
    // A big file (photos, mostly) is counted in pieces side by side: the count stands before
    // the first card can be merged. Small files are not worth a thread.
    enum { PIECE_BYTES = 4 << 20, MOST_PIECES = 4 };
    const qint64 size = text.size();
    const qint64 cores = qMax(1u, std::thread::hardware_concurrency());
    const int pieces = int(qBound<qint64>(1, qMin(size / PIECE_BYTES, cores), MOST_PIECES));
    std::vector<qint64> starts{0};
    for (int k = 1; k < pieces; ++k) {
        const qint64 cut = cardCut(text, qMax(starts.back(), size * k / pieces));
        if (cut >= size)
            break;
        starts.push_back(cut);
    }
    std::vector<PieceCount> counts(starts.size());
    std::vector<std::exception_ptr> errors(starts.size());
    auto count = [&](size_t k) {
        const qint64 end = k + 1 < starts.size() ? starts[k + 1] : size;
        try {
            counts[k] = countPiece(text, starts[k], end);
        } catch (...) {
            errors[k] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    for (size_t k = 1; k < starts.size(); ++k)
        helpers.emplace_back(count, k);
    count(0);
    for (std::thread& t : helpers)
        t.join();
    CardCount total;
    for (size_t k = 0; k < starts.size(); ++k) {
        if (errors[k])
            std::rethrow_exception(errors[k]);
        total.cards += counts[k].cards;
        total.kindNamed = total.kindNamed || counts[k].kindNamed;
    }
    return total;
}

int QVCardParser::countCards(const QByteArray& data) {
    return countCards(CardSource(toUtf8Bytes(data))).cards;
}

struct VCardStream::State {
    std::shared_ptr<const CardSource> text;
    qint64 at = 0;  // where the next stretch begins
    qint64 end = 0;
    int stretch = 0;
    QByteArray buffer;
    bool ended = false;
    int skipped = 0;
    QList<QVCardParser::Card> cards;
    int taken = 0;  // cards of `cards` handed out
    _ParseContext ctx;
    TokenizerPtr tokenizer{nullptr, CARD_ParserFree};

    // Feeds the next stretch (the rest of the text at its end).
    void feedMore() {
        const char* bytes = nullptr;
        const int n = text->read(at, int(qMin<qint64>(stretch, end - at)), buffer, bytes);
        at += n;
        const bool last = n == 0 || at >= end;
        // As parse() does after a failure it cannot go past: the rest goes unread.
        ended = !feed(ctx, bytes, n, last, skipped) || last;
    }
};

VCardStream::VCardStream(const QByteArray& data, int stretchBytes)
    : VCardStream(std::make_shared<CardSource>(toUtf8Bytes(data)), 0, -1, stretchBytes) {}

VCardStream::VCardStream(std::shared_ptr<const CardSource> text, qint64 begin, qint64 end,
                         int stretchBytes)
    : m_state(new State) {
    State& s = *m_state;
    s.stretch = qMax(1, stretchBytes);
    s.ctx.cards = &s.cards;
    s.tokenizer = newTokenizer(s.ctx);
    s.end = end < 0 ? text->size() : qMin(end, text->size());
    s.at = qBound<qint64>(0, begin, s.end);
    s.text = std::move(text);
    s.ended = !s.tokenizer;
}

VCardStream::~VCardStream() = default;

int VCardStream::skippedLines() const {
    const State& s = *m_state;
    return s.skipped + (s.tokenizer ? CARD_GetDroppedLines(s.tokenizer.get()) : 0);
}

int VCardStream::unreadCards() const {
    return m_state->ctx.unreadCards;
}

bool VCardStream::next(QVCardParser::Card& card) {
    State& s = *m_state;
    // A card is whole once another has begun, its END was read or the file is done.
    while (!s.ended && (s.taken >= s.cards.size() || s.ctx.openCard == s.taken))
        s.feedMore();
    if (s.taken >= s.cards.size())
        return false;
    card.swap(s.cards[s.taken]);
    ++s.taken;
    if (s.taken == s.cards.size() && s.ctx.openCard < 0) {
        // Everything handed out and no card open: the list starts again.
        s.cards.clear();
        s.taken = 0;
    }
    return true;
}

QString QVCardParser::_Property::toString() const {
    return toString(nullptr);
}

QString QVCardParser::_Property::toString(LegacyCharset* legacy) const {
    const QByteArray charset = params.value(QStringLiteral("CHARSET")).toLatin1();
    const valuecharset::Answer answer =
        valuecharset::of(charset.constData(), value.constData(), value.size(), legacy);
    return answer.codec ? answer.codec->toUnicode(value) : QString::fromLocal8Bit(value);
}

QStringList QVCardParser::_Property::values() const {
    const QString text = toString();
    QStringList result;
    QString current;
    bool escape = false;
    for (QChar ch : text) {
        if (escape) {
            current.append(ch);
            escape = false;
        } else if (ch == QLatin1Char('\\')) {
            escape = true;
        } else if (ch == QLatin1Char(';')) {
            result.append(current);
            current.clear();
        } else {
            current.append(ch);
        }
    }
    if (!current.isEmpty())
        result.append(current);
    return result;
}

static const char kHex[] = "0123456789ABCDEF";

QByteArray QVCardParser::encodeQuoted(const QByteArray& data, int lineLength) {
    QByteArray out;
    out.reserve(data.size() * 3);
    int c = 0;
    const int n = data.size();
    for (int i = 0; i < n; ++i) {
        unsigned char b = static_cast<unsigned char>(data[i]);
        if (b == '=' || b < 33 || b > 126) {
            out.append('=');
            out.append(kHex[b >> 4]);
            out.append(kHex[b & 0x0F]);
            c += 3;
        } else {
            out.append(static_cast<char>(b));
            c += 1;
        }
        // Soft breaks are transport only (readers join them before any charset decoding), so
        // the line length is kept strictly, even inside a multi-byte character.
        if (lineLength != 0 && c >= lineLength - 3) {
            out.append("=\r\n ", 4);
            c = 0;
        }
    }
    return out;
}

QByteArray QVCardParser::encodeBase64(const QByteArray& data, int lineLength) {
    const QByteArray text = data.toBase64();
    if (lineLength < 1)
        return text;
    QByteArray out;
    out.reserve(text.size() + (text.size() / lineLength + 1) * 3);
    for (int pos = 0; pos < text.size(); pos += lineLength) {
        if (pos)
            out.append("\r\n ", 3);
        out.append(text.constData() + pos, qMin(lineLength, text.size() - pos));
    }
    return out;
}

QByteArray QVCardParser::vcard2Bytes(const QList<_Property>& props) {
    QByteArray out("BEGIN:VCARD\r\n");
    for (const _Property& prop : props) {
        out.append(prop.name.toLatin1());
        for (QMap<QString, QString>::const_iterator it = prop.params.constBegin();
             it != prop.params.constEnd(); ++it) {
            out.append(';');
            out.append(it.key().toLatin1());
            // A bare parameter: ";KEY=" with nothing after it is a syntax error for readers.
            if (!it.value().isEmpty()) {
                out.append('=');
                out.append(it.value().toLatin1());
            }
        }
        out.append(':');
        out.append(prop.value);
        out.append("\r\n", 2);
    }
    out.append("END:VCARD\r\n");
    return out;
}
