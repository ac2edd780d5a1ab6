#pragma once

#include <QString>
#include <QUrl>

// The maker's web service: update check and error report over HTTP.

// Points the update check and the error report at another server, given as "host:port" (the
// program's --web-service option; tests use a local server on 127.0.0.1). False, and nothing
// changed, when the text is malformed. An empty text restores the maker's service.
bool g_setWebServiceAddress(const QString& hostPort);

QString g_webServiceHost();  // "update.tellwick.example" unless overridden
quint16 g_webServicePort();  // 80 unless overridden
// http://host[:port] + pathAndQuery (which starts with "/").
QUrl g_webServiceUrl(const QString& pathAndQuery);

// The maker's pages and support address.
QString g_helpPageUrl();
QString g_supportPageUrl();
QString g_homePageUrl();
QString g_storageHowToUrl();  // how to allow the program access to storage
QString g_supportEmail();
