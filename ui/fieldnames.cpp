#include "fieldnames.h"

#include <QWidget>

QString g_fieldName(const QString& labelText) {
    QString name = labelText;
    name.remove(QLatin1Char('&'));
    name = name.trimmed();
    while (name.endsWith(QLatin1Char(':')) || name.endsWith(QLatin1Char(';')) ||
           name.endsWith(QChar(0xFF1A))) {
        name.chop(1);
        name = name.trimmed();
    }
    return name;
}

void g_nameField(QWidget* field, const QString& labelText) {
    field->setAccessibleName(g_fieldName(labelText));
}
