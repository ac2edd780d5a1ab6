// A database that an import creates is marked unfinished, by a file beside it, until the import
// has ended. A program killed in between leaves the mark, and the next start removes the
// database when it holds no contact: an import that did not finish leaves no empty database.
#pragma once

#include <QDir>
#include <QString>

#include "itemmodelmaintree.h"

class UnfinishedImportMark {
public:
    // Writes the mark beside the database (best effort: without it only a kill can leave the
    // empty database behind).
    explicit UnfinishedImportMark(const QString& dbPath);
    // Removes the mark: the import ended, with its database kept or removed.
    ~UnfinishedImportMark();
    UnfinishedImportMark(const UnfinishedImportMark&) = delete;
    UnfinishedImportMark& operator=(const UnfinishedImportMark&) = delete;

    // "<database>.importing", the database name shortened when the whole would be too long.
    static QString markPath(const QString& dbPath);

private:
    QString m_mark;
};

// Removes every marked database of the folder that holds no contact (its journal, once rolled
// back, took the unfinished import with it), and every mark. A marked database that holds
// contacts ended its import after all and stays.
void g_sweepUnfinishedImports(const QDir& dbFolder);

// Removes a database that an import made and did not fill (it failed or was cancelled): its file
// and its node. One that existed before stays as the rolled-back import left it.
void g_dropCreatedDb(ItemModelMainTree& tree, ItemModelMainTree::_DBItemNode* node);
