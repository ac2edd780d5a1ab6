// Fuzz: the frames a phone sends during a read, each taken as the receive path takes it (the
// frame guard and decoder, then the batch reader of the sync session) and its records stored by
// the read's record writer into a contact database, in one edit as the read worker does; a
// frame that is not a batch ends the read and nothing is kept. Never a crash, a hang or a leak.
// The input is a list of frame bodies: two length bytes (big-endian), then the body.
#include "device/workers/iossynctopcthread.h"
#include "platform/mobilesync/devicelink.h"
#include "tests/fuzz/fuzz_support.h"
#include "platform/mobilesync/mobilesync_session.h"
#include "device/plistcftype.h"

#include "store/localdb.h"

#include <cstdlib>

namespace {

// The next batch, as the read's receive step gives it; false when the read ends with an error.
bool nextBatch(fuzz::Reader& in, PlistCFType& records, bool& last) {
    const QByteArray frame = in.bytes16();
    plist_t message = nullptr;
    std::string why;
    if (devicelink::Connection::decodeFrame(frame.constData(), size_t(frame.size()), &message,
                                            &why) != 0)
        return false;
    MobileSyncBatch batch;
    const int rc = MobileSyncSession::readChanges(message, &batch, &why);
    plist_free(message);
    if (rc != 0)
        return false;
    records = PlistCFType(batch.entities, true);
    if (batch.actions)
        plist_free(batch.actions);
    last = batch.isLast;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512 * 1024)
        return 0;
    LocalDb& db = fuzz::freshDb();
    fuzz::Reader in(data, size);
    bool complete = false;
    try {
        db.beginEdit();
        IOSSyncToPCThread::RecordWriter writer(&db);
        for (int n = 0; !in.empty() && n < 64; ++n) {
            PlistCFType records;
            bool last = false;
            if (!nextBatch(in, records, last))
                break;
            writer.addBatch(records);
            if (last) {
                complete = true;
                break;
            }
        }
        (void)writer.orphanCount();
        db.endEdit(complete);
    } catch (const std::exception&) {
        db.endEdit(false);
        complete = false;
    }
    const QList<pim::_Contact> stored = db.contacts();
    if (!complete && !stored.isEmpty())
        abort();  // a read that did not end with the phone's last batch keeps nothing
    for (const pim::_Contact& c : stored)
        (void)db.contact(c._id);
    return 0;
}
