// One vCard card turned into a contact: what each property of this program's own files and of
// other programs' files (Apple's grouped labels and X-AB properties, IMPP, social profiles, data:
// URIs) becomes.
#ifndef TW_IMPORT_VCARDMAPPING_H
#define TW_IMPORT_VCARDMAPPING_H

#include "qvcardparser.h"

#include "store/pim.h"

#include <QHash>

class CardMapper {
public:
    typedef QVCardParser::_Property Prop;

    // `legacy`: where values that name no character set and are not UTF-8 are read from.
    explicit CardMapper(const QList<Prop>& card, LegacyCharset* legacy = nullptr);
    // The contact (no row ids).
    pim::_Contact contact();
    // Dates that were no dates ("19723101", "circa 1800"), left out.
    int skippedDates() const { return skipped; }

private:
    void readVersion();
    void readGroups();
    void property(const Prop& prop);
    QString text(const Prop& prop) const;
    QStringList parts(const Prop& prop) const;
    // Apple's "itemN.X-ABLabel" of the property's group, applied over the TYPE words.
    void applyLabel(const Prop& prop, int type, pim::Entity& e, const QString& codeKey) const;
    void add(int type, const Prop& prop, pim::Entity& e, const QString& codeKey = "data2");

    void photo(const Prop& prop);
    void phone(const Prop& prop);
    void email(const Prop& prop);
    void date(const Prop& prop, int code);
    void ourIm(const Prop& prop);
    void impp(const Prop& prop, int protocol);
    void related(const Prop& prop, int code);  // code -1: from the TYPE words
    void address(const Prop& prop);
    void url(const Prop& prop);
    void socialProfile(const Prop& prop);
    void note(const Prop& prop);
    void organization(const Prop& prop);
    void finishName();

    const QList<Prop>& card;
    LegacyCharset* legacy;
    pim::_Contact result;
    bool escapes = true;                     // 3.0 and 4.0 (and cards that name no version)
    QHash<QString, QString> groupLabels;     // by lower-case group name
    QHash<QString, QString> groupCountries;  // Apple's X-ABADR, by lower-case group name
    QString phoneticGiven, phoneticFamily;
    QString formattedName;
    QList<QStringList> nameParts;
    int skipped = 0;
};

#endif
