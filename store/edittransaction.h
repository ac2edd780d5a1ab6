// The one way to write to a contact database in a transaction: an edit committed by commit(),
// rolled back when the scope is left any other way (an exception on the way). A failed commit
// throws and still rolls back. An edit can hold parts (savepoints, nested) that are kept or
// undone alone while the rest of the edit stays open.
#pragma once

#include "localdb.h"

class EditTransaction {
public:
    // A plain edit.
    explicit EditTransaction(LocalDb& db) : m_db(db) { m_db.beginEdit(); }
    // An edit of about `expectedContacts` merges: the store may defer its indexes to the commit.
    EditTransaction(LocalDb& db, int expectedContacts) : m_db(db) {
        m_db.beginBulkEdit(expectedContacts);
    }
    ~EditTransaction() { rollback(); }
    EditTransaction(const EditTransaction&) = delete;
    EditTransaction& operator=(const EditTransaction&) = delete;

    bool isOpen() const { return m_open; }

    void commit() {
        while (m_parts > 0)
            keepPart();
        try {
            m_db.endEdit(true);
        } catch (...) {
            rollback();
            throw;
        }
        m_open = false;
    }

    // Never throws; the first failure is the one reported.
    void rollback() {
        if (!m_open)
            return;
        m_open = false;
        m_parts = 0;
        m_db.endEdit(false);
    }

    // A part of the edit, inside the parts open before it; keepPart and dropPart end the
    // innermost one.
    void beginPart() {
        m_db.beginPart();
        ++m_parts;
    }
    void keepPart() {
        m_db.endPart(true);
        --m_parts;
    }
    // Never throws: a part that cannot be undone alone takes the whole edit with it.
    void dropPart() {
        if (m_parts == 0)
            return;
        --m_parts;
        m_db.endPart(false);
        if (!m_db.db().inTransaction()) {
            m_open = false;
            m_parts = 0;
        }
    }
    int openParts() const { return m_parts; }

private:
    LocalDb& m_db;
    bool m_open = true;
    int m_parts = 0;
};
