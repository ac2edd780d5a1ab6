#include "linkedcards.h"

#include "addressbookschema.h"

#include "platform/sqlite/sqlite3db.h"

namespace {

using addressbookschema::hasColumn;
using addressbookschema::hasTable;

bool named(const pim::_Contact& card) {
    return !card.fullName.isEmpty();
}

}  // namespace

LinkedCards::LinkedCards(QSharedPointer<AbsContactCombineRule> rule) : m_rule(std::move(rule)) {
    if (!m_rule)
        m_rule.reset(new LocalDbCombineRule);
}

void LinkedCards::load(Sqlite3DB& db) {
    m_linkOf.clear();
    m_lastCard.clear();
    m_preferred.clear();
    if (!hasColumn(db, "ABPerson", "PersonLink"))
        return;
    QHash<long long, int> members;
    {
        // Cards that are not linked hold -1 (or nothing).
        Sqlite3Cursor c =
            db.queryThrow("select ROWID, PersonLink from ABPerson where PersonLink > 0");
        while (c.moveNext()) {
            const long long link = c.getInt64(1);
            m_linkOf.insert(c.getInt64(0), link);
            ++members[link];
        }
    }
    // A link of one card (the others deleted) joins nothing.
    for (auto it = m_linkOf.begin(); it != m_linkOf.end();) {
        if (members.value(it.value()) < 2) {
            it = m_linkOf.erase(it);
        } else {
            long long& last = m_lastCard[it.value()];
            last = qMax(last, it.key());
            ++it;
        }
    }
    if (m_linkOf.isEmpty() || !hasTable(db, "ABPersonLink") ||
        !hasColumn(db, "ABPersonLink", "PreferredNamePersonID") ||
        !hasColumn(db, "ABPersonLink", "PreferredImagePersonID"))
        return;
    Sqlite3Cursor c = db.queryThrow(
        "select ROWID, PreferredNamePersonID, PreferredImagePersonID from ABPersonLink");
    while (c.moveNext()) {
        Preferred p;
        p.name = c.isNull(1) ? 0 : c.getInt64(1);
        p.image = c.isNull(2) ? 0 : c.getInt64(2);
        m_preferred.insert(c.getInt64(0), p);
    }
}

void LinkedCards::add(pim::_Contact& into, int type, const pim::Entity& e) {
    bool single = false;
    const QStringList valid = m_rule->validFields(type, single);
    if (valid.isEmpty())
        return;
    QList<pim::Entity>& held = into.entities[type];
    if (single) {
        // One per contact (company, nickname): the preferred card's stays, its gaps filled.
        if (held.isEmpty()) {
            held.append(e);
            return;
        }
        for (const QString& key : valid) {
            const QVariant v = e.fields.value(key);
            if (pim::isFieldEmpty(held.first().fields.value(key)) && !pim::isFieldEmpty(v))
                held.first().fields.insert(key, v);
        }
        return;
    }
    const QStringList same = m_rule->checkEqualFieldsMin(type);
    for (const pim::Entity& h : qAsConst(held)) {
        if (AbsContactCombineRule::isEntityEqual(h, e, same))
            return;
    }
    held.append(e);
}

pim::_Contact LinkedCards::join(long long link,
                                const QList<QPair<long long, pim::_Contact> >& cards) {
    const Preferred preferred = m_preferred.value(link);
    int first = -1;
    for (int i = 0; i < cards.size() && first < 0; ++i) {
        if (cards[i].first == preferred.name)
            first = i;
    }
    for (int i = 0; i < cards.size() && first < 0; ++i) {
        if (named(cards[i].second))
            first = i;
    }
    if (first < 0)
        first = 0;

    pim::_Contact out = cards[first].second;
    out.entities.remove(pim::ENTITY_PHOTO);
    for (int i = 0; i < cards.size(); ++i) {
        if (i == first)
            continue;
        const auto& entities = cards[i].second.entities;
        for (auto t = entities.constBegin(); t != entities.constEnd(); ++t) {
            if (t.key() == pim::ENTITY_NAME || t.key() == pim::ENTITY_PHOTO)
                continue;
            for (const pim::Entity& e : t.value())
                add(out, t.key(), e);
        }
    }
    // The photo the phone shows: of the card preferred for it, else of the first card with one.
    int photoCard = -1;
    for (int i = 0; i < cards.size(); ++i) {
        if (cards[i].second.entities.value(pim::ENTITY_PHOTO).isEmpty())
            continue;
        if (cards[i].first == preferred.image) {
            photoCard = i;
            break;
        }
        if (photoCard < 0)
            photoCard = i;
    }
    if (photoCard >= 0)
        out.entities[pim::ENTITY_PHOTO].append(
            cards[photoCard].second.entities.value(pim::ENTITY_PHOTO).first());
    return out;
}
