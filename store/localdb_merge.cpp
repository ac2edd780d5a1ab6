// The merge of incoming contacts into stored ones, under the database's merge rule.
#include "localdb.h"

#include "edittransaction.h"
#include "entitycolumns.h"

#include <algorithm>
#include <stdexcept>

using entitycolumns::TypeInfo;
using entitycolumns::typeInfo;

unsigned long long LocalDb::isContactBaseExist(QString fullName) {
    open_check();
    // Exact name, ASCII letters in either case; '%' and '_' are literal.
    Sqlite3Sql sql(QStringLiteral(
        "select _id,src_id from contact where full_name collate nocase = ? limit 1"));
    sql.addTextParam(fullName);
    Sqlite3Cursor cur = m_db.queryThrow(sql);
    if (!cur.moveNext())
        return 0;
    return static_cast<unsigned long long>(cur.getInt64(0));
}

unsigned long long LocalDb::isContactBaseExist(const QString& knownAs,
                                               const pim::_Contact& incoming) {
    open_check();
    // One query for every stored contact of the name with the details that tell people apart;
    // it runs on the NOCASE name index and the data-to-contact index.
    Sqlite3Sql sql(QStringLiteral(
        "select c._id,d.type,d.data1,d.data2 from contact as c left join data as d on "
        "d.contact_id=c._id and d.type in (3,4,6) where c.full_name collate nocase = ? "
        "order by c._id"));
    sql.addTextParam(knownAs);
    Sqlite3Cursor cur = m_db.queryThrow(sql);
    // Read from the incoming contact only when the name is taken (a new name needs nothing).
    PersonMarks wanted;
    bool wantedRead = false;
    unsigned long long firstAgreeing = 0;
    unsigned long long candidate = 0;
    PersonMarks marks;
    // A stored contact that shares a number or address is the one; else the first that does
    // not contradict.
    auto decide = [&]() -> bool {
        if (candidate == 0)
            return false;
        if (!wantedRead) {
            wanted = PersonMarks(incoming);
            wantedRead = true;
        }
        if (!marks.agreesWith(wanted))
            return false;
        if (marks.sharesReachWith(wanted))
            return true;
        if (firstAgreeing == 0)
            firstAgreeing = candidate;
        return false;
    };
    while (cur.moveNext()) {
        const unsigned long long id = static_cast<unsigned long long>(cur.getInt64(0));
        if (id != candidate) {
            if (decide())
                return candidate;
            candidate = id;
            marks = PersonMarks();
        }
        if (!cur.isNull(1))
            marks.add(cur.getInt(1), cur.getText(2), cur.getText(3));
    }
    if (decide())
        return candidate;
    return firstAgreeing;
}

namespace {

// Result of merging one entity: whether to write it, and where it now stands in the list.
struct EntityMerge {
    bool changed = false;
    int index = -1;  // position in `existing` that holds the merged entity, -1 when none
};

// What the rule says about one entity type.
struct RuleLists {
    bool ready = false;
    bool single = false;
    QStringList min;
    QStringList valid;
};

RuleLists askRule(AbsContactCombineRule& rule, int type) {
    RuleLists r;
    r.min = rule.checkEqualFieldsMin(type);
    r.valid = rule.validFields(type, r.single);
    r.ready = true;
    return r;
}

enum { MOST_VALID = 16 };

// An incoming entity's value under `key`; an absent one (or a null one, which a reading thread
// may have put in its place, entitycolumns::holdRowKeys) as the merge is told to read it.
const QVariant& incomingValue(const pim::Entity& incoming, const QString& key,
                              LocalDb::AbsentField absent) {
    static const QVariant missing;
    static const QVariant emptyText = QVariant(QString(QLatin1String("")));
    const auto it = incoming.fields.constFind(key);
    if (it != incoming.fields.constEnd() && it.value().isValid())
        return it.value();
    return absent == LocalDb::ABSENT_IS_EMPTY_TEXT ? emptyText : missing;
}

// AbsContactCombineRule::isEntityEqual with the incoming side read by incomingValue.
bool equalsIncoming(const pim::Entity& stored, const pim::Entity& incoming, const QStringList& keys,
                    LocalDb::AbsentField absent) {
    for (const QString& k : keys) {
        if (!AbsContactCombineRule::isValueEqual(stored.fields.value(k),
                                                 incomingValue(incoming, k, absent)))
            return false;
    }
    return true;
}

// Whether buildNew would make `incoming`'s own fields: it holds exactly the `held` keys, each
// either null or a non-empty value under `valid`, and at least one such value. (A null value
// reads as an absent one whichever way absent fields are read, and is left out either way.)
bool isNewAsIs(const QStringList& valid, const pim::Entity& incoming, const QStringList& held) {
    if (incoming.fields.size() != held.size())
        return false;
    bool any = false;
    auto h = held.constBegin();
    for (auto it = incoming.fields.constBegin(); it != incoming.fields.constEnd(); ++it, ++h) {
        if (entitycolumns::keyOrder(it.key(), *h) != 0)
            return false;
        if (!it.value().isValid())
            continue;
        if (pim::isFieldEmpty(it.value()) ||
            std::none_of(valid.constBegin(), valid.constEnd(), [&](const QString& v) {
                return entitycolumns::keyOrder(v, it.key()) == 0;
            }))
            return false;
        any = true;
    }
    return any;
}

// The fields of a new entity from `incoming`: its non-empty values under `valid` (at most
// MOST_VALID keys), and the keys of `held` (in map order) as null values where it has none.
// False when `incoming` holds no value at all under `valid`: equal to an empty entity, it is
// nothing new.
bool buildNew(const QStringList& valid, const pim::Entity& incoming, const QStringList* held,
              LocalDb::AbsentField absent, pim::Entity& out) {
    if (held && isNewAsIs(valid, incoming, *held)) {
        out.fields = incoming.fields;  // shared, not copied
        return true;
    }
    struct Field {
        const QString* key;
        const QVariant* value;
    };
    Field taken[MOST_VALID];
    int count = 0;
    bool anyValid = false;
    const auto end = incoming.fields.constEnd();
    for (const QString& key : valid) {
        const auto it = incoming.fields.constFind(key);
        if (it == end || !it.value().isValid()) {
            anyValid = anyValid || absent == LocalDb::ABSENT_IS_EMPTY_TEXT;
            continue;
        }
        anyValid = true;
        if (pim::isFieldEmpty(it.value()))
            continue;
        taken[count++] = {&it.key(), &it.value()};
    }
    if (!anyValid)
        return false;
    std::sort(taken, taken + count, [](const Field& a, const Field& b) { return *a.key < *b.key; });
    // Both in key order: one walk appends every key at the end of the map.
    static const QStringList none;
    const QStringList& nulls = held ? *held : none;
    int t = 0;
    auto h = nulls.constBegin();
    while (t < count || h != nulls.constEnd()) {
        if (h == nulls.constEnd() || (t < count && *taken[t].key < *h)) {
            if (t == 0 || *taken[t - 1].key != *taken[t].key)
                out.fields.insert(out.fields.constEnd(), *taken[t].key, *taken[t].value);
            ++t;
        } else if (t < count && *taken[t].key == *h) {
            ++h;  // taken next, with its value
        } else {
            out.fields.insert(out.fields.constEnd(), *h, QVariant());
            ++h;
        }
    }
    return true;
}

// `held`, when given: keys that a new entity (one without a target) gets as null values before
// it joins the list, as writing it would add them anyway; the row insert then finds them all
// and leaves the map shared with the list instead of copying it.
EntityMerge mergeEntity(const RuleLists& lists, QList<pim::Entity>& existing,
                        const pim::Entity& incoming, pim::Entity& out, const QStringList* held,
                        LocalDb::AbsentField absent) {
    EntityMerge r;
    const QStringList& min = lists.min;
    const QStringList& valid = lists.valid;
    if (valid.isEmpty())
        return r;

    bool fromList = false;  // single type: target taken from the list
    bool matched = false;   // other types: target matched in the list
    if (lists.single) {
        if (!existing.isEmpty()) {
            out = existing.first();
            fromList = true;
        }
    } else {
        for (const pim::Entity& e : existing) {
            if (equalsIncoming(e, incoming, min, absent)) {
                out = e;
                matched = true;
                break;
            }
        }
    }
    if (!fromList && !matched && out._id == 0 && out.fields.isEmpty() &&
        valid.size() <= MOST_VALID) {
        // A new entity: its map is made in one pass, in key order, rather than key by key.
        if (!buildNew(valid, incoming, held, absent, out))
            return r;
        existing.append(out);
        r.index = existing.size() - 1;
        r.changed = true;
        return r;
    }
    if (equalsIncoming(out, incoming, valid, absent))
        return r;

    for (const QString& key : valid) {
        const QVariant v = incoming.fields.value(key);
        if (!pim::isFieldEmpty(v))
            out.fields.insert(key, v);
    }

    if (fromList) {
        existing[0] = out;
        r.index = 0;
    } else if (!matched) {
        if (held && out._id == 0) {
            // `held` is in map order: one walk along the map instead of a search per key.
            auto at = out.fields.begin();
            for (const QString& key : *held) {
                while (at != out.fields.end() && at.key() < key)
                    ++at;
                if (at == out.fields.end() || key < at.key())
                    at = out.fields.insert(at, key, QVariant());
            }
        }
        existing.append(out);
        r.index = existing.size() - 1;
    }
    r.changed = true;
    return r;
}

// A contact row is kept only with a detail a list shows: anything but group memberships, with
// some value. Otherwise it is never listed, cannot be deleted and catches later merges by name.
bool hasListedDetail(const QMap<int, QList<pim::Entity> >& entities) {
    for (auto t = entities.constBegin(); t != entities.constEnd(); ++t) {
        if (t.key() == pim::ENTITY_GROUP)
            continue;
        for (const pim::Entity& e : t.value()) {
            for (auto f = e.fields.constBegin(); f != e.fields.constEnd(); ++f) {
                if (!pim::isFieldEmpty(f.value()))
                    return true;
            }
        }
    }
    return false;
}

}  // namespace

QMap<int, QList<pim::Entity> > LocalDb::combineContact(const pim::_Contact& incoming,
                                                       pim::_Contact& out, bool& existed) {
    QMap<int, QList<pim::Entity> > written;
    combine(incoming, out, existed, &written, ABSENT_IS_MISSING);
    return written;
}

bool LocalDb::mergeContact(const pim::_Contact& incoming, AbsentField absent) {
    pim::_Contact stored;
    bool existed = false;
    combine(incoming, stored, existed, nullptr, absent);
    return existed;
}

QString LocalDb::knownAs(const pim::_Contact& incoming) {
    return incoming.fullName.isEmpty() ? pim::nameFromDetails(incoming) : incoming.fullName;
}

void LocalDb::combine(const pim::_Contact& incoming, pim::_Contact& out, bool& existed,
                      QMap<int, QList<pim::Entity> >* written, AbsentField absent) {
    if (!m_combineRule)
        throw std::runtime_error("combineContact: the database has no merge rule");
    open_check();
    // A contact without a name is known, as the phone lists it, by its company, else its first
    // e-mail address or number; one known by nothing at all is never merged into another.
    const QString knownAs = LocalDb::knownAs(incoming);
    const unsigned long long id = knownAs.isEmpty() ? 0 : isContactBaseExist(knownAs, incoming);
    if (id == 0 && !hasListedDetail(incoming.entities)) {
        existed = false;
        out = pim::_Contact();
        return;
    }
    try {
        EditTransaction edit(*this);
        // Gathered only for a caller that wants them.
        QMap<int, QList<pim::Entity> > unused;
        QMap<int, QList<pim::Entity> >& result = written ? *written : unused;
        if (written)
            result = out.entities;
        if (id != 0) {
            existed = true;
            out = contact(id);
        } else {
            existed = false;
            out = pim::_Contact(0, QString(), knownAs);
            insertContactBase(out);
            const QList<pim::Entity> names = incoming.entities.value(pim::ENTITY_NAME);
            if (!names.isEmpty()) {
                pim::Entity name = names.first();
                name.srcId = QString();
                insertEntity(out._id, pim::ENTITY_NAME, name);
                out.entities[pim::ENTITY_NAME].append(name);
                if (written)
                    result[pim::ENTITY_NAME].append(name);
            }
        }

        // The rule's lists per type, asked once per merge rather than once per entity.
        RuleLists known[pim::ENTITY_URL + 1];
        for (auto t = incoming.entities.constBegin(); t != incoming.entities.constEnd(); ++t) {
            const int type = t.key();
            RuleLists other;
            RuleLists& lists =
                type >= pim::ENTITY_NAME && type <= pim::ENTITY_URL ? known[type] : other;
            for (const pim::Entity& in : t.value()) {
                // A membership needs a group name; an empty one must not create a group.
                if (type == pim::ENTITY_GROUP &&
                    pim::fieldText(in.fields.value(QStringLiteral("data2"))).isEmpty()) {
                    continue;
                }
                QList<pim::Entity>& existing = out.entities[type];
                pim::Entity m;
                if (!lists.ready)
                    lists = askRule(*m_combineRule, type);
                const TypeInfo* ti = typeInfo(type);
                const EntityMerge merged =
                    mergeEntity(lists, existing, in, m, ti ? &ti->heldKeys : nullptr, absent);
                if (!merged.changed)
                    continue;
                if (type == pim::ENTITY_GROUP) {
                    const QString groupName =
                        pim::fieldText(m.fields.value(QStringLiteral("data2")));
                    m.fields.insert(QStringLiteral("data1"),
                                    QVariant(static_cast<qulonglong>(getGroupIdOrAdd(groupName))));
                }
                if (m._id == 0) {
                    insertEntity(out._id, type, m);
                } else {
                    updateEntity(type, m);
                }
                // Keep the contact in step with the rows: a later entity of this contact
                // then updates this row instead of adding a second one.
                if (merged.index >= 0 && merged.index < existing.size())
                    existing[merged.index] = m;
                if (written)
                    result[type].append(m);
            }
        }
        if (id == 0 && !hasListedDetail(out.entities)) {
            // Nothing but empty details and group memberships was stored.
            removeContact(out._id);
            out = pim::_Contact();
            result.clear();
        }
        edit.commit();
    } catch (const std::exception& e) {
        // Rolled back by the edit's scope.
        throw std::runtime_error(e.what());
    }
}
