// vCard 3.0 export: one card per contact, cards back to back, CR LF line ends.
#ifndef TW_EXPORT_VCARDEXPORT_H
#define TW_EXPORT_VCARDEXPORT_H

#include "absexport.h"

class VCardExport : public AbsExport {
public:
    VCardExport();
    ~VCardExport() override;

    QByteArray initialize(const QList<pim::_Contact>& contacts) override;
    QByteArray ct2Bytes(const pim::_Contact& contact) override;
    QByteArray uninitialize() override;
};

#endif
