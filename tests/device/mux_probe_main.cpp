// Asks for a phone as the program does, for the usbmuxd tests that run it as another user:
// prints the check's failure kind, then the sync start's kind and its words.
#include <cstdio>

#include "device/mobiledevice.h"
#include "device/mobiledevice_sync.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const QString udid = QString::fromLocal8Bit(argv[1]);
    std::printf("%d\n", int(mobiledevice_check(udid)));
    try {
        mobiledevice_sync_client client;
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        std::printf("%d\n", int(DeviceFailure::None));
    } catch (const DeviceError& e) {
        std::printf("%d\n%s\n", int(e.kind()), e.what());
    }
    return 0;
}
