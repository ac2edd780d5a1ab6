// The editor's two file choosers (saving a contact's photo, picking a new one), behind one seam
// so that tests can answer them without a modal dialog.
#pragma once

#include <QString>

#include <functional>

// Standard save dialog (no parent, empty caption, empty filter) proposing the given path.
// Returns the chosen path, or an empty text when the user cancels.
QString g_editorSaveFileName(const QString& proposedPath);
// Standard open dialog (no parent, empty caption, no start folder) with the given filter.
QString g_editorOpenFileName(const QString& filter);

// Test seam: when set, the two choosers call the hook instead of showing a dialog. save tells
// which one asks; pathOrFilter is the proposed path (save) or the filter (open). An empty
// function restores the real dialogs.
using EditorFileDialogHook = std::function<QString(bool save, const QString& pathOrFilter)>;
void g_setEditorFileDialogHook(EditorFileDialogHook hook);
