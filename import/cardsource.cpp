#include "cardsource.h"

#include <QFile>

#include <cerrno>
#include <unistd.h>

CardSource::CardSource(QByteArray text) : m_text(std::move(text)), m_size(m_text.size()) {}

CardSource::CardSource(std::unique_ptr<QFile> file, qint64 begin)
    : m_file(std::move(file)), m_fd(m_file->handle()), m_begin(begin) {
    m_size = m_fd < 0 ? 0 : qMax<qint64>(0, m_file->size() - begin);
}

CardSource::~CardSource() = default;

int CardSource::read(qint64 at, int max, QByteArray& buffer, const char*& bytes) const {
    const int want = int(qBound<qint64>(0, qMin<qint64>(max, m_size - at), max));
    bytes = nullptr;
    if (want <= 0 || at < 0)
        return 0;
    if (!m_file) {
        bytes = m_text.constData() + at;
        return want;
    }
    if (buffer.size() < want)
        buffer.resize(want);
    int got = 0;
    while (got < want) {
        // By offset: the file's own position is no reader's.
        const ssize_t n =
            ::pread(m_fd, buffer.data() + got, size_t(want - got), off_t(m_begin + at + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += int(n);
    }
    bytes = buffer.constData();
    return got;
}
