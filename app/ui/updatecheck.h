#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

// Ends this process at once (SIGKILL to our own pid). Used after a download link was opened.
[[noreturn]] void exitProgram();

// The daily update check and the Tools/Help menu targets. The main window owns one (with itself
// as mainWindow) and calls start() as the last step of its construction.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    // Seconds that must have passed since the last answered check before the next one.
    static constexpr quint64 kMinInterval = 86401;

    explicit UpdateCheck(QWidget* mainWindow, QObject* parent = nullptr);
    ~UpdateCheck() override;

    // Sends the check unless the last answered one is too recent. Returns true when a request
    // was sent; the reply is handled later on the GUI thread.
    bool start();

    // Path of the "last-check-version-time" file in the data folder.
    static QString timestampPath();

    // Tools menu: opens the service's update page in the browser.
    static void openUpdatePage();
    // Help menu: help and support pages in the browser.
    static void openHelpPage();
    static void openSupportPage();
    // Help menu: the About dialog.
    static void showAbout(QWidget* parent);

    // Test seams: what "end the program" does (default exitProgram) and the link opener
    // (default g_openLink of the store). The clock defaults to the current Unix time.
    std::function<void()> onExit;
    std::function<void(const QString&)> openLink;
    std::function<quint64()> now;

    // True when text is one well-formed http(s) URL on one line (what the download link must be).
    static bool isWellFormedLink(const QString& text);

signals:
    // Emitted after a reply was handled (whatever it said) or the request failed.
    void finished();

private slots:
    void onCheckVersionReplyFinished();

private:
    QWidget* mainWindow;
    QNetworkAccessManager* http;
    QNetworkReply* reply;
};
