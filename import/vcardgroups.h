// The group cards of a vCard file: RFC 6350's "KIND:group" and the "X-ADDRESSBOOKSERVER-KIND:group"
// of Apple's and Fastmail's exports. Such a card is a group, not a contact: its name (FN, else N)
// is the group's, and its member lines (MEMBER, X-ADDRESSBOOKSERVER-MEMBER) name the contacts of
// the same file that belong to it, by their UID ("urn:uuid:..." or plain).
#ifndef TW_IMPORT_VCARDGROUPS_H
#define TW_IMPORT_VCARDGROUPS_H

#include "qvcardparser.h"

#include <QHash>
#include <QStringList>

class LegacyCharset;

class VCardGroups {
public:
    static bool isGroupCard(const QVCardParser::Card& card);

    // Reads every card of the file: its group cards, and the UIDs of the others.
    void scan(VCardStream& cards, LegacyCharset* legacy = nullptr);

    int groupCards() const { return m_groupCards; }
    // Member lines naming no contact card of the file.
    int membersNotFound() const { return m_notFound; }
    // The names of the groups, in file order, each once.
    QStringList groupNames() const { return m_names; }
    // The group of a contact card: that of the first group card naming it (a contact holds one
    // group); empty when none does.
    QString groupOf(const QVCardParser::Card& card) const;

private:
    QHash<QString, QString> m_groupOfUid;  // by member key
    QStringList m_names;
    int m_groupCards = 0;
    int m_notFound = 0;
};

#endif
