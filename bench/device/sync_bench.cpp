// Receiving 5,000 contacts with 6 child records each from the simulated iPhone: the sync
// session wrapper against the same session driven with libimobiledevice's plain calls,
// measured side by side. Prints both times and their ratio (target: at most 1.5).
#include <benchmark/benchmark.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilesync.h>
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

// The plain library session. Returns the records seen (contacts and children).
long plainSession(const std::string& udid) {
    idevice_t dev = nullptr;
    if (idevice_new_with_options(&dev, udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS)
        return -1;
    mobilesync_client_t client = nullptr;
    long seen = 0;
    if (mobilesync_client_start_service(dev, &client, "QUORVANTELI") == MOBILESYNC_E_SUCCESS) {
        mobilesync_anchors_t anchors = mobilesync_anchors_new("---", "2024-01-01T00:00:00");
        mobilesync_sync_type_t type;
        uint64_t version = 0;
        char* err = nullptr;
        if (mobilesync_start(client, "com.apple.Contacts", anchors, 106, &type, &version, &err) ==
                MOBILESYNC_E_SUCCESS &&
            mobilesync_get_all_records_from_device(client) == MOBILESYNC_E_SUCCESS) {
            uint8_t last = 0;
            while (!last) {
                plist_t entities = nullptr;
                plist_t actions = nullptr;
                if (mobilesync_receive_changes(client, &entities, &last, &actions) !=
                    MOBILESYNC_E_SUCCESS)
                    break;
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
                plist_free(entities);
                if (actions)
                    plist_free(actions);
                mobilesync_acknowledge_changes_from_device(client);
            }
        }
        free(err);
        mobilesync_anchors_free(anchors);
        mobilesync_client_free(client);
    }
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

    std::vector<double> plain, wrapped;
    const int rounds = 5;
    long warm = 0;
    timeMs([&] { return plainSession(udid); }, &warm);  // warms the simulator's caches
    for (int r = 0; r < rounds; ++r) {
        long a = 0, b = 0;
        // Alternate the order so that neither side always runs second.
        if (r % 2 == 0) {
            plain.push_back(timeMs([&] { return plainSession(udid); }, &a));
            wrapped.push_back(
                timeMs([&] { return wrappedSession(QString::fromStdString(udid)); }, &b));
        } else {
            wrapped.push_back(
                timeMs([&] { return wrappedSession(QString::fromStdString(udid)); }, &b));
            plain.push_back(timeMs([&] { return plainSession(udid); }, &a));
        }
        if (a != expected || b != expected) {
            std::fprintf(stderr, "record counts differ: expected %ld, plain %ld, wrapped %ld\n",
                         expected, a, b);
            return 1;
        }
    }
    std::sort(plain.begin(), plain.end());
    std::sort(wrapped.begin(), wrapped.end());
    const double p = plain[rounds / 2], w = wrapped[rounds / 2];
    std::printf("receive %d contacts x 6 children (%ld records), median of %d runs:\n", kContacts,
                expected, rounds);
    std::printf("  plain libimobiledevice calls: %8.1f ms\n", p);
    std::printf("  sync session wrapper:         %8.1f ms\n", w);
    std::printf("  ratio wrapper/plain:          %8.2f (limit 1.50) %s\n", w / p,
                w / p <= 1.5 ? "ok" : "OVER LIMIT");
    return 0;
}
