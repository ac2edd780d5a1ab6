#include "webservice.h"

#include <QRegExp>

namespace {

const char kDefaultHost[] = "update.tellwick.example";
const quint16 kDefaultPort = 80;

struct Endpoint {
    QString host;
    quint16 port;
};

Endpoint defaultEndpoint() {
    return Endpoint{QString::fromLatin1(kDefaultHost), kDefaultPort};
}

// Set once at start (or by a test before it talks to its server); read in the GUI thread.
Endpoint& endpoint() {
    static Endpoint e = defaultEndpoint();
    return e;
}

}  // namespace

bool g_setWebServiceAddress(const QString& hostPort) {
    const QString text = hostPort.trimmed();
    if (text.isEmpty()) {
        endpoint() = defaultEndpoint();
        return true;
    }
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return false;
    }
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    const QString host = text.left(colon);
    if (!ok || port == 0 || port > 65535 || host.contains(QLatin1Char('/')) ||
        host.contains(QRegExp(QStringLiteral("\\s")))) {
        return false;
    }
    endpoint() = Endpoint{host, static_cast<quint16>(port)};
    return true;
}

QString g_webServiceHost() {
    return endpoint().host;
}

quint16 g_webServicePort() {
    return endpoint().port;
}

QUrl g_webServiceUrl(const QString& pathAndQuery) {
    const Endpoint e = endpoint();
    QString text = QStringLiteral("http://") + e.host;
    if (e.port != 80) {
        text += QLatin1Char(':') + QString::number(e.port);
    }
    return QUrl(text + pathAndQuery, QUrl::StrictMode);
}

QString g_helpPageUrl() {
    return QStringLiteral("http://www.tellwick.example/help/");
}

QString g_supportPageUrl() {
    return QStringLiteral("http://www.tellwick.example/support/");
}

QString g_homePageUrl() {
    return QStringLiteral("http://www.tellwick.example/");
}

QString g_storageHowToUrl() {
    return QStringLiteral("http://www.tellwick.example/help/allow-storage-access.html");
}

QString g_supportEmail() {
    return QStringLiteral("support@tellwick.example");
}
