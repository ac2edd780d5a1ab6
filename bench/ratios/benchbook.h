// One generated address book per size, written once in every form the imports read: a vCard
// file, a CSV file and an encrypted phone backup (backuparms.h). Every contact has a name, a
// company with a job title, two phones, an e-mail, a postal address and a web page; every other one
// a birthday and a real JPEG of about 30 KB, every third one a note.
#ifndef TW_BENCH_BENCHBOOK_H
#define TW_BENCH_BENCHBOOK_H

#include <QByteArray>
#include <QString>

namespace benchbook {

struct Person {
    QByteArray first, last, company, title, mobile, work, email, street, city, zip, country, url;
    QByteArray birthday;  // yyyy-MM-dd, or empty
    QByteArray note;      // or empty
    bool photo = false;   // benchphoto::forContact(i) when set
};

Person person(int i);

QByteArray vcard(int n);
QByteArray csv(int n);

}  // namespace benchbook

#endif
