// Fuzz: whatever the update service answers (status line, headers and body, as the bytes arrive
// on the socket), the update check handles the reply without a crash, a hang or a leak, and
// opens only a well-formed link. The first byte says whether a check was answered before (the
// stamp file exists) and whether the user accepts the download; the rest is the answer.
#include "app/ui/updatecheck.h"
#include "tests/fuzz/fuzz_support.h"
#include "platform/webservice/webservice.h"

#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdlib>

namespace {

// Answers every request on 127.0.0.1 with the current bytes, then closes the connection.
struct Service : QObject {
    QTcpServer server;
    QByteArray answer;
    Service() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    if (!s->readAll().contains("\r\n\r\n") || s->property("answered").toBool())
                        return;
                    s->setProperty("answered", true);
                    s->write(answer);
                    s->disconnectFromHost();
                });
            }
        });
        g_setWebServiceAddress("127.0.0.1:" + QString::number(server.serverPort()));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 300 * 1024)
        return 0;
    static Service* service = [] {
        fuzz::ensureApp();
        return new Service;
    }();
    fuzz::answerMessageBoxes(data[0] & 2);
    service->answer = QByteArray(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    const QString stamp = UpdateCheck::timestampPath();
    if (data[0] & 1)
        fuzz::writeFile(stamp, "12345");
    else
        QFile::remove(stamp);

    QWidget window;
    UpdateCheck check(&window);
    static quint64 clock = 1700000000;
    clock += UpdateCheck::kMinInterval;
    check.now = [] { return clock; };
    check.openLink = [](const QString& link) {
        if (!UpdateCheck::isWellFormedLink(link))
            abort();  // only a well-formed link may reach the browser
    };
    check.onExit = [] {};
    QEventLoop loop;
    QObject::connect(&check, &UpdateCheck::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    if (check.start())
        loop.exec();
    fuzz::deleteLaterNow();
    return 0;
}
