// The service pipe's framing against a peer played by the test, the loader, and the backup
// tool runner (with a stand-in tool that records its arguments).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "platform/backuptool/backuptool.h"
#include "device/mobiledevice.h"
#include "device/mobiledevice_loader.h"
#include "device/mobiledevice_pipe.h"
#include "tests/timing.h"

namespace {

void writeAll(int fd, const QByteArray& bytes) {
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        ASSERT_GT(n, 0);
        done += int(n);
    }
}

QByteArray frame(qint32 length, const QByteArray& body) {
    QByteArray out(4, '\0');
    const quint32 u = quint32(length);
    for (int i = 0; i < 4; ++i)
        out[i] = char((u >> (8 * i)) & 0xff);
    return out + body;
}

QByteArray readAvailable(int fd) {
    QByteArray out;
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, int(n));
    fcntl(fd, F_SETFL, flags);
    return out;
}

PlistCFType request() {
    PlistCFType r = PlistCFType::createCFDictionary();
    r.put("Command", PlistCFType::createCFString("Ping"));
    r.put("Count", PlistCFType::createCFNumberInt32(3));
    return r;
}

}  // namespace

TEST(ServicePipe, RequestAndResponseFraming) {
    mobiledevice_pipe pipe(2000);
    ASSERT_TRUE(pipe.create());
    EXPECT_TRUE(pipe.connect());
    EXPECT_EQ(pipe.peerReadFd(), QString::number(pipe.outboundRead()));
    EXPECT_EQ(pipe.peerWriteFd(), QString::number(pipe.inboundWrite()));

    // The request arrives as a little-endian length and an XML property list.
    ASSERT_TRUE(pipe.writeRequest(request()));
    const QByteArray sent = readAvailable(pipe.outboundRead());
    ASSERT_GT(sent.size(), 4);
    const quint32 len = quint8(sent[0]) | quint8(sent[1]) << 8 | quint8(sent[2]) << 16 |
                        quint32(quint8(sent[3])) << 24;
    EXPECT_EQ(int(len), sent.size() - 4);
    EXPECT_TRUE(sent.mid(4).startsWith("<?xml"));
    EXPECT_EQ(PlistCFType::createCFPropertyList(sent.mid(4)).toString(), request().toString());

    // Responses in both forms.
    PlistCFType reply = PlistCFType::createCFDictionary();
    reply.put("Status", PlistCFType::createCFString("OK"));
    for (int format : {100, 200}) {
        const QByteArray body = reply.CFPropertyListToBytes(format);
        writeAll(pipe.inboundWrite(), frame(body.size(), body));
        EXPECT_EQ(pipe.readReponse().get("Status").CFStringQString(), "OK") << format;
    }

    // A body that is no property list gives an empty value.
    writeAll(pipe.inboundWrite(), frame(5, "hello"));
    EXPECT_TRUE(pipe.readReponse().isNull());

    // Nothing to serialise: nothing is written.
    EXPECT_FALSE(pipe.writeRequest(PlistCFType()));
    EXPECT_TRUE(readAvailable(pipe.outboundRead()).isEmpty());

    pipe.close();
    EXPECT_EQ(pipe.inboundRead(), 0);
    EXPECT_EQ(pipe.outboundWrite(), 0);
    pipe.close();  // twice is harmless
    EXPECT_TRUE(pipe.readReponse().isNull());
    EXPECT_FALSE(pipe.writeRequest(request()));
}

TEST(ServicePipe, HostilePeerLengthsAndSilence) {
    mobiledevice_pipe pipe(150);
    ASSERT_TRUE(pipe.create());

    // No data at all: one wait, then an empty value.
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(pipe.readReponse().isNull());
    EXPECT_GE(t.elapsed(), 100);
    EXPECT_LT(t.elapsed(), kMarginMs);

    // Zero and negative lengths: no message, nothing more read.
    writeAll(pipe.inboundWrite(), frame(0, QByteArray()));
    EXPECT_TRUE(pipe.readReponse().isNull());
    writeAll(pipe.inboundWrite(), frame(-5, QByteArray()));
    EXPECT_TRUE(pipe.readReponse().isNull());

    // A body cut short: empty after the time limit, no hang.
    writeAll(pipe.inboundWrite(), frame(100, "<?xml"));
    EXPECT_TRUE(pipe.readReponse().isNull());

    // A pipe whose wait is far longer than the margin: an absurd length is refused at once
    // instead of being allocated and waited for.
    mobiledevice_pipe patient(kStallMs);
    ASSERT_TRUE(patient.create());
    for (qint32 huge : {qint32(0x7fffffff), qint32(mobiledevice_pipe::kMaxMessageLength + 1)}) {
        writeAll(patient.inboundWrite(), frame(huge, "<plist/>"));
        t.restart();
        EXPECT_TRUE(patient.readReponse().isNull());
        EXPECT_LT(t.elapsed(), kMarginMs);
        readAvailable(patient.inboundRead());
    }

    // A peer that went away: end of file, no wait for the time limit.
    ::close(patient.inboundWrite());
    t.restart();
    EXPECT_TRUE(patient.readReponse().isNull());
    EXPECT_LT(t.elapsed(), kMarginMs);
}

TEST(ServicePipe, WritingToAPeerThatLeftIsAnErrorNotADeadProcess) {
    mobiledevice_pipe pipe(200);
    ASSERT_TRUE(pipe.create());
    // Any device-layer object leaves SIGPIPE ignored for the process.
    struct sigaction current;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);

    ::close(pipe.outboundRead());
    EXPECT_FALSE(pipe.writeRequest(request()));
    EXPECT_EQ(pipe.write("abc", 3, false), 0);
}

TEST(ServicePipe, APeerThatStopsReadingRunsIntoTheTimeLimit) {
    mobiledevice_pipe pipe(150);
    ASSERT_TRUE(pipe.create());
    PlistCFType big = PlistCFType::createCFDictionary();
    big.put("blob", PlistCFType::createCFData(QByteArray(1 << 20, 'x')));
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(pipe.writeRequest(big));  // the pipe holds far less than the request
    EXPECT_LT(t.elapsed(), kMarginMs);
}

TEST(Loader, InitSucceedsWithoutAWarning) {
    QString error;
    EXPECT_EQ(mobiledevice_loader_ini(error, "/Applications/Sync.app", {"-x"}), 1);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(mobiledevice_loader_ini_uwpiTunesPath(), "/Applications/Sync.app");

    int warnings = 0;
    mobiledevice_set_warning_handler([&](const QString&) { ++warnings; });
    EXPECT_EQ(mobiledevice_init(), 1);
    EXPECT_EQ(warnings, 0);
    mobiledevice_set_warning_handler(nullptr);
}

class BackupTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        argsFile = dir.filePath("args.txt");
        script = dir.filePath("tool.sh");
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            "#!/bin/sh\n"
            ": > \"$ARGS_FILE\"\n"
            "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$ARGS_FILE\"; done\n"
            "[ \"$1\" = sleep ] && exec sleep 60\n"
            "exit 3\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        backuptool_set_program(script.toUtf8().constData());
        qputenv("ARGS_FILE", argsFile.toUtf8());
    }
    void TearDown() override {
        backuptool_set_program(nullptr);
        qunsetenv("ARGS_FILE");
        backuptool_set_timeout_ms(10 * 60 * 1000);
    }
    QStringList recordedArgs() {
        QFile f(argsFile);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QString argsFile, script;
};

TEST_F(BackupTool, CloudSwitchPassesItsArgumentsWithoutAShell) {
    enableOrDisableICloudBackup("id with space;$(touch pwned)`x`", true);
    EXPECT_EQ(recordedArgs(),
              QStringList({"-u", "id with space;$(touch pwned)`x`", "cloud", "on"}));
    EXPECT_FALSE(QFile::exists(dir.filePath("pwned")));
    enableOrDisableICloudBackup("abc", false);
    EXPECT_EQ(recordedArgs(), QStringList({"-u", "abc", "cloud", "off"}));
}

TEST_F(BackupTool, ExitCodeTimeLimitAndMissingTool) {
    char a0[] = "", a1[] = "list";
    char* argv[] = {a0, a1, nullptr};
    EXPECT_EQ(main_(nullptr, 2, argv), 3);

    backuptool_set_timeout_ms(200);
    char s1[] = "sleep";
    char* sleepArgv[] = {a0, s1, nullptr};
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(main_(nullptr, 2, sleepArgv), -1);  // (the tool sleeps a minute)
    EXPECT_LT(t.elapsed(), kMarginMs);

    backuptool_set_program(dir.filePath("no-such-tool").toUtf8().constData());
    const int rc = main_(nullptr, 2, argv);
    EXPECT_TRUE(rc == -1 || rc == 127) << rc;
}
