// The label and service texts of a phone's address book and the codes they get here.
#pragma once

#include "store/pim.h"

#include <QString>

namespace addressbooklabels {

// The property numbers of the address book's multi-values that the import reads.
enum Property {
    kPhone = 3,
    kEmail = 4,
    kAddress = 5,
    kDate = 12,
    kInstantMessage = 13,
    kUrl = 22,
    kRelated = 23
};

// Sets the label columns of an entity of the property from the stored label text: data2 the
// code of a known label; otherwise data2 0 and data3 the label as a word (a built-in label
// without its "_$!<" ">!$_" markers, a typed label as it is).
void setLabel(pim::Entity& entity, int property, const QString& label);
// The label code a value without a label gets: what the contact editor offers first.
int defaultLabel(int property);
// The word of a label text: "_$!<School>!$_" gives "School"; other texts stay as they are.
QString labelWord(const QString& label);
// The service code of an instant-messaging service name; false when it has none.
bool serviceCode(const QString& service, int& code);

}  // namespace addressbooklabels
