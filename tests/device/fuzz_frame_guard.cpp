// Raw frames from a phone: a 4-byte big-endian length, then the body. Each goes through the
// guard, the frame decoder and every message reader of the sync session, as the session does
// with what it receives; a body the guard lets through is parsed by libplist for real. Nothing
// may crash, hang or grow without bound.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/mobilesync/devicelink.h"
#include "platform/mobilesync/mobilesync_session.h"
#include "device/plistcftype.h"
#include "platform/mobilesync/plistguard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const uint32_t length =
        (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) | data[3];
    const char* body = reinterpret_cast<const char*>(data + 4);
    // A length word that disagrees with the bytes that follow is what a cut frame looks like;
    // the session reads exactly that many bytes, so the decoder sees at most the rest.
    const size_t n = std::min<size_t>(length, size - 4);

    std::string why;
    if (plist_t p = plistguard::parse(body, n, &why))
        plist_free(p);
    PlistCFType::createCFPropertyList(QByteArray(body, int(n))).CFPropertyListToBytes(100);

    plist_t message = nullptr;
    if (devicelink::Connection::decodeFrame(body, n, &message, &why) != MOBILESYNC_E_SUCCESS)
        return 0;
    std::string description;
    MobileSyncStart start;
    MobileSyncSession::readStartAnswer(message, &start, &description);
    MobileSyncBatch batch;
    if (MobileSyncSession::readChanges(message, &batch, &description) == MOBILESYNC_E_SUCCESS) {
        // What the wrapper hands the reader: owned values it walks.
        PlistCFType records(batch.entities, true);
        PlistCFType actions(batch.actions, true);
        records.dict_foreach([](const char*, const PlistCFType& record) {
            record.dict_foreach([](const char*, const PlistCFType& value) { value.toString(); });
        });
    }
    plist_t mapping = nullptr;
    if (MobileSyncSession::readRemap(message, &mapping, &description) == MOBILESYNC_E_SUCCESS &&
        mapping)
        plist_free(mapping);
    plist_free(message);
    return 0;
}
