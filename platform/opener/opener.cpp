#include "opener.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegExp>
#include <QStringList>
#include <QUrl>

static QString& openerProgram() {
    static QString program;
    return program;
}

void tw_setOpenerProgram(const QString& program) {
    openerProgram() = program;
}

QString tw_openerProgram() {
    const QString& custom = openerProgram();
    return custom.isEmpty() ? QStringLiteral("xdg-open") : custom;
}

static bool startOpener(const QString& argument) {
    // The argument goes to the program as one argv entry: no shell parses it.
    return QProcess::startDetached(tw_openerProgram(), QStringList() << argument);
}

bool tw_openPathWithSystem(const QString& path) {
    if (path.isEmpty())
        return false;
    // An absolute path never starts with '-', so the opener cannot take it for an option.
    return startOpener(QFileInfo(path).absoluteFilePath());
}

bool tw_isWebLink(const QString& url) {
    if (url.isEmpty() || url.size() > 8192)
        return false;
    // One link only: no white space or control characters anywhere.
    for (const QChar c : url) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || u.isRelative())
        return false;
    const QString scheme = u.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    if (u.host().isEmpty())
        return false;
    return url.startsWith(scheme + "://", Qt::CaseInsensitive);
}

bool tw_openUrlWithSystem(const QString& url) {
    if (!tw_isWebLink(url))
        return false;
    return startOpener(url);
}
