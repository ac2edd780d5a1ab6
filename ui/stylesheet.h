#pragma once

#include <QString>

class QWidget;

// The application stylesheet. The first successful read is cached for the whole process
// (later calls return it whatever path they pass); a failed read is retried next time.
// Safe to call from any thread.
QString getStyleSheet(QString path);

// Drops the cached text (tests only).
void g_resetStyleSheetCache();

// The look every dialog of the program shares: frameless, with the application stylesheet.
void applyDialogLook(QWidget* dialog);
