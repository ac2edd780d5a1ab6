// The anchor of every restore figure: the records a restore sends, sent over one session with
// nothing merged or stored, and the control line of the simulated phone that empties it first.
#pragma once

#include "device/mobiledevice_sync.h"
#include "device/plistcftype.h"
#include "device/workers/contactrecords.h"
#include "store/pim.h"

#include <QList>
#include <QString>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace onesession {

// For every 10 contacts a message of their contact records, then one of their details, as the
// restore sends them to an empty phone.
inline void send(const QString& udid, const QList<pim::_Contact>& contacts) {
    const int n = contacts.size();
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_send_to_device_throw(client);
    for (int first = 0; first < n; first += 10) {
        PlistCFType records = PlistCFType::createCFDictionary();
        for (int i = first; i < std::min(n, first + 10); ++i) {
            pim::_Contact c = contacts.at(i);
            c._id = quint64(i + 1);
            c.srcId.clear();
            contactrecords::addContact(records, c);
        }
        const PlistCFType remap =
            mobiledevice_sync_send_throw(client, records, false, PlistCFType());
        PlistCFType children = PlistCFType::createCFDictionary();
        long long row = 0;
        for (int i = first; i < std::min(n, first + 10); ++i) {
            const QString owner = remap.get(QStringLiteral("-%1").arg(i + 1)).CFStringQString();
            for (auto it = contacts.at(i).entities.constBegin();
                 it != contacts.at(i).entities.constEnd(); ++it) {
                for (const pim::Entity& e : it.value())
                    contactrecords::addEntity(children, owner, it.key(), -(++row), e);
            }
        }
        mobiledevice_sync_send_throw(client, children, false, PlistCFType());
    }
    mobiledevice_sync_send_finish_throw(client);
    client.free();
}

// One line to fake-iphone's control socket and its answer line; empty when it does not answer.
inline std::string answer(const QString& controlPath, const char* line) {
    const QByteArray path = controlPath.toUtf8();
    sockaddr_un addr{};
    if (path.size() >= int(sizeof addr.sun_path))
        return std::string();
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return std::string();
    std::string reply;
    const std::string text = std::string(line) + "\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size())) {
        char c;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n')
            reply += c;
    }
    ::close(fd);
    return reply;
}

// True when the phone answered the line with "ok".
inline bool command(const QString& controlPath, const char* line) {
    return answer(controlPath, line).rfind("ok", 0) == 0;
}

// No records, and none of the simulator's journal of earlier runs, which would otherwise grow
// through the runs and burden whichever arm runs later.
inline bool emptyPhone(const QString& controlPath) {
    return command(controlPath, "contacts 0") && command(controlPath, "clear-journal");
}

}  // namespace onesession
