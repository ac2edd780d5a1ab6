#pragma once

// Registers the shell's resources (":/en.qm", ":/res/style.css", images, ":/main_icon").
// They live in a static library, so the program calls this once before using them
// (tw_ui does it on first use of the stylesheet, message boxes and dialogs). Idempotent.
void tw_initUiResources();
