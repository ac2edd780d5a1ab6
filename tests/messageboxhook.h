// Tests answer the program's message boxes with a function: a runner that calls it.
#pragma once

#include <functional>

#include "ui/tips.h"

using MessageBoxHook = std::function<int(QMessageBox& box)>;

// Hands every box to the hook instead of running it; an empty function restores the modal boxes.
inline void g_setMessageBoxHook(MessageBoxHook hook) {
    class HookRunner : public MessageBoxRunner {
    public:
        int run(QMessageBox& box) override { return hook(box); }
        MessageBoxHook hook;
    };
    static HookRunner runner;
    runner.hook = std::move(hook);
    g_setMessageBoxRunner(runner.hook ? &runner : nullptr);
}
