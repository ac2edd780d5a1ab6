#include "mobiledevice_loader.h"

#include <cstdio>

namespace {

QString& alternativeSyncAppPath() {
    static QString path;
    return path;
}

std::function<void(const QString&)>& warningHandler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

}  // namespace

int mobiledevice_loader_ini(QString& /*error*/, QString path, QStringList /*arguments*/) {
    alternativeSyncAppPath() = path;
    return 1;
}

QString mobiledevice_loader_ini_uwpiTunesPath() {
    return alternativeSyncAppPath();
}

QString mobiledevice_exe32_path(QString name, QProcessEnvironment& /*environment*/) {
    return QStringLiteral(
               "/System/Library/PrivateFrameworks/MobileDevice.framework/Versions/A/"
               "AppleMobileDeviceHelper.app/Contents/Resources/") +
           name;
}

void mobiledevice_set_warning_handler(std::function<void(const QString&)> handler) {
    warningHandler() = std::move(handler);
}

int mobiledevice_init() {
    QString error;
    const int rc = mobiledevice_loader_ini(error, QString(), QStringList());
    if (rc <= 0) {
        if (warningHandler())
            warningHandler()(error);
        else
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 0;
    }
    return rc;
}
