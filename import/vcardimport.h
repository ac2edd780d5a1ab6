// Contacts from a vCard file, one per card.
#ifndef TW_IMPORT_VCARDIMPORT_H
#define TW_IMPORT_VCARDIMPORT_H

#include "absimport.h"
#include "qvcardparser.h"

#include <memory>

class VCardImport : public AbsImport {
public:
    VCardImport();
    ~VCardImport() override;

    void initialize(QString path) override;
    int total() override;
    bool hasNext() override;
    pim::_Contact nextContact() override;
    void uninitialize() override;

    // One card turned into a contact (no row ids); dates left out are added to `skippedDates`.
    static pim::_Contact cardToContact(const QList<QVCardParser::_Property>& card,
                                       int* skippedDates = nullptr);
    int skippedLines() const override { return skipped; }
    int skippedDates() const override { return skippedDateCount; }

private:
    // The cards are parsed as they are taken (on the thread that takes them), after a first
    // pass has counted them.
    std::unique_ptr<VCardStream> stream;
    QVCardParser::Card card;  // the next card, when `cardReady`
    bool cardReady = false;
    int count = 0;
    int skipped = 0;
    int skippedDateCount = 0;
};

#endif
