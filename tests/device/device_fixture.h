// One simulated iPhone per test on its own usbmuxd socket; the device layer under test finds
// it through USBMUXD_SOCKET_ADDRESS.
#pragma once

#include <gtest/gtest.h>
#include <usbmuxd.h>

#include <QString>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "tests/fakedevice/fakedevice.h"

using namespace std::chrono_literals;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        libusbmuxd_set_use_inotify(0);
        server = std::make_unique<fakedevice::Server>(dir.socketPath());
        mux = std::make_unique<fakedevice::ScopedMuxAddress>(server->socketAddress());
        phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(1), "Test Phone");
        // The suite runs once against the default, current phone and once against an old one.
        if (const char* ios = std::getenv("FAKE_IPHONE_IOS"))
            phone->emulateIos(std::atoi(ios));
        server->attach(phone);
        udid = QString::fromStdString(phone->udid());
    }
    void TearDown() override {
        server.reset();
        mux.reset();
    }

    fakedevice::TempDir dir;
    std::unique_ptr<fakedevice::Server> server;
    std::unique_ptr<fakedevice::ScopedMuxAddress> mux;
    std::shared_ptr<fakedevice::Phone> phone;
    QString udid;
};
