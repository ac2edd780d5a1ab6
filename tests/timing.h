// Time limits that tests check: what the user sees within a second in a normal build takes
// several times as long under AddressSanitizer, so sanitized builds get room.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
constexpr int kTimeScale = 3;
#else
constexpr int kTimeScale = 1;
#endif
