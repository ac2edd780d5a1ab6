#include "platform/webservice/webservice.h"

#include <QByteArray>

namespace {

const char kDefaultHost[] = "update.tellwick.example";
const quint16 kDefaultPort = 80;

struct Endpoint {
    QString host;
    quint16 port;
};

// TELLWICK_WEBSERVICE="host:port"; anything malformed falls back to the real service.
Endpoint endpoint() {
    Endpoint e{QString::fromLatin1(kDefaultHost), kDefaultPort};
    const QByteArray env = qgetenv("TELLWICK_WEBSERVICE");
    if (env.isEmpty()) {
        return e;
    }
    const QString text = QString::fromLatin1(env).trimmed();
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return e;
    }
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    const QString host = text.left(colon);
    if (!ok || port == 0 || port > 65535 || host.contains(QLatin1Char('/'))) {
        return e;
    }
    return Endpoint{host, static_cast<quint16>(port)};
}

}  // namespace

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
