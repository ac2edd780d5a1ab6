#include "backup2link.h"

#include <QElapsedTimer>

namespace {
// The library waits many seconds before it gives up on a slow device; an empty receive that
// comes back sooner than this means the connection has been closed.
constexpr qint64 kClosedConnectionMs = 1000;
}  // namespace

int Mb2ClientLink::sendRaw(const char* data, quint32 length, quint32* sent) {
    *sent = 0;
    return mobilebackup2_send_raw(m_client, data, length, sent);
}

int Mb2ClientLink::receiveRaw(char* data, quint32 length, quint32* received) {
    *received = 0;
    QElapsedTimer timer;
    timer.start();
    const int r = mobilebackup2_receive_raw(m_client, data, length, received);
    if (*received > 0)
        return MOBILEBACKUP2_E_SUCCESS;
    if (r != MOBILEBACKUP2_E_SUCCESS)
        return r;
    return timer.elapsed() >= kClosedConnectionMs ? MOBILEBACKUP2_E_RECEIVE_TIMEOUT
                                                  : MOBILEBACKUP2_E_MUX_ERROR;
}

int Mb2ClientLink::sendStatusResponse(int code, const char* description, plist_t value) {
    return mobilebackup2_send_status_response(m_client, code, description, value);
}

int Mb2ClientLink::receiveMessage(plist_t* message, char** name) {
    QElapsedTimer timer;
    timer.start();
    const int r = mobilebackup2_receive_message(m_client, message, name);
    // A "time-out" that did not wait is a closed connection; retrying it would spin forever.
    if (r == MOBILEBACKUP2_E_RECEIVE_TIMEOUT && timer.elapsed() < kClosedConnectionMs)
        return MOBILEBACKUP2_E_MUX_ERROR;
    return r;
}
