#include "filebytes.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

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
    enum { LARGE = 8 << 20, PIECES = 4 };
    const qint64 start = file.pos();
    const qint64 expected = file.size() - start;
    const int fd = file.handle();
    if (expected < LARGE || expected >= qint64(INT32_MAX) || fd < 0)
        return file.readAll();
    QByteArray bytes(int(expected), Qt::Uninitialized);
    adviseLargePages(bytes.data(), expected);
    // Read in pieces side by side: fresh memory is cleared by the thread that first touches
    // it, so the pieces share that cost out too.
    char* data = bytes.data();
    std::vector<char> whole(PIECES, 0);
    auto readPiece = [&](int k) {
        qint64 at = expected * k / PIECES;
        const qint64 end = expected * (k + 1) / PIECES;
        while (at < end) {
            const ssize_t n = ::pread(fd, data + at, size_t(end - at), off_t(start + at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            at += n;
        }
        whole[k] = 1;
    };
    std::vector<std::thread> helpers;
    for (int k = 1; k < PIECES; ++k)
        helpers.emplace_back(readPiece, k);
    readPiece(0);
    for (std::thread& t : helpers)
        t.join();
    // A file that shrank, or a piece that could not be read, is read again as readAll reads it.
    if (std::count(whole.begin(), whole.end(), 1) != PIECES || !file.seek(start + expected)) {
        file.seek(start);
        return file.readAll();
    }
    // A file that grew while it was read is read to its end all the same.
    bytes += file.readAll();
    return bytes;
}

}  // namespace filebytes
