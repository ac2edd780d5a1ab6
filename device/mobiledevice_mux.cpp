#include "mobiledevice_mux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <usbmuxd.h>

#include <QByteArray>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/mobilesync/phonecall.h"

namespace {

// How long libusbmuxd waits for each answer of usbmuxd. A list is an answer however late it comes
// within that; libusbmuxd then asks a process's first unanswered question a second way (Listen),
// waiting as long again.
constexpr int kAnswerMs = 5000;

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

// A usbmuxd request for the list of phones, as libusbmuxd frames it: its length, version 1
// (property lists), message 8 (a property list) and a tag, then the request itself.
QByteArray listRequest() {
    const QByteArray body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>MessageType</key><string>ListDevices</string>"
        "<key>ProgName</key><string>tellwick</string></dict></plist>\n";
    QByteArray frame(16, '\0');
    const quint32 header[4] = {static_cast<quint32>(16 + body.size()), 1, 8, 1};
    std::memcpy(frame.data(), header, sizeof header);
    return frame + body;
}

// Whether the bytes that came can be the start of usbmuxd's answer: after its length, version 1
// and message 8, as far as they go.
bool beginsAsUsbmuxd(const QByteArray& answer) {
    const quint32 expected[2] = {1, 8};
    const int compared = std::min(answer.size(), 12) - 4;
    return compared <= 0 || std::memcmp(answer.constData() + 4, expected, compared) == 0;
}

// What the socket at path answers to that request, waited for as long as libusbmuxd waits: no
// byte at all is a usbmuxd that does not answer (MuxSilent); bytes that cannot begin usbmuxd's
// frame are something else's (MuxForeign); a close without a byte, or usbmuxd's own frame, leaves
// no cause that was seen (MuxUnreachable). A set flag ends the wait at once (Cancelled).
DeviceFailure answerAt(const std::string& path, const std::atomic<bool>& cancel) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return DeviceFailure::MuxUnreachable;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return DeviceFailure::MuxUnreachable;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    DeviceFailure seen = DeviceFailure::MuxUnreachable;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        const QByteArray request = listRequest();
        (void)::send(fd, request.constData(), request.size(), MSG_NOSIGNAL);
        QByteArray answer;
        bool closed = false;
        phonecall::Wait wait(&cancel, kAnswerMs);
        for (int slice; !closed && answer.size() < 16 && (slice = wait.next()) > 0;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, slice) <= 0)
                continue;
            char buf[16];
            const ssize_t n = ::recv(fd, buf, sizeof buf - answer.size(), 0);
            if (n > 0)
                answer.append(buf, static_cast<int>(n));
            else
                closed = true;
        }
        if (wait.cancelled())
            seen = DeviceFailure::Cancelled;
        else if (answer.isEmpty())
            seen = closed ? DeviceFailure::MuxUnreachable : DeviceFailure::MuxSilent;
        else
            seen =
                beginsAsUsbmuxd(answer) ? DeviceFailure::MuxUnreachable : DeviceFailure::MuxForeign;
    }
    ::close(fd);
    return seen;
}

// Why usbmuxd's list could not be had: err is errno as the library left it.
DeviceFailure usbmuxdFailure(int err, const std::atomic<bool>& cancel) {
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
            // Something listens: what it answers, not how long the library waited, tells what
            // it is.
            return address.isUnix ? answerAt(address.text, cancel) : DeviceFailure::MuxUnreachable;
        default:
            return DeviceFailure::MuxUnreachable;
    }
}

// usbmuxd's answer to one request for its list, as libusbmuxd asks and waits for it: whether it
// lists the phone over USB, or why no list came.
DeviceFailure listingOf(const QByteArray& udid, const std::atomic<bool>& cancel) {
    usbmuxd_device_info_t info{};
    errno = 0;
    const int found = usbmuxd_get_device(udid.constData(), &info, DEVICE_LOOKUP_USBMUX);
    if (found < 0)
        return usbmuxdFailure(errno, cancel);
    return found > 0 ? DeviceFailure::None : DeviceFailure::NotFound;
}

FoundDevice lookUp(const QByteArray& udid, const std::atomic<bool>& cancel) {
    FoundDevice found;
    found.rc = IDEVICE_E_NO_DEVICE;
    found.failure = listingOf(udid, cancel);
    if (found.failure != DeviceFailure::None)
        return found;
    if (cancel) {
        found.failure = DeviceFailure::Cancelled;
        return found;
    }
    found.rc = idevice_new_with_options(&found.device, udid.constData(), IDEVICE_LOOKUP_USBMUX);
    if (found.rc != IDEVICE_E_NO_DEVICE) {
        found.failure = failureOfLookup(found.rc);
        return found;
    }
    // Listed a moment ago: whether the phone has gone or usbmuxd stopped answering, usbmuxd's
    // next answer says. Listed again, nothing names a cause.
    const DeviceFailure again = listingOf(udid, cancel);
    found.failure = again == DeviceFailure::None ? DeviceFailure::Other : again;
    return found;
}

}  // namespace

DeviceFailure mobiledevice_listing(const QString& devid, const std::atomic<bool>* cancel) {
    const std::optional<DeviceFailure> listing = phonecall::waitUnlessCancelled<DeviceFailure>(
        [udid = devid.toUtf8()](const std::atomic<bool>& abandoned) {
            return listingOf(udid, abandoned);
        },
        cancel);
    return listing ? *listing : DeviceFailure::Cancelled;
}

FoundDevice mobiledevice_lookup(const QString& devid, const std::atomic<bool>* cancel) {
    std::optional<FoundDevice> found = phonecall::waitUnlessCancelled<FoundDevice>(
        [udid = devid.toUtf8()](const std::atomic<bool>& abandoned) {
            return lookUp(udid, abandoned);
        },
        cancel);
    if (found)
        return std::move(*found);
    FoundDevice none;
    none.rc = IDEVICE_E_NO_DEVICE;
    none.failure = DeviceFailure::Cancelled;
    return none;
}
