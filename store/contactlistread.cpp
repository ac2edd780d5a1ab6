#include "contactlistread.h"

#include "entitycolumns.h"

#include "platform/sqlite/sqlite3db.h"

#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <numeric>
#include <new>
#include <type_traits>
#include <vector>

using entitycolumns::TypeInfo;
using entitycolumns::typeInfo;

namespace {

// Rows per batch handed to a helper: enough that a thread's start is nothing beside its work.
enum { BATCH_ROWS = 4096 };

// Where each read lands in a result row.
struct Columns {
    explicit Columns(const Sqlite3Cursor& cursor) {
        contact = cursor.columnIndex(QStringLiteral("contact_id"));
        type = cursor.columnIndex(QStringLiteral("type"));
        id = cursor.columnIndex(QStringLiteral("_id"));
        src = cursor.columnIndex(QStringLiteral("src_id"));
        name = cursor.columnIndex(QStringLiteral("full_name"));
        csrc = cursor.columnIndex(QStringLiteral("csrc_id"));
        for (int t = pim::ENTITY_NAME; t <= pim::ENTITY_URL; ++t) {
            const TypeInfo* ti = typeInfo(t);
            for (int k = 0; k < ti->sortedCols.size(); ++k) {
                const int at = cursor.columnIndex(ti->sortedCols[k]);
                // A photo listed without its bytes holds no "data15" key.
                if (at < 0)
                    continue;
                byType[t].push_back(
                    {at, &ti->sortedCols[k], ti->sortedCols[k] == QLatin1String("data15")});
            }
        }
    }
    struct Field {
        int column;
        const QString* key;
        bool blob;
    };
    int contact, type, id, src, name, csrc;
    std::vector<Field> byType[pim::ENTITY_URL + 1];

    const std::vector<Field>* fieldsOf(int t) const {
        return t >= pim::ENTITY_NAME && t <= pim::ENTITY_URL ? &byType[t] : nullptr;
    }
};

// A growing array of plain values in one block from malloc. realloc grows a large block by
// remapping its pages, so neither the values nor their pages are copied as it grows.
template <typename T>
class Grown {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");

public:
    Grown() = default;
    Grown(const Grown&) = delete;
    Grown& operator=(const Grown&) = delete;
    ~Grown() { std::free(m_data); }

    size_t size() const { return m_size; }
    const T* data() const { return m_data; }
    const T& operator[](size_t i) const { return m_data[i]; }
    void reserve(size_t n) {
        if (n > m_capacity)
            grow(n);
    }
    void push_back(const T& v) {
        if (m_size == m_capacity)
            grow(m_capacity * 2 + 256);
        m_data[m_size++] = v;
    }
    void append(const T* p, size_t n) {
        if (m_size + n > m_capacity)
            grow(std::max(m_capacity * 2 + 256, m_size + n));
        std::memcpy(m_data + m_size, p, n * sizeof(T));
        m_size += n;
    }

private:
    void grow(size_t n) {
        void* p = std::realloc(m_data, n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        m_data = static_cast<T*>(p);
        m_capacity = n;
    }
    T* m_data = nullptr;
    size_t m_size = 0, m_capacity = 0;
};

// A cell's bytes: size -1 for NULL.
struct Cell {
    const char* data;
    int size;
};

// Rows of whole contacts as their bytes: per row its numbers and where its cells start. The
// cells follow each other in the buffer (the contact's source id and name when the row starts
// a contact, its own source id, its fields), each as its length plus one (0: NULL) in seven-bit
// groups, then its bytes.
struct Rows {
    struct Row {
        unsigned long long contact;
        unsigned long long id;
        std::uint32_t at;
        int type;
        bool startsContact;
    };
    Grown<Row> rows;
    Grown<char> bytes;

    void reserve(size_t n) {
        rows.reserve(n + 64);
        bytes.reserve(n * 48);
    }
    void add(const char* p, int size) {
        unsigned v = p ? unsigned(size) + 1 : 0;
        while (v >= 0x80) {
            bytes.push_back(char(v | 0x80));
            v >>= 7;
        }
        bytes.push_back(char(v));
        if (p && size > 0)
            bytes.append(p, size_t(size));
    }
    void addCell(const Sqlite3Cursor& cursor, int column, bool blob = false) {
        int size = 0;
        const char* p = blob ? cursor.blobData(column, &size) : cursor.textData(column, &size);
        // A blob's NULL reads as empty bytes.
        add(p || blob ? (p ? p : "") : nullptr, size);
    }
    // Reads the row at `row` and its cells from its start.
    const char* cellsOf(const Row& row) const { return bytes.data() + row.at; }
};

Cell nextCell(const char*& p) {
    unsigned v = 0;
    int shift = 0;
    for (;;) {
        const auto b = static_cast<unsigned char>(*p++);
        v |= unsigned(b & 0x7f) << shift;
        if (!(b & 0x80))
            break;
        shift += 7;
    }
    if (v == 0)
        return {nullptr, -1};
    const Cell c{p, int(v - 1)};
    p += c.size;
    return c;
}

void skipCells(const char*& p, size_t n) {
    while (n-- > 0)
        nextCell(p);
}

// As the cursor reads a cell: NULL a null string, empty text the shared empty one.
QString text(const Cell& c) {
    if (c.size < 0)
        return QString();
    if (c.size == 0)
        return QStringLiteral("");
    return QString::fromUtf8(c.data, c.size);
}

QByteArray blob(const Cell& c) {
    return c.size <= 0 ? QByteArray() : QByteArray(c.data, c.size);
}

QVariant value(const Cell& c, bool isBlob) {
    return isBlob ? QVariant(blob(c)) : QVariant(text(c));
}

// Appends the contacts of rows [from, to) to `out`; `from` starts a contact.
void build(const Rows& rows, size_t from, size_t to, const Columns& columns,
           QList<pim::_Contact>& out) {
    // Contacts and details are made where they stay: a list of large items holds each at an
    // address of its own, so nothing is copied on append.
    pim::_Contact* current = nullptr;
    QList<pim::Entity>* list = nullptr;
    int listType = -1;
    for (size_t r = from; r < to; ++r) {
        const Rows::Row& row = rows.rows[r];
        const char* p = rows.cellsOf(row);
        if (row.startsContact || !current) {
            const QString src = text(nextCell(p));
            const QString name = text(nextCell(p));
            out.append(pim::_Contact(row.contact, src, name));
            current = &out.last();
            list = nullptr;
        }
        if (!list || row.type != listType) {
            list = &current->entities[row.type];
            listType = row.type;
        }
        list->append(pim::Entity(row.id, text(nextCell(p))));
        pim::Entity& e = list->last();
        if (const auto* fields = columns.fieldsOf(row.type)) {
            // Keys come in map order, so each one is appended at the end of the map.
            for (const Columns::Field& f : *fields)
                e.fields.insert(e.fields.constEnd(), *f.key, value(nextCell(p), f.blob));
        }
    }
}

QList<pim::_Contact> buildAll(const Rows& rows, const Columns& columns) {
    QList<pim::_Contact> out;
    build(rows, 0, rows.rows.size(), columns, out);
    return out;
}

// Copies the cursor's current row; `starts` when it is the first of its contact.
void addRow(Rows& rows, const Sqlite3Cursor& cursor, const Columns& columns,
            unsigned long long contact, bool starts) {
    const int type = cursor.getInt(columns.type);
    rows.rows.push_back({contact, static_cast<unsigned long long>(cursor.getInt64(columns.id)),
                         std::uint32_t(rows.bytes.size()), type, starts});
    if (starts) {
        rows.addCell(cursor, columns.csrc);
        rows.addCell(cursor, columns.name);
    }
    rows.addCell(cursor, columns.src);
    if (const auto* fields = columns.fieldsOf(type)) {
        for (const Columns::Field& f : *fields)
            rows.addCell(cursor, f.column, f.blob);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct ContactListing::Data {
    explicit Data(const Sqlite3Cursor& cursor) : columns(cursor) {}
    struct Entry {
        unsigned long long id;
        std::uint32_t first, end;  // its rows
        QString name;
    };
    Columns columns;
    Rows rows;
    std::vector<Entry> contacts;  // in list order

    // The n-th row of `type` of contact i; null when there is none.
    const Rows::Row* detail(int i, int type, int n) const {
        const Entry& e = contacts[size_t(i)];
        for (std::uint32_t r = e.first; r < e.end; ++r) {
            if (rows.rows[r].type == type && n-- == 0)
                return &rows.rows[r];
        }
        return nullptr;
    }
};

// Builds a listing as its rows are stepped.
class ContactListingReader {
public:
    static ContactListing read(Sqlite3Cursor& cursor) {
        auto d = std::make_shared<ContactListing::Data>(cursor);
        Rows& rows = d->rows;
        rows.reserve(4096);
        unsigned long long last = 0;
        while (cursor.moveNext()) {
            const auto contact =
                static_cast<unsigned long long>(cursor.getInt64(d->columns.contact));
            const bool starts = d->contacts.empty() || contact != last;
            if (starts) {
                if (!d->contacts.empty())
                    d->contacts.back().end = std::uint32_t(rows.rows.size());
                int size = 0;
                const char* name = cursor.textData(d->columns.name, &size);
                d->contacts.push_back({contact, std::uint32_t(rows.rows.size()), 0,
                                       text(Cell{name, name ? size : -1})});
            }
            last = contact;
            addRow(rows, cursor, d->columns, contact, starts);
        }
        if (!d->contacts.empty())
            d->contacts.back().end = std::uint32_t(rows.rows.size());
        // Ordered as std::sort orders the contacts themselves by name: sorting their positions
        // with the same comparisons moves them the same way, equal names included.
        std::vector<int> order(d->contacts.size());
        std::iota(order.begin(), order.end(), 0);
        const auto& entries = d->contacts;
        std::sort(order.begin(), order.end(), [&entries](int a, int b) {
            return entries[size_t(a)].name < entries[size_t(b)].name;
        });
        std::vector<ContactListing::Data::Entry> sorted;
        sorted.reserve(order.size());
        for (int at : order)
            sorted.push_back(std::move(d->contacts[size_t(at)]));
        d->contacts = std::move(sorted);
        ContactListing listing;
        listing.d = std::move(d);
        return listing;
    }
};

ContactListing::ContactListing() = default;

int ContactListing::size() const {
    return d ? int(d->contacts.size()) : 0;
}

unsigned long long ContactListing::id(int i) const {
    return d->contacts[size_t(i)].id;
}

const QString& ContactListing::fullName(int i) const {
    return d->contacts[size_t(i)].name;
}

pim::_Contact ContactListing::contact(int i) const {
    const Data::Entry& e = d->contacts[size_t(i)];
    QList<pim::_Contact> one;
    build(d->rows, e.first, e.end, d->columns, one);
    return one.value(0);
}

int ContactListing::detailCount(int i, int type) const {
    const Data::Entry& e = d->contacts[size_t(i)];
    int n = 0;
    for (std::uint32_t r = e.first; r < e.end; ++r)
        n += d->rows.rows[r].type == type ? 1 : 0;
    return n;
}

QVariant ContactListing::field(int i, int type, int n, const QString& key) const {
    const Rows::Row* row = d->detail(i, type, n);
    const auto* fields = row ? d->columns.fieldsOf(type) : nullptr;
    if (!fields)
        return QVariant();
    const char* p = d->rows.cellsOf(*row);
    skipCells(p, row->startsContact ? 3 : 1);
    for (const Columns::Field& f : *fields) {
        const Cell c = nextCell(p);
        if (*f.key == key)
            return value(c, f.blob);
    }
    return QVariant();
}

// ---------------------------------------------------------------------------------------------

namespace contactlistread {

QList<pim::_Contact> readContacts(Sqlite3Cursor& cursor) {
    const Columns columns(cursor);
    const int helpers = std::min(3, QThread::idealThreadCount() - 1);
    // Batches being built, oldest first; at most `helpers` at a time.
    std::deque<std::future<QList<pim::_Contact> > > building;
    std::vector<QList<pim::_Contact> > built;
    auto collect = [&] {
        built.push_back(building.front().get());
        building.pop_front();
    };
    auto batch = std::make_shared<Rows>();
    batch->reserve(BATCH_ROWS);
    unsigned long long last = 0;
    bool any = false;
    while (cursor.moveNext()) {
        const auto contact = static_cast<unsigned long long>(cursor.getInt64(columns.contact));
        const bool starts = !any || contact != last;
        if (starts && batch->rows.size() >= BATCH_ROWS && helpers > 0) {
            if (int(building.size()) >= helpers)
                collect();
            std::shared_ptr<const Rows> full = std::move(batch);
            building.push_back(std::async(std::launch::async,
                                          [full, &columns] { return buildAll(*full, columns); }));
            batch = std::make_shared<Rows>();
            batch->reserve(BATCH_ROWS);
        }
        any = true;
        last = contact;
        addRow(*batch, cursor, columns, contact, starts);
    }
    // The last rows are built here while the helpers finish theirs.
    QList<pim::_Contact> tail = buildAll(*batch, columns);
    batch.reset();
    while (!building.empty())
        collect();
    if (built.empty())
        return tail;
    QList<pim::_Contact> result;
    result.reserve(
        std::accumulate(built.begin(), built.end(), tail.size(),
                        [](int n, const QList<pim::_Contact>& part) { return n + part.size(); }));
    for (QList<pim::_Contact>& part : built) {
        result.append(part);
        part = QList<pim::_Contact>();  // freed as it goes
    }
    result.append(tail);
    return result;
}

ContactListing readListing(Sqlite3Cursor& cursor) {
    return ContactListingReader::read(cursor);
}

}  // namespace contactlistread
