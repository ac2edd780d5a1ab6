// Contacts from a vCard file, one per card.
#ifndef TW_IMPORT_VCARDIMPORT_H
#define TW_IMPORT_VCARDIMPORT_H

#include "absimport.h"
#include "qvcardparser.h"
#include "vcardgroups.h"

#include <memory>

class VCardFileCharset;

// Group cards are no contacts: they are left out of total() and the contacts, and their
// members get the group.
class VCardImport : public AbsImport {
public:
    VCardImport();
    ~VCardImport() override;

    void initialize(QString path) override;
    int total() override;
    bool hasNext() override;
    pim::_Contact nextContact() override;
    void uninitialize() override;

    // One card turned into a contact (no row ids); dates left out are added to `skippedDates`;
    // text that names no character set and is not UTF-8 is read in `legacy`'s.
    static pim::_Contact cardToContact(const QList<QVCardParser::_Property>& card,
                                       int* skippedDates = nullptr,
                                       LegacyCharset* legacy = nullptr);
    int skippedLines() const override { return skipped; }
    int skippedDates() const override { return skippedDateCount; }
    QStringList groups() const override { return groupCards.groupNames(); }
    int groupCardCount() const override { return groupCards.groupCards(); }
    int membersNotFound() const override { return groupCards.membersNotFound(); }

private:
    // The cards are parsed as they are taken (on the thread that takes them), after a first
    // pass has counted them.
    std::unique_ptr<VCardStream> stream;
    QVCardParser::Card card;  // the next card, when `cardReady`
    bool cardReady = false;
    std::unique_ptr<VCardFileCharset> charset;
    VCardGroups groupCards;
    bool mayHoldGroups = false;
    int count = 0;
    int skipped = 0;
    int skippedDateCount = 0;
};

#endif
