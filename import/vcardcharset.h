// The character set of a vCard file's values that name none and are not UTF-8, found once,
// when the first such value is read.
#ifndef TW_IMPORT_VCARDCHARSET_H
#define TW_IMPORT_VCARDCHARSET_H

#include "qvcardparser.h"

#include <QByteArray>

class VCardFileCharset : public LegacyCharset {
public:
    explicit VCardFileCharset(const QByteArray& data) : m_data(data) {}
    // The set the detector names for those values of the whole file taken together (one value
    // alone is too short to tell); null when the file holds none.
    QTextCodec* codec() override;

    // Those values, as the detector reads them: at most about `limit` bytes.
    static QByteArray legacyValues(const QByteArray& data, int limit = 65536);

private:
    QByteArray m_data;
    bool m_found = false;
    QTextCodec* m_codec = nullptr;
};

#endif
