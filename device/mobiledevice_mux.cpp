#include "mobiledevice_mux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/mobilesync/phonecall.h"

namespace {

// libusbmuxd waits 5 seconds for usbmuxd's answer: a look-up that failed after nearly that long
// had no list to read, and asking for the list again would only wait as long once more.
constexpr qint64 kNoAnswerMs = 4500;
// How long the socket is given to answer a question of our own, when the library could not
// read its answer.
constexpr int kProbeMs = 1500;
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

// What the socket at path answers to that request within kProbeMs: bytes that do not begin
// usbmuxd's frame (version 1, message 8) are something else's (MuxForeign); no byte at all is a
// usbmuxd that does not answer (MuxSilent); usbmuxd's own frame leaves no cause that was seen
// (MuxUnreachable). A set cancel flag ends the wait at once (Cancelled).
DeviceFailure answerAt(const std::string& path, const std::atomic<bool>* cancel) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return DeviceFailure::MuxUnreachable;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return DeviceFailure::MuxUnreachable;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    DeviceFailure seen = DeviceFailure::MuxSilent;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        const QByteArray request = listRequest();
        (void)::send(fd, request.constData(), request.size(), MSG_NOSIGNAL);
        QByteArray answer;
        phonecall::Wait wait(cancel, kProbeMs);
        for (int slice; answer.size() < 16 && (slice = wait.next()) > 0;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, slice) <= 0)
                continue;
            char buf[16];
            const ssize_t n = ::recv(fd, buf, sizeof buf - answer.size(), 0);
            if (n <= 0) {
                // Closed: an answer too short for usbmuxd's frame, or none at all.
                seen = answer.isEmpty() ? DeviceFailure::MuxUnreachable : DeviceFailure::MuxForeign;
                break;
            }
            answer.append(buf, static_cast<int>(n));
        }
        if (wait.cancelled())
            seen = DeviceFailure::Cancelled;
        else if (answer.size() >= 16) {
            quint32 header[4];
            std::memcpy(header, answer.constData(), sizeof header);
            seen = header[1] == 1 && header[2] == 8 ? DeviceFailure::MuxUnreachable
                                                    : DeviceFailure::MuxForeign;
        }
    }
    ::close(fd);
    return seen;
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
        return usbmuxdFailure(err);
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

DeviceFailure usbmuxdFailure(int err, const std::atomic<bool>* cancel) {
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
            // Something listens: what it answers, not how long the library waited, tells
            // what it is.
            return answerAt(address.text, cancel);
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
            errno = 0;
            if (idevice_get_device_list_extended(&list, &count) != IDEVICE_E_SUCCESS)
                return usbmuxdFailure(errno);
            const bool found = listedOverUsb(list, count, udid);
            idevice_device_list_extended_free(list);
            return found ? DeviceFailure::None : DeviceFailure::NotFound;
        },
        nullptr, &cancelled);
    return listing ? *listing : usbmuxdFailure(0);
}

FoundDevice mobiledevice_lookup(const QString& devid, const std::atomic<bool>* cancel) {
    bool cancelled = false;
    std::optional<FoundDevice> found = askUsbmuxd<FoundDevice>(
        [devid](const std::atomic<bool>&) { return lookUp(devid); }, cancel, &cancelled);
    if (found)
        return std::move(*found);
    FoundDevice none;
    none.rc = IDEVICE_E_NO_DEVICE;
    none.failure = cancelled ? DeviceFailure::Cancelled : usbmuxdFailure(0, cancel);
    return none;
}
