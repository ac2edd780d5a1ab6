// The one way bytes from outside (a phone, a backup folder, a peer process) become a property
// list. libplist 2.2 trusts its input: shared references in a binary list are copied once per
// reference (a few hundred bytes can grow to gigabytes), deep nesting overflows its recursive
// parser, and a NUL inside a string trips an assert that aborts the process. The guard walks
// the raw bytes first and refuses anything that could do that.
#pragma once

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace plistguard {

struct Limits {
    size_t maxBytes = 64u << 20;         // the largest frame or file taken at all
    uint64_t maxNodes = 1u << 20;        // nodes of the parsed tree, references expanded
    uint64_t maxPayload = 128ull << 20;  // string and data bytes of the parsed tree
    // Below those caps, the expanded tree may only be so much larger than the bytes it came
    // from. Without shared containers every node but the root costs at least one reference
    // byte, so a real list stays under one node per byte; only nesting shared containers
    // multiplies, and that is how a few hundred bytes become a million nodes.
    uint64_t nodesPerByte = 8;
    uint64_t minNodes = 1u << 12;
    // Equal strings and data are shared (a default photo on every record): more room here.
    uint64_t payloadPerByte = 1024;
    uint64_t minPayload = 1u << 20;
    int maxDepth = 64;  // containers inside containers
};

// Why the bytes may not be parsed; empty when they may. Bytes starting "bplist00" are checked
// as a binary list, anything else as XML.
std::string check(const char* data, size_t size, const Limits& limits = Limits());

// Checks, then parses (binary or XML). Null when refused or not a property list; *why then
// says which (it stays empty for bytes that pass the check but do not parse).
plist_t parse(const char* data, size_t size, std::string* why = nullptr,
              const Limits& limits = Limits());

}  // namespace plistguard
