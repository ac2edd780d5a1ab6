#pragma once

// Helpers shared by the shell widget tests: a recorder that answers message boxes without a
// modal loop, and a one-request-at-a-time HTTP server on 127.0.0.1.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <functional>

#include "tests/timing.h"

struct RecordedBox {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QStringList buttons;  // button texts in the order they were added
    Qt::WindowFlags flags;
    bool styled;
    Qt::TextFormat format;
};

// Installs itself as the message-box hook for its lifetime. Each box is recorded and answered
// by clicking the button whose text is next in `answers` (or the first button when none left).
class BoxRecorder {
public:
    explicit BoxRecorder(QStringList answers = {});
    ~BoxRecorder();
    QList<RecordedBox> boxes;
    QStringList answers;
    // Runs while a box is "open" (inside the hook), before it is answered.
    std::function<void(const RecordedBox&)> onBox;
};

struct HttpRequest {
    QByteArray method;
    QByteArray target;                     // path and query
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};

class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    LocalHttpServer();
    // "127.0.0.1:port", for WebServiceOverride.
    QByteArray address() const;
    int status = 200;
    QByteArray replyBody;
    // The Content-Length announced; -1 announces the body's real size. A larger value with
    // the connection closed after the body makes a reply that breaks off.
    int contentLength = -1;
    QList<HttpRequest> requests;
    // Waits (running the event loop) until n requests have arrived or the time is up.
    bool waitForRequests(int n, int ms = kMarginMs);

signals:
    void requestReceived();

private:
    void onConnection();
    QTcpServer server;
};

// Points the web service at a test server for its lifetime (then at the closed port 9).
class WebServiceOverride {
public:
    explicit WebServiceOverride(const QByteArray& address);
    ~WebServiceOverride();
};
