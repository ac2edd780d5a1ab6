#include "filebytes.h"

#include <QFile>

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace filebytes {

namespace {

// Asks for large pages for the whole pages of [data, data + size). Only advice: without it the
// bytes are the same.
void adviseLargePages(char* data, qint64 size) {
#ifdef MADV_HUGEPAGE
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + uintptr_t(size)) & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace

QByteArray readAll(QFile& file) {
    enum { LARGE = 8 << 20 };
    const qint64 expected = file.size() - file.pos();
    if (expected < LARGE || expected >= qint64(INT32_MAX))
        return file.readAll();
    QByteArray bytes(int(expected), Qt::Uninitialized);
    adviseLargePages(bytes.data(), expected);
    qint64 got = 0;
    while (got < expected) {
        const qint64 n = file.read(bytes.data() + got, expected - got);
        if (n <= 0)
            break;
        got += n;
    }
    bytes.resize(int(got));
    // A file that grew while it was read is read to its end all the same.
    if (got == expected)
        bytes += file.readAll();
    return bytes;
}

}  // namespace filebytes
