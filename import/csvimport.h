// Contacts from a CSV file whose first line names the columns.
#ifndef TW_IMPORT_CSVIMPORT_H
#define TW_IMPORT_CSVIMPORT_H

#include "absimport.h"

#include <QBuffer>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <functional>

class CSVImport : public AbsImport {
public:
    // What one column fills: entity type (0 = ignored), subtype code, the entity key that
    // receives the subtype (may be empty) and the key that receives the cell text.
    struct _ColInfo {
        // How the cell is read. PLAIN: its text into `dataKey`. LABEL: the kind of the values of
        // its slot ("Mobile", "* Work"). SERVICE: the messenger of its slot's IM addresses.
        // MULTI: one value or several joined by " ::: ", each of its own entity. FULL_NAME: the
        // whole name, used when no name part is given. FORMATTED_ADDR: the whole address, used
        // when no address part is given. BIRTH_*: a part of the birthday. GROUPS: group names
        // joined by " ::: ". IGNORED: known, holds nothing to keep.
        enum Role {
            PLAIN,
            LABEL,
            SERVICE,
            MULTI,
            FULL_NAME,
            FORMATTED_ADDR,
            BIRTH_YEAR,
            BIRTH_MONTH,
            BIRTH_DAY,
            GROUPS,
            IGNORED
        };
        int type = 0;
        int subtype = 0;
        QString subtypeKey;
        QString dataKey;
        Role role = PLAIN;
        // Columns of one type and subtype with different slots fill different entities: the
        // number of a Google slot ("Phone 2 - Value") or of a repeated own column ("Tel:Mobile 2").
        int slot = 0;
        // A kind no code names ("Yahoo! Phone", "Connected On"): the entity's custom label.
        QString label;
        // Where the text of an address column that fills the street goes among its lines: the
        // post-office box first, then the extended address, then the street lines in column order.
        enum StreetLine { PO_BOX, EXTENDED, STREET };
        StreetLine streetLine = STREET;
        // A place word alone ("Home", "Business") may name a number or a company: the column is
        // that place's phone only when every cell it fills holds a phone number, else it is not
        // understood.
        bool numbersOnly = false;
        // Known, but what it holds is not kept (a hobby, a phonetic name): named in the closing
        // text, like a column not understood, when it holds anything.
        bool leftOut = false;

        _ColInfo() {}
        _ColInfo(int type, int subtype, QString subtypeKey, QString dataKey, Role role = PLAIN,
                 int slot = 0);
        bool known() const { return type != 0 || role != PLAIN; }
        // Whether what the column holds is left out and so named in the closing text.
        bool unread() const { return !known() || leftOut; }
    };

    CSVImport();
    ~CSVImport() override;

    void initialize(QString path) override;
    int total() override;
    bool hasNext() override;
    pim::_Contact nextContact() override;
    void uninitialize() override;
    QStringList unreadColumns() const override;
    int skippedDates() const override;
    int skippedLines() const override;

    // Descriptor of a header text (exact, case-sensitive); the ignored descriptor when unknown.
    static _ColInfo colInfo(QString name);
    // The descriptors of a whole header line: the table's, read in the light of the other columns
    // ("Title" is a job title where no column holds one), else the meaning of the column's words.
    static QVector<_ColInfo> headerColumns(const QStringList& header);
    // Number of distinct header texts the table knows.
    static int knownHeaderCount();

private:
    void readColumns();
    // The index of the header among `lines`, which is taken as `header`.
    int findHeader(const QList<QStringList>& lines);
    QStringList readRow();
    void noteFilled(const QStringList& row, QVector<bool>& held) const;
    void settleNumberColumns();
    // Each row not read yet, in order, while `take` returns true; the read position stays.
    void rowsAhead(const std::function<bool(const QStringList&)>& take) const;

    QByteArray text;  // the file as UTF-8
    char separator = ',';
    QBuffer buffer;  // over `text`, at the next row
    int rowCount = 0;
    int rowsRead = 0;
    QStringList header;
    QVector<_ColInfo> columns;    // descriptor of each header cell, looked up once per file
    QVector<QString> columnKeys;  // csvrow::entityKeys(columns)
    bool anyKnown = false;
    bool dayFirst = false;  // dates as d/M/y (Outlook outside English)
    QVector<bool> filled;   // per column, whether a row read so far holds something in it
    int skippedDateCount = 0;
    int skippedLineCount = 0;  // lines ahead of the header (LinkedIn's notes) that hold something
};

#endif
