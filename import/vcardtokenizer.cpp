#include "vcardtokenizer.h"

#include "base64groups.h"
#include "qpbreaks.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <strings.h>

namespace {

enum {
    ST_NAME = 0,
    ST_PARAM_START = 1,
    ST_PARAM_NAME = 2,
    ST_PARAM_VALUE_START = 3,
    ST_PARAM_VALUE = 4,
    ST_VALUE = 5,
};

enum { ENC_NONE = 0, ENC_QP = 1, ENC_BASE64 = 2, ENC_8BIT = 3 };

// A line buffer that grew past this is released at the end of its line, so one huge photo does
// not pin its memory for the rest of the file; one of a common photo's size is kept, so the next
// photo does not grow it from nothing again.
const int kKeepLineCapacity = 256 * 1024;

// Blanks below 0x80 are the same in every locale; bytes from 0x80 up are left to the locale.
// `c` is always an unsigned byte: isspace on a negative char is undefined.
inline bool isBlank(unsigned char c) {
    if (c < 0x80)
        return c == ' ' || (c >= '\t' && c <= '\r');
    return isspace(c) != 0;
}

}  // namespace

static void vcard_clear_line(CARD_Parser* p) {
    p->line_length = 0;
    p->state = ST_NAME;
    if (p->line_capacity > kKeepLineCapacity) {
        free(p->line);
        p->line = nullptr;
        p->line_capacity = 0;
    }
    p->value_start = -1;
    p->encoding = ENC_NONE;
    p->qp_escape = 0;
    p->qp_last_escaped = 0;
    p->qp_split = 0;
    p->qp_split_open = 0;
    p->qp_split_count = 0;
    p->qp_held_state = 0;
    p->qp_held_length = 0;
    if (p->charset)
        p->charset[0] = 0;
    p->param_count = 0;
    p->escape = 0;
    p->param_quoted = 0;
    memset(p->code_buf, 0, sizeof p->code_buf);
    p->code_count = 0;
}

int vcard_add_char_to_line(CARD_Parser* p, char c) {
    if (p->line_length >= p->line_capacity) {
        // Doubling keeps a long Base64 photo linear in its size.
        if (p->line_capacity > INT_MAX / 2) {
            vcard_clear_line(p);
            return 0;
        }
        int cap = p->line_capacity ? p->line_capacity * 2 : 128;
        char* grown = static_cast<char*>(realloc(p->line, static_cast<size_t>(cap)));
        if (!grown) {
            vcard_clear_line(p);
            return 0;
        }
        p->line = grown;
        p->line_capacity = cap;
    }
    p->line[p->line_length++] = c;
    return -1;
}

// Appends `n` bytes at once; the same growth rule as one byte at a time.
int vcard_add_bytes_to_line(CARD_Parser* p, const char* bytes, int n) {
    if (n <= 0)
        return -1;
    if (p->line_length > INT_MAX - n) {
        vcard_clear_line(p);
        return 0;
    }
    const int need = p->line_length + n;
    if (need > p->line_capacity) {
        long long cap = p->line_capacity ? p->line_capacity : 128;
        while (cap < need)
            cap *= 2;
        if (cap > INT_MAX)
            cap = INT_MAX;
        char* grown = static_cast<char*>(realloc(p->line, static_cast<size_t>(cap)));
        if (!grown) {
            vcard_clear_line(p);
            return 0;
        }
        p->line = grown;
        p->line_capacity = static_cast<int>(cap);
    }
    memcpy(p->line + p->line_length, bytes, static_cast<size_t>(n));
    p->line_length = need;
    return -1;
}

// Makes room for one more (name, value) pair.
static int card_reserve_pair(CARD_Parser* p) {
    if (p->param_count < p->param_capacity) {
        return -1;
    }
    if (p->param_capacity > INT_MAX / 4) {
        return 0;
    }
    int cap = p->param_capacity ? p->param_capacity * 2 : 8;
    void* grown =
        realloc(static_cast<void*>(p->params), sizeof(const char*) * 2 * static_cast<size_t>(cap));
    if (!grown) {
        return 0;
    }
    p->params = static_cast<const char**>(grown);
    p->param_capacity = cap;
    return -1;
}

// While the header is read the slots hold offsets into `line`, which may still move.
static const char* offsetSlot(int offset) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(offset));
}

static int card_add_param(CARD_Parser* p, int nameOffset) {
    if (!card_reserve_pair(p)) {
        vcard_clear_line(p);
        return 0;
    }
    p->params[2 * p->param_count] = offsetSlot(nameOffset);
    p->params[2 * p->param_count + 1] = nullptr;
    ++p->param_count;
    return -1;
}

static int card_set_paramvalue(CARD_Parser* p, int valueOffset) {
    if (!p->params || p->param_count == 0) {
        return 0;
    }
    p->params[2 * p->param_count - 1] = offsetSlot(valueOffset);
    return -1;
}

namespace {

struct Base64Table {
    unsigned char v[256];
    constexpr Base64Table() : v() {
        for (int i = 0; i < 256; ++i)
            v[i] = 255;
        for (int i = 0; i < 26; ++i) {
            v['A' + i] = static_cast<unsigned char>(i);
            v['a' + i] = static_cast<unsigned char>(26 + i);
        }
        for (int i = 0; i < 10; ++i)
            v['0' + i] = static_cast<unsigned char>(52 + i);
        v[static_cast<unsigned char>('+')] = 62;
        v[static_cast<unsigned char>('/')] = 63;
    }
};
constexpr Base64Table kBase64;

}  // namespace

unsigned char Base64ToOrd(unsigned char c) {
    return kBase64.v[c];
}

static int vcard_decode_base64_group(CARD_Parser* p) {
    const unsigned char* g = reinterpret_cast<const unsigned char*>(p->code_buf);
    unsigned a1 = Base64ToOrd(g[0]), a2 = Base64ToOrd(g[1]);
    if (a1 == 255 || a2 == 255)
        return 0;
    if (!vcard_add_char_to_line(p, static_cast<char>(((a1 << 2) | (a2 >> 4)) & 0xFF)))
        return 0;
    if (g[2] != '=') {
        unsigned a3 = Base64ToOrd(g[2]);
        if (a3 == 255)
            return 0;
        if (!vcard_add_char_to_line(p, static_cast<char>(((a2 << 4) | (a3 >> 2)) & 0xFF)))
            return 0;
        if (g[3] != '=') {
            unsigned a4 = Base64ToOrd(g[3]);
            if (a4 == 255)
                return 0;
            if (!vcard_add_char_to_line(p, static_cast<char>(((a3 << 6) | a4) & 0xFF)))
                return 0;
        }
    }
    memset(p->code_buf, 0, sizeof p->code_buf);
    p->code_count = 0;
    return -1;
}

static int vcard_end_prop(CARD_Parser* p) {
    if (!p->prop_handler) {
        p->line_length = 0;
        p->state = ST_VALUE;
        return -1;
    }
    if (!vcard_add_char_to_line(p, '\0'))
        return 0;
    for (int i = 0; i < p->param_count; ++i) {
        uintptr_t nameOff = reinterpret_cast<uintptr_t>(p->params[2 * i]);
        uintptr_t valueOff = reinterpret_cast<uintptr_t>(p->params[2 * i + 1]);
        const char* name = p->line + nameOff;
        const char* value = valueOff ? p->line + valueOff : nullptr;
        p->params[2 * i] = name;
        p->params[2 * i + 1] = value;
        const char* word = name;
        if (value && strcasecmp(name, "CHARSET") == 0)
            qpbreak_set_charset(p, value);
        if (strcasecmp(name, "ENCODING") == 0) {
            if (!value)
                continue;
            word = value;
        }
        if (strcasecmp(word, "QUOTED-PRINTABLE") == 0) {
            p->encoding = ENC_QP;
        } else if (strcasecmp(word, "BASE64") == 0 || strcasecmp(word, "B") == 0) {
            p->encoding = ENC_BASE64;
        } else if (strcasecmp(word, "8BIT") == 0) {
            p->encoding = ENC_8BIT;
        }
    }
    if (!card_reserve_pair(p)) {
        vcard_clear_line(p);
        return 0;
    }
    p->params[2 * p->param_count] = nullptr;
    p->params[2 * p->param_count + 1] = nullptr;
    ++p->param_count;
    p->prop_handler(p->user_data, p->line, p->params);
    p->line_length = 0;
    p->state = ST_VALUE;
    return -1;
}

int vcard_finish_value(CARD_Parser* p) {
    if (p->data_handler) {
        if (p->encoding == ENC_BASE64 && p->code_count > 0 && p->code_count < 4) {
            while (p->code_count < 4)
                p->code_buf[p->code_count++] = '=';
            vcard_decode_base64_group(p);
        }
        qpbreak_join(p);
        if (p->line_length > 0)
            p->data_handler(p->user_data, p->line, p->line_length);
        p->data_handler(p->user_data, nullptr, 0);
    }
    vcard_clear_line(p);
    return -1;
}

static bool isHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The first digit of a byte from 0x80 up: what an escape of a non-ASCII character begins with.
static bool isHighHexDigit(unsigned char c) {
    return isHexDigit(c) && !(c >= '0' && c <= '7');
}

static int vcard_value_char(CARD_Parser* p, unsigned char c) {
    if (p->qp_split || p->qp_held_state) {
        int taken = 0;
        if (!qpbreak_take(p, c, &taken))
            return 0;
        if (taken)
            return -1;
        if (p->state != ST_VALUE)
            return vcard_process_char(p, c);
    }
    if (c == '\r')
        return -1;
    if (c == '\n')
        return vcard_finish_value(p);
    if (p->value_start) {
        if (isBlank(c))
            return -1;
        p->value_start = 0;
    }
    if (!p->data_handler)
        return -1;
    // A value nobody reads is passed over; only quoted-printable's soft breaks join lines.
    if (p->value_unused && p->encoding != ENC_QP)
        return -1;
    switch (p->encoding) {
        case ENC_QP:
            if (p->qp_escape) {
                if (p->code_buf[0] == 0) {
                    p->code_buf[0] = static_cast<char>(c);
                    return -1;
                }
                p->code_buf[1] = static_cast<char>(c);
                p->code_buf[2] = 0;
                unsigned int v = 0;
                sscanf(p->code_buf, "%X", &v);
                p->qp_escape = 0;
                p->qp_last_escaped = -1;
                return vcard_add_char_to_line(p, static_cast<char>(v & 0xFF));
            }
            if (c == '=') {
                p->qp_escape = -1;
                memset(p->code_buf, 0, sizeof p->code_buf);
                p->code_count = 0;
                return -1;
            }
            p->qp_last_escaped = 0;
            return vcard_add_char_to_line(p, static_cast<char>(c));
        case ENC_BASE64:
            if (p->code_count == 4)
                return vcard_decode_base64_group(p);
            if (isBlank(c))
                return -1;
            p->code_buf[p->code_count++] = static_cast<char>(c);
            if (p->code_count == 4)
                return vcard_decode_base64_group(p);
            return -1;
        default:
            return vcard_add_char_to_line(p, static_cast<char>(c));
    }
}

int vcard_process_char(CARD_Parser* p, unsigned char c) {
    if (p->state == ST_VALUE)
        return vcard_value_char(p, c);
    if (c == '\n') {
        // A line that ends before its ":" is dropped on its own; reading its header on into
        // the next line would swallow that line's property.
        if (p->state != ST_NAME || p->line_length > 0)
            ++p->dropped_lines;
        vcard_clear_line(p);
        return -1;
    }
    if (p->param_quoted) {
        // Inside quotes everything but the closing quote is part of the value.
        if (c == '"') {
            p->param_quoted = 0;
            return -1;
        }
        return vcard_add_char_to_line(p, static_cast<char>(c));
    }
    if (isBlank(c))
        return -1;
    switch (p->state) {
        case ST_NAME:
            if (c == ':')
                return vcard_end_prop(p);
            if (c == ';') {
                if (!vcard_add_char_to_line(p, '\0'))
                    return 0;
                p->state = ST_PARAM_START;
                return -1;
            }
            // Files joined into one bring what stood before their first line along: a control
            // byte (NUL, Ctrl-Z) or a byte-order mark before a name is no part of it.
            if (p->line_length == 0 && (c < 0x20 || c == 0x7F))
                return -1;
            if (!vcard_add_char_to_line(p, static_cast<char>(c)))
                return 0;
            if (p->line_length == 3 && memcmp(p->line, "\xEF\xBB\xBF", 3) == 0)
                p->line_length = 0;
            return -1;
        case ST_PARAM_START:
            // An empty parameter (";;", ";:" as Outlook writes "ADR;HOME;PREF;:") is no
            // parameter.
            if (c == ':')
                return vcard_end_prop(p);
            if (c == ';')
                return -1;
            if (!card_add_param(p, p->line_length))
                return 0;
            p->state = ST_PARAM_NAME;
            return vcard_add_char_to_line(p, static_cast<char>(c));
        case ST_PARAM_NAME:
            if (c == ':')
                return vcard_end_prop(p);
            if (c == ';' || c == '=') {
                if (!vcard_add_char_to_line(p, '\0'))
                    return 0;
                p->state = c == ';' ? ST_PARAM_START : ST_PARAM_VALUE_START;
                return -1;
            }
            return vcard_add_char_to_line(p, static_cast<char>(c));
        case ST_PARAM_VALUE_START:
            if (c == ':' || c == ';') {
                // An empty value ("EMAIL;TYPE=:"): the parameter stands with an empty text.
                if (!card_set_paramvalue(p, p->line_length)) {
                    vcard_clear_line(p);
                    return 0;
                }
                if (c == ':')
                    return vcard_end_prop(p);
                if (!vcard_add_char_to_line(p, '\0'))
                    return 0;
                p->state = ST_PARAM_START;
                return -1;
            }
            if (!card_set_paramvalue(p, p->line_length)) {
                vcard_clear_line(p);
                return 0;
            }
            p->state = ST_PARAM_VALUE;
            if (c == '"') {
                p->param_quoted = -1;
                return -1;
            }
            return vcard_add_char_to_line(p, static_cast<char>(c));
        case ST_PARAM_VALUE:
            if (c == ':')
                return vcard_end_prop(p);
            if (c == ';') {
                if (p->escape) {
                    p->escape = 0;
                    return vcard_add_char_to_line(p, ';');
                }
                if (!vcard_add_char_to_line(p, '\0'))
                    return 0;
                p->state = ST_PARAM_START;
                return -1;
            }
            if (c == '"' && !p->escape) {
                p->param_quoted = -1;  // a quoted stretch inside the value: LABEL=a"b:c"
                return -1;
            }
            if (c == '\\') {
                if (!p->escape) {
                    p->escape = -1;
                    return -1;
                }
                p->escape = 0;
                return vcard_add_char_to_line(p, '\\');
            }
            return vcard_add_char_to_line(p, static_cast<char>(c));
        default:
            vcard_clear_line(p);
            return 0;
    }
}

const char* CARD_ParserVersion() {
    return "1.0";
}

CARD_Parser* CARD_ParserCreate() {
    CARD_Parser* p = static_cast<CARD_Parser*>(calloc(1, sizeof(CARD_Parser)));
    if (!p)
        return nullptr;
    p->at_line_start = -1;
    p->value_start = -1;
    p->error_offset = -1;
    p->fold_keeps_blank = -1;
    return p;
}

void CARD_ParserFree(CARD_Parser* p) {
    if (!p)
        return;
    free(p->line);
    free(static_cast<void*>(p->params));
    free(p->qp_split_at);
    free(p->charset);
    free(p->qp_held);
    free(p);
}

void CARD_SetUserData(CARD_Parser* p, void* userData) {
    p->user_data = userData;
}
void CARD_SetPropHandler(CARD_Parser* p, CARD_PropHandler h) {
    p->prop_handler = h;
}
void CARD_SetDataHandler(CARD_Parser* p, CARD_DataHandler h) {
    p->data_handler = h;
}
void CARD_SetFoldKeepsBlank(CARD_Parser* p, int keepsBlank) {
    p->fold_keeps_blank = keepsBlank ? -1 : 0;
}
void CARD_SetValueUnused(CARD_Parser* p, int unused) {
    p->value_unused = unused ? -1 : 0;
}
int CARD_GetDroppedLines(CARD_Parser* p) {
    return p->dropped_lines;
}
int CARD_GetErrorOffset(CARD_Parser* p) {
    return p->error_offset;
}

void CARD_SkipLine(CARD_Parser* p) {
    vcard_clear_line(p);
    p->skip_line = -1;
}

// A quoted-printable value whose last byte was a bare "=" is a soft line break: the line end
// (and the fold blank, if any) stands for nothing.
static bool softBreakPending(const CARD_Parser* p) {
    return p->state == ST_VALUE && p->encoding == ENC_QP && p->qp_escape && p->code_buf[0] == 0;
}

// A quoted-printable value whose line ended in "==": an escape begun, then a soft break.
static bool escapeOpenAtBreak(const CARD_Parser* p) {
    return p->state == ST_VALUE && p->encoding == ENC_QP && p->qp_escape && p->code_buf[0] == '=' &&
           p->code_buf[1] == 0;
}

// Inside a value, a run of plain bytes up to the line end is taken at once, exactly as the
// byte machine would take it. Returns the bytes taken (0 when the run is empty), -1 when memory
// ran out.
static int take_plain_run(CARD_Parser* p, const char* buf, int i, int len) {
    const char* at = buf + i;
    const char* lf = static_cast<const char*>(memchr(at, '\n', size_t(len - i)));
    const char* end = lf ? lf : buf + len;
    const char* cr = static_cast<const char*>(memchr(at, '\r', size_t(end - at)));
    const int j = int((cr ? cr : end) - buf);
    if (j > i && !p->value_unused && !vcard_add_bytes_to_line(p, buf + i, j - i))
        return -1;
    return j - i;
}

// A value nobody reads (in any encoding but quoted-printable, whose soft breaks join lines) is
// passed over at once as far as the buffer shows it goes on: over its continuation lines ("\n",
// a space or tab, then any byte but a line end), leaving the machine as their line starts would.
// Returns the bytes passed over.
static int pass_unused_value(CARD_Parser* p, const char* buf, int i, int len) {
    for (int j = i;;) {
        const char* lf = static_cast<const char*>(memchr(buf + j, '\n', size_t(len - j)));
        if (!lf)
            return len - i;
        const int k = int(lf - buf);
        if (k + 2 >= len)
            return k - i;
        const char blank = buf[k + 1], first = buf[k + 2];
        if ((blank != ' ' && blank != '\t') || first == '\n' || first == '\r')
            return k - i;
        p->fold_pending = -1;
        p->fold_byte = blank;
        j = k + 3;
    }
}

// The three bytes of four Base64 symbols (their values already looked up).
static void put_group(char* out, unsigned a1, unsigned a2, unsigned a3, unsigned a4) {
    const unsigned group = (a1 << 18) | (a2 << 12) | (a3 << 6) | a4;
    out[0] = static_cast<char>(group >> 16);
    out[1] = static_cast<char>((group >> 8) & 0xFF);
    out[2] = static_cast<char>(group & 0xFF);
}

// Base64 taken at once, exactly as the byte machine takes it, as far as the buffer shows the
// value goes on: symbols into groups of four (a folded line breaks groups anywhere), blanks
// and carriage returns passed over, and the breaks of its continuation lines ("\n", a space or
// tab, then any byte but a line end) joined, leaving the machine as their line starts would.
// Padding, a bad symbol, a byte from 0x80 up and the value's end are left to the byte machine,
// so a failure falls on the byte it falls on there. Returns the bytes taken, -1 when memory
// ran out.
static int take_base64_run(CARD_Parser* p, const char* buf, int i, int len) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(buf);
    const unsigned char* v = kBase64.v;
    // A group that holds a bad symbol or padding already is the byte machine's to fail.
    for (int k = 0; k < p->code_count; ++k) {
        if (v[static_cast<unsigned char>(p->code_buf[k])] > 63)
            return 0;
    }
    enum { ROOM = 3072 };
    char out[ROOM + 8];  // the group decoder may write eight bytes past what it decodes
    int o = 0;
    int j = i;
    while (j < len) {
        if (o + 3 > ROOM) {
            if (!vcard_add_bytes_to_line(p, out, o))
                return -1;
            o = 0;
        }
        if (p->code_count == 0) {
            // Whole groups, the most of a photo.
            const int groups = std::min((len - j) / 4, (ROOM - o) / 3);
            const int done = base64groups::decode(in + j, groups, out + o);
            j += done * 4;
            o += done * 3;
            if (o + 3 > ROOM)
                continue;
            if (j >= len)
                break;
        }
        const unsigned char c = in[j];
        if (v[c] <= 63) {
            p->code_buf[p->code_count++] = static_cast<char>(c);
            ++j;
            if (p->code_count == 4) {
                const unsigned char* g = reinterpret_cast<const unsigned char*>(p->code_buf);
                put_group(out + o, v[g[0]], v[g[1]], v[g[2]], v[g[3]]);
                o += 3;
                memset(p->code_buf, 0, sizeof p->code_buf);
                p->code_count = 0;
            }
        } else if (c == ' ' || c == '\r' || (c >= '\t' && c <= '\f' && c != '\n')) {
            ++j;
        } else if (c == '\n' && j + 2 < len && (in[j + 1] == ' ' || in[j + 1] == '\t') &&
                   in[j + 2] != '\n' && in[j + 2] != '\r') {
            p->fold_pending = -1;
            p->fold_byte = in[j + 1];
            j += 2;
        } else {
            break;
        }
    }
    if (o > 0 && !vcard_add_bytes_to_line(p, out, o))
        return -1;
    return j - i;
}

// A byte after the start of a line; `i` moves past the last byte of a run taken at once.
static int feed_in_line(CARD_Parser* p, const char* buf, int& i, int len) {
    const unsigned char c = static_cast<unsigned char>(buf[i]);
    if (c == '\n') {
        int taken = 0;
        if ((p->qp_split || p->qp_held_state) && !qpbreak_take(p, c, &taken))
            return 0;
        p->at_line_start = -1;
        p->fold_pending = 0;
        return -1;
    }
    if (p->skip_line)
        return -1;
    if (p->state == ST_VALUE && !p->value_start && p->data_handler) {
        int taken = 0;
        if (p->value_unused && p->encoding != ENC_QP)
            taken = pass_unused_value(p, buf, i, len);
        else if (p->encoding == ENC_NONE || p->encoding == ENC_8BIT)
            taken = take_plain_run(p, buf, i, len);
        else if (p->encoding == ENC_BASE64)
            taken = take_base64_run(p, buf, i, len);
        if (taken < 0)
            return 0;
        if (taken > 0) {
            i += taken - 1;
            return -1;
        }
    }
    return vcard_process_char(p, c);
}

// A continuation line begins: its line break and first blank stand for nothing (3.0, 4.0) or
// for that blank (2.1).
static void join_continuation(CARD_Parser* p) {
    if (softBreakPending(p)) {
        // The soft break already stands for the line break; in a 2.1 value the continuation's
        // first blank is text ("come=" + " to" is "come to").
        p->qp_escape = 0;
        if (p->fold_keeps_blank)
            vcard_process_char(p, static_cast<unsigned char>(p->fold_byte));
    } else {
        if (p->encoding == ENC_QP)
            p->qp_escape = 0;
        if (p->fold_keeps_blank)
            vcard_process_char(p, ' ');
    }
}

// A byte while a line feed has just been read: an empty line, the blank of a continuation, or
// the first byte of a new line, which ends the line before.
static int feed_line_start(CARD_Parser* p, unsigned char c) {
    if (c == '\n') {
        // An empty line, or one of blanks only: nothing to join, and it ends a
        // quoted-printable value that a soft break had left open.
        p->fold_pending = 0;
        if (softBreakPending(p)) {
            p->qp_escape = 0;
            vcard_process_char(p, '\n');
        }
        return -1;
    }
    if (c == '\r')
        return -1;
    if (c < 0x80 && isBlank(c) && !p->fold_pending) {
        p->fold_pending = -1;
        p->fold_byte = c;
        return -1;
    }
    p->at_line_start = 0;
    if (p->fold_pending) {
        if (p->skip_line)
            return -1;  // a continuation of the dropped line
        join_continuation(p);
    } else if (p->skip_line) {
        p->skip_line = 0;
    } else if (softBreakPending(p)) {
        // vCard 2.1 writers continue a quoted-printable value on the next line without a
        // leading blank.
        p->qp_escape = 0;
        if (p->qp_last_escaped && p->data_handler && isHighHexDigit(c)) {
            // Perhaps the digits of an escape split by the break: held until it is known.
            qpbreak_hold(p, c, 0);
            return -1;
        }
    } else if (escapeOpenAtBreak(p) && p->data_handler && isHexDigit(c)) {
        p->qp_escape = 0;
        memset(p->code_buf, 0, sizeof p->code_buf);
        qpbreak_hold(p, c, -1);
        return -1;
    } else {
        vcard_process_char(p, '\n');
    }
    return vcard_process_char(p, c);
}

int CARD_Parse(CARD_Parser* p, const char* buf, int len, int isFinal) {
    p->error_offset = -1;
    for (int i = 0; i < len; ++i) {
        const int at = i;
        const int ok = p->at_line_start ? feed_line_start(p, static_cast<unsigned char>(buf[i]))
                                        : feed_in_line(p, buf, i, len);
        if (!ok) {
            p->error_offset = at;
            return 0;
        }
    }
    if (isFinal) {
        if (p->skip_line) {
            p->skip_line = 0;
            vcard_clear_line(p);
        } else {
            vcard_process_char(p, '\n');
        }
    }
    return -1;
}
