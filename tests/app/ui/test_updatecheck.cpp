#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "app/ui/updatecheck.h"
#include "testsupport.h"

namespace {

const quint64 kNow = 1700000000;

void writeStamp(const QByteArray& text) {
    QFile f(UpdateCheck::timestampPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray readStamp() {
    QFile f(UpdateCheck::timestampPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(UpdateCheck::timestampPath());
        check.now = []() { return kNow; };
        check.openLink = [this](const QString& link) { opened << link; };
        check.onExit = [this]() { ++exits; };
    }
    void TearDown() override { QFile::remove(UpdateCheck::timestampPath()); }

    // Starts the check and, when a request went out, waits for its reply to be handled.
    bool startAndWait() {
        QSignalSpy done(&check, SIGNAL(finished()));
        if (!check.start()) {
            return false;
        }
        EXPECT_TRUE(done.wait(2000));
        return true;
    }

    LocalHttpServer server;
    WebServiceOverride override{server.address()};
    QWidget window;
    UpdateCheck check{&window};
    QStringList opened;
    int exits = 0;
};

}  // namespace

TEST_F(UpdateCheckTest, AskedAtMostOncePerDay) {
    writeStamp(QByteArray::number(kNow - 86400));
    EXPECT_FALSE(check.start());
    writeStamp(QByteArray::number(kNow - 1));
    EXPECT_FALSE(check.start());
    QTest::qWait(50);
    EXPECT_TRUE(server.requests.isEmpty());

    writeStamp(QByteArray::number(kNow - 86401));
    server.replyBody = "none";
    EXPECT_TRUE(startAndWait());
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].method, "GET");
    EXPECT_EQ(server.requests[0].target,
              "/sms_check_update.php?pid=4C17E09A2D6B83F5E1A0C94B7D2E6F38&ver=13&q=1");
    EXPECT_EQ(readStamp(), QByteArray::number(kNow));
}

TEST_F(UpdateCheckTest, UnusableOrFutureStampsAsk) {
    server.replyBody = "none";
    for (const QByteArray& stamp :
         {QByteArray("0"), QByteArray("abc"), QByteArray(""), QByteArray::number(kNow + 10)}) {
        writeStamp(stamp);
        EXPECT_TRUE(startAndWait()) << stamp.constData();
    }
    EXPECT_EQ(server.requests.size(), 4);
}

TEST_F(UpdateCheckTest, StampIsReadAsUnsigned64Bit) {
    // Beyond 32 bits: a stamp from 100 s ago must still throttle.
    static constexpr quint64 later = 5000000000ull;
    check.now = []() { return later; };
    writeStamp(QByteArray::number(later - 100));
    EXPECT_FALSE(check.start());
}

TEST_F(UpdateCheckTest, ErrorStatusWritesNothing) {
    writeStamp("12345");
    server.status = 404;
    server.replyBody = "http://dl.tellwick.example/new.dmg";
    BoxRecorder rec;
    EXPECT_TRUE(startAndWait());
    EXPECT_EQ(readStamp(), "12345");
    EXPECT_TRUE(rec.boxes.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(UpdateCheckTest, BrokenOrOversizedRepliesAreNoAnswer) {
    writeStamp("12345");
    BoxRecorder rec;
    // The connection closes before the announced body is complete: the link is cut short.
    server.replyBody = "http://dl.tellwick.example/Tellwick-4.0";
    server.contentLength = 100;
    EXPECT_TRUE(startAndWait());
    EXPECT_EQ(readStamp(), "12345");
    // A reply far larger than any answer of the service.
    server.contentLength = -1;
    server.replyBody = "http://dl.tellwick.example/" + QByteArray(200 * 1024, 'a');
    EXPECT_TRUE(startAndWait());
    EXPECT_EQ(server.requests.size(), 2);
    EXPECT_EQ(readStamp(), "12345");
    EXPECT_TRUE(rec.boxes.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(exits, 0);
}

TEST_F(UpdateCheckTest, AnswersThatAreNotPlainHttpLinksOnlyWriteTheStamp) {
    BoxRecorder rec;
    for (const QByteArray& reply :
         {QByteArray("no update"), QByteArray("https://dl.tellwick.example/new.dmg"),
          QByteArray("http://dl.example/a b"), QByteArray("http://dl.example/a\nrm -rf ~"),
          QByteArray("http://"), QByteArray("http://user:pw@dl.example/x"),
          QByteArray("http://dl.example/\"$(id)\"")}) {
        QFile::remove(UpdateCheck::timestampPath());
        server.replyBody = reply;
        EXPECT_TRUE(startAndWait());
        EXPECT_EQ(readStamp(), QByteArray::number(kNow)) << reply.constData();
    }
    EXPECT_TRUE(rec.boxes.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(exits, 0);
}

TEST_F(UpdateCheckTest, FirstRunLinkShowsTheObsoleteBoxAndEnds) {
    server.replyBody = QByteArray("HTTP://dl.tellwick.example/Tellwick-4.0.dmg\r\n") +
                       QByteArray(1, '\0') + QByteArray("junk");
    BoxRecorder rec;
    EXPECT_TRUE(startAndWait());
    ASSERT_EQ(rec.boxes.size(), 1);
    EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(rec.boxes[0].buttons, QStringList{"Download"});
    EXPECT_TRUE(rec.boxes[0].text.contains("has become obsolete"));
    EXPECT_TRUE(rec.boxes[0].flags & Qt::FramelessWindowHint);
    EXPECT_EQ(opened, QStringList{"HTTP://dl.tellwick.example/Tellwick-4.0.dmg"});
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(readStamp(), "<none>");
}

TEST_F(UpdateCheckTest, LaterKeepsRunningNowDownloadsAndEnds) {
    server.replyBody = "http://dl.tellwick.example/Tellwick-4.0.dmg";
    window.show();
    {
        writeStamp("1");
        BoxRecorder rec({"Download later"});
        EXPECT_TRUE(startAndWait());
        ASSERT_EQ(rec.boxes.size(), 1);
        EXPECT_EQ(rec.boxes[0].icon, QMessageBox::Question);
        EXPECT_TRUE(rec.boxes[0].text.startsWith(
            "A new version of Quorvanteli Tellwick for Mac is available."));
        EXPECT_TRUE(opened.isEmpty());
        EXPECT_EQ(exits, 0);
        EXPECT_EQ(readStamp(), QByteArray::number(kNow));
        EXPECT_TRUE(window.isVisible());
    }
    {
        writeStamp("1");
        BoxRecorder rec({"Download now"});
        EXPECT_TRUE(startAndWait());
        EXPECT_EQ(opened, QStringList{"http://dl.tellwick.example/Tellwick-4.0.dmg"});
        EXPECT_EQ(exits, 1);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(readStamp(), "1");
    }
}

TEST(ExitProgram, EndsOnlyTheCallingProcess) {
    // The child shares our process group; ending "the group leader" would end this test.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        exitProgram();
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}
