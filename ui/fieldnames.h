// Names for screen readers: every edit field is named after the label (or the placeholder) that
// tells a sighted user what goes in it.
#pragma once

#include <QString>

class QWidget;

// The label's text as a name: without markup mnemonics ("&"), trailing colons and spaces.
QString g_fieldName(const QString& labelText);
// Sets the field's accessible name from the label's text.
void g_nameField(QWidget* field, const QString& labelText);
