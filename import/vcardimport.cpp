#include "vcardimport.h"

#include "vcardmapping.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>
#include <QSet>

#include <stdexcept>

VCardImport::VCardImport() {
    cardIt = cards.constEnd();
}

VCardImport::~VCardImport() {}

void VCardImport::initialize(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    }
    const QByteArray bytes = file.readAll();
    file.close();
    cards = QVCardParser::parse(bytes, &skipped);
    cardIt = cards.constBegin();
    if (cards.isEmpty() && !bytes.trimmed().isEmpty()) {
        // Something else picked by mistake must not end in "imported 0 contacts".
        throw std::runtime_error(
            QCoreApplication::translate("ImportContactsToLocalThread", "%1 is not a vCard file.")
                .arg(QFileInfo(path).fileName())
                .toUtf8()
                .toStdString());
    }
}

int VCardImport::total() {
    return cards.size();
}

bool VCardImport::hasNext() {
    return cardIt != cards.constEnd();
}

pim::_Contact VCardImport::nextContact() {
    const QList<QVCardParser::_Property>& card = *cardIt;
    ++cardIt;
    return cardToContact(card, &skippedDateCount);
}

void VCardImport::uninitialize() {}

pim::_Contact VCardImport::cardToContact(const QList<QVCardParser::_Property>& card,
                                         int* skippedDates) {
    CardMapper mapper(card);
    pim::_Contact contact = mapper.contact();
    if (skippedDates)
        *skippedDates += mapper.skippedDates();
    return contact;
}
