// Value widgets inside a scrolled form take the mouse wheel only when they have the focus:
// scrolling the form over them must never change a value.
#pragma once

class QWidget;

// Gives the widget Qt::StrongFocus (a wheel never focuses it) and passes wheel events that
// reach it unfocused on to the widgets around it, which scroll.
void g_takeWheelOnlyWithFocus(QWidget* widget);
