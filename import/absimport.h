// The interface through which the import worker drives every importer.
#ifndef TW_IMPORT_ABSIMPORT_H
#define TW_IMPORT_ABSIMPORT_H

#include "store/pim.h"

#include <QString>
#include <QStringList>

#include <memory>

// A stretch of an importer's contacts that one thread reads on its own (AbsImport::part).
class ImportPart {
public:
    virtual ~ImportPart() {}
    virtual bool hasNext() = 0;
    // The next contact; call only while hasNext() is true.
    virtual pim::_Contact nextContact() = 0;
};

class AbsImport {
public:
    virtual ~AbsImport() {}
    // Reads the whole file; throws std::runtime_error when it cannot be read.
    virtual void initialize(QString path) = 0;
    // Number of contacts the file holds.
    virtual int total() = 0;
    virtual bool hasNext() = 0;
    // The next contact; call only while hasNext() is true.
    virtual pim::_Contact nextContact() = 0;
    // Called once at the end, also after a cancel.
    virtual void uninitialize() = 0;
    // The contacts in parts, known after initialize(), that threads may read side by side (each
    // part on one thread at a time); the parts' contacts one after the other are those that
    // hasNext() and nextContact() give. The counts below then add up every part's.
    virtual int partCount() const { return 1; }
    // A reader of part `index`, valid until uninitialize(); null from an importer of one part,
    // which is read through hasNext() and nextContact().
    virtual std::unique_ptr<ImportPart> part(int index) {
        (void)index;
        return nullptr;
    }
    // Lines of the file that could not be read and were left out.
    virtual int skippedLines() const { return 0; }
    // Cards of the file that could not be read and were left out (vCard).
    virtual int unreadCards() const { return 0; }
    // Names of the columns that held something this importer could not read (CSV).
    virtual QStringList unreadColumns() const { return QStringList(); }
    // Dates that were no dates ("circa 1800") and were left out; counted as contacts are read.
    virtual int skippedDates() const { return 0; }
    // The groups the file defines, known after initialize(): each is made in the database, also
    // when none of the file's contacts is in it.
    virtual QStringList groups() const { return QStringList(); }
    // Cards of the file that are groups rather than contacts (vCard), and the members they name
    // that are not in the file.
    virtual int groupCardCount() const { return 0; }
    virtual int membersNotFound() const { return 0; }
};

#endif
