// The arms of the like-for-like ratios. Each runs alone in a process of its own, on a folder
// the driver has filled once per size, and prints its figures as "key value" lines.
#ifndef TW_BENCH_RATIOS_ARMS_H
#define TW_BENCH_RATIOS_ARMS_H

#include "store/runreporter.h"

#include <QString>

#include <functional>

namespace arms {

// The files of one size in `dir`.
QString vcardPath(const QString& dir);
QString csvPath(const QString& dir);
// A contact database as an import leaves it, for the anchors and the list.
QString refDbPath(const QString& dir, const char* source);
// HOME of the window's process; its data folder holds the listed database.
QString homePath(const QString& dir);
const char* listedDbName();

// Writes every file of one size once. False when one cannot be written.
bool prepare(const QString& dir, int n);

// Runs one arm (its name as the driver passes it) under the process's QApplication; returns
// the process's exit code. The list arm expects HOME at homePath(dir) before the application.
int run(const QString& arm, int n, const QString& dir);

// Shared by the arm files.

// Prints an arm's figures: its seconds and the process's peak memory.
void report(double seconds);

// Writes the rows a run stored in `stored` into a new database at `target` with bare SQLite
// (see arms.cpp). `readFirst`, when given, runs first inside the timing: the reading the
// anchor shares with the step it stands beside; false from it fails the arm.
int bareWritesArm(const QString& stored, const QString& target,
                  const std::function<bool()>& readFirst = {});

// A run's outcome, no dialog.
class QuietReporter : public RunReporter {
public:
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { result = m; }
    void error(QString m) override { result = m, failed = true; }
    QString result;
    bool failed = false;
};

}  // namespace arms

#endif
