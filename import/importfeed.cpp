#include "importfeed.h"

#include "store/entitycolumns.h"

#include <QtGlobal>

namespace {

// An importer of one part, read through its own hasNext() and nextContact().
class WholeImport : public ImportPart {
public:
    explicit WholeImport(AbsImport& importer) : m_importer(importer) {}
    bool hasNext() override { return m_importer.hasNext(); }
    pim::_Contact nextContact() override { return m_importer.nextContact(); }

private:
    AbsImport& m_importer;
};

// Hashing a photo costs about as much as storing it: done here, the merges need not.
void hashPhotos(ImportFeed::Item& item) {
    const auto photos = item.contact.entities.constFind(pim::ENTITY_PHOTO);
    if (photos == item.contact.entities.constEnd())
        return;
    for (const pim::Entity& photo : *photos) {
        const QByteArray bytes = photo.fields.value(QStringLiteral("data15")).toByteArray();
        if (!bytes.isEmpty())
            item.photoHashes.append(qMakePair(bytes, pim::Entity::photoHash(bytes)));
    }
}

}  // namespace

ImportFeed::ImportFeed(AbsImport& importer)
    : m_importer(importer), m_parts(qMax(1, importer.partCount())), m_ready(size_t(m_parts)) {
    const int cores = int(std::thread::hardware_concurrency());
    const int readers = qBound(1, qMin(m_parts, cores - 1), int(MOST_READERS));
    m_spent.resize(size_t(readers));
    for (int r = 0; r < readers; ++r)
        m_threads.emplace_back([this, r] { read(r); });
}

ImportFeed::~ImportFeed() {
    stop();
}

ImportFeed::Item& ImportFeed::take() {
    while (!m_holding || m_pos == m_current.items.size())
        nextChunk();
    Item& item = m_current.items[m_pos];
    if (item.kind == CONTACT)
        ++m_pos;
    return item;
}

void ImportFeed::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_cond.notify_all();
    for (std::thread& t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

void ImportFeed::nextChunk() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_holding) {
            if (m_current.endsPart)
                ++m_head;
            m_spent[size_t(m_current.reader)].push_back(std::move(m_current));
        }
        m_cond.wait(lock, [this] { return !m_ready[size_t(m_head)].empty(); });
        m_current = std::move(m_ready[size_t(m_head)].front());
        m_ready[size_t(m_head)].pop_front();
        m_holding = true;
    }
    m_pos = 0;
    m_cond.notify_all();  // room ahead, a part to read, and a chunk to free
}

void ImportFeed::read(int reader) {
    for (;;) {
        int part = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cond.wait(lock, [this] {
                return m_stopping || m_nextPart >= m_parts || m_nextPart < m_head + PARTS_AHEAD;
            });
            if (m_stopping)
                return;
            if (m_nextPart >= m_parts)
                break;
            part = m_nextPart++;
        }
        if (!readPart(reader, part))
            return;
    }
    // No part left: the chunks this reader made still come back as they are merged, and are
    // freed here rather than by the merging thread at the end.
    for (;;) {
        std::vector<Chunk> spent;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cond.wait(lock, [&] { return m_stopping || !m_spent[size_t(reader)].empty(); });
            spent.swap(m_spent[size_t(reader)]);
        }
        if (spent.empty())
            return;
    }
}

bool ImportFeed::readPart(int reader, int part) {
    const bool lastPart = part + 1 == m_parts;
    std::unique_ptr<ImportPart> own;
    std::exception_ptr failure;
    try {
        own = m_importer.part(part);
    } catch (...) {
        failure = std::current_exception();
    }
    WholeImport whole(m_importer);
    ImportPart& source = own ? *own : static_cast<ImportPart&>(whole);
    // The merges wait for the first contacts: the first chunk is a short one.
    size_t size = part == 0 ? FIRST_CHUNK : CHUNK;
    for (bool ended = false; !ended; size = CHUNK) {
        Chunk chunk;
        chunk.reader = reader;
        chunk.items.reserve(size);
        while (!ended && chunk.items.size() < size) {
            Item item;
            bool more = false;
            if (failure) {
                item.kind = HASNEXT_FAILED;
                item.error = failure;
            } else {
                try {
                    more = source.hasNext();
                } catch (...) {
                    item.kind = HASNEXT_FAILED;
                    item.error = std::current_exception();
                }
            }
            if (more) {
                try {
                    item.contact = source.nextContact();
                    item.kind = CONTACT;
                    hashPhotos(item);
                    // Here rather than in the merge: its new rows then share these maps.
                    entitycolumns::holdRowKeys(item.contact);
                } catch (...) {
                    item.kind = NEXT_FAILED;
                    item.error = std::current_exception();
                }
            }
            ended = item.kind != CONTACT;
            // Only the last part's end is the end; a failure ends everything after it.
            if (item.kind != END || lastPart)
                chunk.items.push_back(std::move(item));
        }
        chunk.endsPart = ended;
        if (!hand(reader, part, chunk))
            return false;
    }
    return true;
}

bool ImportFeed::hand(int reader, int part, Chunk& chunk) {
    std::vector<Chunk> spent;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::deque<Chunk>& ready = m_ready[size_t(part)];
        m_cond.wait(lock, [&] { return m_stopping || ready.size() < CHUNKS_AHEAD; });
        if (m_stopping)
            return false;
        ready.push_back(std::move(chunk));
        spent.swap(m_spent[size_t(reader)]);
    }
    m_cond.notify_all();
    spent.clear();
    return true;
}
