// vCard codec: parsing a file into cards of properties, and the value and card writers.
#ifndef TW_IMPORT_QVCARDPARSER_H
#define TW_IMPORT_QVCARDPARSER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

class CardSource;
class QTextCodec;

// The character set that the values of a file read in, when they name none and are not UTF-8
// (old phones' 8-bit quoted-printable, Windows exports).
class LegacyCharset {
public:
    virtual ~LegacyCharset() {}
    // Null when there is none to go by.
    virtual QTextCodec* codec() = 0;
};

class QVCardParser {
public:
    // One property line of a card.
    struct _Property {
        QString name;                   // as written (group prefix and case kept), Latin-1
        QMap<QString, QString> params;  // a parameter written without "=" has the empty value
        QByteArray value;  // after quoted-printable/Base64 decoding, no charset applied

        // The value as text, in the set valuecharset::of() answers for it: the one its "CHARSET"
        // parameter names, else UTF-8 where the bytes are UTF-8, else local 8-bit text.
        QString toString() const;
        // As toString(), with bytes that name no set and are not UTF-8 read in `legacy`'s
        // character set (when it has one) rather than as local 8-bit text.
        QString toString(LegacyCharset* legacy) const;
        // toString() cut at every unescaped ";"; a backslash makes the next character literal.
        QStringList values() const;
    };
    typedef QList<_Property> Card;

    // All cards of a vCard file, in the order of their BEGIN lines. Never fails: a malformed line
    // is skipped (with `skippedLines`, when given, counting them) and parsing goes on.
    // `unreadCards`, when given, counts the cards whose BEGIN line could not be read: an END
    // line after property lines outside any card.
    static QList<QList<_Property> > parse(QByteArray data, int* skippedLines = nullptr,
                                          int* unreadCards = nullptr);

    // How many cards parse() finds in `data`, without keeping them or reading their values.
    static int countCards(const QByteArray& data);
    struct CardCount {
        int cards = 0;
        // Some property of a card is named "...KIND" in any case: a group card may be there.
        bool kindNamed = false;
    };
    // The same for a file's text, read as it goes.
    static CardCount countCards(const CardSource& text);
    // The first place after `from` where a reader may begin and read the cards from there on
    // exactly as a reader of the whole text reads them (the start of a "BEGIN:VCARD" line, a
    // byte-order mark before it included, that follows an "END:VCARD" line); the text's size
    // when there is none.
    static qint64 cardCut(const CardSource& text, qint64 from);
    // A file's bytes as the tokenizer reads them: a UTF-8 byte-order mark dropped, UTF-16 made
    // UTF-8.
    static QByteArray utf8Text(QByteArray file);

    // Quoted-printable; `lineLength` 0 means no soft line breaks.
    static QByteArray encodeQuoted(const QByteArray& data, int lineLength);
    // Base64 cut into folded lines of at most `lineLength` characters.
    static QByteArray encodeBase64(const QByteArray& data, int lineLength);
    // One card from BEGIN:VCARD to END:VCARD; values are written as they stand.
    static QByteArray vcard2Bytes(const QList<_Property>& props);
};

// The cards of a vCard file as parse() finds them, parsed a stretch at a time as they are taken:
// the first card is ready long before the whole file is read.
class VCardStream {
public:
    // `stretchBytes`: how much of the file is parsed at a time.
    explicit VCardStream(const QByteArray& data, int stretchBytes = 64 * 1024);
    // The cards of [begin, end) of a file's text; `begin` is 0 or a cardCut().
    VCardStream(std::shared_ptr<const CardSource> text, qint64 begin, qint64 end,
                int stretchBytes = 64 * 1024);
    ~VCardStream();
    VCardStream(const VCardStream&) = delete;
    VCardStream& operator=(const VCardStream&) = delete;

    // The next card; false after the last.
    bool next(QVCardParser::Card& card);
    // The lines parse() skips in the stretch, once next() has returned false.
    int skippedLines() const;
    // The cards parse() could not read in the stretch, once next() has returned false.
    int unreadCards() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

#endif
