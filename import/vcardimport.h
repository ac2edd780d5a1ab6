// Contacts from a vCard file, one per card.
#ifndef TW_IMPORT_VCARDIMPORT_H
#define TW_IMPORT_VCARDIMPORT_H

#include "absimport.h"
#include "qvcardparser.h"
#include "vcardgroups.h"

#include <atomic>
#include <memory>

class CardSource;
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
    // Parts of about a megabyte of the file each, cut where a card begins afresh.
    int partCount() const override;
    std::unique_ptr<ImportPart> part(int index) override;

    // One card turned into a contact (no row ids); dates left out are added to `skippedDates`;
    // text that names no character set and is not UTF-8 is read in `legacy`'s.
    static pim::_Contact cardToContact(const QList<QVCardParser::_Property>& card,
                                       int* skippedDates = nullptr,
                                       LegacyCharset* legacy = nullptr);
    // Known once every part has been read.
    int skippedLines() const override { return skipped; }
    int unreadCards() const override { return unread; }
    int skippedDates() const override { return skippedDateCount; }
    QStringList groups() const override { return groupCards.groupNames(); }
    int groupCardCount() const override { return groupCards.groupCards(); }
    int membersNotFound() const override { return groupCards.membersNotFound(); }

private:
    class Reader;
    enum { PART_BYTES = 1 << 20 };

    // The file is read as its cards are taken, after a first pass has counted them.
    std::shared_ptr<const CardSource> text;
    std::unique_ptr<Reader> whole;  // what hasNext() and nextContact() read
    std::unique_ptr<VCardFileCharset> charset;
    VCardGroups groupCards;
    bool mayHoldGroups = false;
    int count = 0;
    std::atomic<int> skipped{0};
    std::atomic<int> unread{0};
    std::atomic<int> skippedDateCount{0};
};

#endif
