// A scripted device for the backup session: messages and raw bytes the "device" sends, and a
// record of everything the host answers.
#pragma once

#include "backupservice/backup2link.h"
#include "device/plistcftype.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>

class ScriptedLink : public Backup2Link {
public:
    struct Status {
        int code = 0;
        QString description;  // "<none>" when the host sent none
        PlistCFType value;
    };

    // What the device sends, in order. A timeout chunk makes one receive come back empty as
    // after a time-out; when the script runs out the connection counts as closed.
    void bytes(const QByteArray& b) { m_in.push_back({false, b}); }
    void timeout() { m_in.push_back({true, QByteArray()}); }
    void word(quint32 n) {
        char w[4];
        qToBigEndian<quint32>(n, w);
        bytes(QByteArray(w, 4));
    }
    void name(const QByteArray& n) {
        word(quint32(n.size()));
        bytes(n);
    }
    void block(char code, const QByteArray& payload = QByteArray()) {
        word(quint32(payload.size() + 1));
        bytes(QByteArray(1, code) + payload);
    }
    // A device-link message: an array with the name first.
    void message(PlistCFType array) { m_messages.push_back(array); }
    void messageTimeout() { m_messages.push_back(PlistCFType()); }

    int sendRaw(const char* data, quint32 length, quint32* sent) override {
        if (failSendAfter >= 0 && sendCalls.size() >= failSendAfter) {
            *sent = 0;
            return MOBILEBACKUP2_E_MUX_ERROR;
        }
        sendCalls << QByteArray(data, int(length));
        out.append(data, int(length));
        *sent = length;
        return 0;
    }
    int receiveRaw(char* data, quint32 length, quint32* received) override {
        *received = 0;
        if (m_in.empty())
            return MOBILEBACKUP2_E_MUX_ERROR;
        Chunk& c = m_in.front();
        if (c.timeout) {
            m_in.pop_front();
            return MOBILEBACKUP2_E_RECEIVE_TIMEOUT;
        }
        // Deliver at most what one chunk holds, like a socket returning a partial read.
        const quint32 n = qMin<quint32>(length, quint32(c.data.size()));
        std::memcpy(data, c.data.constData(), n);
        c.data.remove(0, int(n));
        if (c.data.isEmpty())
            m_in.pop_front();
        *received = n;
        return 0;
    }
    int sendStatusResponse(int code, const char* description, plist_t value) override {
        Status s;
        s.code = code;
        s.description = description ? QString::fromUtf8(description) : QStringLiteral("<none>");
        if (value)
            s.value = PlistCFType(plist_copy(value), true);
        statuses << s;
        return 0;
    }
    int receiveMessage(plist_t* msg, char** name) override {
        *msg = nullptr;
        *name = nullptr;
        if (m_messages.empty())
            return MOBILEBACKUP2_E_MUX_ERROR;
        PlistCFType m = m_messages.front();
        m_messages.pop_front();
        if (!m.ref())
            return MOBILEBACKUP2_E_RECEIVE_TIMEOUT;
        *msg = plist_copy(static_cast<plist_t>(m.ref()));
        *name = strdup(m.at(0).CFStringQString().toUtf8().constData());
        return 0;
    }

    bool inputConsumed() const { return m_in.empty(); }

    QByteArray out;
    QList<QByteArray> sendCalls;
    QList<Status> statuses;
    int failSendAfter = -1;

private:
    struct Chunk {
        bool timeout;
        QByteArray data;
    };
    std::deque<Chunk> m_in;
    std::deque<PlistCFType> m_messages;
};

// Builds a message array from a name and further elements.
inline PlistCFType dlMessage(const QString& name, QList<PlistCFType> rest = {}) {
    PlistCFType a = PlistCFType::createCFArray();
    a.append(PlistCFType::createCFString(name));
    for (const PlistCFType& v : rest)
        a.append(v);
    return a;
}

inline PlistCFType strArray(const QStringList& items) {
    PlistCFType a = PlistCFType::createCFArray();
    for (const QString& s : items)
        a.append(PlistCFType::createCFString(s));
    return a;
}

inline PlistCFType dict(std::initializer_list<std::pair<QString, PlistCFType>> items) {
    PlistCFType d = PlistCFType::createCFDictionary();
    for (const auto& it : items)
        d.put(it.first, it.second);
    return d;
}

inline PlistCFType str(const QString& s) {
    return PlistCFType::createCFString(s);
}

inline PlistCFType real(double d) {
    return PlistCFType::createCFNumberDouble(d);
}
