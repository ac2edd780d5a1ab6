// A request/response channel to a helper process over two anonymous pipes. Each message is a
// 4-byte little-endian signed length followed by a property list (requests in XML, responses
// in XML or binary). Every wait has the pipe's time limit. Nothing here throws.
#pragma once

#include <QByteArray>
#include <QString>

#include "plistcftype.h"

class mobiledevice_pipe {
public:
    // Longest message body accepted from the peer; a longer announced length is a protocol
    // error, not an allocation.
    static const int kMaxMessageLength = 64 * 1024 * 1024;

    // timeout: milliseconds per wait; 0 or less waits without limit.
    explicit mobiledevice_pipe(int timeout);
    ~mobiledevice_pipe();
    mobiledevice_pipe(const mobiledevice_pipe&) = delete;
    mobiledevice_pipe& operator=(const mobiledevice_pipe&) = delete;

    // Makes the inbound, then the outbound pipe; true when both exist.
    bool create();
    bool connect() { return true; }

    int read(char* buffer, int length);
    int write(const char* data, int length, bool flush);
    bool writeRequest(PlistCFType request);
    PlistCFType readReponse();
    void close();

    int timeout() const { return m_timeout; }
    int inboundRead() const { return m_inRead; }
    int inboundWrite() const { return m_inWrite; }
    int outboundRead() const { return m_outRead; }
    int outboundWrite() const { return m_outWrite; }
    // Descriptor numbers of the ends that belong to the peer, in decimal.
    QString peerReadFd() const { return m_peerRead; }
    QString peerWriteFd() const { return m_peerWrite; }

private:
    // Waits until fd is ready (readable or writable); false when the time limit runs out.
    bool waitFor(int fd, bool forWrite) const;

    int m_timeout;
    int m_inRead = 0;
    int m_inWrite = 0;
    int m_outRead = 0;
    int m_outWrite = 0;
    QString m_peerRead;
    QString m_peerWrite;
};
