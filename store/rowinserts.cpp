#include "rowinserts.h"

#include <sqlite3.h>

#include "platform/sqlite/sqlite3db.h"

#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const char* call, int rc, sqlite3* db) {
    const char* msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw std::runtime_error(QString("%1 failed. return %2: %3")
                                 .arg(QString::fromUtf8(call))
                                 .arg(rc)
                                 .arg(QString::fromUtf8(msg ? msg : sqlite3_errstr(rc)))
                                 .toUtf8()
                                 .toStdString());
}

bool isWhole(int userType) {
    return userType == QMetaType::Int || userType == QMetaType::UInt ||
           userType == QMetaType::LongLong || userType == QMetaType::ULongLong;
}

unsigned long long wholeMagnitude(long long n) {
    return n < 0 ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
}

// The decimal text of a whole number, into `out` (whose capacity is kept from row to row).
void decimal(bool negative, unsigned long long magnitude, QByteArray& out) {
    char buf[24];
    char* const end = buf + sizeof buf;
    char* p = end;
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        *--p = '-';
    out.resize(int(end - p));
    std::memcpy(out.data(), p, size_t(end - p));
}

// Resets the statement however the row ends, so that it holds no lock between rows.
struct ResetOnExit {
    sqlite3_stmt* st;
    ~ResetOnExit() { sqlite3_reset(st); }
};

}  // namespace

RowInserts::~RowInserts() {
    clear();
}

void RowInserts::clear() {
    for (sqlite3_stmt*& st : m_statements) {
        if (st)
            sqlite3_finalize(st);
        st = nullptr;
    }
    m_db = nullptr;
}

sqlite3_stmt* RowInserts::statement(sqlite3* db, int type, const entitycolumns::TypeInfo& ti) {
    if (db != m_db) {
        clear();
        m_db = db;
    }
    sqlite3_stmt*& st = m_statements[type];
    if (!st) {
        if (ti.cols.size() > kMostColumns)
            throw std::runtime_error("insertEntity: too many columns");
        for (int s = 0; s < ti.sortedCols.size(); ++s)
            m_colOfSorted[type][s] = ti.cols.indexOf(ti.sortedCols[s]);
        const QByteArray sql = ti.insertSql.toUtf8();
        const int rc = sqlite3_prepare_v3(db, sql.constData(), sql.size() + 1,
                                          SQLITE_PREPARE_PERSISTENT, &st, nullptr);
        if (rc != SQLITE_OK) {
            st = nullptr;
            fail("sqlite3_prepare_v2", rc, db);
        }
    }
    return st;
}

long long RowInserts::insert(sqlite3* db, int type, const entitycolumns::TypeInfo& ti,
                             unsigned long long contactId, pim::Entity& entity,
                             const QString* photoHash) {
    if (!db)
        throw std::runtime_error("sqlite3_prepare_v2 failed: database is not open");
    sqlite3_stmt* st = statement(db, type, ti);
    ResetOnExit reset{st};
    int slot = 0;
    // Text as the wrapper binds it: UTF-8, a null string as empty text (never SQL NULL).
    auto bindText = [&](int index, const QString& text) {
        QByteArray& utf8 = m_texts[slot++];
        encodeUtf8(text, utf8);
        // constData() of an empty array is "", never null: empty text, not NULL.
        return sqlite3_bind_text(st, index, utf8.constData(), utf8.size(), SQLITE_STATIC);
    };
    int rc = sqlite3_bind_int64(st, 1, static_cast<sqlite3_int64>(contactId));
    if (rc == SQLITE_OK)
        rc = sqlite3_bind_int(st, 2, type);
    if (rc == SQLITE_OK)
        rc = bindText(3, entity.srcId);
    // The values of the columns, found in one walk along the map (both in key order). Keys the
    // entity lacks are added first; a map that has them all is only read, so it stays shared.
    const int columns = ti.cols.size();
    const QVariant* values[kMostColumns] = {};
    auto walk = [&] {
        bool all = true;
        auto it = entity.fields.constBegin();
        const auto end = entity.fields.constEnd();
        for (int s = 0; s < columns; ++s) {
            const QString& key = ti.sortedCols[s];
            int order = -1;
            while (it != end && (order = entitycolumns::keyOrder(it.key(), key)) < 0)
                ++it;
            if (it != end && order == 0) {
                values[m_colOfSorted[type][s]] = &it.value();
                ++it;
            } else {
                all = false;
            }
        }
        return all;
    };
    if (!walk()) {
        for (int k = 0; k < columns; ++k) {
            if (!values[k] && ti.kinds[k] != entitycolumns::TypeInfo::PHOTO_HASH)
                entity.fields[ti.cols[k]];
        }
        walk();
    }
    QByteArray blob;  // alive until the row is written
    for (int k = 0; k < columns && rc == SQLITE_OK; ++k) {
        const int index = 4 + k;
        if (ti.kinds[k] == entitycolumns::TypeInfo::PHOTO_HASH) {
            rc = bindText(index, photoHash ? *photoHash : entity.photoHash());
            continue;
        }
        const QVariant& v = *values[k];
        if (ti.kinds[k] == entitycolumns::TypeInfo::BLOB) {
            blob = v.toByteArray();
            rc = blob.isEmpty()
                     ? sqlite3_bind_zeroblob(st, index, 0)
                     : sqlite3_bind_blob(st, index, blob.constData(), blob.size(), SQLITE_STATIC);
        } else if (!v.isValid()) {
            rc = sqlite3_bind_text(st, index, "", 0, SQLITE_STATIC);  // as an absent value reads
        } else if (v.userType() == QMetaType::QString) {
            rc = bindText(index, *static_cast<const QString*>(v.constData()));
        } else if (isWhole(v.userType())) {
            // The digits fieldText gives, without a QString on the way.
            QByteArray& digits = m_texts[slot++];
            if (v.userType() == QMetaType::ULongLong)
                decimal(false, v.toULongLong(), digits);
            else
                decimal(v.toLongLong() < 0, wholeMagnitude(v.toLongLong()), digits);
            rc = sqlite3_bind_text(st, index, digits.constData(), digits.size(), SQLITE_STATIC);
        } else {
            rc = bindText(index, pim::fieldText(v));
        }
    }
    if (rc != SQLITE_OK)
        fail("sqlite3_bind", rc, db);
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail("sqlite3_step", rc, db);
    return sqlite3_last_insert_rowid(db);
}
