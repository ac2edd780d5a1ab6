// Quoted-printable escapes that a producer split at a soft line break, with the "=" at the end
// of one line and the two digits at the start of the next ("=D0=9A=" then "D0=A1", as some
// phones write UTF-8). The break reads as a plain soft break just as well ("=0D=0A=" then "BE",
// "=20=" then "de"), so such digits are stored as text first and joined only where the value
// shows which was meant.
#ifndef TW_IMPORT_QPSPLIT_H
#define TW_IMPORT_QPSPLIT_H

namespace qpsplit {

// Whether a CHARSET value names UTF-8, matched as codec names are: ASCII letters and digits
// alone, in any case ("UTF-8", "utf8"). Only in such a value may a pair join.
bool namesUtf8(const char* charset);

// Joins, in the decoded UTF-8 value `value` of `length` bytes, each pair of hex digits that
// begins at one of the `count` ascending offsets `at` into the byte they spell, where the text
// reading cannot stand and the joined one can: the byte continues a UTF-8 character that the
// bytes before it left open and completes it with those after it, or begins one that the bytes
// after it complete. Any other pair stays text. Returns the value's new length.
int joinSplitEscapes(char* value, int length, const int* at, int count);

}  // namespace qpsplit

#endif
