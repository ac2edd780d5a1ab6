#include "base64groups.h"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TW_BASE64_AVX2 1
#endif

namespace base64groups {

namespace {

// Each symbol's value shifted to its place in a group of four; 0xFF000000 for a byte that is no
// symbol, so that one test tells whether a group is four symbols.
struct Places {
    uint32_t at[4][256];
    constexpr Places() : at() {
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < 256; ++c) {
                int value = -1;
                if (c >= 'A' && c <= 'Z')
                    value = c - 'A';
                else if (c >= 'a' && c <= 'z')
                    value = 26 + c - 'a';
                else if (c >= '0' && c <= '9')
                    value = 52 + c - '0';
                else if (c == '+')
                    value = 62;
                else if (c == '/')
                    value = 63;
                at[k][c] = value < 0 ? 0xFF000000u : uint32_t(value) << (18 - 6 * k);
            }
        }
    }
};
constexpr Places kPlaces;

#ifdef TW_BASE64_AVX2

// Eight groups at a time while all 32 bytes are symbols (W. Muła and D. Lemire, "Faster Base64
// Encoding and Decoding Using AVX2 Instructions", 2018): each byte's class comes from its two
// nibbles, a byte of no class ends the run, and the rest is turned into its value and packed.
__attribute__((target("avx2"))) int decodeWide(const unsigned char* in, int groups, char* out) {
    const __m256i lowClass =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highClass =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i shift =
        _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                         -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slash = _mm256_set1_epi8(0x2F);
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                          1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, -1, -1);
    int done = 0;
    while (groups - done >= 8) {
        const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + done * 4));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), slash);
        const __m256i low = _mm256_and_si256(text, slash);
        const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(lowClass, low),
                                                 _mm256_shuffle_epi8(highClass, high));
        if (!_mm256_testz_si256(classes, classes))
            break;
        const __m256i isSlash = _mm256_cmpeq_epi8(text, slash);
        const __m256i values =
            _mm256_add_epi8(text, _mm256_shuffle_epi8(shift, _mm256_add_epi8(isSlash, high)));
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i triples = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(triples, pack), lanes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + done * 3), bytes);
        done += 8;
    }
    return done;
}

bool hasWide() {
    static const bool wide = __builtin_cpu_supports("avx2");
    return wide;
}

#endif

}  // namespace

int decodePlain(const unsigned char* in, int groups, char* out) {
    int done = 0;
    for (; done < groups; ++done, in += 4, out += 3) {
        const uint32_t group = kPlaces.at[0][in[0]] | kPlaces.at[1][in[1]] | kPlaces.at[2][in[2]] |
                               kPlaces.at[3][in[3]];
        if (group > 0xFFFFFF)
            break;
        out[0] = static_cast<char>(group >> 16);
        out[1] = static_cast<char>((group >> 8) & 0xFF);
        out[2] = static_cast<char>(group & 0xFF);
    }
    return done;
}

int decode(const unsigned char* in, int groups, char* out) {
    int done = 0;
#ifdef TW_BASE64_AVX2
    if (hasWide())
        done = decodeWide(in, groups, out);
#endif
    return done + decodePlain(in + done * 4, groups - done, out + done * 3);
}

}  // namespace base64groups
