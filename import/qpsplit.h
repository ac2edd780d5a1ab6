// Quoted-printable escapes that a producer split at a soft line break, with the "=" at the end
// of one line and the two digits at the start of the next ("=D0=9A=" then "D0=A1", as some
// phones write UTF-8). The break reads as a plain soft break just as well ("=0D=0A=" then "BE",
// "=20=" then "de"), so such digits are stored as text first and joined only where the value
// shows which was meant.
#ifndef TW_IMPORT_QPSPLIT_H
#define TW_IMPORT_QPSPLIT_H

#include "valuecharset.h"

namespace qpsplit {

// Joins, in the decoded value `value` of `length` bytes, each pair of hex digits that begins at
// one of the `count` ascending offsets `at` into the byte they spell, where the text reading
// cannot stand and the joined one can: the byte continues a UTF-8 character that the bytes
// before it left open and completes it with those after it, or begins one that the bytes after
// it complete. Only a value whose `charset` names UTF-8 joins; in any other every pair stays
// text, as RFC 2045 reads a soft break. Returns the value's new length.
int joinSplitEscapes(const valuecharset::Answer& charset, char* value, int length, const int* at,
                     int count);

}  // namespace qpsplit

#endif
