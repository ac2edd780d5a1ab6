#include "textencoding.h"

#include <QTextCodec>

#include <unicode/ucsdet.h>

#include <memory>

namespace {

// UTF-16 without a mark, as some phone exports write it: most ASCII characters then come with a
// zero byte on one side. Returns the name, or an empty text when the bytes do not look so.
QByteArray unmarkedUtf16(const QByteArray& bytes) {
    const int n = qMin(bytes.size() & ~1, 4096);
    if (n < 4)
        return QByteArray();
    int evenZeros = 0, oddZeros = 0;
    for (int i = 0; i < n; i += 2) {
        evenZeros += bytes[i] == '\0';
        oddZeros += bytes[i + 1] == '\0';
    }
    const int pairs = n / 2;
    if (oddZeros * 10 >= pairs * 6 && evenZeros * 10 < pairs)
        return "UTF-16LE";
    if (evenZeros * 10 >= pairs * 6 && oddZeros * 10 < pairs)
        return "UTF-16BE";
    return QByteArray();
}

struct DetectorDeleter {
    void operator()(UCharsetDetector* d) const { ucsdet_close(d); }
};

// ICU's guess; empty when it has none or names a set Qt cannot decode.
QByteArray icuGuess(const QByteArray& bytes) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, DetectorDeleter> detector(ucsdet_open(&status));
    if (U_FAILURE(status) || !detector)
        return QByteArray();
    // The detector reads at most this much; the head of an address book is enough.
    const int len = qMin(bytes.size(), 65536);
    ucsdet_setText(detector.get(), bytes.constData(), len, &status);
    const UCharsetMatch* match = ucsdet_detect(detector.get(), &status);
    if (U_FAILURE(status) || !match)
        return QByteArray();
    const char* name = ucsdet_getName(match, &status);
    if (U_FAILURE(status) || !name)
        return QByteArray();
    QByteArray result(name);
    // ISO-8859-1 as ICU reports it for Windows text without bytes 0x80-0x9F; Windows-1252 reads
    // the same bytes the same way and also those.
    if (result == "ISO-8859-1")
        result = "windows-1252";
    if (!QTextCodec::codecForName(result))
        return QByteArray();
    return result;
}

// ICU's best guess that no Unicode encoding is; empty when it has none Qt can decode, or no
// evidence for any.
QByteArray icuLegacyGuess(const QByteArray& bytes) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, DetectorDeleter> detector(ucsdet_open(&status));
    if (U_FAILURE(status) || !detector)
        return QByteArray();
    const int len = qMin(bytes.size(), 65536);
    ucsdet_setText(detector.get(), bytes.constData(), len, &status);
    int32_t found = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &found, &status);
    if (U_FAILURE(status) || !matches)
        return QByteArray();
    for (int32_t i = 0; i < found; ++i) {
        UErrorCode nameStatus = U_ZERO_ERROR;
        const char* name = ucsdet_getName(matches[i], &nameStatus);
        // ICU names every set that merely could be at 10: no evidence for any of them.
        const int32_t confidence = ucsdet_getConfidence(matches[i], &nameStatus);
        if (U_FAILURE(nameStatus) || !name || confidence <= 10)
            continue;
        QByteArray result(name);
        if (result.startsWith("UTF-"))
            continue;
        if (result == "ISO-8859-1")
            result = "windows-1252";
        if (QTextCodec::codecForName(result))
            return result;
    }
    return QByteArray();
}

}  // namespace

namespace textencoding {

bool isUtf8(const char* bytes, int length) {
    // Most values are ASCII: no decoding for them.
    int i = 0;
    while (i < length && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    if (i == length)
        return true;
    QTextCodec::ConverterState state;
    static QTextCodec* const utf8 = QTextCodec::codecForName("UTF-8");
    utf8->toUnicode(bytes + i, length - i, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QByteArray detectLegacy(const QByteArray& bytes) {
    const QByteArray guess = icuLegacyGuess(bytes);
    return guess.isEmpty() ? QByteArray("windows-1252") : guess;
}

QByteArray utf16Name(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return "UTF-16LE";
    if (bytes.startsWith("\xFE\xFF"))
        return "UTF-16BE";
    return unmarkedUtf16(bytes);
}

QByteArray detect(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return "UTF-8";
    if (bytes.startsWith("\xFF\xFE"))
        return "UTF-16LE";
    if (bytes.startsWith("\xFE\xFF"))
        return "UTF-16BE";
    const QByteArray utf16 = unmarkedUtf16(bytes);
    if (!utf16.isEmpty())
        return utf16;
    if (isUtf8(bytes.constData(), bytes.size()))
        return "UTF-8";
    const QByteArray guess = icuGuess(bytes);
    return guess.isEmpty() ? QByteArray("windows-1252") : guess;
}

QByteArray toUtf8(const QByteArray& bytes, QByteArray* detected) {
    const QByteArray name = detect(bytes);
    if (detected)
        *detected = name;
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    else if (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF"))
        body.remove(0, 2);
    if (name == "UTF-8")
        return body;
    QTextCodec* codec = QTextCodec::codecForName(name);
    if (!codec)
        codec = QTextCodec::codecForName("windows-1252");
    if (!codec)
        return body;
    return codec->toUnicode(body).toUtf8();
}

}  // namespace textencoding
