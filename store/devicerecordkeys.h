// The keys of a phone's records that a mirror keeps but does not show, by record id, in a table
// of their own ("device_record_keys"). The template has no such table: a mirror gets it on its
// first read from a phone, and a database without it simply keeps no keys.
#pragma once

#include <QByteArray>
#include <QString>

class LocalDb;

namespace devicerecordkeys {

// Creates the table when it is missing.
void prepare(LocalDb& db);
// Stores (or replaces) the serialized keys of one record. The table must exist.
void keep(LocalDb& db, const QString& recordId, const QByteArray& keys);
// The serialized keys of one record; empty when none are kept (or the table is missing).
QByteArray of(LocalDb& db, const QString& recordId);

}  // namespace devicerecordkeys
