// The contacts of a database that have no name, known by the values they hold. A person of a
// backup without a name, company, e-mail address or number has nothing else to be known by: an
// import of the same backup again finds it here instead of storing it once more.
#pragma once

#include "store/pim.h"

#include <QByteArray>
#include <QHash>
#include <QList>

class LocalDb;

class NamelessContacts {
public:
    explicit NamelessContacts(LocalDb& db) : m_db(db) {}

    // The row id of a stored contact without a name whose values are exactly those of
    // `incoming`, or 0. Each stored contact is given once per run, so two people with the same
    // values stay two. The stored contacts are read at the first call, before this run stored
    // any: those it stores are never given.
    unsigned long long take(const pim::_Contact& incoming);

    // Every value of every detail but group memberships, in one order whatever the order of
    // the details, so that a contact and its stored rows read back give the same key. Empty
    // values count as absent; a photo counts by its bytes.
    static QByteArray valuesKey(const pim::_Contact& contact);

private:
    void load();

    LocalDb& m_db;
    bool m_loaded = false;
    // Row ids of the stored ones not given yet, by key, in row-id order.
    QHash<QByteArray, QList<unsigned long long> > m_untaken;
};
