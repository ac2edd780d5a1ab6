// The row inserts of the entity types, each prepared once per connection and bound straight from
// the entity's values: an import writes tens of thousands of rows in one edit.
#pragma once

#include "entitycolumns.h"
#include "pim.h"

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

class RowInserts {
public:
    RowInserts() = default;
    ~RowInserts();
    RowInserts(const RowInserts&) = delete;
    RowInserts& operator=(const RowInserts&) = delete;

    // Writes one row of `type` on the connection `db` and returns its row id. The entity ends
    // up holding every key of its type (as null values when it lacked them). `photoHash`, when
    // given, is the hash of the entity's photo bytes. Throws std::runtime_error with SQLite's
    // own text; the statement is left reset either way.
    long long insert(sqlite3* db, int type, const entitycolumns::TypeInfo& ti,
                     unsigned long long contactId, pim::Entity& entity, const QString* photoHash);

    // Lets go of the statements; due before their connection closes.
    void clear();

private:
    sqlite3_stmt* statement(sqlite3* db, int type, const entitycolumns::TypeInfo& ti);

    enum { kMostColumns = 16 };
    sqlite3* m_db = nullptr;  // the connection the statements belong to
    sqlite3_stmt* m_statements[pim::ENTITY_URL + 1] = {};
    // Per type, the position in the statement of each column in key order.
    int m_colOfSorted[pim::ENTITY_URL + 1][kMostColumns] = {};
    // The UTF-8 of each text value, alive until the row is written.
    QByteArray m_texts[kMostColumns + 1];
};
