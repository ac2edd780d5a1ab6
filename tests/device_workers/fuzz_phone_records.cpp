// Fuzz: the record batches of a phone read, each turned from bytes into a property list as the
// receive path does and stored by the read's record writer into a contact database, in one edit
// as the read worker does, then read back. Never a crash, a hang or a leak. The input is a list
// of batches: two length bytes (big-endian), then the batch, binary or XML.
#include "device/workers/iossynctopcthread.h"
#include "fuzz_support.h"
#include "plistcftype.h"

#include <localdb.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512 * 1024)
        return 0;
    LocalDb& db = fuzz::freshDb();
    fuzz::Reader in(data, size);
    try {
        db.beginEdit();
        IOSSyncToPCThread::RecordWriter writer(&db);
        for (int n = 0; !in.empty() && n < 64; ++n)
            writer.addBatch(PlistCFType::createCFPropertyList(in.bytes16()));
        (void)writer.orphanCount();
        db.endEdit(true);
    } catch (const std::exception&) {
        db.endEdit(false);
    }
    for (const pim::_Contact& c : db.contacts())
        (void)db.contact(c._id);
    return 0;
}
