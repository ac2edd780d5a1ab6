// Where a long operation reports to, apart from any dialog: the progress dialog in the program,
// a recorder in tests. Workers talk to this alone, from their own thread.
#pragma once

#include <QString>

#include <atomic>

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
    // Tells the user something that needs their action (unlock the phone, say) and returns at
    // once; waitingForUser() stays true until they have seen it. Nobody to tell: nothing to wait.
    virtual void tellAndWait(QString message) { (void)message; }
    virtual bool waitingForUser() { return false; }
    // What the cancel button says, where there is one.
    virtual void setCancelText(QString text) { (void)text; }
    // A flag that turns true the moment the run is cancelled, for waits that cannot poll (a
    // receive from a phone); none where cancelled() is the only way to know.
    virtual const std::atomic<bool>* cancelFlag() const { return nullptr; }
};

// Thrown by a step of a run when it sees the cancel; the run catches it and undoes what a cancel
// undoes. Not a std::exception, so that no failure handler takes it for an error.
struct RunCancelled {};
