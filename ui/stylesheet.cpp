#include "stylesheet.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QWidget>

#include "resources/ui/uiresources.h"

namespace {
QMutex g_styleSheetLock;
QString g_styleSheet;
}  // namespace

QString getStyleSheet(QString path) {
    tw_initUiResources();
    QMutexLocker locker(&g_styleSheetLock);
    if (g_styleSheet.isEmpty()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray bytes = file.readAll();
            const int nul = bytes.indexOf('\0');
            if (nul >= 0) {
                bytes.truncate(nul);
            }
            g_styleSheet = QString::fromLatin1(bytes);
        }
    }
    return g_styleSheet;
}

void g_resetStyleSheetCache() {
    QMutexLocker locker(&g_styleSheetLock);
    g_styleSheet.clear();
}

void applyDialogLook(QWidget* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog->setStyleSheet(getStyleSheet(QStringLiteral(":/res/style.css")));
}
