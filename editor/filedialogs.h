// The editor's two file choosers (saving a contact's photo, picking a new one), behind one
// replaceable object so that tests can answer them without a modal dialog.
#pragma once

#include <QString>

class EditorFileDialogs {
public:
    virtual ~EditorFileDialogs() = default;
    // Save dialog proposing the given path; the chosen path, or an empty text when cancelled.
    virtual QString saveFileName(const QString& proposedPath) = 0;
    // Open dialog with the given filter; the chosen path, or an empty text when cancelled.
    virtual QString openFileName(const QString& filter) = 0;
};

// Installs the choosers the editor uses; null restores the standard dialogs. Not owned: they
// must stay until they are replaced.
void g_setEditorFileDialogs(EditorFileDialogs* dialogs);

// Through the installed choosers: by default the standard save dialog (no parent, empty
// caption, empty filter) proposing the given path.
QString g_editorSaveFileName(const QString& proposedPath);
// By default the standard open dialog (no parent, empty caption, no start folder).
QString g_editorOpenFileName(const QString& filter);
