#include "contactlistread.h"

#include "entitycolumns.h"

#include <sqlite3db.h>

#include <QThread>

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

using entitycolumns::TypeInfo;
using entitycolumns::typeInfo;

namespace contactlistread {

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

// Rows of whole contacts as their bytes: per row its numbers and, in order, its cells (the
// contact's source id and name when the row starts a contact, its own source id, its fields).
struct Batch {
    struct Row {
        unsigned long long contact;
        unsigned long long id;
        int type;
        bool startsContact;
    };
    struct Cell {
        int offset;
        int size;  // -1: NULL
    };
    Batch() {
        rows.reserve(BATCH_ROWS + 64);
        cells.reserve(BATCH_ROWS * 8);
        bytes.reserve(BATCH_ROWS * 64);
    }
    std::vector<Row> rows;
    std::vector<Cell> cells;
    std::string bytes;

    void addText(const Sqlite3Cursor& cursor, int column, bool blob = false) {
        int size = 0;
        const char* p = blob ? cursor.blobData(column, &size) : cursor.textData(column, &size);
        if (!p && !blob) {
            cells.push_back({0, -1});
            return;
        }
        cells.push_back({int(bytes.size()), size});
        bytes.append(p, size_t(size));
    }
};

// As the cursor reads a cell: NULL a null string, empty text the shared empty one.
QString text(const Batch& b, const Batch::Cell& c) {
    if (c.size < 0)
        return QString();
    if (c.size == 0)
        return QStringLiteral("");
    return QString::fromUtf8(b.bytes.data() + c.offset, c.size);
}

QByteArray blob(const Batch& b, const Batch::Cell& c) {
    return c.size <= 0 ? QByteArray() : QByteArray(b.bytes.data() + c.offset, c.size);
}

QList<pim::_Contact> build(const Batch& batch, const Columns& columns) {
    QList<pim::_Contact> out;
    // Contacts and details are made where they stay: a list of large items holds each at an
    // address of its own, so nothing is copied on append.
    pim::_Contact* current = nullptr;
    QList<pim::Entity>* list = nullptr;
    int listType = -1;
    size_t cell = 0;
    for (const Batch::Row& row : batch.rows) {
        if (row.startsContact || !current) {
            const QString src = text(batch, batch.cells[cell]);
            const QString name = text(batch, batch.cells[cell + 1]);
            cell += 2;
            out.append(pim::_Contact(row.contact, src, name));
            current = &out.last();
            list = nullptr;
        }
        if (!list || row.type != listType) {
            list = &current->entities[row.type];
            listType = row.type;
        }
        list->append(pim::Entity(row.id, text(batch, batch.cells[cell++])));
        pim::Entity& e = list->last();
        if (const auto* fields = columns.fieldsOf(row.type)) {
            // Keys come in map order, so each one is appended at the end of the map.
            for (const Columns::Field& f : *fields) {
                const Batch::Cell& c = batch.cells[cell++];
                if (f.blob)
                    e.fields.insert(e.fields.constEnd(), *f.key, blob(batch, c));
                else
                    e.fields.insert(e.fields.constEnd(), *f.key, text(batch, c));
            }
        }
    }
    return out;
}

}  // namespace

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
    auto batch = std::make_shared<Batch>();
    unsigned long long last = 0;
    bool any = false;
    while (cursor.moveNext()) {
        const auto contact = static_cast<unsigned long long>(cursor.getInt64(columns.contact));
        const bool starts = !any || contact != last;
        if (starts && batch->rows.size() >= BATCH_ROWS && helpers > 0) {
            if (int(building.size()) >= helpers)
                collect();
            std::shared_ptr<const Batch> full = std::move(batch);
            building.push_back(
                std::async(std::launch::async, [full, &columns] { return build(*full, columns); }));
            batch = std::make_shared<Batch>();
        }
        any = true;
        last = contact;
        const int type = cursor.getInt(columns.type);
        batch->rows.push_back(
            {contact, static_cast<unsigned long long>(cursor.getInt64(columns.id)), type, starts});
        if (starts) {
            batch->addText(cursor, columns.csrc);
            batch->addText(cursor, columns.name);
        }
        batch->addText(cursor, columns.src);
        if (const auto* fields = columns.fieldsOf(type)) {
            for (const Columns::Field& f : *fields)
                batch->addText(cursor, f.column, f.blob);
        }
    }
    // The last rows are built here while the helpers finish theirs.
    QList<pim::_Contact> tail = build(*batch, columns);
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

}  // namespace contactlistread
