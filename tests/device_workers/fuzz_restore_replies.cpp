// Fuzz: the phone's answers to the records a restore (or an edit) sends, taken as the receive path
// takes them (the frame guard and decoder, the session's remap reader), checked for new records
// left without an id and written back into a real contact database as the flows write them.
// After every answer: only the rows the message offered may have changed, each to an id the
// answer gave, nothing else in the database moved, and the rolled-back edit leaves it as it was.
// The input is a list of answers: a step byte (0 the contact message, 1 the detail message,
// 2 an edit's one contact), two length bytes (big-endian), the frame body.
#include "device/workers/contactrecords.h"
#include "device/workers/remapreply.h"
#include "platform/mobilesync/devicelink.h"
#include "tests/fuzz/fuzz_support.h"
#include "platform/mobilesync/mobilesync_session.h"
#include "device/plistcftype.h"

#include "store/localdb.h"

#include <QMap>
#include <QSet>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <tuple>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "restore replies: %s\n", what);
    std::abort();
}

// Every row of a table, every column, by row id.
using Rows = QMap<long long, QList<QByteArray>>;

Rows rowsOf(LocalDb& db, const char* table) {
    Rows rows;
    Sqlite3Cursor c = db.db().queryThrow(QStringLiteral("select * from %1").arg(table));
    const int id = c.columnIndex(QStringLiteral("_id"));
    while (c.moveNext()) {
        QList<QByteArray> values;
        for (int i = 0; i < c.columnCount(); ++i)
            values << (c.isNull(i) ? QByteArray("<null>") : c.getBlob(i));
        rows[c.getInt64(id)] = values;
    }
    return rows;
}

struct Snapshot {
    Rows contacts, data;
};

Snapshot snapshot(LocalDb& db) {
    return {rowsOf(db, "contact"), rowsOf(db, "data")};
}

// A restore's batch as the mirror holds it while the phone answers: a new contact with two
// details, a contact the phone knows with a new and a known detail, and one not in the batch.
struct Batch {
    LocalDb db;
    Snapshot before;
    int srcColumnContact = -1, srcColumnData = -1;
    PlistCFType contactRecords, detailRecords, editRecord;
    QSet<unsigned long long> offeredContacts, offeredDetails;
    unsigned long long editRow = 0;
    QString editSentId;

    Batch()
        : db(fuzz::path(QStringLiteral("mirror.db")),
             QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)) {
        db.create();
        db.open_check();
        db.beginEdit();
        contactRecords = PlistCFType::createCFDictionary();
        detailRecords = PlistCFType::createCFDictionary();
        editRecord = PlistCFType::createCFDictionary();
        QList<pim::_Contact> stored;
        for (const auto& [srcId, name, phone] :
             {std::tuple<QString, QString, QString>{QString(), "Anna Berg", "+46 70 123 45 67"},
              {QStringLiteral("4711"), "Bo Lind", "+46 8 555 01 02"},
              {QStringLiteral("4712"), "Cai Ek", "+46 31 700 00 00"}}) {
            pim::_Contact c(0, srcId, name);
            pim::Entity n;
            const QStringList parts = name.split(QLatin1Char(' '));
            n.fields[QStringLiteral("data2")] = parts.first();
            n.fields[QStringLiteral("data3")] = parts.last();
            c.entities[pim::ENTITY_NAME] << n;
            pim::Entity p;
            p.fields[QStringLiteral("data1")] = phone;
            p.fields[QStringLiteral("data2")] = 2;
            c.entities[pim::ENTITY_PHONE] << p;
            pim::Entity e;
            e.fields[QStringLiteral("data1")] = parts.first().toLower() + "@example.org";
            e.fields[QStringLiteral("data2")] = 1;
            c.entities[pim::ENTITY_EMAIL] << e;
            pim::_Contact merged;
            bool existed = false;
            const auto changes = db.combineContact(contactrecords::phoneForm(c), merged, existed);
            // The phone already holds the known contact and its email, under ids of its own.
            if (!srcId.isEmpty()) {
                db.updateContactBaseSrcId(merged._id, srcId);
                for (const pim::Entity& d : changes.value(pim::ENTITY_EMAIL))
                    db.updateEntitySrcId(d._id, "4/" + srcId + "/" + QString::number(d._id + 100));
            }
            stored << db.contact(merged._id);
        }
        // The first two are the batch; the third stays out of it.
        for (int i = 0; i < 2; ++i) {
            const pim::_Contact& c = stored.at(i);
            offeredContacts.insert(c._id);
            if (c.srcId.isEmpty())
                contactrecords::addContact(contactRecords, c);
            const QString owner = c.srcId.isEmpty() ? "-" + QString::number(c._id) : c.srcId;
            for (auto it = c.entities.constBegin(); it != c.entities.constEnd(); ++it)
                for (const pim::Entity& e : it.value()) {
                    contactrecords::addEntityChange(detailRecords, owner, it.key(),
                                                    -static_cast<long long>(e._id), e);
                    offeredDetails.insert(e._id);
                }
        }
        // An edit sends the known contact's record alone.
        editRow = stored.at(1)._id;
        editSentId = contactrecords::contactRecordId(stored.at(1));
        contactrecords::addContact(editRecord, stored.at(1));
        db.endEdit(true);
        before = snapshot(db);
        Sqlite3Cursor c = db.db().queryThrow("select * from contact limit 1");
        srcColumnContact = c.columnIndex(QStringLiteral("src_id"));
        Sqlite3Cursor d = db.db().queryThrow("select * from data limit 1");
        srcColumnData = d.columnIndex(QStringLiteral("src_id"));
        if (srcColumnContact < 0 || srcColumnData < 0 || offeredDetails.size() < 4)
            fail("the batch was not built");
    }
};

// Every text value of an answer: the only ids a written-back row may now hold.
QSet<QByteArray> idsGiven(const PlistCFType& remap) {
    QSet<QByteArray> ids;
    for (const auto& item : remap.dict_items())
        if (item.second.isCFString())
            ids.insert(item.second.CFStringQString().toUtf8());
    return ids;
}

// Rows of `now` that differ from `was`: only offered ones, only in their source id, and only to
// an id the answer gave.
void checkChanged(const Rows& was, const Rows& now, int srcColumn,
                  const QSet<unsigned long long>& offered, const QSet<QByteArray>& ids) {
    if (was.keys() != now.keys())
        fail("rows were added or removed");
    for (auto it = now.constBegin(); it != now.constEnd(); ++it) {
        const QList<QByteArray>& old = was[it.key()];
        if (old == it.value())
            continue;
        if (!offered.contains(static_cast<unsigned long long>(it.key())))
            fail("a row the message did not offer changed");
        for (int i = 0; i < old.size(); ++i)
            if (i != srcColumn && old.at(i) != it.value().at(i))
                fail("a column other than the source id changed");
        if (!ids.contains(it.value().at(srcColumn)))
            fail("a row holds an id the answer did not give");
    }
}

// The answer of one frame, as remapIdentifiers reads it; false when the session would end.
bool readAnswer(const QByteArray& frame, PlistCFType& remap, bool& stray) {
    plist_t message = nullptr;
    std::string why;
    if (devicelink::Connection::decodeFrame(frame.constData(), size_t(frame.size()), &message,
                                            &why) != MOBILESYNC_E_SUCCESS)
        return false;
    plist_t mapping = nullptr;
    const int rc = MobileSyncSession::readRemap(message, &mapping, &why);
    plist_free(message);
    stray = rc == MOBILESYNC_E_NOT_READY;
    if (rc != MOBILESYNC_E_SUCCESS)
        return stray;
    // No dictionary at all is a null value, as the send call returns it.
    remap = PlistCFType(mapping, true);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512 * 1024)
        return 0;
    static Batch batch;
    LocalDb& db = batch.db;
    fuzz::Reader in(data, size);
    db.beginEdit();
    Snapshot was = batch.before;
    for (int n = 0; !in.empty() && n < 32; ++n) {
        const int step = in.number(3);
        PlistCFType remap;
        bool stray = false;
        if (!readAnswer(in.bytes16(), remap, stray))
            break;
        if (stray)
            continue;
        const PlistCFType& sent = step == 0   ? batch.contactRecords
                                  : step == 1 ? batch.detailRecords
                                              : batch.editRecord;
        try {
            remapreply::checkNewIdsGiven(sent, remap);
        } catch (const std::runtime_error&) {
            break;  // the flow stops sending and rolls the open batch back
        }
        const QSet<QByteArray> ids = idsGiven(remap);
        QSet<unsigned long long> offered;
        if (step == 0) {
            offered = batch.offeredContacts;
            const QMap<unsigned long long, QString> given =
                remapreply::applyContactIds(remap, offered, db);
            for (auto it = given.constBegin(); it != given.constEnd(); ++it)
                if (!offered.contains(it.key()) || db.contact(it.key()).srcId != it.value())
                    fail("a contact id given back is not the one stored");
        } else if (step == 1) {
            offered = batch.offeredDetails;
            remapreply::applyEntityIds(remap, offered, db);
        } else {
            offered.insert(batch.editRow);
            const QString id =
                remapreply::applyOwnContactId(remap, batch.editSentId, batch.editRow, db);
            if (!id.isEmpty() && db.contact(batch.editRow).srcId != id)
                fail("the edited contact's id is not the one given back");
        }
        const Snapshot now = snapshot(db);
        checkChanged(was.contacts, now.contacts, batch.srcColumnContact,
                     step == 1 ? QSet<unsigned long long>() : offered, ids);
        checkChanged(was.data, now.data, batch.srcColumnData,
                     step == 1 ? offered : QSet<unsigned long long>(), ids);
        was = now;
    }
    db.endEdit(false);
    const Snapshot after = snapshot(db);
    if (after.contacts != batch.before.contacts || after.data != batch.before.data)
        fail("the rolled-back edit left changes behind");
    Sqlite3Cursor check = db.db().queryThrow("pragma integrity_check");
    if (!check.moveNext() || check.getText(0) != QLatin1String("ok"))
        fail("the database is damaged");
    return 0;
}
