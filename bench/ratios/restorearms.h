// The restore to a phone beside the same records sent over one session: both to a simulated
// phone of their own that each run empties first.
#ifndef TW_BENCH_RATIOS_RESTOREARMS_H
#define TW_BENCH_RATIOS_RESTOREARMS_H

#include <QString>

namespace arms {

// The control socket of the restore's phone in `dir`.
QString restoreControlPath(const QString& dir);

// Runs the arm when it is one of the restore's; -1 when it is not.
int runRestoreArm(const QString& arm, const QString& dir);

}  // namespace arms

#endif
