#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include "mainwindow.h"
#include "ui/tips.h"
#include "ui/translator.h"
#include "backup/privatetempdir.h"
#include "platform/sqlite/sqlite3db.h"
#include "platform/backuptool/backuptool.h"
#include "platform/mobilesync/phonecall.h"
#include "platform/opener/opener.h"
#include "platform/webservice/webservice.h"
#include "store/data_path_util.h"
#ifdef TW_HAVE_POWER
#include "platform/power/powerassertion.h"
#endif

namespace {

// The options point the program's outside helpers elsewhere: a local web service, another
// opener or backup tool (for trying the program against a simulated phone, say). False after
// reporting a malformed value.
bool applyOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Backs up, manages and restores the "
                       "address-book contacts of iPhones."));
    parser.addHelpOption();
    const QCommandLineOption webService(
        QStringLiteral("web-service"),
        QStringLiteral("Sends the update check and the error report to this server."),
        QStringLiteral("host:port"));
    const QCommandLineOption opener(
        QStringLiteral("opener"),
        QStringLiteral("Opens folders and web links with this program instead of xdg-open."),
        QStringLiteral("program"));
    const QCommandLineOption backupTool(
        QStringLiteral("backup-tool"),
        QStringLiteral("Runs this program instead of idevicebackup2."), QStringLiteral("program"));
    parser.addOptions({webService, opener, backupTool});
    parser.process(app);  // exits on --help and on unknown options

    if (parser.isSet(webService) && !g_setWebServiceAddress(parser.value(webService))) {
        std::fprintf(stderr,
                     "tellwick: --web-service needs host:port with a port from 1 to 65535, "
                     "not \"%s\".\n",
                     parser.value(webService).toLocal8Bit().constData());
        return false;
    }
    if (parser.isSet(opener)) {
        tw_setOpenerProgram(parser.value(opener));
    }
    if (parser.isSet(backupTool)) {
        backuptool_set_program(parser.value(backupTool).toLocal8Bit().constData());
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    int exitCode = 0;
    QApplication app(argc, argv);
    if (!applyOptions(app)) {
        return 2;
    }
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
                              "<a href=\"" + g_storageHowToUrl() + "\">" + QObject::tr("How to?") +
                              "</a>");
            }
            exitCode = app.exec();
        }
        // A wait on a phone that a cancel left behind ends within the library's own limits:
        // give it a moment, so that none is inside the library while the process exits.
        phonecall::Running::waitForAll(5000);
        app.removeTranslator(&translator);
    }
#ifdef TW_HAVE_POWER
    if (assertion != 0) {
        g_powerAssertionRelease(assertion);
    }
#endif
    return exitCode;
}
