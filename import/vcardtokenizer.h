// Byte-driven vCard line tokenizer with a small C-style interface.
//
// Conventions: flags hold -1 for true and 0 for false; operations that can fail return -1 on
// success and 0 on failure. The tokenizer joins folded lines, cuts each logical line into a
// property name, parameters and a value, decodes quoted-printable and Base64 values, and reports
// every property through two callbacks.
#ifndef TW_IMPORT_VCARDTOKENIZER_H
#define TW_IMPORT_VCARDTOKENIZER_H

// Called once the header of a property (name and parameters) has been read. `params` is a list
// of (name, value) string pairs ended by a pair whose name is null; the value of a parameter
// written without "=" is null. Strings are valid only during the call.
typedef void (*CARD_PropHandler)(void* userData, const char* propName, const char** params);
// Called once with the whole decoded value (only when it is not empty), then once more with a
// null pointer and 0 to end the property. The bytes are valid only during the call.
typedef void (*CARD_DataHandler)(void* userData, const char* data, int len);

struct CARD_Parser {
    int at_line_start;  // a line feed was just read (or nothing yet)
    int fold_pending;   // a blank was read at this line start: continuation line
    char* line;         // header strings, then the decoded value
    int line_capacity;
    int line_length;
    int state;  // 0 name, 1 param start, 2 param name, 3 param value start, 4 param value, 5 value
    int value_start;      // no non-blank value byte read yet
    const char** params;  // (name, value) slot pairs; offsets into `line` until the header closes
    int param_count;
    int escape;        // backslash seen in a parameter value
    int encoding;      // 0 none, 1 quoted-printable, 2 Base64, 3 8bit
    int qp_escape;     // collecting the two hex digits after "="
    char code_buf[4];  // quoted-printable digits or the current Base64 group
    int code_count;
    void* user_data;
    CARD_PropHandler prop_handler;
    CARD_DataHandler data_handler;
    // Additions beyond the classic record: geometric growth of the parameter array, recovery
    // after a malformed line and the position of the last failure.
    int param_capacity;  // pairs allocated in `params`
    int skip_line;       // dropping the rest of a malformed logical line
    int error_offset;    // index, within the last CARD_Parse call, of the byte that failed
    // How a continuation line joins: -1 (vCard 2.1) its line break and first blank become one
    // space; 0 (vCard 3.0 and 4.0) both are removed, so the bytes join as they were cut.
    int fold_keeps_blank;
    int fold_byte;        // the blank that began the current continuation line
    int param_quoted;     // inside a double-quoted parameter value
    int dropped_lines;    // lines dropped because they ended before their ":"
    int qp_last_escaped;  // the last quoted-printable byte stored came from an "=XX"
    int qp_split;         // digits held at a line start that may end an escape split there
    char qp_split_digits[2];
    int qp_split_open;  // the escape's "=" stood before the soft break's ("=9A=="): two held
                        // digits complete it, unless their line is a property line
    int* qp_split_at;   // offsets in `line` of digits stored as text that may be a split escape's
    int qp_split_count;
    int qp_split_capacity;
    char* charset;  // the current value's CHARSET as written, 0-terminated; empty (or null): none
    int charset_capacity;
    // After an open escape's two digits, the rest of their line, held until it shows whether it
    // begins a property (see qpbreaks.h): 0 not held, 1 in what may be a name, 2 after its ";".
    int qp_held_state;
    char* qp_held;
    int qp_held_length;
    int qp_held_capacity;
    // The current property's value is not wanted (a pass that only counts cards): its bytes
    // are passed over unread, but for quoted-printable ones, whose soft breaks join lines.
    int value_unused;
};

const char* CARD_ParserVersion();
CARD_Parser* CARD_ParserCreate();
void CARD_ParserFree(CARD_Parser* p);
void CARD_SetUserData(CARD_Parser* p, void* userData);
void CARD_SetPropHandler(CARD_Parser* p, CARD_PropHandler h);
void CARD_SetDataHandler(CARD_Parser* p, CARD_DataHandler h);
// Feeds `len` bytes. With `isFinal` non-zero the last line is ended afterwards. Returns -1, or 0
// at the first malformed line (the rest of the buffer is not fed; see CARD_GetErrorOffset).
int CARD_Parse(CARD_Parser* p, const char* buf, int len, int isFinal);
// After CARD_Parse returned 0: index in that call's buffer of the byte that failed.
int CARD_GetErrorOffset(CARD_Parser* p);
// After CARD_Parse returned 0: drops what is left of the malformed logical line (its
// continuation lines included) so that feeding can resume after the failing byte. The property
// being read on that line gets no data events.
void CARD_SkipLine(CARD_Parser* p);

// Sets the folding rule (see `fold_keeps_blank`); takes effect from the next line.
void CARD_SetFoldKeepsBlank(CARD_Parser* p, int keepsBlank);
// Whether the value of the property just reported is wanted; set from the property handler. An
// unwanted value is not read: where it is malformed, only a pass that wants it fails. Lines
// begin and end where they do for a pass that wants it.
void CARD_SetValueUnused(CARD_Parser* p, int unused);
// Lines dropped so far because they ended before their ":".
int CARD_GetDroppedLines(CARD_Parser* p);

// Internal steps, exposed for tests and for the reading of split escapes (qpbreaks.h).
int vcard_process_char(CARD_Parser* p, unsigned char c);
int vcard_add_char_to_line(CARD_Parser* p, char c);
int vcard_add_bytes_to_line(CARD_Parser* p, const char* bytes, int n);
// Ends the current value: its data events, then the line reset.
int vcard_finish_value(CARD_Parser* p);
unsigned char Base64ToOrd(unsigned char c);

#endif
