// The text of a vCard file as its readers take it: a stretch at a time, by offset.
#ifndef TW_IMPORT_CARDSOURCE_H
#define TW_IMPORT_CARDSOURCE_H

#include <QByteArray>

#include <memory>

class QFile;

// Either the file itself, read by offset into each reader's own buffer (readers side by side
// share no position), or text held in memory. Reading the file as it goes spares taking fresh
// memory for all of it up front. A file that shrinks or cannot be read while it is read ends
// where its bytes end; one that grows is read to the size it had.
class CardSource {
public:
    explicit CardSource(QByteArray text);
    // The open file's bytes from `begin` to its end.
    CardSource(std::unique_ptr<QFile> file, qint64 begin);
    ~CardSource();
    CardSource(const CardSource&) = delete;
    CardSource& operator=(const CardSource&) = delete;

    qint64 size() const { return m_size; }
    // Up to `max` bytes from `at`: points `bytes` at them (in the text, or in `buffer`) and
    // returns how many; 0 at the end, and where the file ends early or cannot be read.
    int read(qint64 at, int max, QByteArray& buffer, const char*& bytes) const;

private:
    QByteArray m_text;
    std::unique_ptr<QFile> m_file;
    int m_fd = -1;
    qint64 m_begin = 0;
    qint64 m_size = 0;
};

#endif
