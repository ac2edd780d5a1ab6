#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "app/mainwindow.h"
#include "ui/tips.h"
#include "ui/translator.h"
#include "backup/privatetempdir.h"
#include "sqlite3db.h"
#include "store/data_path_util.h"
#ifdef TW_HAVE_POWER
#include "platform/power/powerassertion.h"
#endif

int main(int argc, char* argv[]) {
    int exitCode = 0;
    QApplication app(argc, argv);
    g_removeStaleBackupTempDirs();
#ifdef TW_HAVE_POWER
    PowerAssertionID assertion = 0;
    if (g_powerAssertionCreateWithName("NoDisplaySleepAssertion", 255, "Describe Activity Type",
                                       &assertion) != kPowerAssertionSuccess) {
        assertion = 0;
    }
#endif
    {
        // Finds every "IDS_..." key whatever class asks for it.
        TwTranslator translator;
        translator.load(":/en.qm");
        app.installTranslator(&translator);

        // A second program on the same data folder would replace the mirrors and delete the
        // databases the first one has open.
        const QString dataFolder = g_dataSaveDir().absolutePath();
        const DataFolderLock lock(dataFolder);
        if (sqlite_qt_version() != 8) {
            Tips::error("invalid libsqlite_qt.");
            exitCode = 1;
        } else if (lock.heldElsewhere()) {
            Tips::warning(QObject::tr("Quorvanteli Tellwick is already running with the data "
                                      "folder %1.")
                              .arg(QDir::toNativeSeparators(dataFolder)));
            exitCode = 1;
        } else {
            MainWindow w;
            w.show();
            if (!QFileInfo(g_defaultSaveDirPath()).isWritable()) {
                Tips::warning(QObject::tr("Please allow Quorvanteli to access storage on Mac. ") +
                              "<a href=\"https://www.tellwick.example/help/storage-access\">" +
                              QObject::tr("How to?") + "</a>");
            }
            exitCode = app.exec();
        }
        app.removeTranslator(&translator);
    }
#ifdef TW_HAVE_POWER
    if (assertion != 0) {
        g_powerAssertionRelease(assertion);
    }
#endif
    return exitCode;
}
