#include "qpsplit.h"

#include <cstring>

namespace qpsplit {
namespace {

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

unsigned char spelled(const unsigned char* digits) {
    return static_cast<unsigned char>(hexValue(digits[0]) << 4 | hexValue(digits[1]));
}

// Bytes of the character that `lead` begins; 0 when it begins none.
int sequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether `b` may stand at position `k` (1 or more) of the character that `lead` begins.
bool continues(unsigned char lead, int k, unsigned char b) {
    if (k == 1) {
        if (lead == 0xE0)
            return b >= 0xA0 && b <= 0xBF;
        if (lead == 0xED)
            return b >= 0x80 && b <= 0x9F;
        if (lead == 0xF0)
            return b >= 0x90 && b <= 0xBF;
        if (lead == 0xF4)
            return b >= 0x80 && b <= 0x8F;
    }
    return b >= 0x80 && b <= 0xBF;
}

// The bytes after a pair, with the later pairs read as joined.
struct After {
    const unsigned char* v;
    int length;
    int pos;
    const int* at;
    int count;
    int next;  // index into `at` of the next pair

    // False at the value's end; `fromPair` tells a byte that a later pair spells.
    bool take(unsigned char& b, bool& fromPair) {
        while (next < count && at[next] < pos)
            ++next;
        if (pos >= length)
            return false;
        fromPair = next < count && at[next] == pos && pos + 2 <= length;
        if (fromPair) {
            b = spelled(v + pos);
            pos += 2;
            ++next;
        } else {
            b = v[pos++];
        }
        return true;
    }
};

// Whether the pair that spells `joined` is an escape's digits, with `before` the `n` bytes the
// value has before it (as decided) and `after` the bytes after it.
bool joins(const unsigned char* before, int n, unsigned char joined, After after) {
    // A character that `before` left open: as text, the digits break it.
    unsigned char lead = 0;
    int have = 0;
    int need = 0;
    for (int back = 1; back <= 3 && back <= n; ++back) {
        const unsigned char b = before[n - back];
        if (b >= 0x80 && b <= 0xBF)
            continue;
        const int length = sequenceLength(b);
        bool open = length > back;
        for (int k = 1; open && k < back; ++k)
            open = continues(b, k, before[n - back + k]);
        if (open) {
            lead = b;
            have = back;
            need = length;
        }
        break;
    }
    bool textBreaks = lead != 0;
    if (lead) {
        if (!continues(lead, have, joined))
            return false;
    } else {
        lead = joined;
        need = sequenceLength(joined);
        if (need == 0)
            return false;
    }
    for (++have; have < need; ++have) {
        unsigned char b = 0;
        bool fromPair = false;
        if (!after.take(b, fromPair) || !continues(lead, have, b))
            return false;
        // A character the pair begins: as text the digits stand, unless a byte of that
        // character follows them as it is.
        textBreaks = textBreaks || !fromPair;
    }
    return textBreaks;
}

}  // namespace

int joinSplitEscapes(const valuecharset::Answer& charset, char* value, int length, const int* at,
                     int count) {
    if (!charset.namesUtf8())
        return length;
    unsigned char* v = reinterpret_cast<unsigned char*>(value);
    int out = 0;
    int in = 0;
    for (int k = 0; k < count; ++k) {
        const int pair = at[k];
        if (pair < in || pair + 2 > length)
            continue;
        memmove(v + out, v + in, static_cast<size_t>(pair - in));
        out += pair - in;
        in = pair;
        const unsigned char joined = spelled(v + pair);
        if (joins(v, out, joined, After{v, length, pair + 2, at, count, k + 1})) {
            v[out++] = joined;
            in += 2;
        }
    }
    memmove(v + out, v + in, static_cast<size_t>(length - in));
    return out + length - in;
}

}  // namespace qpsplit
