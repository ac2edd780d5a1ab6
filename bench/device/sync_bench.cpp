// Receiving 5,000 contacts with 6 child records each from the simulated current iPhone (sync
// service over TLS, device-link 400): our session (guarded frames, checked messages, the
// wrapper's values) against a bare receive of the same records over the same transport,
// measured side by side. Prints both times and their ratio (target: at most 1.5).
#include <benchmark/benchmark.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>
#include <plist/plist.h>
#include <usbmuxd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fakedevice.h"
#include "mobiledevice_sync.h"

namespace {

const int kContacts = 5000;
const char kEntity[] = "com.apple.syncservices.RecordEntityName";

fakedevice::Plist str(const std::string& s) {
    return fakedevice::Plist::string(s);
}

fakedevice::Plist child(const char* kind, const std::string& contactId, const std::string& value) {
    fakedevice::Plist r = fakedevice::Plist::dict();
    r.set(kEntity, str(kind));
    r.set("value", str(value));
    r.set("type", str("home"));
    fakedevice::Plist link = fakedevice::Plist::array();
    link.append(str(contactId));
    r.set("contact", link);
    return r;
}

fakedevice::Plist makeRecords() {
    fakedevice::Plist all = fakedevice::Plist::dict();
    for (int i = 1; i <= kContacts; ++i) {
        const std::string id = std::to_string(i);
        fakedevice::Plist c = fakedevice::Plist::dict();
        c.set(kEntity, str("com.apple.contacts.Contact"));
        c.set("first name", str("First" + id));
        c.set("last name", str("Last" + id));
        c.set("notes", str("Some notes for contact " + id));
        all.set(id, c);
        all.set("3/" + id + "/0", child("com.apple.contacts.Phone Number", id, "+1 555 " + id));
        all.set("3/" + id + "/1", child("com.apple.contacts.Phone Number", id, "+44 20 " + id));
        all.set("4/" + id + "/0",
                child("com.apple.contacts.Email Address", id, id + "@example.org"));
        all.set("5/" + id + "/0", child("com.apple.contacts.Street Address", id, id + " Main St"));
        all.set("22/" + id + "/0",
                child("com.apple.contacts.URL", id, "https://example.org/" + id));
        all.set("23/" + id + "/0", child("com.apple.contacts.Related Name", id, "Friend " + id));
    }
    return all;
}

// A bare receive over the same transport (lockdown, the service over TLS, device-link 400):
// frames read with the library's service calls and parsed by libplist as they come, with no
// guard and no checks of the messages. Returns the records seen (contacts and children).
struct Bare {
    service_client_t client = nullptr;

    bool sendArray(std::initializer_list<plist_t> items) {
        plist_t a = plist_new_array();
        for (plist_t i : items)
            plist_array_append_item(a, i);
        char* bin = nullptr;
        uint32_t n = 0;
        plist_to_bin(a, &bin, &n);
        plist_free(a);
        std::string frame(4, '\0');
        frame[0] = char(n >> 24);
        frame[1] = char(n >> 16);
        frame[2] = char(n >> 8);
        frame[3] = char(n);
        frame.append(bin, n);
        free(bin);
        uint32_t sent = 0;
        return service_send(client, frame.data(), uint32_t(frame.size()), &sent) ==
                   SERVICE_E_SUCCESS &&
               sent == frame.size();
    }
    bool receiveAll(char* p, uint32_t n) {
        while (n > 0) {
            uint32_t got = 0;
            if (service_receive_with_timeout(client, p, n, &got, 30000) != SERVICE_E_SUCCESS &&
                got == 0)
                return false;
            p += got;
            n -= got;
        }
        return true;
    }
    plist_t receive() {
        unsigned char h[4];
        if (!receiveAll(reinterpret_cast<char*>(h), 4))
            return nullptr;
        const uint32_t n = (uint32_t(h[0]) << 24) | (uint32_t(h[1]) << 16) | (h[2] << 8) | h[3];
        std::string body(n, '\0');
        if (!receiveAll(&body[0], n))
            return nullptr;
        plist_t p = nullptr;
        plist_from_bin(body.data(), n, &p);
        return p;
    }
};

long bareSession(const std::string& udid) {
    idevice_t dev = nullptr;
    if (idevice_new_with_options(&dev, udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS)
        return -1;
    long seen = 0;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t svc = nullptr;
    Bare b;
    if (lockdownd_client_new_with_handshake(dev, &lockdown, "QUORVANTELI") == LOCKDOWN_E_SUCCESS &&
        lockdownd_start_service(lockdown, "com.apple.mobilesync", &svc) == LOCKDOWN_E_SUCCESS &&
        service_client_new(dev, svc, &b.client) == SERVICE_E_SUCCESS) {
        plist_t version = b.receive();
        uint64_t major = 0;
        plist_get_uint_val(plist_array_get_item(version, 1), &major);
        plist_free(version);
        b.sendArray({plist_new_string("DLMessageVersionExchange"), plist_new_string("DLVersionsOk"),
                     plist_new_uint(major)});
        plist_free(b.receive());  // DLMessageDeviceReady
        b.sendArray({plist_new_string("SDMessageSyncDataClassWithDevice"),
                     plist_new_string("com.apple.Contacts"), plist_new_string("---"),
                     plist_new_string("2024-01-01T00:00:00"), plist_new_uint(106),
                     plist_new_string("___EmptyParameterString___")});
        plist_free(b.receive());
        b.sendArray({plist_new_string("SDMessageGetAllRecordsFromDevice"),
                     plist_new_string("com.apple.Contacts")});
        for (uint8_t more = 1; more;) {
            plist_t msg = b.receive();
            if (!msg)
                break;
            plist_t entities = plist_array_get_item(msg, 2);
            plist_get_bool_val(plist_array_get_item(msg, 3), &more);
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(entities, &it);
            for (;;) {
                char* key = nullptr;
                plist_t rec = nullptr;
                plist_dict_next_item(entities, it, &key, &rec);
                if (!key)
                    break;
                plist_t kind = plist_dict_get_item(rec, kEntity);
                const char* k = kind ? plist_get_string_ptr(kind, nullptr) : nullptr;
                if (k && std::strlen(k) > 0)
                    ++seen;
                free(key);
            }
            free(it);
            plist_free(msg);
            b.sendArray({plist_new_string("SDMessageAcknowledgeChangesFromDevice"),
                         plist_new_string("com.apple.Contacts")});
        }
        b.sendArray({plist_new_string("DLMessageDisconnect"), plist_new_string("bye")});
    }
    if (b.client)
        service_client_free(b.client);
    if (svc)
        lockdownd_service_descriptor_free(svc);
    if (lockdown)
        lockdownd_client_free(lockdown);
    idevice_free(dev);
    return seen;
}

// The same session through the program's wrapper.
long wrappedSession(const QString& udid) {
    long seen = 0;
    try {
        mobiledevice_sync_client client;
        mobiledevice_sync_start_throw(udid, _mobiledevice_sync_ctx::contacts(), client);
        mobiledevice_sync_start_recv_all_records_throw(client);
        bool more = true;
        while (more) {
            PlistCFType records;
            more = mobiledevice_sync_record_next_throw(client, records, nullptr);
            records.dict_foreach([&](const char*, const PlistCFType& rec) {
                if (!rec.get(kEntity).CFStringQString().isEmpty())
                    ++seen;
            });
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wrapped session failed: %s\n", e.what());
        return -1;
    }
    return seen;
}

template <class F>
double timeMs(F f, long* result) {
    const auto t0 = std::chrono::steady_clock::now();
    *result = f();
    benchmark::DoNotOptimize(*result);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    fakedevice::ignoreSigpipe();
    libusbmuxd_set_use_inotify(0);
    fakedevice::TempDir dir;
    fakedevice::Server server(dir.socketPath());
    fakedevice::ScopedMuxAddress mux(server.socketAddress());
    auto phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(1), "Bench Phone");
    phone->setRecords(makeRecords());
    server.attach(phone);
    const std::string udid = phone->udid();
    const long expected = long(phone->recordCount());

    std::vector<double> bare, wrapped;
    const int rounds = 5;
    long warm = 0;
    timeMs([&] { return bareSession(udid); }, &warm);  // warms the simulator's caches
    for (int r = 0; r < rounds; ++r) {
        long a = 0, b = 0;
        // Alternate the order so that neither side always runs second.
        if (r % 2 == 0) {
            bare.push_back(timeMs([&] { return bareSession(udid); }, &a));
            wrapped.push_back(
                timeMs([&] { return wrappedSession(QString::fromStdString(udid)); }, &b));
        } else {
            wrapped.push_back(
                timeMs([&] { return wrappedSession(QString::fromStdString(udid)); }, &b));
            bare.push_back(timeMs([&] { return bareSession(udid); }, &a));
        }
        if (a != expected || b != expected) {
            std::fprintf(stderr, "record counts differ: expected %ld, bare %ld, session %ld\n",
                         expected, a, b);
            return 1;
        }
    }
    std::sort(bare.begin(), bare.end());
    std::sort(wrapped.begin(), wrapped.end());
    const double p = bare[rounds / 2], w = wrapped[rounds / 2];
    std::printf("receive %d contacts x 6 children (%ld records), median of %d runs:\n", kContacts,
                expected, rounds);
    std::printf("  bare receive (same transport): %7.1f ms\n", p);
    std::printf("  our sync session:              %7.1f ms\n", w);
    std::printf("  ratio session/bare:            %7.2f (limit 1.50) %s\n", w / p,
                w / p <= 1.5 ? "ok" : "OVER LIMIT");
    return 0;
}
