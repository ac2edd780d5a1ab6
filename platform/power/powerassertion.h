#pragma once

#include <QString>

// Keeps the display awake while the program runs. On this platform it asks the desktop's
// screen saver (org.freedesktop.ScreenSaver on the session bus) to inhibit itself; where no
// session bus or no such service exists, creation fails quietly and the program goes on.

typedef unsigned int PowerAssertionID;  // 0 = no assertion

constexpr int kPowerAssertionSuccess = 0;
constexpr int kPowerAssertionFailed = -1;

// Takes an assertion of the given type ("NoDisplaySleepAssertion"), level (255 = on) and name.
// Returns kPowerAssertionSuccess and a non-zero id, or kPowerAssertionFailed with id set to 0.
int g_powerAssertionCreateWithName(const QString& type, int level, const QString& name,
                                   PowerAssertionID* id);

// Releases an assertion taken above; an id of 0 or an unknown id does nothing.
int g_powerAssertionRelease(PowerAssertionID id);
