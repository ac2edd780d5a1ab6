// The tokenizer's reading of a line that follows a quoted-printable soft break right after an
// escape, where a producer may have split that escape: "=D0=9A=" then "D0=A1", or "=D0=9A=="
// then "D0=A1" (Sony Ericsson). Internal steps of the tokenizer, on its record.
#ifndef TW_IMPORT_QPBREAKS_H
#define TW_IMPORT_QPBREAKS_H

#include "vcardtokenizer.h"

// Keeps `charset` (a CHARSET parameter's value) as the current value's, for the join at its end.
// Where memory is short the value names none, and no split escape joins.
void qpbreak_set_charset(CARD_Parser* p, const char* charset);

// Holds the first byte `c` of a line after such a break as a split escape's first digit.
void qpbreak_hold(CARD_Parser* p, unsigned char c, int escapeOpen);

// A value byte (or the line feed that ends the line) while digits or a line are held. Sets
// `*taken` when the byte was held; otherwise the caller goes on with it, as a value byte or, when
// the value has ended, as the first byte of a property line. -1, or 0 on failure.
int qpbreak_take(CARD_Parser* p, unsigned char c, int* taken);

// At the value's end: joins the digits held as text where the value's charset says so.
void qpbreak_join(CARD_Parser* p);

#endif
