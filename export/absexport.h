// The interface of every file exporter: bytes before the first contact, per contact, after the
// last. Exporters only return bytes; the export worker owns the file.
#ifndef TW_EXPORT_ABSEXPORT_H
#define TW_EXPORT_ABSEXPORT_H

#include "store/pim.h"

#include <QByteArray>
#include <QList>

class AbsExport {
public:
    virtual ~AbsExport() {}
    // Sees the whole list first, so that table exporters can collect their columns.
    virtual QByteArray initialize(const QList<pim::_Contact>& contacts) = 0;
    virtual QByteArray ct2Bytes(const pim::_Contact& contact) = 0;
    virtual QByteArray uninitialize() = 0;
};

#endif
