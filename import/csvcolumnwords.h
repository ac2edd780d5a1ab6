// A CSV column known by what its name says in common English words ("Cell phone", "E-mail
// address", "Zip code", "Date of birth"), for the layouts no producer table lists.
#ifndef TW_IMPORT_CSVCOLUMNWORDS_H
#define TW_IMPORT_CSVCOLUMNWORDS_H

#include "csvimport.h"

#include <QString>

namespace csvwords {

// What a column named `header` fills, read from its words without regard to case, blanks,
// punctuation or a number ("Phone 2"). Every word must be one the reader knows, so "Last
// modified" or "Emergency contact phone" stay unknown rather than be read wrongly; the ignored
// descriptor (type 0, role PLAIN) when the words say nothing.
CSVImport::_ColInfo meaning(const QString& header);

// Whether a cell holds a phone number and nothing else: digits (three at least), blanks and
// "+ ( ) - . /", then perhaps an extension ("x12", "ext. 12").
bool isPhoneNumber(const QString& cell);

}  // namespace csvwords

#endif
