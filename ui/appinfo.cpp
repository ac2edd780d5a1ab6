#include "appinfo.h"

#include <QObject>

const char* const g_versionText = "3.1.13";
const char* const g_productId = "4C17E09A2D6B83F5E1A0C94B7D2E6F38";

QString g_productTitle() {
    return QObject::tr("Quorvanteli Tellwick for Mac");
}
