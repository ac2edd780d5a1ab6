// The contacts of a list query, made from its rows while they are still being read.
#pragma once

#include "pim.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <memory>

class Sqlite3Cursor;

// The contacts of a list query held flat: every row's values as the bytes SQLite gave them,
// in one buffer, with each contact's id and name. A window shows thousands of these and
// opens a few, so a contact is made whole only when asked for. An immutable value; copies
// share their rows.
class ContactListing {
public:
    ContactListing();

    int size() const;
    unsigned long long id(int i) const;
    // As the store reads it: a NULL name is a null string.
    const QString& fullName(int i) const;
    // Contact i whole, equal to what the reader of the same rows makes of it.
    pim::_Contact contact(int i) const;
    // How many details of `type` contact i holds.
    int detailCount(int i, int type) const;
    // Field `key` of the n-th detail of `type` of contact i, as that detail's field map holds
    // it: an invalid value when there is no such detail or key.
    QVariant field(int i, int type, int n, const QString& key) const;

    struct Data;

private:
    friend class ContactListingReader;
    std::shared_ptr<const Data> d;
};

namespace contactlistread {

// Every row of `cursor` (the list query: _id, type, contact_id, src_id, csrc_id, full_name and
// data columns, ordered by contact) made into contacts in row order, each field as the store
// reads it. SQLite steps on this thread, which only copies each row's bytes; a long listing's
// contacts and their field maps are built from those copies on helper threads meanwhile, a few
// thousand rows at a time. Throws what the cursor throws.
QList<pim::_Contact> readContacts(Sqlite3Cursor& cursor);

// The same rows kept as their bytes, the contacts ordered by full name as LocalDb::contacts()
// orders them (equal names in the same order too). Throws what the cursor throws.
ContactListing readListing(Sqlite3Cursor& cursor);

}  // namespace contactlistread
