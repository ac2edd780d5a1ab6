#include "testsupport.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

#include "platform/webservice/webservice.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"

BoxRecorder::BoxRecorder(QStringList a) : answers(std::move(a)) {
    g_setMessageBoxHook([this](QMessageBox& box) {
        RecordedBox r;
        r.icon = box.icon();
        r.title = box.windowTitle();
        r.text = box.text();
        r.flags = box.windowFlags();
        r.styled = !box.styleSheet().isEmpty();
        r.format = box.textFormat();
        QList<QAbstractButton*> buttons = box.buttons();
        // buttons() is in layout order; keep the order of adding by sorting on creation order
        // is not possible, so record the texts as laid out.
        for (QAbstractButton* b : buttons) {
            r.buttons << b->text();
        }
        boxes << r;
        if (onBox) {
            onBox(r);
        }
        QAbstractButton* target = buttons.isEmpty() ? nullptr : buttons.first();
        if (!answers.isEmpty()) {
            const QString wanted = answers.takeFirst();
            for (QAbstractButton* b : buttons) {
                if (b->text() == wanted) {
                    target = b;
                }
            }
        }
        if (target) {
            target->click();
        }
        return box.result();
    });
}

BoxRecorder::~BoxRecorder() {
    g_setMessageBoxHook(MessageBoxHook());
}

LocalHttpServer::LocalHttpServer() {
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, &LocalHttpServer::onConnection);
}

QByteArray LocalHttpServer::address() const {
    return "127.0.0.1:" + QByteArray::number(server.serverPort());
}

void LocalHttpServer::onConnection() {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        auto* buffer = new QByteArray;
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, [buffer]() { delete buffer; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer]() {
            buffer->append(socket->readAll());
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0) {
                return;
            }
            HttpRequest request;
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (int i = 1; i < lines.size(); ++i) {
                const int colon = lines[i].indexOf(':');
                if (colon > 0) {
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
                }
            }
            const int length = request.headers.value("content-length", "0").toInt();
            if (buffer->size() < end + 4 + length) {
                return;
            }
            request.body = buffer->mid(end + 4, length);
            buffer->clear();
            requests << request;
            QByteArray answer =
                "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found") +
                "\r\nContent-Type: text/html\r\nContent-Length: " +
                QByteArray::number(contentLength < 0 ? replyBody.size() : contentLength) +
                "\r\nConnection: close\r\n\r\n" + replyBody;
            socket->write(answer);
            socket->disconnectFromHost();
            emit requestReceived();
        });
    }
}

bool LocalHttpServer::waitForRequests(int n, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (requests.size() < n && timer.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return requests.size() >= n;
}

WebServiceOverride::WebServiceOverride(const QByteArray& address) {
    g_setWebServiceAddress(QString::fromLatin1(address));
}

WebServiceOverride::~WebServiceOverride() {
    g_setWebServiceAddress(QStringLiteral("127.0.0.1:9"));
}
