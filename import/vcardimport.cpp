#include "vcardimport.h"

#include "filebytes.h"
#include "vcardcharset.h"
#include "vcardmapping.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>
#include <QSet>

#include <stdexcept>

VCardImport::VCardImport() {}

VCardImport::~VCardImport() = default;

void VCardImport::initialize(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    }
    const QByteArray bytes = filebytes::readAll(file);
    file.close();
    // Counting is a fraction of parsing: the merges then begin on the first cards while the
    // rest are parsed.
    const int cards = QVCardParser::countCards(bytes, &skipped);
    count = cards;
    stream.reset(new VCardStream(bytes));
    charset.reset(new VCardFileCharset(bytes));
    cardReady = false;
    groupCards = VCardGroups();
    mayHoldGroups = VCardGroups::mayHoldGroups(bytes);
    if (mayHoldGroups) {
        groupCards.scan(bytes, charset.get());
        count -= groupCards.groupCards();
    }
    if (cards == 0 && !bytes.trimmed().isEmpty()) {
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
    while (!cardReady && stream && stream->next(card)) {
        if (mayHoldGroups && VCardGroups::isGroupCard(card))
            card.clear();
        else
            cardReady = true;
    }
    return cardReady;
}

pim::_Contact VCardImport::nextContact() {
    if (!hasNext())
        throw std::runtime_error("VCardImport: no card left");
    cardReady = false;
    QVCardParser::Card taken;
    taken.swap(card);
    pim::_Contact contact = cardToContact(taken, &skippedDateCount, charset.get());
    const QString group = groupCards.groupOf(taken);
    if (!group.isEmpty()) {
        // The group card's membership is the file's own word on the contact's one group.
        pim::Entity membership;
        membership.fields[QStringLiteral("data2")] = group;
        contact.entities[pim::ENTITY_GROUP] = QList<pim::Entity>{membership};
    }
    return contact;
}

void VCardImport::uninitialize() {
    stream.reset();
    charset.reset();
    cardReady = false;
    card.clear();
}

pim::_Contact VCardImport::cardToContact(const QList<QVCardParser::_Property>& card,
                                         int* skippedDates, LegacyCharset* legacy) {
    CardMapper mapper(card, legacy);
    pim::_Contact contact = mapper.contact();
    if (skippedDates)
        *skippedDates += mapper.skippedDates();
    return contact;
}
