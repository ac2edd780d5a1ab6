// The contacts of a list query, made from its rows while they are still being read.
#pragma once

#include "pim.h"

#include <QList>

class Sqlite3Cursor;

namespace contactlistread {

// Every row of `cursor` (the list query: _id, type, contact_id, src_id, csrc_id, full_name and
// data columns, ordered by contact) made into contacts in row order, each field as the store
// reads it. SQLite steps on this thread, which only copies each row's bytes; a long listing's
// contacts and their field maps are built from those copies on helper threads meanwhile, a few
// thousand rows at a time. Throws what the cursor throws.
QList<pim::_Contact> readContacts(Sqlite3Cursor& cursor);

}  // namespace contactlistread
