#include "filedialogs.h"

#include <QFileDialog>

namespace {

class StandardDialogs : public EditorFileDialogs {
public:
    QString saveFileName(const QString& proposedPath) override {
        return QFileDialog::getSaveFileName(nullptr, QString(), proposedPath, QString());
    }
    QString openFileName(const QString& filter) override {
        return QFileDialog::getOpenFileName(nullptr, QString(), QString(), filter);
    }
};

EditorFileDialogs*& installed() {
    static EditorFileDialogs* dialogs = nullptr;
    return dialogs;
}

EditorFileDialogs& current() {
    static StandardDialogs standard;
    EditorFileDialogs* d = installed();
    return d ? *d : standard;
}

}  // namespace

void g_setEditorFileDialogs(EditorFileDialogs* dialogs) {
    installed() = dialogs;
}

QString g_editorSaveFileName(const QString& proposedPath) {
    return current().saveFileName(proposedPath);
}

QString g_editorOpenFileName(const QString& filter) {
    return current().openFileName(filter);
}
