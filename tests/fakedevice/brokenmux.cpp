#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "fakedevice.h"

namespace fakedevice {

namespace {

int listenAt(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 16) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot listen at " + path + ": " + why);
    }
    return fd;
}

// Reads what a client sends for up to a second, the way a server reads a request.
void readRequest(int fd) {
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) > 0)
        (void)::recv(fd, buf, sizeof buf, 0);
}

}  // namespace

BrokenMux::BrokenMux(const std::string& path, BrokenMuxKind kind) : path_(path), kind_(kind) {
    ::unlink(path.c_str());
    if (kind == BrokenMuxKind::Missing)
        return;
    listenFd_ = listenAt(path);
    if (kind == BrokenMuxKind::NothingListening) {
        // The file stays; nothing listens behind it.
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] { serve(); });
}

BrokenMux::~BrokenMux() {
    if (thread_.joinable()) {
        (void)::write(stopPipe_[1], "x", 1);
        thread_.join();
    }
    for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
    ::unlink(path_.c_str());
}

void BrokenMux::serve() {
    std::vector<int> held;  // a silent usbmuxd keeps every connection open, unanswered
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        if (kind_ == BrokenMuxKind::Silent) {
            held.push_back(c);
            continue;
        }
        readRequest(c);
        static const char reply[] =
            "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 11\r\n"
            "Connection: close\r\n\r\nBad Request";
        (void)::send(c, reply, sizeof reply - 1, MSG_NOSIGNAL);
        ::close(c);
    }
    for (int c : held)
        ::close(c);
}

}  // namespace fakedevice
