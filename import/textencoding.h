// Finding the character set of a text file that does not name its own, and turning it into UTF-8.
#ifndef TW_IMPORT_TEXTENCODING_H
#define TW_IMPORT_TEXTENCODING_H

#include <QByteArray>

namespace textencoding {

// Whether the bytes are valid UTF-8 (ASCII included), with no character cut off at the end.
bool isUtf8(const char* bytes, int length);

// The name of the bytes' character set, found in this order: a byte-order mark; UTF-16 without a
// mark (known by the zero bytes of its ASCII characters); valid UTF-8 (ASCII included); else
// ICU's character-set detector; "windows-1252" when it has no answer.
QByteArray detect(const QByteArray& bytes);

// The legacy character set of bytes known to be no UTF-8 (values a file does not name the set
// of): ICU's best guess that is no Unicode encoding (a few bytes alone can look like UTF-16 or
// Shift_JIS to it), when it has evidence for one; else "windows-1252".
QByteArray detectLegacy(const QByteArray& bytes);

// "UTF-16LE" or "UTF-16BE" when the bytes are UTF-16, with a byte-order mark or without; else
// an empty text.
QByteArray utf16Name(const QByteArray& bytes);

// The bytes as UTF-8 without a byte-order mark, decoded from the character set detect() names.
// `detected`, when given, receives that name.
QByteArray toUtf8(const QByteArray& bytes, QByteArray* detected = nullptr);

}  // namespace textencoding

#endif
