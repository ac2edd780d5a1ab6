#include "csvcolumnwords.h"

#include "typelabels.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace csvwords {

namespace {

typedef CSVImport::_ColInfo C;

// What a word of a column name says. FILLER words ("of", "number", "date") say nothing alone.
enum Word {
    FILLER,
    ID,  // "ID", "Username": a messenger's, else a record's own number and nothing to keep
    HOME,
    WORK,
    OTHER,
    COMPANY,
    MAIN,
    EMAIL,
    WEB,
    BLOG,
    PROFILE,
    PHONE,
    MOBILE,
    FAX,
    PAGER,
    PO_BOX,
    EXTENDED,
    STREET,
    CITY,
    STATE,
    ZIP,
    COUNTRY,
    BIRTHDAY,
    ANNIVERSARY,
    NOTE,
    JOB_TITLE,
    DEPARTMENT,
    NAME,
    FIRST,
    LAST,
    MIDDLE,
    PREFIX,
    SUFFIX,
    NICKNAME,
    IM,
    SPOUSE,
    CHILD,
    MANAGER,
    ASSISTANT,
    GROUP
};

const QHash<QString, Word>& vocabulary() {
    static const QHash<QString, Word> words = [] {
        QHash<QString, Word> w;
        auto add = [&w](Word word, std::initializer_list<const char*> texts) {
            for (const char* t : texts)
                w.insert(QLatin1String(t), word);
        };
        add(FILLER, {"of", "the", "and", "or", "on", "for", "to", "in", "at", "s", "number", "no",
                     "nr", "num", "date", "code", "value", "details", "info"});
        add(ID, {"id", "handle", "username", "user", "login"});
        add(HOME, {"home", "personal", "private", "residence", "residential"});
        add(WORK, {"work", "business", "office", "corporate", "professional"});
        add(OTHER, {"other", "alternate", "alternative", "secondary", "extra"});
        add(COMPANY, {"company", "organization", "organisation", "employer", "firm", "org"});
        add(MAIN, {"main", "primary", "preferred"});
        add(EMAIL, {"email", "mail", "emails", "emailaddress"});
        add(WEB, {"web", "website", "webpage", "homepage", "url", "site", "www", "page", "link"});
        add(BLOG, {"blog"});
        add(PROFILE, {"profile"});
        add(PHONE, {"phone", "phones", "telephone", "tel", "voice", "landline"});
        add(MOBILE, {"mobile", "cell", "cellular", "cellphone", "handy", "mob", "gsm"});
        add(FAX, {"fax", "telefax", "facsimile"});
        add(PAGER, {"pager", "beeper"});
        add(PO_BOX, {"po", "p", "o", "box", "pobox"});
        add(EXTENDED, {"extended", "apartment", "apt", "suite", "building"});
        add(STREET, {"street", "address", "addr", "road", "line", "lines"});
        add(CITY, {"city", "town", "locality", "suburb", "village"});
        add(STATE, {"state", "province", "region", "county", "prefecture"});
        add(ZIP, {"zip", "zipcode", "postcode", "postal", "post", "postalcode", "plz"});
        add(COUNTRY, {"country", "nation"});
        add(BIRTHDAY, {"birthday", "birth", "birthdate", "dob", "born"});
        add(ANNIVERSARY, {"anniversary", "wedding"});
        add(NOTE,
            {"note", "notes", "comment", "comments", "remark", "remarks", "memo", "description"});
        add(JOB_TITLE, {"job", "title", "position", "role", "designation"});
        add(DEPARTMENT, {"department", "dept", "division"});
        add(NAME, {"name", "names", "fullname", "full", "display", "displayname", "contact"});
        add(FIRST, {"first", "given", "forename", "firstname", "givenname"});
        add(LAST, {"last", "surname", "family", "lastname", "familyname"});
        add(MIDDLE, {"middle", "middlename"});
        add(PREFIX, {"prefix", "salutation", "honorific"});
        add(SUFFIX, {"suffix"});
        add(NICKNAME, {"nickname", "nick"});
        add(IM, {"im", "messenger", "skype", "icq", "aim", "msn", "qq", "jabber", "xmpp"});
        add(SPOUSE, {"spouse", "partner", "husband", "wife"});
        add(CHILD, {"child", "children", "kids"});
        add(MANAGER, {"manager", "boss"});
        add(ASSISTANT, {"assistant", "secretary"});
        add(GROUP, {"group", "groups", "category", "categories", "tag", "tags"});
        return w;
    }();
    return words;
}

// The words of a column name in lower case; "E-mail" and "Home page" are one word each, numbers
// are dropped.
QStringList wordsOf(const QString& header, QString* imWord) {
    QString t = header.toLower();
    t.replace(QLatin1String("e-mail"), QLatin1String("email"));
    t.replace(QLatin1String("e mail"), QLatin1String("email"));
    t.replace(QLatin1String("home page"), QLatin1String("homepage"));
    QStringList out;
    QString word;
    auto flush = [&]() {
        bool digits = !word.isEmpty();
        for (QChar ch : word)
            digits = digits && ch.isDigit();
        if (!word.isEmpty() && !digits)
            out.append(word);
        word.clear();
    };
    for (QChar ch : t) {
        if (ch.isLetterOrNumber())
            word.append(ch);
        else
            flush();
    }
    flush();
    for (const QString& w : out) {
        if (vocabulary().value(w, FILLER) == IM && w != QLatin1String("im") &&
            w != QLatin1String("messenger"))
            *imWord = w;
    }
    return out;
}

int place(const QSet<Word>& said, int home, int work, int other, int none) {
    if (said.contains(HOME))
        return home;
    if (said.contains(WORK) || said.contains(COMPANY))
        return work;
    if (said.contains(OTHER))
        return other;
    return none;
}

C phone(const QSet<Word>& s) {
    int code;
    if (s.contains(FAX))
        code = place(s, 5, 4, 13, 13);
    else if (s.contains(PAGER))
        code = s.contains(WORK) ? 18 : 6;
    else if (s.contains(MOBILE))
        code = s.contains(WORK) ? 17 : 2;
    else if (s.contains(ASSISTANT))
        code = 19;
    else if (s.contains(COMPANY))
        code = 10;
    else if (s.contains(MAIN))
        code = 12;
    else
        code = place(s, 1, 3, 0, 2);  // a bare "Phone" is the mobile, as Google's unlabelled one
    return C(pim::ENTITY_PHONE, code, "data2", "data1");
}

C address(const QSet<Word>& s) {
    const int code = place(s, 1, 2, 0, 1);
    C info(pim::ENTITY_ADDR, code, "data2", "data4");
    if (s.contains(PO_BOX)) {
        info.streetLine = C::PO_BOX;
    } else if (s.contains(COUNTRY)) {
        info.dataKey = "data10";
    } else if (s.contains(ZIP)) {
        info.dataKey = "data9";
    } else if (s.contains(CITY)) {
        info.dataKey = "data7";
    } else if (s.contains(STATE)) {
        info.dataKey = "data8";
    } else if (s.contains(EXTENDED)) {
        info.streetLine = C::EXTENDED;
    }
    return info;
}

}  // namespace

CSVImport::_ColInfo meaning(const QString& header) {
    QString imWord;
    const QStringList words = wordsOf(header, &imWord);
    QSet<Word> s;
    const QHash<QString, Word>& vocab = vocabulary();
    for (const QString& w : words) {
        auto it = vocab.constFind(w);
        if (it == vocab.constEnd())
            return C();  // a word we do not know: better unread than read wrongly
        if (*it != FILLER)
            s.insert(*it);
    }
    if (s.contains(ID) && !s.contains(IM))
        return C();
    s.remove(ID);
    if (s.isEmpty())
        return C();
    if (s.contains(EMAIL))
        return C(pim::ENTITY_EMAIL, s.contains(MOBILE) ? 4 : place(s, 1, 2, 0, 1), "data2",
                 "data1");
    if (s.contains(WEB) || s.contains(BLOG) || s.contains(PROFILE)) {
        const int code = s.contains(BLOG) ? 2 : s.contains(PROFILE) ? 3 : place(s, 4, 5, 0, 1);
        return C(pim::ENTITY_URL, code, "data2", "data1");
    }
    for (Word part : {PO_BOX, EXTENDED, STREET, CITY, STATE, ZIP, COUNTRY}) {
        if (s.contains(part))
            return address(s);
    }
    if (s.contains(PHONE) || s.contains(MOBILE) || s.contains(FAX) || s.contains(PAGER))
        return phone(s);
    if (s.contains(BIRTHDAY))
        return C(pim::ENTITY_EVENT, 3, "data2", "data1");
    if (s.contains(ANNIVERSARY))
        return C(pim::ENTITY_EVENT, 1, "data2", "data1");
    if (s.contains(NOTE))
        return C(pim::ENTITY_NOTES, 0, QString(), "data1");
    if (s.contains(JOB_TITLE))
        return C(pim::ENTITY_ORG, 0, "data2", "data4");
    if (s.contains(DEPARTMENT))
        return C(pim::ENTITY_ORG, 0, "data2", "data5");
    if (s.contains(COMPANY))
        return C(pim::ENTITY_ORG, 0, "data2", "data1");
    if (s.contains(IM)) {
        // The messenger a word names ("Skype ID"); a bare "IM" names none.
        return C(pim::ENTITY_IM, typelabels::imProtocol(imWord), "data5", "data1");
    }
    if (s.contains(SPOUSE))
        return C(pim::ENTITY_REL, 14, "data2", "data1");
    if (s.contains(CHILD))
        return C(pim::ENTITY_REL, 3, "data2", "data1");
    if (s.contains(MANAGER))
        return C(pim::ENTITY_REL, 7, "data2", "data1");
    if (s.contains(ASSISTANT))
        return C(pim::ENTITY_REL, 1, "data2", "data1");
    if (s.contains(GROUP))
        return C(pim::ENTITY_GROUP, 0, QString(), "data2");
    if (s.contains(NICKNAME))
        return C(pim::ENTITY_NICKNAME, 1, QString(), "data1");
    const struct {
        Word word;
        const char* key;
    } parts[] = {
        {FIRST, "data2"}, {LAST, "data3"}, {MIDDLE, "data4"}, {PREFIX, "data5"}, {SUFFIX, "data6"}};
    for (const auto& p : parts) {
        if (s.contains(p.word))
            return C(pim::ENTITY_NAME, 0, QString(), QLatin1String(p.key));
    }
    if (s.contains(NAME))
        return C(pim::ENTITY_NAME, 0, QString(), "data2", C::FULL_NAME);
    // A place alone ("Home", "Work"): the number of that place, as address books list them,
    // when its cells are numbers ("Business" is as often the company).
    if (s.contains(HOME) || s.contains(WORK) || s.contains(OTHER) || s.contains(MAIN)) {
        C info = phone(s);
        info.numbersOnly = true;
        return info;
    }
    return C();
}

bool isPhoneNumber(const QString& cell) {
    static const QRegularExpression number(
        QStringLiteral("^([0-9\\s+()./-]+?)(?:\\s*(?:x|ext\\.?)\\s*[0-9]+)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = number.match(cell.trimmed());
    if (!m.hasMatch())
        return false;
    int digits = 0;
    for (QChar ch : m.capturedRef(1))
        digits += ch >= QLatin1Char('0') && ch <= QLatin1Char('9') ? 1 : 0;
    return digits >= 3;
}

}  // namespace csvwords
