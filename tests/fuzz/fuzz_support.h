// What the fuzz targets share: the application object, a private folder, files written from the
// input, a fresh contact database per input and a reader that cuts the input into fields.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

class LocalDb;

namespace fuzz {

// The one QApplication of the process (offscreen platform), for targets that reach widgets.
void ensureApp();
// Deletes what was handed to deleteLater: the program's event loop would, a fuzz loop has none.
void deleteLaterNow();
// Message boxes are answered at once instead of waiting for a user: with the button of the
// accepting role when accept is true, else closed without a choice.
void answerMessageBoxes(bool accept);

// A folder private to this process, removed at exit.
QString dir();
QString path(const QString& name);
// Writes the bytes (the file is replaced); false when it cannot be written.
bool writeFile(const QString& path, const QByteArray& bytes);

// A contact database made from the template, emptied again for every input.
LocalDb& freshDb();

// Cuts an input into fields: a length byte, then that many bytes (what is left when shorter).
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p(data), n(size) {}
    bool empty() const { return n == 0; }
    uint8_t byte();
    int number(int modulo) { return modulo > 0 ? byte() % modulo : 0; }
    QByteArray bytes();
    // A field of up to 65535 bytes: two length bytes (big-endian), then the bytes.
    QByteArray bytes16();
    QString text() { return QString::fromUtf8(bytes()); }
    QByteArray rest();

private:
    const uint8_t* p;
    size_t n;
};

}  // namespace fuzz
