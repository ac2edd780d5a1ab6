#include "vcardimport.h"

#include "vcardmapping.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>
#include <QSet>

#include <stdexcept>

VCardImport::VCardImport() {}

VCardImport::~VCardImport() {}

void VCardImport::initialize(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    }
    const QByteArray bytes = file.readAll();
    file.close();
    // Counting is a fraction of parsing: the merges then begin on the first cards while the
    // rest are parsed.
    count = QVCardParser::countCards(bytes, &skipped);
    stream.reset(new VCardStream(bytes));
    cardReady = false;
    if (count == 0 && !bytes.trimmed().isEmpty()) {
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
    if (!cardReady && stream)
        cardReady = stream->next(card);
    return cardReady;
}

pim::_Contact VCardImport::nextContact() {
    if (!hasNext())
        throw std::runtime_error("VCardImport: no card left");
    cardReady = false;
    QVCardParser::Card taken;
    taken.swap(card);
    return cardToContact(taken, &skippedDateCount);
}

void VCardImport::uninitialize() {
    stream.reset();
    cardReady = false;
    card.clear();
}

pim::_Contact VCardImport::cardToContact(const QList<QVCardParser::_Property>& card,
                                         int* skippedDates) {
    CardMapper mapper(card);
    pim::_Contact contact = mapper.contact();
    if (skippedDates)
        *skippedDates += mapper.skippedDates();
    return contact;
}
