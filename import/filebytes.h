// A whole file read into memory, as QIODevice::readAll reads it.
#ifndef TW_IMPORT_FILEBYTES_H
#define TW_IMPORT_FILEBYTES_H

#include <QByteArray>

class QFile;

namespace filebytes {

// The bytes from the file's position to its end. A file of many megabytes (a vCard with
// photos) goes into memory that the system may back with large pages, read in a few pieces
// side by side: taking fresh memory a small page at a time costs more than reading the file.
// Stops at a read error, keeping what was read, as readAll does.
QByteArray readAll(QFile& file);

}  // namespace filebytes

#endif
