// The file of a phone's mirror, made afresh for a read: a cache that every connection of the
// phone rebuilds, never a user's own address book.
#pragma once

class LocalDb;

namespace mirrorfile {

// The page size a mirror is written in. A read stores every photo of the phone (hundreds of
// megabytes for a large address book); the template's small pages cost a write call and an
// overflow page per kilobyte of them, and the file system's work for each write call was a
// quarter of the storing thread's time in 4 KB pages.
constexpr int kPageSize = 16384;

// Gives a mirror that holds no contacts yet the larger pages, rewriting its (empty) tables.
// Does nothing to a file that holds contacts or has the pages already; must run outside an
// edit. The connection's page cache keeps the memory it was given, in the larger pages. Throws
// the database's error when the file cannot be rewritten, leaving it as it was.
void useLargePages(LocalDb& db);

}  // namespace mirrorfile
