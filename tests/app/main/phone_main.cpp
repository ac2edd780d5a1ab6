// The main of the suites that drive the real window against the simulated iPhone: one server
// for the whole run, the message boxes recorded.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/mobilesync/phonecall.h"
#include "tests/fakedevice/fakedevice.h"
#include "testutil.h"
#include "windowfixture.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    fakedevice::ignoreSigpipe();
    fakedevice::TempDir dir;
    fakedevice::Server server(dir.socketPath());
    fakedevice::ScopedMuxAddress mux(server.socketAddress());
    twtest::phoneServer() = &server;
    twtest::Boxes::instance().install();
    const int rc = RUN_ALL_TESTS();
    g_setMessageBoxHook(MessageBoxHook());
    twtest::phoneServer() = nullptr;
    // Calls on a stalled phone that a cancel left behind end once the phones are gone.
    server.stop();
    phonecall::Running::waitForAll(10000);
    return rc;
}
