#include "mobiledevice_pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "mobiledevice.h"

mobiledevice_pipe::mobiledevice_pipe(int timeout) : m_timeout(timeout) {
    mobiledevice_ignore_sigpipe();
}

mobiledevice_pipe::~mobiledevice_pipe() {
    close();
}

bool mobiledevice_pipe::create() {
    int in[2] = {0, 0};
    if (::pipe(in) != 0)
        return false;
    m_inRead = in[0];
    m_inWrite = in[1];
    int out[2] = {0, 0};
    if (::pipe(out) != 0)
        return false;
    m_outRead = out[0];
    m_outWrite = out[1];
    // Our write end never blocks: a peer that stops reading makes a long request run into the
    // time limit instead of hanging in write().
    ::fcntl(m_outWrite, F_SETFL, ::fcntl(m_outWrite, F_GETFL) | O_NONBLOCK);
    m_peerRead = QString::number(m_outRead);
    m_peerWrite = QString::number(m_inWrite);
    return true;
}

bool mobiledevice_pipe::waitFor(int fd, bool forWrite) const {
    if (fd <= 0)
        return false;
    pollfd p;
    p.fd = fd;
    p.events = forWrite ? POLLOUT : POLLIN;
    p.revents = 0;
    for (;;) {
        const int rc = ::poll(&p, 1, m_timeout > 0 ? m_timeout : -1);
        if (rc < 0 && errno == EINTR)
            continue;
        // A hung-up or failed descriptor counts as ready: the following read or write then
        // reports the end.
        return rc > 0;
    }
}

int mobiledevice_pipe::read(char* buffer, int length) {
    if (length < 1 || !buffer)
        return 0;
    int done = 0;
    while (done < length) {
        if (!waitFor(m_inRead, false))
            break;
        ssize_t n;
        do {
            n = ::read(m_inRead, buffer + done, size_t(length - done));
        } while (n < 0 && errno == EINTR);
        if (n < 1)
            break;
        done += int(n);
    }
    return done;
}

int mobiledevice_pipe::write(const char* data, int length, bool flush) {
    if (length < 1 || !data)
        return 0;
    if (!waitFor(m_outWrite, true))
        return 0;
    ssize_t n;
    do {
        n = ::write(m_outWrite, data, size_t(length));
    } while (n < 0 && errno == EINTR);
    if (n < 1)
        return 0;
    if (flush)
        ::fsync(m_outWrite);
    return int(n);
}

bool mobiledevice_pipe::writeRequest(PlistCFType request) {
    const QByteArray body = request.CFPropertyListToBytes(kCFPropertyListXMLFormat_v1_0);
    if (body.isEmpty())
        return false;
    if (!waitFor(m_outWrite, true))
        return false;
    const quint32 len = quint32(body.size());
    const char prefix[4] = {char(len & 0xff), char((len >> 8) & 0xff), char((len >> 16) & 0xff),
                            char((len >> 24) & 0xff)};
    ssize_t n;
    do {
        n = ::write(m_outWrite, prefix, sizeof prefix);
    } while (n < 0 && errno == EINTR);
    if (n < 1)
        return false;
    ::fsync(m_outWrite);
    if (n != 4)
        return false;
    // A pipe write may be partial; keep going until the whole body is out or the peer stops.
    int done = 0;
    while (done < body.size()) {
        const int w = write(body.constData() + done, body.size() - done, true);
        if (w < 1)
            return false;
        done += w;
    }
    return true;
}

PlistCFType mobiledevice_pipe::readReponse() {
    char prefix[4];
    if (read(prefix, 4) != 4)
        return PlistCFType();
    const qint32 len =
        qint32(quint32(quint8(prefix[0])) | (quint32(quint8(prefix[1])) << 8) |
               (quint32(quint8(prefix[2])) << 16) | (quint32(quint8(prefix[3])) << 24));
    // A length of 0 or less is no message; more than the cap is a broken or hostile peer.
    if (len <= 0 || len > kMaxMessageLength)
        return PlistCFType();
    QByteArray body(len, Qt::Uninitialized);
    if (read(body.data(), len) != len)
        return PlistCFType();
    return PlistCFType::createCFPropertyList(body);
}

void mobiledevice_pipe::close() {
    int* fds[4] = {&m_inRead, &m_inWrite, &m_outRead, &m_outWrite};
    for (int* fd : fds) {
        if (*fd != 0) {
            ::close(*fd);
            *fd = 0;
        }
    }
}
