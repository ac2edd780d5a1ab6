// The phone forms made ahead of a restore: the same forms, in the same order, as making each
// on the spot, however the taker moves through them; and a taker that stops early is never
// kept waiting.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <stdexcept>

#include "device/workers/contactrecords.h"
#include "device/workers/phoneforms.h"
#include "tests/timing.h"

namespace {

QList<pim::_Contact> variedContacts(int n) {
    QList<pim::_Contact> out;
    for (int i = 0; i < n; ++i) {
        pim::Entity name;
        name.fields["data2"] = QString("Given%1").arg(i);
        name.fields["data3"] = i % 3 == 0 ? QString("Müller-Łukasz") : QString("Family%1").arg(i);
        name.fields["data1"] = name.fullName();
        pim::_Contact c(quint64(i + 1), i % 4 == 0 ? QString::number(1000 + i) : QString(),
                        name.fullName());
        c.entities[pim::ENTITY_NAME] = {name};
        pim::Entity phone;
        phone.fields["data1"] = QString("+1 555 %1").arg(i);
        phone.fields["data2"] = i % 7;
        phone.fields["data3"] = i % 7 == 0 ? QString("Boat") : QString();
        c.entities[pim::ENTITY_PHONE] << phone;
        if (i % 2 == 0) {
            pim::Entity day;
            day.fields["data1"] = QString("%1-03-04T00:00:00").arg(1604 + 7 * i);
            day.fields["data2"] = i % 4 == 0 ? 3 : 1;
            c.entities[pim::ENTITY_EVENT] << day;
        }
        if (i % 5 == 0) {
            pim::Entity org;
            org.fields["data1"] = QString("Company %1").arg(i);
            c.entities[pim::ENTITY_ORG] << org;
        }
        out << c;
    }
    return out;
}

}  // namespace

TEST(PhoneForms, SameFormsInOrderAcrossHandOvers) {
    // More than several hand-overs of forms, and a last one only partly filled.
    const QList<pim::_Contact> contacts = variedContacts(437);
    PhoneForms forms(contacts);
    for (int i = 0; i < contacts.size(); ++i) {
        if (i % 61 == 17) {
            i += 40;  // skipping ahead, as a taker past contacts it no longer needs
        }
        const pim::_Contact& made = forms.at(i);
        EXPECT_TRUE(made == contactrecords::phoneForm(contacts.at(i))) << "contact " << i;
        // The same form again, without waiting.
        EXPECT_EQ(&forms.at(i), &made);
    }
    EXPECT_THROW(forms.at(contacts.size()), std::runtime_error);
    EXPECT_THROW(forms.at(0), std::runtime_error);  // behind the taker: freed already
}

TEST(PhoneForms, StoppingEarlyOrBeforeTakingAnything) {
    const QList<pim::_Contact> contacts = variedContacts(20000);
    QElapsedTimer t;
    t.start();
    {
        PhoneForms forms(contacts);
        forms.at(0);
        forms.at(130);
    }
    { PhoneForms untouched(contacts); }
    { PhoneForms none{QList<pim::_Contact>()}; }
    // Each maker stops within a hand-over: one that kept the taker waiting would hang here.
    EXPECT_LT(t.elapsed(), kMarginMs);
    PhoneForms empty{QList<pim::_Contact>()};
    EXPECT_THROW(empty.at(0), std::runtime_error);
}
