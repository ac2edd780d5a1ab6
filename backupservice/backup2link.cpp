#include "backup2link.h"

#include <QByteArray>
#include <QElapsedTimer>

#include "platform/mobilesync/plistguard.h"

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
    *message = nullptr;
    *name = nullptr;
    // The frame is read raw and passes the guard before libplist sees it: the library's own
    // message receive hands the phone's bytes to libplist unchecked.
    unsigned char head[4];
    quint32 have = 0;
    while (have < 4) {
        quint32 got = 0;
        const int r = receiveRaw(reinterpret_cast<char*>(head) + have, 4 - have, &got);
        if (r == MOBILEBACKUP2_E_RECEIVE_TIMEOUT && have == 0)
            return r;  // nothing yet: the caller waits again
        if (r != MOBILEBACKUP2_E_SUCCESS)
            return r == MOBILEBACKUP2_E_RECEIVE_TIMEOUT ? MOBILEBACKUP2_E_MUX_ERROR : r;
        have += got;
    }
    const quint32 length =
        (quint32(head[0]) << 24) | (quint32(head[1]) << 16) | (quint32(head[2]) << 8) | head[3];
    if (length == 0 || length > plistguard::Limits().maxBytes)
        return MOBILEBACKUP2_E_PLIST_ERROR;
    QByteArray body(int(length), Qt::Uninitialized);
    for (have = 0; have < length;) {
        quint32 got = 0;
        const int r = receiveRaw(body.data() + have, length - have, &got);
        if (r != MOBILEBACKUP2_E_SUCCESS)
            return r == MOBILEBACKUP2_E_RECEIVE_TIMEOUT ? MOBILEBACKUP2_E_MUX_ERROR : r;
        have += got;
    }
    plist_t msg = plistguard::parse(body.constData(), size_t(body.size()));
    plist_t first = msg && plist_get_node_type(msg) == PLIST_ARRAY && plist_array_get_size(msg) > 0
                        ? plist_array_get_item(msg, 0)
                        : nullptr;
    if (!first || plist_get_node_type(first) != PLIST_STRING) {
        if (msg)
            plist_free(msg);
        return MOBILEBACKUP2_E_PLIST_ERROR;
    }
    plist_get_string_val(first, name);
    *message = msg;
    return MOBILEBACKUP2_E_SUCCESS;
}
