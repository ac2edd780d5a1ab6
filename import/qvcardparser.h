// vCard codec: parsing a file into cards of properties, and the value and card writers.
#ifndef TW_IMPORT_QVCARDPARSER_H
#define TW_IMPORT_QVCARDPARSER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

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

        // The value as text, decoded by the codec its "CHARSET" parameter names, else as local
        // 8-bit text.
        QString toString() const;
        // As toString(), with bytes that are not UTF-8 read in `legacy`'s character set (when
        // it has one) rather than as local 8-bit text.
        QString toString(LegacyCharset* legacy) const;
        // toString() cut at every unescaped ";"; a backslash makes the next character literal.
        QStringList values() const;
    };
    typedef QList<_Property> Card;

    // All cards of a vCard file, in the order of their BEGIN lines. Never fails: a malformed line
    // is skipped (with `skippedLines`, when given, counting them) and parsing goes on.
    static QList<QList<_Property> > parse(QByteArray data, int* skippedLines = nullptr);

    // How many cards parse() finds in `data`, and the lines it skips, without keeping the cards.
    static int countCards(const QByteArray& data, int* skippedLines = nullptr);

    // Quoted-printable; `lineLength` 0 means no soft line breaks.
    static QByteArray encodeQuoted(const QByteArray& data, int lineLength);
    // Base64 cut into folded lines of at most `lineLength` characters.
    static QByteArray encodeBase64(const QByteArray& data, int lineLength);
    // One card from BEGIN:VCARD to END:VCARD; values are written as they stand.
    static QByteArray vcard2Bytes(const QList<_Property>& props);
};

// The cards of a vCard file as parse() finds them, parsed a stretch of lines at a time as they
// are taken: the first card is ready long before the whole file is read.
class VCardStream {
public:
    // `stretchBytes`: about how much of the file is parsed at a time (whole lines always).
    explicit VCardStream(const QByteArray& data, int stretchBytes = 64 * 1024);
    ~VCardStream();
    VCardStream(const VCardStream&) = delete;
    VCardStream& operator=(const VCardStream&) = delete;

    // The next card; false after the last.
    bool next(QVCardParser::Card& card);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

#endif
