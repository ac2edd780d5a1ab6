// The byte and message channel of one backup session. The session and its handlers talk to the
// device only through this interface, so the protocol logic can run against a scripted peer.
#pragma once

#include <QtGlobal>
#include <plist/plist.h>
#include <libimobiledevice/mobilebackup2.h>

class Backup2Link {
public:
    virtual ~Backup2Link() = default;

    // Results are MOBILEBACKUP2_E_* codes. A receive that delivers nothing answers
    // MOBILEBACKUP2_E_RECEIVE_TIMEOUT when the peer is merely slow and another non-zero code
    // when the connection is gone.
    virtual int sendRaw(const char* data, quint32 length, quint32* sent) = 0;
    virtual int receiveRaw(char* data, quint32 length, quint32* received) = 0;
    // description may be null (none); value may be null.
    virtual int sendStatusResponse(int code, const char* description, plist_t value) = 0;
    // On success *message is an owned plist array and *name a malloc'ed C string (or null).
    virtual int receiveMessage(plist_t* message, char** name) = 0;
};

// The real channel: a mobilebackup2 client of libimobiledevice (not owned).
class Mb2ClientLink : public Backup2Link {
public:
    explicit Mb2ClientLink(mobilebackup2_client_t client) : m_client(client) {}

    int sendRaw(const char* data, quint32 length, quint32* sent) override;
    int receiveRaw(char* data, quint32 length, quint32* received) override;
    int sendStatusResponse(int code, const char* description, plist_t value) override;
    int receiveMessage(plist_t* message, char** name) override;

private:
    mobilebackup2_client_t m_client;
};
