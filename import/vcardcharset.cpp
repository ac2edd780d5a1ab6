#include "vcardcharset.h"

#include "cardsource.h"
#include "textencoding.h"
#include "valuecharset.h"

#include <QTextCodec>

namespace {

// Values that are pictures or sounds, not text.
bool isBinary(const QVCardParser::_Property& prop) {
    const int dot = prop.name.lastIndexOf(QLatin1Char('.'));
    const QString name = prop.name.mid(dot + 1).toUpper();
    if (name == QLatin1String("PHOTO") || name == QLatin1String("LOGO") ||
        name == QLatin1String("SOUND") || name == QLatin1String("KEY"))
        return true;
    const QString encoding = prop.params.value(QStringLiteral("ENCODING")).toUpper();
    return encoding == QLatin1String("B") || encoding == QLatin1String("BASE64") ||
           prop.params.contains(QStringLiteral("BASE64")) ||
           prop.params.contains(QStringLiteral("B"));
}

}  // namespace

QByteArray VCardFileCharset::legacyValues(const QByteArray& data, int limit) {
    VCardStream cards(data);
    return legacyValues(cards, limit);
}

QByteArray VCardFileCharset::legacyValues(VCardStream& cards, int limit) {
    QByteArray sample;
    QVCardParser::Card card;
    while (sample.size() < limit && cards.next(card)) {
        for (const QVCardParser::_Property& prop : card) {
            if (isBinary(prop))
                continue;
            const QByteArray charset = prop.params.value(QStringLiteral("CHARSET")).toLatin1();
            if (valuecharset::of(charset.constData(), prop.value.constData(), prop.value.size())
                    .source != valuecharset::Source::FileLegacy)
                continue;
            sample += prop.value;
            sample += '\n';
        }
    }
    return sample;
}

QTextCodec* VCardFileCharset::codec() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_found) {
        m_found = true;
        VCardStream cards(m_text, 0, m_text->size());
        const QByteArray sample = legacyValues(cards);
        if (!sample.isEmpty())
            m_codec = QTextCodec::codecForName(textencoding::detectLegacy(sample));
        m_text.reset();
    }
    return m_codec;
}
