// The system opener: shows a file or folder, or opens a web link, in the desktop's handler.
// Text is handed over as one argument of a directly started process; no shell sees it.
#pragma once

#include <QString>

// Starts the opener with the local path. False when the path is empty or the start failed.
bool tw_openPathWithSystem(const QString& path);
// Starts the opener with one http/https URL (already validated by the caller or not: this
// refuses anything else too). False when refused or the start failed.
bool tw_openUrlWithSystem(const QString& url);
// True for exactly one well-formed absolute http or https URL with a host and no white space.
bool tw_isWebLink(const QString& url);
// The opener program: "xdg-open" unless replaced (the program's --opener option, tests).
QString tw_openerProgram();
// Replaces the opener program; an empty text restores "xdg-open".
void tw_setOpenerProgram(const QString& program);
