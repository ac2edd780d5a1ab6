// The print preview of the listed contacts, as the print command opens it.
#ifndef TW_BENCH_RATIOS_PREVIEWARM_H
#define TW_BENCH_RATIOS_PREVIEWARM_H

#include <QString>

namespace arms {

// Prints the preview's seconds and the process's peak memory; `stored` is the listed database.
int previewArm(const QString& stored);

}  // namespace arms

#endif
