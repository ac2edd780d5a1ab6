// One batch of writes to a database: committed by commit(), rolled back when the scope is left
// any other way (an exception on the way). A failed commit throws and still rolls back.
#pragma once

#include "localdb.h"

class EditTransaction {
public:
    explicit EditTransaction(LocalDb& db) : m_db(db) { m_db.beginEdit(); }
    ~EditTransaction() {
        if (!m_done) {
            m_db.endEdit(false);  // never throws; the first failure is the one reported
        }
    }
    EditTransaction(const EditTransaction&) = delete;
    EditTransaction& operator=(const EditTransaction&) = delete;

    void commit() {
        m_db.endEdit(true);
        m_done = true;
    }

private:
    LocalDb& m_db;
    bool m_done = false;
};
