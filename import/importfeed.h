// An importer's contacts for the merges, read ahead on threads of their own.
#ifndef TW_IMPORT_IMPORTFEED_H
#define TW_IMPORT_IMPORTFEED_H

#include "absimport.h"
#include "store/localdb.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// Reading a contact (parsing and mapping it, hashing its photos) costs more than merging it, so
// two readers take the importer's parts in file order, each reading one part at a time a
// bounded stretch ahead of the merges; the merging thread takes the contacts in file order.
// Two keep up with the merges; a third only took a core from them on a busy machine.
// The importer's parts are used by those threads alone from start to stop; what a part gives
// (contacts, an exception) comes out in the place where it was given, and the end after the
// last part.
//
// Contacts cross in chunks, one hand-off per chunk rather than per contact, and each chunk goes
// back to the reader that made it once merged, to be freed there: memory then returns to the
// thread that took it, instead of the threads contending for the allocator's locks.
class ImportFeed {
public:
    enum Kind { CONTACT, END, HASNEXT_FAILED, NEXT_FAILED };
    struct Item {
        Kind kind = END;
        pim::_Contact contact;
        std::exception_ptr error;
        LocalDb::KnownPhotoHashes photoHashes;  // of the contact's photos
    };

    explicit ImportFeed(AbsImport& importer);
    ~ImportFeed();
    ImportFeed(const ImportFeed&) = delete;
    ImportFeed& operator=(const ImportFeed&) = delete;

    // The next item, valid until the following take. The last item (the end or a failure)
    // stays for any later take.
    Item& take();

    // Returns once the readers have let go of the importer.
    void stop();

private:
    enum {
        CHUNK = 64,
        FIRST_CHUNK = 8,
        CHUNKS_AHEAD = 8,
        MOST_READERS = 2,
        PARTS_AHEAD = 2 * MOST_READERS
    };
    struct Chunk {
        std::vector<Item> items;
        int reader = 0;         // the thread that made it, and frees it
        bool endsPart = false;  // the part's last chunk
    };

    void read(int reader);
    // False when the feed stops meanwhile.
    bool readPart(int reader, int part);
    bool hand(int reader, int part, Chunk& chunk);
    void nextChunk();

    AbsImport& m_importer;
    const int m_parts;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<std::deque<Chunk> > m_ready;   // per part, filled in order
    std::vector<std::vector<Chunk> > m_spent;  // per reader: merged, to be freed there
    int m_head = 0;                            // the part being merged
    int m_nextPart = 0;                        // the next part a reader takes
    bool m_stopping = false;
    // The chunk being merged; touched by the merging thread alone.
    Chunk m_current;
    bool m_holding = false;
    size_t m_pos = 0;
    std::vector<std::thread> m_threads;
};

#endif
