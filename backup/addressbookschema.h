// What an address book's schema holds: its tables and columns differ between phone generations.
#pragma once

class Sqlite3DB;

namespace addressbookschema {

// Both compare the names as SQLite does, without regard to case.
bool hasTable(Sqlite3DB& db, const char* table);
bool hasColumn(Sqlite3DB& db, const char* table, const char* column);

}  // namespace addressbookschema
