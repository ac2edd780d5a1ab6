// Which character set one vCard value's bytes are in. The quoted-printable decoding (where an
// escape split at a soft break may join), the search for a file's legacy set and the reading of
// a value as text all take this one answer, so that no step reads a value in a set that another
// step denies.
#ifndef TW_IMPORT_VALUECHARSET_H
#define TW_IMPORT_VALUECHARSET_H

class LegacyCharset;
class QTextCodec;

namespace valuecharset {

enum class Source {
    Named,       // the value's CHARSET names a set known here
    Utf8,        // none named, and the bytes are UTF-8 (ASCII included)
    FileLegacy,  // none named, and the bytes are no UTF-8: the set found for the file's such values
};

struct Answer {
    Source source;
    // The set to read the bytes in; null for a legacy value of a file without a set found.
    QTextCodec* codec;

    // A value that names UTF-8: only there may an escape split at a soft break join. A value
    // that names nothing may be in the file's 8-bit set, where every byte is a character.
    bool namesUtf8() const;
};

// The answer for a value whose CHARSET parameter is `charset` (null or empty when it has none)
// and whose decoded bytes are `bytes`. `legacy` gives the file's set for values that name none
// and are no UTF-8; without it (or without a set found) their codec is null.
Answer of(const char* charset, const char* bytes, int length, LegacyCharset* legacy = nullptr);

// Whether a CHARSET value names UTF-8, matched as codec names are: ASCII letters and digits
// alone, in any case ("UTF-8", "utf8").
bool namesUtf8(const char* charset);

}  // namespace valuecharset

#endif
