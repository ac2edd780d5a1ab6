#include "namelesscontacts.h"

#include "store/localdb.h"

#include <QCryptographicHash>
#include <QStringList>

QByteArray NamelessContacts::valuesKey(const pim::_Contact& contact) {
    QStringList details;
    for (auto t = contact.entities.constBegin(); t != contact.entities.constEnd(); ++t) {
        // A group is where the user put the contact, not a value of the person.
        if (t.key() == pim::ENTITY_GROUP)
            continue;
        const QStringList columns = LocalDb::columnsOfType(t.key());
        for (const pim::Entity& e : t.value()) {
            QString detail;
            for (const QString& column : columns) {
                const QVariant v = e.fields.value(column);
                const QString text =
                    t.key() == pim::ENTITY_PHOTO && column == QLatin1String("data15")
                        ? pim::Entity::photoHash(v.toByteArray())
                        : pim::fieldText(v);
                if (pim::isFieldEmpty(v) || text.isEmpty())
                    continue;
                // The length first: no value can pass for the end of another.
                detail += QStringLiteral("%1=%2:%3;").arg(column).arg(text.size()).arg(text);
            }
            if (!detail.isEmpty())
                details << QString::number(t.key()) + QLatin1Char(' ') + detail;
        }
    }
    details.sort();
    return QCryptographicHash::hash(details.join(QLatin1Char('\n')).toUtf8(),
                                    QCryptographicHash::Sha1);
}

void NamelessContacts::load() {
    m_loaded = true;
    QList<unsigned long long> ids;
    {
        Sqlite3Cursor c = m_db.db().queryThrow(
            "select _id from contact where full_name is null or full_name = '' order by _id");
        while (c.moveNext())
            ids << static_cast<unsigned long long>(c.getInt64(0));
    }
    for (unsigned long long id : ids)
        m_untaken[valuesKey(m_db.contact(id))].append(id);
}

unsigned long long NamelessContacts::take(const pim::_Contact& incoming) {
    if (!m_loaded)
        load();
    const auto found = m_untaken.find(valuesKey(incoming));
    if (found == m_untaken.end() || found.value().isEmpty())
        return 0;
    return found.value().takeFirst();
}
