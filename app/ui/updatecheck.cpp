#include "updatecheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

#include "aboutusform.h"
#include "ui/appinfo.h"
#include "ui/stylesheet.h"
#include "ui/tips.h"
#include "ui/winmovable.h"
#include "platform/webservice/webservice.h"
#include "store/data_path_util.h"

namespace {

const char kTimestampFile[] = "last-check-version-time";
// The answer is a link or a short word; anything larger is not an answer of the service.
const qint64 kMaxReplyBytes = 64 * 1024;
// A download link longer than this is not a link we hand to the browser.
const int kMaxLinkLength = 2048;

QByteArray upToNul(QByteArray bytes) {
    const int nul = bytes.indexOf('\0');
    if (nul >= 0) {
        bytes.truncate(nul);
    }
    return bytes;
}

void makeFrameless(QMessageBox& box) {
    applyDialogLook(&box);
}

}  // namespace

void exitProgram() {
    // Only this process: the process-group id may name another process (a shell, a launcher).
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
}

UpdateCheck::UpdateCheck(QWidget* mainWindow, QObject* parent)
    : QObject(parent),
      onExit([]() { exitProgram(); }),
      openLink([](const QString& link) { g_openLink(link); }),
      now([]() { return static_cast<quint64>(QDateTime::currentSecsSinceEpoch()); }),
      mainWindow(mainWindow),
      http(new QNetworkAccessManager(this)),
      reply(nullptr) {
    http->setTransferTimeout(30000);
}

UpdateCheck::~UpdateCheck() {
    if (reply) {
        // No reply handling while this object is going away.
        reply->disconnect(this);
        reply->abort();
    }
}

QString UpdateCheck::timestampPath() {
    return g_dataSaveDir().absoluteFilePath(QLatin1String(kTimestampFile));
}

bool UpdateCheck::start() {
    QFile file(timestampPath());
    if (file.exists() && file.open(QIODevice::ReadOnly)) {
        const QByteArray text = upToNul(file.readAll());
        file.close();
        bool ok = false;
        quint64 last = text.toULongLong(&ok);
        if (!ok) {
            last = 0;
        }
        if (last != 0) {
            const quint64 current = now();
            // A stored time in the future means the clock was moved: ask again.
            if (current >= last && current - last < kMinInterval) {
                return false;
            }
        }
    }
    if (reply) {
        return false;
    }
    const QString path = QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&q=1")
                             .arg(QLatin1String(g_productId))
                             .arg(g_versionNumber);
    reply = http->get(QNetworkRequest(g_webServiceUrl(path)));
    connect(reply, &QNetworkReply::finished, this, &UpdateCheck::onCheckVersionReplyFinished);
    QNetworkReply* pending = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [pending](qint64 received, qint64) {
        if (received > kMaxReplyBytes) {
            pending->abort();
        }
    });
    return true;
}

bool UpdateCheck::isWellFormedLink(const QString& text) {
    if (text.isEmpty() || text.size() > kMaxLinkLength) {
        return false;
    }
    // Only the characters a URI may hold: no blanks, line ends, quotes or other controls.
    static const QString kAllowed = QStringLiteral(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~:/?#[]@!$&'()*+,;=%");
    for (const QChar c : text) {
        if (!kAllowed.contains(c)) {
            return false;
        }
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty()) {
        return false;
    }
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

void UpdateCheck::onCheckVersionReplyFinished() {
    QNetworkReply* done = reply;
    reply = nullptr;
    if (!done) {
        return;
    }
    done->deleteLater();

    const QString path = timestampPath();
    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A connection that broke after the status line leaves a partial body, and an oversized
    // body is not the service's: neither is an answer, and a truncated link must not be opened.
    const QByteArray body = done->read(kMaxReplyBytes + 1);
    if (status != 200 || done->error() != QNetworkReply::NoError || body.size() > kMaxReplyBytes) {
        emit finished();
        return;
    }
    QString text = QString::fromLatin1(upToNul(body));
    // A trailing line end is part of how servers print, not of the link.
    while (!text.isEmpty() && text.back().isSpace()) {
        text.chop(1);
    }
    const bool isLink =
        text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) && isWellFormedLink(text);
    if (isLink) {
        const QString title = g_productTitle();
        if (!QFile::exists(path)) {
            QMessageBox box(QMessageBox::Warning, title,
                            QStringLiteral("This version of Quorvanteli software has become "
                                           "obsolete. Please download the latest version to "
                                           "install on your computer."),
                            QMessageBox::NoButton, nullptr);
            WinMovable movable(&box);
            makeFrameless(box);
            box.addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
            g_execMessageBox(box);
            openLink(text);
            emit finished();
            onExit();
            return;
        }
        QMessageBox box(QMessageBox::Question, title,
                        QStringLiteral("A new version of %1 is available. To support your "
                                       "phone, please download the latest version.")
                            .arg(title),
                        QMessageBox::NoButton, nullptr);
        WinMovable movable(&box);
        makeFrameless(box);
        QPushButton* downloadNow =
            box.addButton(QStringLiteral("Download now"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Download later"), QMessageBox::RejectRole);
        g_execMessageBox(box);
        if (box.clickedButton() == downloadNow) {
            openLink(text);
            if (mainWindow) {
                mainWindow->close();
            }
            emit finished();
            onExit();
            return;
        }
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(QByteArray::number(now()));
        file.close();
    }
    emit finished();
}

void UpdateCheck::openUpdatePage() {
    const QString path = QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&vs=%3&sys=%4")
                             .arg(QLatin1String(g_productId))
                             .arg(g_versionNumber)
                             .arg(123456)
                             .arg(QStringLiteral("macx"));
    g_openLink(g_webServiceUrl(path).toString());
}

void UpdateCheck::openHelpPage() {
    g_openLink(g_helpPageUrl());
}

void UpdateCheck::openSupportPage() {
    g_openLink(g_supportPageUrl());
}

void UpdateCheck::showAbout(QWidget* parent) {
    AboutUsForm form(parent);
    form.exec();
}
