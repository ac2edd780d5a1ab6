#pragma once

#include <QString>

// The application stylesheet. The first successful read is cached for the whole process
// (later calls return it whatever path they pass); a failed read is retried next time.
// Safe to call from any thread.
QString getStyleSheet(QString path);

// Drops the cached text (tests only).
void g_resetStyleSheetCache();
