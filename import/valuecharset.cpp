#include "valuecharset.h"

#include "qvcardparser.h"
#include "textencoding.h"

#include <QTextCodec>

namespace valuecharset {

bool namesUtf8(const char* charset) {
    if (!charset)
        return false;
    static const char kUtf8[] = "utf8";
    int k = 0;
    for (const char* c = charset; *c; ++c) {
        const char lower = (*c >= 'A' && *c <= 'Z') ? char(*c - 'A' + 'a') : *c;
        if (!((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9')))
            continue;
        if (lower != kUtf8[k])
            return false;
        ++k;
    }
    return kUtf8[k] == 0;
}

bool Answer::namesUtf8() const {
    return source == Source::Named && codec && codec->mibEnum() == 106;
}

Answer of(const char* charset, const char* bytes, int length, LegacyCharset* legacy) {
    static QTextCodec* const utf8 = QTextCodec::codecForName("UTF-8");
    if (charset && *charset) {
        QTextCodec* named =
            valuecharset::namesUtf8(charset) ? utf8 : QTextCodec::codecForName(charset);
        if (named)
            return {Source::Named, named};
    }
    // A set the value does not name (or that is unknown here) is found from the bytes, as for a
    // file: UTF-8 where they are valid UTF-8, else the legacy set found for the file.
    if (textencoding::isUtf8(bytes, length))
        return {Source::Utf8, utf8};
    return {Source::FileLegacy, legacy ? legacy->codec() : nullptr};
}

}  // namespace valuecharset
