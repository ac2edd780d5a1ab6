// Fuzz: frames a phone sends in the steps of a sync session, each taken as the receive path takes
// it (the frame guard and decoder, then the session's reader for that step): the answer to a
// start, a batch of a read, and the remap that answers a restore's records, which the restore
// then checks against what it sent (every new record must get an id). Never a crash, a hang or
// a leak. The input is a list of frames: a step byte, two length bytes (big-endian), the body.
#include "device/workers/contactrecords.h"
#include "device/workers/remapreply.h"
#include "platform/mobilesync/devicelink.h"
#include "tests/fuzz/fuzz_support.h"
#include "platform/mobilesync/mobilesync_session.h"
#include "device/plistcftype.h"

#include <stdexcept>

namespace {

// The records a restore sends: a new contact, a known one, and a new detail of each.
PlistCFType sentRecords() {
    PlistCFType records = PlistCFType::createCFDictionary();
    pim::_Contact fresh(12, QString(), QStringLiteral("Anna Berg"));
    pim::_Contact known(13, QStringLiteral("4711"), QStringLiteral("Bo Lind"));
    for (const pim::_Contact* c : {&fresh, &known}) {
        contactrecords::addContact(records, *c);
        pim::Entity phone(40 + c->_id, QString());
        phone.fields[QStringLiteral("data1")] = QStringLiteral("+46 70 123 45 67");
        phone.fields[QStringLiteral("data2")] = 2;
        contactrecords::addEntity(records, contactrecords::contactRecordId(*c), pim::ENTITY_PHONE,
                                  -static_cast<long long>(phone._id), phone);
    }
    return records;
}

void readStep(int step, plist_t message) {
    std::string why;
    switch (step) {
        case 0: {
            MobileSyncStart answer;
            (void)MobileSyncSession::readStartAnswer(message, &answer, &why);
            break;
        }
        case 1: {
            MobileSyncBatch batch;
            if (MobileSyncSession::readChanges(message, &batch, &why) == 0) {
                const PlistCFType records(batch.entities, true);
                const PlistCFType actions(batch.actions, true);
                (void)records.dict_items();
            }
            break;
        }
        default: {
            plist_t mapping = nullptr;
            if (MobileSyncSession::readRemap(message, &mapping, &why) != 0)
                break;
            static const PlistCFType sent = sentRecords();
            const PlistCFType remap(mapping, true);
            try {
                remapreply::checkNewIdsGiven(sent, remap);
            } catch (const std::runtime_error&) {
            }
            for (const PlistCFType& key : remap.dict_keys())
                (void)remapreply::childRowIdOf(key.CFStringQString());
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512 * 1024)
        return 0;
    fuzz::Reader in(data, size);
    for (int n = 0; !in.empty() && n < 64; ++n) {
        const int step = in.number(3);
        const QByteArray frame = in.bytes16();
        plist_t message = nullptr;
        std::string why;
        if (devicelink::Connection::decodeFrame(frame.constData(), size_t(frame.size()), &message,
                                                &why) != 0)
            continue;
        readStep(step, message);
        plist_free(message);
    }
    return 0;
}
