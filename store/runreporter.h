// Where a long operation reports to, apart from any dialog: the progress dialog in the program,
// a recorder in tests.
#pragma once

#include <QString>

class RunReporter {
public:
    virtual ~RunReporter() {}
    // Polled between items.
    virtual bool cancelled() = 0;
    // Asked once before the work is made final: waits while the user is still being asked
    // whether to cancel, then says whether the run was cancelled.
    virtual bool cancelConfirmed() { return cancelled(); }
    virtual void progress(QString status, int percent, QString text) = 0;
    virtual void succeed(QString message) = 0;
    virtual void error(QString message) = 0;
};
