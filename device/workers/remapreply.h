#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>

class LocalDb;
class PlistCFType;

// The phone's answer to records sent to it: a dictionary from each provisional id it was given
// to the id it assigned. These write that answer back into the mirror, trusting only the rows the
// message offered: a reply naming any other row, or giving anything but a text, is ignored.
namespace remapreply {

// The mirror row id carried by a provisional child id ("<code>/<contact>/-<row id>"), or 0.
unsigned long long childRowIdOf(const QString& recordId);

// Throws when the answer gives no id to a new record of the message: the mirror could not keep
// such a record in step with the phone.
void checkNewIdsGiven(const PlistCFType& records, const PlistCFType& remap);

// Contact keys "-<row id>": row id -> new id for each offered row the answer gives an id.
QMap<unsigned long long, QString> contactIdsGiven(const PlistCFType& remap,
                                                  const QSet<unsigned long long>& offered);
// Child keys "<code>/<contact>/-<row id>": (row id, new id) for each offered row given an id.
QList<QPair<unsigned long long, QString>> entityIdsGiven(const PlistCFType& remap,
                                                         const QSet<unsigned long long>& offered);

// Contact keys "-<row id>": writes each new id of an offered row into the mirror and returns
// row id -> new id for those.
QMap<unsigned long long, QString> applyContactIds(const PlistCFType& remap,
                                                  const QSet<unsigned long long>& offered,
                                                  LocalDb& db);

// Child keys "<code>/<contact>/-<row id>": writes each new id of an offered row into the mirror.
void applyEntityIds(const PlistCFType& remap, const QSet<unsigned long long>& offered, LocalDb& db);

// The answer to a message that held the one contact sentId (mirror row rowId): its own key, else
// the first one the phone gave. Writes the new id into the mirror and returns it, or an empty
// text when the answer gives none.
QString applyOwnContactId(const PlistCFType& remap, const QString& sentId, unsigned long long rowId,
                          LocalDb& db);

}  // namespace remapreply
