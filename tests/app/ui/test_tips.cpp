#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

#include "ui/appinfo.h"
#include "ui/tips.h"
#include "testsupport.h"

namespace {

QString fromBase64Var(QByteArray field) {
    field.replace('!', '/');
    field.replace('-', '=');
    return QString::fromUtf8(QByteArray::fromBase64(field));
}

// Splits "prod=..&ver=..&err=.." into its three decoded values.
QStringList decodeReport(const QByteArray& body) {
    QStringList values;
    for (const QByteArray& field : body.split('&')) {
        const int eq = field.indexOf('=');
        values << fromBase64Var(field.mid(eq + 1));
    }
    return values;
}

}  // namespace

TEST(Base64Var, EncodesTheReportAlphabet) {
    EXPECT_EQ(base64_var("abc"), "YWJj");
    EXPECT_EQ(base64_var("a?"), "YT8-");
    EXPECT_EQ(base64_var("???"), "Pz8!");
    EXPECT_EQ(base64_var("3.1.13(13)"), "My4xLjEzKDEzKQ--");
    EXPECT_EQ(base64_var(""), "");
    // Non-ASCII text goes as UTF-8, and "+" stays as it is.
    EXPECT_EQ(fromBase64Var(base64_var(QString::fromUtf8("Jürgen ☎")).toLatin1()),
              QString::fromUtf8("Jürgen ☎"));
    EXPECT_EQ(base64_var(QString::fromLatin1("\xfb\xff")), "w7vDvw--");
    EXPECT_TRUE(base64_var(QString::fromLatin1("\xfb\xef\xbe")).contains('+'));
}

TEST(ErrorReport, BodyHasThreeFieldsWithEscapedError) {
    const QByteArray empty = g_errorReportBody("");
    EXPECT_TRUE(empty.startsWith("prod="));
    EXPECT_TRUE(empty.endsWith("&err="));
    EXPECT_EQ(empty,
              "prod=" + base64_var(g_productTitle()).toLatin1() + "&ver=My4xLjEzKDEzKQ--&err=");

    const QStringList fields =
        decodeReport(g_errorReportBody("one<br/>two<BR>three< br />four<Br  />five a<b>c"));
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0], "Quorvanteli Tellwick for Mac");
    EXPECT_EQ(fields[1], "3.1.13(13)");
    EXPECT_EQ(fields[2], "one\r\ntwo\r\nthree\r\nfour\r\nfive a&lt;b&gt;c");
}

TEST(Tips, BoxesAreFramelessStyledRichTextWithTheirButtons) {
    BoxRecorder rec({"OK", "OK", "Yes", "No"});
    Tips::info("i");
    Tips::warning("w");
    EXPECT_TRUE(Tips::question("q1"));
    EXPECT_FALSE(Tips::question("q2"));
    ASSERT_EQ(rec.boxes.size(), 4);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(rec.boxes[1].icon, QMessageBox::Warning);
    EXPECT_EQ(rec.boxes[2].icon, QMessageBox::Question);
    EXPECT_EQ(rec.boxes[0].buttons, QStringList{"OK"});
    EXPECT_EQ(rec.boxes[2].buttons.size(), 2);
    EXPECT_TRUE(rec.boxes[2].buttons.contains("Yes") && rec.boxes[2].buttons.contains("No"));
    for (const RecordedBox& box : rec.boxes) {
        EXPECT_TRUE(box.flags & Qt::FramelessWindowHint);
        EXPECT_TRUE(box.flags & Qt::Dialog);
        EXPECT_TRUE(box.styled);
        EXPECT_EQ(box.format, Qt::RichText);
        EXPECT_EQ(box.title, "Quorvanteli Tellwick for Mac");
    }
    EXPECT_EQ(rec.boxes[0].text, "i");  // no header
}

TEST(Tips, ErrorEscapesDataAndPostsTheReport) {
    LocalHttpServer server;
    WebServiceOverride override(server.address());
    BoxRecorder rec;
    const QString err = "cannot open <img src=x>/tmp/a&b.db<br/>return 14.";
    Tips::error(err);
    ASSERT_EQ(rec.boxes.size(), 1);
    const RecordedBox& box = rec.boxes[0];
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_TRUE(box.text.startsWith("<nobr><b>Quorvanteli Tellwick for Mac v3.1.13</b></nobr>"));
    EXPECT_TRUE(box.text.contains(
        "An Error Occurred. <br/><br/>cannot open &lt;img src=x&gt;/tmp/a&amp;b.db<br/>return 14."
        "<br/><br/> Or you can contact "));
    EXPECT_FALSE(box.text.contains("<img"));

    ASSERT_TRUE(server.waitForRequests(1));
    const HttpRequest& request = server.requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/err_report.php");
    EXPECT_EQ(request.headers.value("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.headers.value("host"), server.address());
    EXPECT_EQ(request.body, g_errorReportBody(err));
    EXPECT_EQ(decodeReport(request.body).value(2),
              "cannot open &lt;img src=x&gt;/tmp/a&b.db\r\nreturn 14.");
}

TEST(Tips, ErrorReportToAnUnreachableServerIsSilent) {
    // Nothing listens on the port: the box still shows and nothing else happens.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const QByteArray address = "127.0.0.1:" + QByteArray::number(probe.serverPort());
    probe.close();
    WebServiceOverride override(address);
    BoxRecorder rec;
    Tips::error("x");
    QTest::qWait(100);
    EXPECT_EQ(rec.boxes.size(), 1);
}

namespace {

// What a rich-text box shows of the text, and the links it holds.
QString shown(const QString& rich) {
    QTextDocument doc;
    doc.setHtml(rich);
    return doc.toPlainText();
}

QStringList links(const QString& rich) {
    QTextDocument doc;
    doc.setHtml(rich);
    QStringList out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isAnchor()) {
                out << f.anchorHref() + "|" + it.fragment().text();
            }
        }
    }
    return out;
}

}  // namespace

TEST(Tips, EveryBoxShowsDataAsWrittenAndOnlyTheProgramsOwnLinks) {
    // The program's own texts with "<", ">" and "&", names and paths: shown as written.
    const QString invalid = "can't contain any of \\ / : * ? \" < > | and can't begin with a dot.";
    const QString name = "Ann <b>Lee</b> & Co";
    const QString path = "/tmp/a<img src=x>&amp;.vcf";
    const QString ownLink =
        "Cannot find /b<1>/Manifest.plist<br/>please click "
        "<a href=\"http://www.tellwick.example/backup-access.html\">HERE</a>.";
    const QString foreignLink =
        "see <a href=\"http://evil.example/\">this</a> or "
        "<a href=\"javascript:alert(1)\">that</a>";
    BoxRecorder rec({"OK", "OK", "Yes", "OK", "OK", "OK"});
    Tips::warning(invalid);
    Tips::info(name);
    Tips::question(QString("Replace %1?").arg(path));
    Tips::warning(ownLink);
    Tips::error(ownLink);
    Tips::error(foreignLink);
    ASSERT_EQ(rec.boxes.size(), 6);
    EXPECT_EQ(shown(rec.boxes[0].text), invalid);
    EXPECT_EQ(shown(rec.boxes[1].text), name);
    EXPECT_EQ(shown(rec.boxes[2].text), "Replace " + path + "?");
    for (int i : {3, 4}) {
        EXPECT_TRUE(shown(rec.boxes[i].text)
                        .contains("Cannot find /b<1>/Manifest.plist\nplease click HERE."))
            << rec.boxes[i].text.toStdString();
        EXPECT_EQ(links(rec.boxes[i].text),
                  QStringList{"http://www.tellwick.example/backup-access.html|HERE"});
    }
    EXPECT_TRUE(links(rec.boxes[5].text).isEmpty());
    EXPECT_TRUE(shown(rec.boxes[5].text).contains(foreignLink));

    // The program's own markup goes only through infoHtml.
    Tips::infoHtml("<b>Connected</b><br/>unlock it");
    ASSERT_EQ(rec.boxes.size(), 7);
    EXPECT_EQ(shown(rec.boxes[6].text), "Connected\nunlock it");
}
