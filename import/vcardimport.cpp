#include "vcardimport.h"

#include "cardsource.h"
#include "textencoding.h"
#include "vcardcharset.h"
#include "vcardmapping.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace {

// Whether the text holds nothing but ASCII blanks (QByteArray::trimmed's).
bool blankOnly(const CardSource& text) {
    QByteArray buffer;
    qint64 at = 0;
    for (;;) {
        const char* bytes = nullptr;
        const int n = text.read(at, 64 * 1024, buffer, bytes);
        if (n == 0)
            return true;
        for (int i = 0; i < n; ++i) {
            const char c = bytes[i];
            if (c != ' ' && (c < '\t' || c > '\r'))
                return false;
        }
        at += n;
    }
}

}  // namespace

// The contacts of the cards from one cut of the file to another, parsed as they are taken.
class VCardImport::Reader : public ImportPart {
public:
    // Parts [first, last) of the owner's.
    Reader(VCardImport& owner, int first, int last)
        : m_owner(owner), m_first(first), m_last(last) {}

    bool hasNext() override {
        if (!m_stream) {
            // Found here, on the thread that reads the part.
            const CardSource& text = *m_owner.text;
            const qint64 begin = m_first == 0 ? 0 : QVCardParser::cardCut(text, cutAt(m_first));
            const qint64 end = m_last >= m_owner.partCount()
                                   ? text.size()
                                   : QVCardParser::cardCut(text, cutAt(m_last));
            m_stream.reset(new VCardStream(m_owner.text, begin, end));
        }
        while (!m_cardReady && !m_ended) {
            if (!m_stream->next(m_card)) {
                m_ended = true;
                m_owner.skipped += m_stream->skippedLines();
                m_owner.unread += m_stream->unreadCards();
            } else if (m_owner.mayHoldGroups && VCardGroups::isGroupCard(m_card)) {
                m_card.clear();
            } else {
                m_cardReady = true;
            }
        }
        return m_cardReady;
    }

    pim::_Contact nextContact() override {
        if (!hasNext())
            throw std::runtime_error("VCardImport: no card left");
        m_cardReady = false;
        QVCardParser::Card taken;
        taken.swap(m_card);
        int skippedDates = 0;
        pim::_Contact contact = cardToContact(taken, &skippedDates, m_owner.charset.get());
        m_owner.skippedDateCount += skippedDates;
        const QString group = m_owner.groupCards.groupOf(taken);
        if (!group.isEmpty()) {
            // The group card's membership is the file's own word on the contact's one group.
            pim::Entity membership;
            membership.fields[QStringLiteral("data2")] = group;
            contact.entities[pim::ENTITY_GROUP] = QList<pim::Entity>{membership};
        }
        return contact;
    }

private:
    static qint64 cutAt(int part) { return qint64(part) * PART_BYTES; }

    VCardImport& m_owner;
    const int m_first;
    const int m_last;
    std::unique_ptr<VCardStream> m_stream;
    QVCardParser::Card m_card;  // the next card, when `m_cardReady`
    bool m_cardReady = false;
    bool m_ended = false;
};

VCardImport::VCardImport() {}

VCardImport::~VCardImport() = default;

void VCardImport::initialize(QString path) {
    uninitialize();
    std::unique_ptr<QFile> file(new QFile(path));
    if (!file->open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file->errorString().toUtf8().toStdString());
    }
    // The head tells UTF-16 (with a mark or without) and a UTF-8 mark.
    const QByteArray head = file->read(4096);
    const bool utf16 = !textencoding::utf16Name(head).isEmpty();
    const bool marked = head.startsWith("\xEF\xBB\xBF");
    if (utf16) {
        // Turned into UTF-8 as a whole: such files are small.
        file->seek(0);
        text = std::make_shared<CardSource>(QVCardParser::utf8Text(file->readAll()));
    } else {
        text = std::make_shared<CardSource>(std::move(file), marked ? 3 : 0);
    }
    // Counting is a fraction of parsing: the merges then begin on the first cards while the
    // rest are parsed.
    const QVCardParser::CardCount counted = QVCardParser::countCards(*text);
    count = counted.cards;
    skipped = 0;
    unread = 0;
    charset.reset(new VCardFileCharset(text));
    groupCards = VCardGroups();
    mayHoldGroups = counted.kindNamed;
    if (mayHoldGroups) {
        VCardStream cards(text, 0, text->size());
        groupCards.scan(cards, charset.get());
        count -= groupCards.groupCards();
    }
    whole.reset(new Reader(*this, 0, partCount()));
    if (counted.cards == 0 && !utf16 && !marked && !blankOnly(*text)) {
        // Something else picked by mistake must not end in "imported 0 contacts".
        throw std::runtime_error(
            QCoreApplication::translate("ImportContactsToLocalThread", "%1 is not a vCard file.")
                .arg(QFileInfo(path).fileName())
                .toUtf8()
                .toStdString());
    }
}

int VCardImport::total() {
    return count;
}

bool VCardImport::hasNext() {
    return whole && whole->hasNext();
}

pim::_Contact VCardImport::nextContact() {
    if (!whole)
        throw std::runtime_error("VCardImport: no card left");
    return whole->nextContact();
}

void VCardImport::uninitialize() {
    whole.reset();
    charset.reset();
    text.reset();
}

int VCardImport::partCount() const {
    if (!text)
        return 1;
    return int(qMax<qint64>(1, (text->size() + PART_BYTES - 1) / PART_BYTES));
}

std::unique_ptr<ImportPart> VCardImport::part(int index) {
    return std::unique_ptr<ImportPart>(new Reader(*this, index, index + 1));
}

pim::_Contact VCardImport::cardToContact(const QList<QVCardParser::_Property>& card,
                                         int* skippedDates, LegacyCharset* legacy) {
    CardMapper mapper(card, legacy);
    pim::_Contact contact = mapper.contact();
    if (skippedDates)
        *skippedDates += mapper.skippedDates();
    return contact;
}
