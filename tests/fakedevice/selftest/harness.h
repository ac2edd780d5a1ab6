// Shared set-up of the simulator self-tests: one server per test on its own socket.
#pragma once

#include "tests/fakedevice/fakedevice.h"

#include <gtest/gtest.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <usbmuxd.h>

#include <chrono>
#include <memory>
#include <string>

namespace fdtest {

using namespace std::chrono_literals;

inline constexpr const char* kLabel = "QUORVANTELI";

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakedevice::ignoreSigpipe();
        libusbmuxd_set_use_inotify(0);
        server = std::make_unique<fakedevice::Server>(dir.socketPath());
        mux = std::make_unique<fakedevice::ScopedMuxAddress>(server->socketAddress());
        phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(1), "Test Phone");
        server->attach(phone);
    }
    void TearDown() override {
        server.reset();
        mux.reset();
    }

    // A device handle for the udid (USB lookup), or null.
    static idevice_t openDevice(const std::string& udid) {
        idevice_t dev = nullptr;
        if (idevice_new_with_options(&dev, udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS)
            return nullptr;
        return dev;
    }

    fakedevice::TempDir dir;
    std::unique_ptr<fakedevice::Server> server;
    std::unique_ptr<fakedevice::ScopedMuxAddress> mux;
    std::shared_ptr<fakedevice::Phone> phone;
};

// RAII device + lockdown client.
struct Lockdown {
    idevice_t dev = nullptr;
    lockdownd_client_t client = nullptr;
    lockdownd_error_t err = LOCKDOWN_E_UNKNOWN_ERROR;
    explicit Lockdown(const std::string& udid) {
        if (idevice_new_with_options(&dev, udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS)
            return;
        err = lockdownd_client_new_with_handshake(dev, &client, kLabel);
    }
    ~Lockdown() {
        if (client)
            lockdownd_client_free(client);
        if (dev)
            idevice_free(dev);
    }
};

// How long a hostile reply may take to fail: far below the library's 30 s waits. Under a
// sanitizer the library's allocation of a huge announced length (it takes what the length says)
// costs seconds of shadow memory when the suites run side by side, so the bound only tells a
// hang from a slow failure there.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::seconds kFailsWithin{25};
#else
constexpr std::chrono::seconds kFailsWithin{10};
#endif

template <class F>
std::chrono::milliseconds timed(F f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t0);
}

}  // namespace fdtest
