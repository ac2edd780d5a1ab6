// The cards that a phone links into one contact (the same person in several accounts: iCloud,
// Exchange, Google...) and their joining into the one contact the phone shows.
#pragma once

#include "store/combinerule.h"
#include "store/pim.h"

#include <QHash>
#include <QList>
#include <QSharedPointer>

class Sqlite3DB;

class LinkedCards {
public:
    // `rule` decides which details of two cards are the same one; the local rule when null.
    explicit LinkedCards(QSharedPointer<AbsContactCombineRule> rule);

    // Reads which persons are linked. An address book without links (older phones have no
    // link columns) links nothing.
    void load(Sqlite3DB& addressBook);
    bool isEmpty() const { return m_linkOf.isEmpty(); }
    // The link of a person; 0 when the person stands alone.
    long long linkOf(long long personId) const { return m_linkOf.value(personId, 0); }
    // The person id of a link's last card: the link is whole once that card is read.
    long long lastCardOf(long long link) const { return m_lastCard.value(link, 0); }
    // How many contacts `persons` cards make, the linked ones joined.
    int contactCount(int persons) const { return persons - m_linkOf.size() + m_lastCard.size(); }

    // One contact of the cards of a link, each given with its person id, in person-id order:
    // the name of the card the link prefers (else the first named card), the photo of the card
    // it prefers for the image (else the first photo), and every detail of the other cards
    // that the rule does not find among those already taken.
    pim::_Contact join(long long link, const QList<QPair<long long, pim::_Contact> >& cards);

private:
    struct Preferred {
        long long name = 0;
        long long image = 0;
    };
    void add(pim::_Contact& into, int type, const pim::Entity& e);

    QSharedPointer<AbsContactCombineRule> m_rule;
    QHash<long long, long long> m_linkOf;
    QHash<long long, long long> m_lastCard;
    QHash<long long, Preferred> m_preferred;
};
