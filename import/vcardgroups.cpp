#include "vcardgroups.h"

#include "vcardvalues.h"

#include <QSet>

namespace {

using Prop = QVCardParser::_Property;

// The property's name without its group prefix ("item1."), in upper case.
QString bareName(const Prop& prop) {
    const int dot = prop.name.lastIndexOf(QLatin1Char('.'));
    return prop.name.mid(dot + 1).toUpper();
}

bool endsWithKind(const QString& name) {
    return name.endsWith(QLatin1String("KIND"), Qt::CaseInsensitive);
}

bool isKindName(const QString& bare) {
    return bare == QLatin1String("KIND") || bare == QLatin1String("X-ADDRESSBOOKSERVER-KIND");
}

bool isMemberName(const QString& bare) {
    return bare == QLatin1String("MEMBER") || bare == QLatin1String("X-ADDRESSBOOKSERVER-MEMBER");
}

QString text(const Prop& prop, LegacyCharset* legacy) {
    return vcardvalues::unescape(prop.toString(legacy)).trimmed();
}

// A UID and a member line name the same card whether or not they write "urn:uuid:", and
// whatever the case of the hexadecimal digits.
QString key(QString id) {
    id = id.trimmed();
    if (id.startsWith(QLatin1String("urn:uuid:"), Qt::CaseInsensitive))
        id = id.mid(9).trimmed();
    return id.toLower();
}

QString uidKey(const QVCardParser::Card& card) {
    for (const Prop& prop : card) {
        if (bareName(prop) == QLatin1String("UID"))
            return key(vcardvalues::unescape(prop.toString()));
    }
    return QString();
}

// FN, else the components of N.
QString groupName(const QVCardParser::Card& card, LegacyCharset* legacy) {
    QString fromN;
    for (const Prop& prop : card) {
        const QString bare = bareName(prop);
        if (bare == QLatin1String("FN")) {
            const QString fn = text(prop, legacy);
            if (!fn.isEmpty())
                return fn;
        } else if (bare == QLatin1String("N") && fromN.isEmpty()) {
            QStringList parts;
            for (const QString& part : vcardvalues::splitParts(prop.toString(legacy), true)) {
                if (!part.trimmed().isEmpty())
                    parts << part.trimmed();
            }
            fromN = parts.join(QLatin1Char(' '));
        }
    }
    return fromN;
}

}  // namespace

bool VCardGroups::isGroupCard(const QVCardParser::Card& card) {
    for (const Prop& prop : card) {
        if (endsWithKind(prop.name) && isKindName(bareName(prop)) &&
            prop.value.trimmed().toLower() == "group")
            return true;
    }
    return false;
}

void VCardGroups::scan(VCardStream& cards, LegacyCharset* legacy) {
    struct Group {
        QString name;
        QStringList members;
    };
    QList<Group> groups;
    QSet<QString> contacts;
    QVCardParser::Card card;
    while (cards.next(card)) {
        if (!isGroupCard(card)) {
            const QString uid = uidKey(card);
            if (!uid.isEmpty())
                contacts.insert(uid);
            continue;
        }
        Group g;
        g.name = groupName(card, legacy);
        for (const Prop& prop : card) {
            if (isMemberName(bareName(prop)))
                g.members << key(vcardvalues::unescape(prop.toString()));
        }
        groups << g;
    }

    m_groupCards = groups.size();
    QSet<QString> seenNames;
    for (const Group& g : groups) {
        if (!g.name.isEmpty() && !seenNames.contains(g.name.toLower())) {
            seenNames.insert(g.name.toLower());
            m_names << g.name;
        }
        for (const QString& member : g.members) {
            if (member.isEmpty() || !contacts.contains(member)) {
                ++m_notFound;
            } else if (!g.name.isEmpty() && !m_groupOfUid.contains(member)) {
                m_groupOfUid.insert(member, g.name);
            }
        }
    }
}

QString VCardGroups::groupOf(const QVCardParser::Card& card) const {
    if (m_groupOfUid.isEmpty())
        return QString();
    const QString uid = uidKey(card);
    return uid.isEmpty() ? QString() : m_groupOfUid.value(uid);
}
