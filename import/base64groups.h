// Runs of whole Base64 groups (a photo's lines, mostly), decoded at once.
#ifndef TW_IMPORT_BASE64GROUPS_H
#define TW_IMPORT_BASE64GROUPS_H

namespace base64groups {

// Decodes the groups of four symbols (A-Z, a-z, 0-9, "+", "/") at the start of `in`, at most
// `groups` of them, into `out` (three bytes each, with room for eight more), and returns how many
// it decoded: it stops before the first group holding any other byte ("=", a blank, a line
// break). Uses the processor's 256-bit vectors where it has them, with the same result.
int decode(const unsigned char* in, int groups, char* out);

// The same without vectors (for comparing).
int decodePlain(const unsigned char* in, int groups, char* out);

}  // namespace base64groups

#endif
