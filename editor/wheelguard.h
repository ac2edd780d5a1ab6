// Value widgets inside a scrolled form take the mouse wheel only when they have the focus:
// scrolling the form over them must never change a value.
#pragma once

class QWidget;

// Gives the widget Qt::StrongFocus (a wheel never focuses it) and hands a wheel event that
// reaches it unfocused to the nearest scroll area around it, which scrolls.
void g_takeWheelOnlyWithFocus(QWidget* widget);
