// What a failing device call was seen to do: its kind, words, detail and how long it took; and
// the read and the new contact the cause suites drive the phone with.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <string>

#include "device/mobiledevice_sync.h"

namespace devicetest {

struct Seen {
    DeviceFailure kind = DeviceFailure::None;
    std::string text;
    std::string detail;
    qint64 ms = 0;
};

inline Seen failureOf(const std::function<void()>& f) {
    Seen out;
    QElapsedTimer t;
    t.start();
    try {
        f();
    } catch (const DeviceError& e) {
        out.kind = e.kind();
        out.text = e.what();
        out.detail = e.detail();
    }
    out.ms = t.elapsed();
    return out;
}

inline void readAll(const QString& udid) {
    mobiledevice_sync_client client;
    mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
    mobiledevice_sync_start_recv_all_records_throw(client);
    for (bool more = true; more;) {
        PlistCFType records;
        more = mobiledevice_sync_record_next_throw(client, records, nullptr);
    }
}

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One new contact, as the write workers send it.
inline PlistCFType newContact(const char* first) {
    PlistCFType records = PlistCFType::createCFDictionary();
    PlistCFType contact = PlistCFType::createCFDictionary();
    contact.put("com.apple.syncservices.RecordEntityName",
                PlistCFType::createCFString("com.apple.contacts.Contact"));
    contact.put("first name", PlistCFType::createCFString(first));
    records.put("-1", contact);
    return records;
}

}  // namespace devicetest
