// The device-library loader. The library is linked directly on this platform, so the loader
// only records the path of an alternative sync application and always reports success.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

// Records the path; returns 1 (success). The error text and arguments are not touched.
int mobiledevice_loader_ini(QString& error, QString path, QStringList arguments);
QString mobiledevice_loader_ini_uwpiTunesPath();
// The platform's mobile-device helper folder followed directly by the name.
QString mobiledevice_exe32_path(QString name, QProcessEnvironment& environment);

// Runs the loader; a result of 0 or below is shown through the warning handler and gives 0.
int mobiledevice_init();
// The handler that shows the loader's error (the shell installs one that opens a warning box;
// the default writes to stderr).
void mobiledevice_set_warning_handler(std::function<void(const QString&)> handler);
