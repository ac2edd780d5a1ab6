#include "tips.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QRegExp>
#include <QUrl>

#include "appinfo.h"
#include "stylesheet.h"
#include "winmovable.h"
#include "platform/webservice/webservice.h"

namespace {

class ModalRunner : public MessageBoxRunner {
public:
    int run(QMessageBox& box) override { return box.exec(); }
};

MessageBoxRunner*& installedRunner() {
    static MessageBoxRunner* runner = nullptr;
    return runner;
}

QRegExp lineBreakTag() {
    return QRegExp(QStringLiteral("< *br */?>"), Qt::CaseInsensitive);
}

// Fire and forget: the reply, its status and any network error are ignored.
void postErrorReport(const QByteArray& body) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return;
    }
    auto* http = new QNetworkAccessManager(app);
    http->setTransferTimeout(30000);
    QNetworkRequest request(g_webServiceUrl(QStringLiteral("/err_report.php")));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = http->post(request, body);
    QObject::connect(reply, &QNetworkReply::finished, http, [reply, http]() {
        reply->deleteLater();
        http->deleteLater();
    });
}

}  // namespace

void g_setMessageBoxRunner(MessageBoxRunner* runner) {
    installedRunner() = runner;
}

int g_execMessageBox(QMessageBox& box) {
    static ModalRunner modal;
    MessageBoxRunner* runner = installedRunner();
    return (runner ? runner : &modal)->run(box);
}

int g_showMessageBox(QMessageBox::Icon icon, QString text, int buttons, bool withHeader) {
    if (withHeader) {
        text = QStringLiteral("<nobr><b>") + g_productTitle() +
               QStringLiteral(" v%1").arg(QLatin1String(g_versionText)) +
               QStringLiteral("</b></nobr><br/><br/>") + text;
    }
    QMessageBox box(icon, g_productTitle(), text, QMessageBox::NoButton, nullptr);
    WinMovable movable(&box);
    applyDialogLook(&box);

    struct ButtonText {
        QMessageBox::StandardButton button;
        const char* text;
    };
    static const ButtonText kButtons[] = {
        {QMessageBox::Yes, QT_TR_NOOP("Yes")},     {QMessageBox::No, QT_TR_NOOP("No")},
        {QMessageBox::Ok, QT_TR_NOOP("OK")},       {QMessageBox::Cancel, QT_TR_NOOP("Cancel")},
        {QMessageBox::Abort, QT_TR_NOOP("Abort")}, {QMessageBox::Retry, QT_TR_NOOP("Retry")},
    };
    for (const ButtonText& b : kButtons) {
        if (buttons & b.button) {
            box.addButton(b.button)->setText(QObject::tr(b.text));
        }
    }
    box.setTextFormat(Qt::RichText);
    return g_execMessageBox(box);
}

QString base64_var(QString text) {
    QByteArray encoded = text.toUtf8().toBase64();
    encoded.replace('/', '!');
    encoded.replace('=', '-');
    return QString::fromLatin1(encoded);
}

QString g_escapeKeepingBreaks(const QString& text) {
    // Split at the line-break tags, escape the pieces, join with one canonical tag.
    const QStringList pieces = text.split(lineBreakTag());
    QStringList escaped;
    escaped.reserve(pieces.size());
    for (const QString& piece : pieces) {
        // Plain line ends in the text break the line in the box as well.
        QString e = piece.toHtmlEscaped();
        e.replace(QStringLiteral("\r\n"), QStringLiteral("<br/>"));
        e.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
        escaped << e;
    }
    return escaped.join(QStringLiteral("<br/>"));
}

QString g_messageBoxText(const QString& text) {
    static const QRegExp link(
        QStringLiteral("<a\\s+href\\s*=\\s*\"([^\"<>]*)\"\\s*>([^<>]*)</a\\s*>"),
        Qt::CaseInsensitive);
    const QString ownHost = QUrl(g_homePageUrl()).host();
    QRegExp re(link);
    QString out;
    int from = 0;
    for (int at = re.indexIn(text, from); at >= 0; at = re.indexIn(text, from)) {
        const QUrl url(re.cap(1), QUrl::StrictMode);
        const bool own =
            url.isValid() && url.host() == ownHost &&
            (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
        if (own) {
            out += g_escapeKeepingBreaks(text.mid(from, at - from));
            out += QStringLiteral("<a href=\"%1\">%2</a>")
                       .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                            re.cap(2).toHtmlEscaped());
        } else {
            out += g_escapeKeepingBreaks(text.mid(from, at - from + re.matchedLength()));
        }
        from = at + re.matchedLength();
    }
    return out + g_escapeKeepingBreaks(text.mid(from));
}

QByteArray g_errorReportBody(const QString& err) {
    QString reported = err;
    reported.replace(lineBreakTag(), QStringLiteral("\r\n"));
    reported.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    reported.replace(QLatin1Char('>'), QStringLiteral("&gt;"));

    const QString body =
        QStringLiteral("prod=") + base64_var(g_productTitle()) + QStringLiteral("&ver=") +
        base64_var(
            QStringLiteral("%1(%2)").arg(QLatin1String(g_versionText)).arg(g_versionNumber)) +
        QStringLiteral("&err=") + base64_var(reported);
    return body.toUtf8();
}

void Tips::info(QString text) {
    g_showMessageBox(QMessageBox::Information, g_messageBoxText(text), QMessageBox::Ok, false);
}

void Tips::infoHtml(QString html) {
    g_showMessageBox(QMessageBox::Information, html, QMessageBox::Ok, false);
}

void Tips::warning(QString text) {
    g_showMessageBox(QMessageBox::Warning, g_messageBoxText(text), QMessageBox::Ok, false);
}

bool Tips::question(QString text) {
    return g_showMessageBox(QMessageBox::Question, g_messageBoxText(text),
                            QMessageBox::Yes | QMessageBox::No, false) == QMessageBox::Yes;
}

void Tips::error(QString err) {
    // The error text comes from data (exceptions, file and device names): it must not be able
    // to inject markup into the box; its line breaks and the program's own links stay.
    const QString text =
        QStringLiteral("An Error Occurred. <br/><br/>%1<br/><br/> Or you can contact ")
            .arg(g_messageBoxText(err)) +
        g_supportEmail().toHtmlEscaped() + QStringLiteral(" for help.");
    g_showMessageBox(QMessageBox::Critical, text, QMessageBox::Ok, true);
    postErrorReport(g_errorReportBody(err));
}
