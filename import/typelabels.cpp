#include "typelabels.h"

#include "store/pim.h"

#include <QMap>

namespace typelabels {

namespace {

QMap<int, QString> labelMap(int type) {
    switch (type) {
        case pim::ENTITY_PHONE:
            return pim::phoneTypeMap();
        case pim::ENTITY_EMAIL:
            return pim::emailTypeMap();
        case pim::ENTITY_EVENT:
            return pim::eventTypeMap();
        case pim::ENTITY_IM:
            return pim::imTypeMap();
        case pim::ENTITY_REL:
            return pim::relTypeMap();
        case pim::ENTITY_ADDR:
            return pim::addrTypeMap();
        case pim::ENTITY_URL:
            return pim::urlTypeMap();
        default:
            return QMap<int, QString>();
    }
}

// Compared without case, blanks and hyphens: "Home Fax", "HomeFAX" and "home-fax" are one.
QString key(const QString& word) {
    QString k;
    for (QChar ch : word) {
        if (ch.isLetterOrNumber())
            k.append(ch.toLower());
    }
    return k;
}

int codeIn(const QMap<int, QString>& map, const QString& word) {
    const QString k = key(word);
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (key(it.value()) == k)
            return it.key();
    }
    return -1;
}

// Words other programs use for a kind the maps name otherwise.
int synonym(int type, const QString& word) {
    const QString k = key(word);
    if (type == pim::ENTITY_PHONE) {
        if (k == "cell" || k == "iphone" || k == "mobilephone" || k == "cellular")
            return 2;
        if (k == "homephone" || k == "voice")
            return 1;
        if (k == "workphone" || k == "business")
            return 3;
        if (k == "fax")
            return 13;
    } else if (type == pim::ENTITY_EMAIL) {
        if (k == "personal" || k == "internet")
            return 1;
        if (k == "business")
            return 2;
    } else if (type == pim::ENTITY_URL) {
        if (k == "homepage")
            return 1;
    } else if (type == pim::ENTITY_ADDR) {
        if (k == "business")
            return 2;
    } else if (type == pim::ENTITY_REL) {
        if (k == "husband" || k == "wife")
            return 14;
        if (k == "son" || k == "daughter")
            return 3;
        if (k == "domesticpartner")
            return 4;
        if (k == "referredby")
            return 11;
    }
    return -1;
}

}  // namespace

QString plainWords(const QString& label) {
    QString t = label.trimmed();
    if (t.startsWith(QLatin1String("* ")))
        t = t.mid(2).trimmed();
    if (t.startsWith(QLatin1String("_$!<")) && t.endsWith(QLatin1String(">!$_"))) {
        t = t.mid(4, t.size() - 8);
        // Apple writes its own words joined: HomeFAX, WorkFAX, HomePage.
        if (t.endsWith(QLatin1String("FAX")) && t.size() > 3)
            t = t.left(t.size() - 3) + QLatin1String(" Fax");
        else if (t == QLatin1String("HomePage"))
            t = QStringLiteral("Home page");
    }
    return t;
}

QPair<int, QString> labelCode(int type, const QString& label) {
    const QString t = plainWords(label);
    if (t.isEmpty())
        return qMakePair(-1, QString());
    int code = codeIn(labelMap(type), t);
    if (code < 0)
        code = synonym(type, t);
    if (code >= 0)
        return qMakePair(code, QString());
    return qMakePair(0, t);
}

int imProtocol(const QString& service) {
    const QString k = key(service);
    static const QMap<QString, int> extra{
        {"gtalk", 6},  {"hangouts", 6}, {"xmpp", 8}, {"msnim", 2}, {"ymsgr", 3},
        {"callto", 4}, {"gadu", 10},    {"gg", 10},  {"fb", 11},   {"netmeeting", 9}};
    if (extra.contains(k))
        return extra.value(k);
    const int code = codeIn(pim::imProtocolMap(), service);
    return code > 0 ? code : 0;
}

}  // namespace typelabels
