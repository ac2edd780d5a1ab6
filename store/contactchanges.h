// The change records of an edit and their write to a database. The edit dialog collects them,
// the store writes them, the device worker sends them to a phone.
#pragma once

#include <QList>

#include "pim.h"

class LocalDb;

namespace contactchanges {

enum CHANGE_ACTION { ACTION_ADDED = 1, ACTION_UPDATED = 2, ACTION_DELETED = 3 };

// One entity that an edit adds, updates or deletes.
struct _ChangeData {
    int type;
    CHANGE_ACTION action;
    pim::Entity entity;
    _ChangeData() : type(0), action(ACTION_ADDED) {}
    _ChangeData(int type_, CHANGE_ACTION action_, pim::Entity entity_)
        : type(type_), action(action_), entity(std::move(entity_)) {}
};

}  // namespace contactchanges

// Writes the records to the database in one transaction, in list order. A new contact
// (contact._id 0) first gets its contact row, named after the added name; the contact's full
// name follows every name record. Added entities get their new row ids in their records. On
// failure the transaction is rolled back and the std::exception is rethrown; the caller's
// contact and records may then hold ids that were never committed.
void g_writeChanges(LocalDb& db, pim::_Contact& contact,
                    QList<contactchanges::_ChangeData>& changes);
