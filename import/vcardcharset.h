// The character set of a vCard file's values that name none and are not UTF-8, found once,
// when the first such value is read.
#ifndef TW_IMPORT_VCARDCHARSET_H
#define TW_IMPORT_VCARDCHARSET_H

#include "qvcardparser.h"

#include <QByteArray>

#include <memory>
#include <mutex>

class VCardFileCharset : public LegacyCharset {
public:
    explicit VCardFileCharset(std::shared_ptr<const CardSource> text) : m_text(std::move(text)) {}
    // The set the detector names for those values of the whole file taken together (one value
    // alone is too short to tell); null when the file holds none. Safe to ask from threads side
    // by side: the first asks, the others wait for its answer.
    QTextCodec* codec() override;

    // Those values, as the detector reads them: at most about `limit` bytes.
    static QByteArray legacyValues(const QByteArray& data, int limit = 65536);
    static QByteArray legacyValues(VCardStream& cards, int limit = 65536);

private:
    std::mutex m_mutex;
    std::shared_ptr<const CardSource> m_text;
    bool m_found = false;
    QTextCodec* m_codec = nullptr;
};

#endif
