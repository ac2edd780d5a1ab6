#include "mobiledevice_mux.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <optional>

#include "phonecall.h"

namespace {

// libusbmuxd waits 5 seconds for usbmuxd's answer: a failure that took nearly that long was a
// wait that no answer ended; a quicker one, an answer the library could not take.
constexpr qint64 kNoAnswerMs = 4500;
// The first question of a process to a usbmuxd that never answers waits twice as long (the
// library tries a second way to ask): a question is given up on after this.
constexpr qint64 kQuestionLimitMs = 6000;

// Runs fn on a thread of its own and waits for it as every phone wait does (phonecall.h), at
// most kQuestionLimitMs; empty when the flag (*cancelled) or the limit ended the wait.
template <class R>
std::optional<R> askUsbmuxd(typename phonecall::Call<R>::Fn fn, const std::atomic<bool>* cancel,
                            bool* cancelled) {
    phonecall::Call<R> call(std::move(fn));
    phonecall::Wait wait(cancel, kQuestionLimitMs);
    for (int slice; (slice = wait.next()) > 0;) {
        if (call.waitFor(slice))
            return call.take();
    }
    *cancelled = wait.cancelled();
    return std::nullopt;
}

// errno of a connection to a UNIX socket, 0 when something listens there. Never blocks: a
// backlog that nobody takes connections from also means something listens.
int connectErrno(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return ENAMETOOLONG;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int err = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
    ::close(fd);
    if (err == EAGAIN || err == EINPROGRESS)
        err = 0;
    return err;
}

bool listedOverUsb(idevice_info_t* list, int count, const QByteArray& udid) {
    for (int i = 0; i < count && list; ++i) {
        if (list[i] && list[i]->conn_type == CONNECTION_USBMUXD && list[i]->udid &&
            udid == list[i]->udid)
            return true;
    }
    return false;
}

// A look-up that found no phone: usbmuxd either answered without it or could not be asked.
DeviceFailure notFound(const QString& devid, int err, qint64 waitedMs) {
    if (waitedMs >= kNoAnswerMs)
        return usbmuxdFailure(err, waitedMs);
    const DeviceFailure listing = mobiledevice_listing(devid);
    return isUsbmuxdFailure(listing) ? listing : DeviceFailure::NotFound;
}

FoundDevice lookUp(const QString& devid) {
    FoundDevice found;
    const QByteArray udid = devid.toUtf8();
    QElapsedTimer waited;
    waited.start();
    errno = 0;
    found.rc = idevice_new_with_options(&found.device, udid.constData(), IDEVICE_LOOKUP_USBMUX);
    const int err = errno;
    if (found.rc == IDEVICE_E_SUCCESS)
        found.failure = DeviceFailure::None;
    else if (found.rc == IDEVICE_E_NO_DEVICE)
        found.failure = notFound(devid, err, waited.elapsed());
    else
        found.failure = failureOfLookup(found.rc);
    return found;
}

}  // namespace

DeviceFailure usbmuxdFailure(int err, qint64 waitedMs) {
    const UsbmuxdAddress address = usbmuxdAddress();
    // The library closes and retries before it gives up, so its errno may be of a later step:
    // what the socket does now is asked directly. An address that is not a UNIX socket keeps
    // the library's errno, which then proves nothing of a connection that was made.
    if (address.isUnix)
        err = connectErrno(address.text);
    switch (err) {
        case ENOENT:
        case ENOTDIR:
        case ECONNREFUSED:
            return DeviceFailure::MuxNotRunning;
        case EACCES:
        case EPERM:
            return DeviceFailure::MuxNoAccess;
        case 0:
            if (!address.isUnix)
                return DeviceFailure::MuxUnreachable;
            return waitedMs >= kNoAnswerMs ? DeviceFailure::MuxSilent : DeviceFailure::MuxForeign;
        default:
            return DeviceFailure::MuxUnreachable;
    }
}

DeviceFailure mobiledevice_listing(const QString& devid) {
    bool cancelled = false;
    const std::optional<DeviceFailure> listing = askUsbmuxd<DeviceFailure>(
        [udid = devid.toUtf8()](const std::atomic<bool>&) {
            idevice_info_t* list = nullptr;
            int count = 0;
            QElapsedTimer waited;
            waited.start();
            errno = 0;
            if (idevice_get_device_list_extended(&list, &count) != IDEVICE_E_SUCCESS)
                return usbmuxdFailure(errno, waited.elapsed());
            const bool found = listedOverUsb(list, count, udid);
            idevice_device_list_extended_free(list);
            return found ? DeviceFailure::None : DeviceFailure::NotFound;
        },
        nullptr, &cancelled);
    return listing ? *listing : usbmuxdFailure(0, kQuestionLimitMs);
}

FoundDevice mobiledevice_lookup(const QString& devid, const std::atomic<bool>* cancel) {
    bool cancelled = false;
    std::optional<FoundDevice> found = askUsbmuxd<FoundDevice>(
        [devid](const std::atomic<bool>&) { return lookUp(devid); }, cancel, &cancelled);
    if (found)
        return std::move(*found);
    FoundDevice none;
    none.rc = IDEVICE_E_NO_DEVICE;
    none.failure = cancelled ? DeviceFailure::Cancelled : usbmuxdFailure(0, kQuestionLimitMs);
    return none;
}
