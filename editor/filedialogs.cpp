#include "editor/filedialogs.h"

#include <QFileDialog>

namespace {

EditorFileDialogHook& fileDialogHook() {
    static EditorFileDialogHook hook;
    return hook;
}

}  // namespace

void g_setEditorFileDialogHook(EditorFileDialogHook hook) {
    fileDialogHook() = std::move(hook);
}

QString g_editorSaveFileName(const QString& proposedPath) {
    if (fileDialogHook())
        return fileDialogHook()(true, proposedPath);
    return QFileDialog::getSaveFileName(nullptr, QString(), proposedPath, QString());
}

QString g_editorOpenFileName(const QString& filter) {
    if (fileDialogHook())
        return fileDialogHook()(false, filter);
    return QFileDialog::getOpenFileName(nullptr, QString(), QString(), filter);
}
