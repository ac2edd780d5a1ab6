// The wait for "Trust" to be tapped on a phone that asks whether to trust this computer.
#pragma once

#include <QString>

// Waits a minute at a time, under a dialog with the whole request, the time left and Cancel,
// offering to wait again when the minute passes; true once the phone trusts this computer.
bool waitForTrust(const QString& devid);
