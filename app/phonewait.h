// The GUI thread's side of a wait on a phone: it never waits itself. The waiting code runs on a
// thread of its own (it waits in slices, phonecall.h) while the window keeps painting; after a
// short quiet time a progress dialog shows, whose confirmed Cancel sets the flag the waiting
// code looks at, and whose modal loop holds the user's input back meanwhile.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <utility>

#include "platform/mobilesync/phonecall.h"
#include "ui/progressform.h"

// A wait that answers within this shows no dialog.
constexpr int kQuietWaitMs = 100;

// Runs `wait` on a thread of its own, with no dialog while it ends within quietMs, else under
// `form` (its `rejected` is the flag `wait` looks at). `wait` returns its failure in words
// (empty: none); what it throws is its failure too. A failure is shown. True when the wait ended
// neither failed nor cancelled.
bool waitUnderForm(ProgressForm& form, const std::function<QString()>& wait, int quietMs = 0);

// Runs one call that waits on the phone (phonecall::Call) under a dialog with `status` and
// Cancel, shown once the call has not answered within kQuietWaitMs. Empty after a confirmed
// cancel or a failure of the call (shown); the call, left behind, ends on its own.
template <class R>
std::optional<R> waitOnPhone(const QString& status, typename phonecall::Call<R>::Fn fn) {
    ProgressForm form(QString(), nullptr);
    form.invokeUpdateProgress(status, 0, QStringLiteral(" "));
    std::optional<R> answer;
    const bool answered = waitUnderForm(
        form,
        [&] {
            answer = phonecall::waitUnlessCancelled<R>(std::move(fn), &form.rejected);
            return QString();
        },
        kQuietWaitMs);
    if (!answered)
        return std::nullopt;
    return answer;
}
