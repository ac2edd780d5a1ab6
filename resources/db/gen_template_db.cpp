// Build-time tool: makes the empty template contact database from schema.sql.
// usage: gen_template_db <schema.sql> <out.db>
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s schema.sql out.db\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream schema;
    schema << in.rdbuf();
    std::remove(argv[2]);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        std::fprintf(stderr, "sqlite3_open_v2 failed: %s\n", db ? sqlite3_errmsg(db) : "?");
        sqlite3_close(db);
        return 1;
    }
    const std::string script = "PRAGMA page_size=1024; PRAGMA journal_mode=DELETE; BEGIN;" +
                               schema.str() + "; COMMIT; VACUUM;";
    char* err = nullptr;
    if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite3_exec failed: %s\n", err ? err : "?");
        sqlite3_free(err);
        sqlite3_close(db);
        std::remove(argv[2]);
        return 1;
    }
    sqlite3_close(db);
    return 0;
}
