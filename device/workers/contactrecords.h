// The mapping between the contact model and the records of a phone's contact sync service, in
// both directions. Writing and reading are kept side by side so that what the reader gives back
// the writer sends back unchanged: a record read from the phone and written again is the record
// the phone holds.
#pragma once

#include <QString>

#include "device/plistcftype.h"
#include "store/pim.h"

class LocalDb;

namespace contactrecords {

// The first component of a new child record's id ("<code>/<contact>/-<row>"); 0 for the types
// that travel inside the contact record or not at all.
int recordCode(int type);
// The record code a child id begins with ("<code>/..."), 0 for any other id (a contact's).
int childIdCode(const QString& id);
// Whether the detail travels inside the contact record: name, photo, nickname, notes,
// organisation and the birthday.
bool isContactLevel(int type, const pim::Entity& entity);
// The record id of a contact: its source id, or "-<row id>" while the phone has none.
QString contactRecordId(const pim::_Contact& contact);

// Adds the contact record under the contact's record id. `kept` holds the record's keys that
// the mirror does not show (such as "display as company"); they go back as the phone gave them.
void addContact(PlistCFType& records, const pim::_Contact& contact,
                const PlistCFType& kept = PlistCFType());
// Adds the child record of one detail, or nothing for a detail without a record of its own or
// without a value. It goes under the detail's source id only when that is a child id of its own
// kind; otherwise (a birthday turned into another date, say) under a new id.
void addEntity(PlistCFType& records, const QString& contactId, int type, long long newId,
               const pim::Entity& entity, const PlistCFType& kept = PlistCFType());

// Reading. The contact of a contact record, with its name, nickname, organisation, birthday,
// photo and note entities, all under the record id.
pim::_Contact contactFromRecord(const QString& id, const PlistCFType& record);
// A record's kind ("com.apple.syncservices.RecordEntityName"), empty when it has none.
QString recordKind(const PlistCFType& record);
// The entity type of a child record's kind, 0 for a kind that is not a child.
int childType(const QString& kind);
pim::Entity childEntity(int type, const QString& id, const PlistCFType& record);
// The keys of a record that the mirror does not show (type 0 for a contact record), as a
// dictionary; an empty value when there are none.
PlistCFType unshownKeys(int type, const PlistCFType& record);
// The same keys as the mirror keeps them (serialized); empty when there are none.
QByteArray unshownKeyBytes(int type, const PlistCFType& record);

// The contact as the phone would give it back after it was sent: only what the records carry,
// in the words and codes the reader makes of them. A restore merges this form into the mirror,
// so that a detail read back from the phone is the same detail the next restore brings.
pim::_Contact phoneForm(const pim::_Contact& contact);

// Sending a change. Whether the contact record must go out for this added, changed or deleted
// detail: it lives in the contact record, or did until now (a birthday read from the phone
// carries its contact's id).
bool needsContactRecord(int type, const pim::Entity& entity);
// An added or changed detail: its child record, and the deletion of the record it had on the
// phone under an id of another kind (a date turned into the birthday, say).
void addEntityChange(PlistCFType& records, const QString& contactId, int type, long long newId,
                     const pim::Entity& entity, const PlistCFType& kept = PlistCFType());
// A deleted detail: the deletion of its own record; nothing for one kept in the contact record
// (that goes by sending the contact record again).
void addEntityDeletion(PlistCFType& records, const pim::Entity& entity);

// A mirror's store of the unshown keys of the phone's records, by record id. prepare makes
// the table (once per read); the look-up finds nothing in a mirror without it.
void prepareUnshownKeys(LocalDb& db);
void keepUnshownKeys(LocalDb& db, const QString& id, const QByteArray& keyBytes);
PlistCFType unshownKeysOf(LocalDb& db, const QString& id);
// The same in two steps, for a caller that reads the mirror on one thread and makes the records
// on another: the bytes as the mirror keeps them, then the dictionary they hold.
QByteArray unshownKeyBytesOf(LocalDb& db, const QString& id);
PlistCFType unshownKeysFrom(const QByteArray& keyBytes);

}  // namespace contactrecords
