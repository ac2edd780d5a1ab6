// Contacts for the export tests, and a real contact database to store them in.
#pragma once

#include "store/localdb.h"
#include "store/pim.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QScopedPointer>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <initializer_list>
#include <ostream>
#include <utility>

namespace exporttest {

pim::Entity ent(std::initializer_list<std::pair<const char*, QVariant> > fields);
pim::_Contact contact(const QString& fullName,
                      std::initializer_list<std::pair<int, pim::Entity> > entities);

// Image bytes of a small solid picture.
QByteArray imageBytes(const char* format, int w = 8, int h = 6);

// A valid PNG of under 1 MB that claims far more pixels than a contact photo may have (1 bit
// per pixel keeps building it light). Built once.
const QByteArray& oversizedPng();

// A contact with one or more entities of every type, texts that need escaping included.
pim::_Contact everyType(const QString& fullName);

// One detail of a contact: entity type, key, index in the type's list.
struct Detail {
    int type;
    const char* key;
    int index;
};
QString detail(const pim::_Contact& c, const Detail& d);
// Expects each listed detail to be the same in both contacts.
void expectSameDetails(const pim::_Contact& back, const pim::_Contact& src,
                       std::initializer_list<Detail> details);

// A fresh database from the template in a temporary folder.
struct TempDb {
    QTemporaryDir dir;
    QScopedPointer<LocalDb> db;
    TempDb();
    // Stores the contacts and returns them as the database reads them back (sorted by name).
    QList<pim::_Contact> storeAndReload(const QList<pim::_Contact>& contacts);
};

QByteArray readFile(const QString& path);
// Every file and folder below a folder, hidden ones included, with its content ("<dir>" for a
// folder).
QMap<QString, QByteArray> snapshot(const QString& root);
void writeFile(const QString& path, const QByteArray& bytes);

}  // namespace exporttest

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
