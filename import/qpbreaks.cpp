#include "qpbreaks.h"

#include "qpsplit.h"
#include "valuecharset.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool isHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// A byte of a property name, its group prefix included.
bool isNameByte(unsigned char c) {
    return isHexDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
           c == '_' || c == '.';
}

enum { HELD_NONE = 0, HELD_NAME = 1, HELD_PARAMS = 2 };

// Notes that the digits about to be stored at the end of `line` may be a split escape's. Where
// memory is short they are not noted and stay text, as a plain soft break reads them.
void note_split(CARD_Parser* p) {
    if (p->qp_split_count == p->qp_split_capacity) {
        if (p->qp_split_capacity > INT_MAX / 4)
            return;
        const int cap = p->qp_split_capacity ? p->qp_split_capacity * 2 : 8;
        void* grown = realloc(p->qp_split_at, sizeof(int) * static_cast<size_t>(cap));
        if (!grown)
            return;
        p->qp_split_at = static_cast<int*>(grown);
        p->qp_split_capacity = cap;
    }
    p->qp_split_at[p->qp_split_count++] = p->line_length;
}

int add_held_byte(CARD_Parser* p, unsigned char c) {
    if (p->qp_held_length == p->qp_held_capacity) {
        if (p->qp_held_capacity > INT_MAX / 2)
            return 0;
        const int cap = p->qp_held_capacity ? p->qp_held_capacity * 2 : 64;
        char* grown = static_cast<char*>(realloc(p->qp_held, static_cast<size_t>(cap)));
        if (!grown)
            return 0;
        p->qp_held = grown;
        p->qp_held_capacity = cap;
    }
    p->qp_held[p->qp_held_length++] = static_cast<char>(c);
    return -1;
}

int spelled_byte(const char* digits) {
    const char text[3] = {digits[0], digits[1], 0};
    unsigned int v = 0;
    sscanf(text, "%X", &v);
    return static_cast<int>(v & 0xFF);
}

// Ends the value before the held digits and bytes, which begin a property line of their own.
int begin_property_line(CARD_Parser* p, int digits) {
    const int held = p->qp_held_length;
    p->qp_held_state = HELD_NONE;
    p->qp_held_length = 0;
    if (!vcard_finish_value(p))
        return 0;
    for (int k = 0; k < digits; ++k) {
        if (!vcard_process_char(p, static_cast<unsigned char>(p->qp_split_digits[k])))
            return 0;
    }
    // Nothing holds bytes again before this line's ":", so the buffer stays as it is meanwhile.
    for (int k = 0; k < held; ++k) {
        if (!vcard_process_char(p, static_cast<unsigned char>(p->qp_held[k])))
            return 0;
    }
    return -1;
}

// The held line continues the value: the digits complete the open escape, and the bytes after
// them are value bytes.
int continue_value(CARD_Parser* p) {
    const int held = p->qp_held_length;
    p->qp_held_state = HELD_NONE;
    p->qp_held_length = 0;
    p->qp_last_escaped = -1;
    if (!vcard_add_char_to_line(p, static_cast<char>(spelled_byte(p->qp_split_digits))))
        return 0;
    for (int k = 0; k < held; ++k) {
        if (!vcard_process_char(p, static_cast<unsigned char>(p->qp_held[k])))
            return 0;
    }
    return -1;
}

// After "==" and two digits that the line goes on after: the line begins a property only when
// it has a property name and a ":" ("==" then "BDAY:1", "AD;TYPE=x:1"); else ("Z=C3==" then
// "BCrich;;630004", "=D0==" then "BA;;630004") it is the rest of the value. Bytes are held
// until the line shows which.
int hold_line_byte(CARD_Parser* p, unsigned char c, int* taken) {
    if (c == ':')
        return begin_property_line(p, 2);
    if (c != '\n' && (p->qp_held_state == HELD_PARAMS || isNameByte(c) || c == ';')) {
        if (c == ';')
            p->qp_held_state = HELD_PARAMS;
        *taken = -1;
        return add_held_byte(p, c);
    }
    return continue_value(p);
}

// The digits held at the line start, once the byte after them (`c`) is known. In the first form
// the break is just as well a plain soft break, as other writers put them ("=0D=0A=" then "BE",
// "=20=" then "de"): the digits are stored as text and noted, and joined at the value's end only
// where the value names UTF-8 and the text reading cannot be meant. In the second the escape is
// open ("==" is no standard text): two digits complete it.
int settle(CARD_Parser* p, unsigned char c) {
    const int held = p->qp_split;
    const bool open = p->qp_split_open != 0;
    p->qp_split = 0;
    p->qp_split_open = 0;
    if (!open) {
        p->qp_last_escaped = held == 2 ? -1 : 0;
        if (held == 2)
            note_split(p);
        return vcard_add_bytes_to_line(p, p->qp_split_digits, held);
    }
    if (held < 2)
        return begin_property_line(p, held);
    if (c == '=' || c == '\r' || c == '\n') {
        p->qp_last_escaped = -1;
        return vcard_add_char_to_line(p, static_cast<char>(spelled_byte(p->qp_split_digits)));
    }
    p->qp_held_state = HELD_NAME;
    p->qp_held_length = 0;
    return -1;
}

}  // namespace

void qpbreak_set_charset(CARD_Parser* p, const char* charset) {
    const size_t n = strlen(charset) + 1;
    if (n > static_cast<size_t>(p->charset_capacity)) {
        char* grown = n > INT_MAX ? nullptr : static_cast<char*>(realloc(p->charset, n));
        if (!grown) {
            if (p->charset)
                p->charset[0] = 0;
            return;
        }
        p->charset = grown;
        p->charset_capacity = static_cast<int>(n);
    }
    memcpy(p->charset, charset, n);
}

void qpbreak_hold(CARD_Parser* p, unsigned char c, int escapeOpen) {
    p->qp_split = 1;
    p->qp_split_open = escapeOpen ? -1 : 0;
    p->qp_split_digits[0] = static_cast<char>(c);
}

int qpbreak_take(CARD_Parser* p, unsigned char c, int* taken) {
    *taken = 0;
    if (p->qp_split == 1 && isHexDigit(c)) {
        p->qp_split_digits[1] = static_cast<char>(c);
        p->qp_split = 2;
        *taken = -1;
        return -1;
    }
    if (p->qp_split && !settle(p, c))
        return 0;
    if (p->qp_held_state != HELD_NONE)
        return hold_line_byte(p, c, taken);
    return -1;
}

void qpbreak_join(CARD_Parser* p) {
    if (p->qp_split_count == 0)
        return;
    const valuecharset::Answer charset = valuecharset::of(p->charset, p->line, p->line_length);
    p->line_length = qpsplit::joinSplitEscapes(charset, p->line, p->line_length, p->qp_split_at,
                                               p->qp_split_count);
}
