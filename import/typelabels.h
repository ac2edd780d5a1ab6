// The kinds other programs give a number, an address or a date in words ("Mobile", "* Work",
// "_$!<HomeFAX>!$_", "Google Voice"), turned into the program's type codes and custom labels.
#ifndef TW_IMPORT_TYPELABELS_H
#define TW_IMPORT_TYPELABELS_H

#include <QPair>
#include <QString>

namespace typelabels {

// A label as a person reads it: Apple's markers ("_$!<HomeFAX>!$_" is "Home Fax") and Google's
// mark of the preferred value ("* Work" is "Work") are dropped, blanks trimmed.
QString plainWords(const QString& label);

// The type code and custom label that `label` gives to an entity of the type `type`: a label
// the program's own maps know gives its code and no custom label; any other gives 0 ("Other")
// and the plain words as the custom label; an empty label gives -1.
QPair<int, QString> labelCode(int type, const QString& label);

// The messenger code of a service name or URI scheme ("Skype", "GoogleTalk", "xmpp"), 0 when it
// is none the program knows.
int imProtocol(const QString& service);

}  // namespace typelabels

#endif
