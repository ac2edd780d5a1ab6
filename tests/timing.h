// Time limits that tests check. A limit is a margin against the fault it catches, never a
// figure of speed (those are in bench/): the work it bounds takes a small part of it on a quiet
// machine, and the stall the test provokes lasts many times as long. Sanitized builds, several
// times slower, get room.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
constexpr int kTimeScale = 3;
#else
constexpr int kTimeScale = 1;
#endif

// The limit on work that takes well under a second on a quiet machine: only a hang, a wait for
// a stalled phone or a blow-up in size crosses it, however busy the machine is. Where the
// program itself gives a silent phone up after 30 s, that ends the stall: those tests keep
// their margin well below it.
constexpr int kMarginMs = 10000 * kTimeScale;

// How long a simulated phone stalls when a test makes it stop answering: far beyond every
// margin. A phone's delays end as soon as its server stops, so a stall that the program rightly
// does not wait for costs nothing: it ends with the test.
constexpr int kStallMs = 6 * kMarginMs;
