#include "abstextexport.h"

#include <QHash>
#include <QPair>
#include <QSet>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

int code(const pim::Entity& e, const char* key) {
    return e.fields.value(QLatin1String(key)).toInt();
}

QString addrCol(const pim::Entity& e, const char* part) {
    return QLatin1String("Addr:") + pim::addrTypeMap().value(code(e, "data2")) +
           QLatin1String(part);
}

using CellFn = std::function<void(const QString& name, int nth, const QString& value)>;

// Calls `cell(column name, nth, value)` for every column the entity fills, under the rules shared
// by the header and the rows: name, organisation and address parts only when not empty. `nth`
// counts the contact's values under one column name from 1, so a second mobile number is the
// second value of "Tel:Mobile" rather than a replacement of the first; a second address of one
// label is the second value of each of its parts. Name and organisation parts describe the one
// person and stay single: the last non-empty value is theirs.
class CellWalk {
public:
    explicit CellWalk(const CellFn& cell) : m_cell(cell) {}

    void entity(int type, const pim::Entity& e) {
        auto text = [&e](const char* key) { return e.text(QLatin1String(key)); };
        switch (type) {
            case pim::ENTITY_NAME:
                single(QStringLiteral("Prefix"), text("data5"));
                single(QStringLiteral("First Name"), text("data2"));
                single(QStringLiteral("Middle Name"), text("data4"));
                single(QStringLiteral("Last Name"), text("data3"));
                single(QStringLiteral("Suffix"), text("data6"));
                break;
            case pim::ENTITY_PHONE:
                repeated(AbsTextExport::telCol(e), text("data1"));
                break;
            case pim::ENTITY_EMAIL:
                repeated(AbsTextExport::emailCol(e), text("data1"));
                break;
            case pim::ENTITY_NICKNAME:
                repeated(QStringLiteral("Nickname"), text("data1"));
                break;
            case pim::ENTITY_EVENT:
                repeated(AbsTextExport::eventCol(e), text("data1"));
                break;
            case pim::ENTITY_GROUP:
                repeated(QStringLiteral("Category"), text("data2"));
                break;
            case pim::ENTITY_IM:
                repeated(AbsTextExport::imCol(e), text("data1"));
                break;
            case pim::ENTITY_NOTES:
                repeated(QStringLiteral("Notes"), text("data1"));
                break;
            case pim::ENTITY_ORG:
                single(QStringLiteral("Company"), text("data1"));
                single(QStringLiteral("Department"), text("data5"));
                single(QStringLiteral("Job Title"), text("data4"));
                break;
            case pim::ENTITY_REL:
                repeated(AbsTextExport::relCol(e), text("data1"));
                break;
            case pim::ENTITY_ADDR:
                address(e);
                break;
            case pim::ENTITY_URL:
                repeated(AbsTextExport::urlCol(e), text("data1"));
                break;
            default:
                break;
        }
    }

private:
    void single(const QString& name, const QString& value) {
        if (!value.isEmpty())
            m_cell(name, 1, value);
    }
    void repeated(const QString& name, const QString& value) {
        m_cell(name, ++m_seen[name], value);
    }
    void address(const pim::Entity& e) {
        const QPair<QString, QString> parts[] = {
            {AbsTextExport::addrCountryCol(e), e.text(QStringLiteral("data10"))},
            {AbsTextExport::addrStateCol(e), e.text(QStringLiteral("data8"))},
            {AbsTextExport::addrCityCol(e), e.text(QStringLiteral("data7"))},
            {AbsTextExport::addrStreetCol(e), e.text(QStringLiteral("data4"))},
            {AbsTextExport::addrPostcodeCol(e), e.text(QStringLiteral("data9"))}};
        bool any = false;
        for (const auto& p : parts)
            any = any || !p.second.isEmpty();
        if (!any)
            return;
        // All parts of one address carry one number, counted per address label.
        const int nth =
            ++m_seen[QStringLiteral("Addr:") + pim::addrTypeMap().value(code(e, "data2"))];
        for (const auto& p : parts) {
            if (!p.second.isEmpty())
                m_cell(p.first, nth, p.second);
        }
    }

    const CellFn& m_cell;
    QHash<QString, int> m_seen;
};

void forEachCell(const pim::_Contact& contact, const CellFn& cell) {
    CellWalk walk(cell);
    for (auto it = contact.entities.constBegin(); it != contact.entities.constEnd(); ++it) {
        for (const pim::Entity& e : it.value())
            walk.entity(it.key(), e);
    }
}

// Trailing " N" (N from 2) of a numbered column name, 1 when there is none.
int columnNumber(const QString& name, QString* base = nullptr) {
    const int space = name.lastIndexOf(QLatin1Char(' '));
    bool digits = space > 0 && space + 1 < name.size() && name.size() - space <= 6 &&
                  name.at(space + 1) != QLatin1Char('0');
    for (int i = space + 1; digits && i < name.size(); ++i)
        digits = name.at(i) >= QLatin1Char('0') && name.at(i) <= QLatin1Char('9');
    const int n = digits ? name.midRef(space + 1).toInt() : 0;
    if (n < 2) {
        if (base)
            *base = name;
        return 1;
    }
    if (base)
        *base = name.left(space);
    return n;
}

}  // namespace

AbsTextExport::AbsTextExport() {}

AbsTextExport::~AbsTextExport() {}

QByteArray AbsTextExport::initialize(const QList<pim::_Contact>& contacts) {
    const bool numbered = !repeatsOnLines();
    QSet<QString> names;
    for (const pim::_Contact& c : contacts) {
        forEachCell(c, [&names, numbered](const QString& name, int nth, const QString&) {
            names.insert(numbered ? numberedCol(name, nth) : name);
        });
    }
    // By priority, then by name and number, so the same contacts always give the same header
    // and "Tel:Mobile 2" follows "Tel:Mobile" (and "Tel:Mobile 10" follows "Tel:Mobile 9").
    struct Key {
        int priority;
        QString base;
        int nth;
        QString name;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<size_t>(names.size()));
    for (const QString& name : qAsConst(names)) {
        Key k;
        k.nth = columnNumber(name, &k.base);
        k.priority = colPriority(name);
        k.name = name;
        keys.push_back(k);
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (a.priority != b.priority)
            return a.priority < b.priority;
        if (a.base != b.base)
            return a.base < b.base;
        return a.nth < b.nth;
    });
    QStringList sorted;
    colIndexMap.clear();
    for (const Key& k : keys) {
        colIndexMap.insert(k.name, sorted.size());
        sorted << k.name;
    }
    return cols2Bytes(sorted);
}

QByteArray AbsTextExport::ct2Bytes(const pim::_Contact& contact) {
    const int n = colIndexMap.size();
    const bool numbered = !repeatsOnLines();
    // One row of cells per line: the one line of a numbered table, else one line per value
    // number, a contact's second values on a line of their own below the first.
    std::vector<std::vector<QString> > lines(1, std::vector<QString>(static_cast<size_t>(n)));
    forEachCell(contact, [&](const QString& name, int nth, const QString& value) {
        auto it = colIndexMap.constFind(numbered ? numberedCol(name, nth) : name);
        if (it == colIndexMap.constEnd())
            return;
        const size_t line = numbered ? 0 : static_cast<size_t>(nth - 1);
        while (lines.size() <= line)
            lines.emplace_back(static_cast<size_t>(n));
        lines[line][static_cast<size_t>(it.value())] = value;
    });
    QByteArray out;
    for (std::vector<QString>& cells : lines)
        out += rowData2Bytes(cells.data(), n);
    return out;
}

bool AbsTextExport::repeatsOnLines() const {
    return false;
}

QString AbsTextExport::numberedCol(const QString& name, int nth) {
    return nth <= 1 ? name : name + QLatin1Char(' ') + QString::number(nth);
}

QString AbsTextExport::baseCol(const QString& name) {
    QString base;
    columnNumber(name, &base);
    return base;
}

QByteArray AbsTextExport::uninitialize() {
    return QByteArray();
}

int AbsTextExport::colPriority(QString name) {
    // A numbered column ("Tel:Mobile 2", "Addr:Home:Street 2") stands with its first one.
    name = baseCol(name);
    static const struct {
        const char* name;
        int priority;
    } fixed[] = {{"Prefix", 10},     {"First Name", 20}, {"Middle Name", 30}, {"Last Name", 40},
                 {"Suffix", 50},     {"Nickname", 51},   {"Category", 60},    {"Company", 70},
                 {"Department", 80}, {"Job Title", 90}};
    for (const auto& f : fixed) {
        if (name == QLatin1String(f.name))
            return f.priority;
    }
    if (name.startsWith(QLatin1String("Tel:")))
        return 100;
    if (name.startsWith(QLatin1String("Email:")))
        return 200;
    if (name.startsWith(QLatin1String("Date:")))
        return 300;
    if (name.startsWith(QLatin1String("Addr:"))) {
        if (name.endsWith(QLatin1String(":Country")))
            return 401;
        if (name.endsWith(QLatin1String(":State")))
            return 402;
        if (name.endsWith(QLatin1String(":City")))
            return 403;
        if (name.endsWith(QLatin1String(":Street")))
            return 404;
        if (name.endsWith(QLatin1String(":Postcode")))
            return 405;
        return 1000;
    }
    if (name.startsWith(QLatin1String("IM:")))
        return 500;
    if (name.startsWith(QLatin1String("Rel:")))
        return 600;
    if (name.startsWith(QLatin1String("Url:")))
        return 700;
    if (name == QLatin1String("Notes"))
        return 800;
    return 1000;
}

bool AbsTextExport::compareColNameLess(QString a, QString b) {
    return colPriority(a) < colPriority(b);
}

QString AbsTextExport::telCol(const pim::Entity& e) {
    return QLatin1String("Tel:") + pim::phoneTypeMap().value(code(e, "data2"));
}

QString AbsTextExport::emailCol(const pim::Entity& e) {
    return QLatin1String("Email:") + pim::emailTypeMap().value(code(e, "data2"));
}

QString AbsTextExport::eventCol(const pim::Entity& e) {
    return QLatin1String("Date:") + pim::eventTypeMap().value(code(e, "data2"));
}

QString AbsTextExport::imCol(const pim::Entity& e) {
    return QLatin1String("IM:") + pim::imProtocolMap().value(code(e, "data5"));
}

QString AbsTextExport::relCol(const pim::Entity& e) {
    return QLatin1String("Rel:") + pim::relTypeMap().value(code(e, "data2"));
}

QString AbsTextExport::urlCol(const pim::Entity& e) {
    return QLatin1String("Url:") + pim::urlTypeMap().value(code(e, "data2"));
}

QString AbsTextExport::addrCountryCol(const pim::Entity& e) {
    return addrCol(e, ":Country");
}

QString AbsTextExport::addrStateCol(const pim::Entity& e) {
    return addrCol(e, ":State");
}

QString AbsTextExport::addrCityCol(const pim::Entity& e) {
    return addrCol(e, ":City");
}

QString AbsTextExport::addrStreetCol(const pim::Entity& e) {
    return addrCol(e, ":Street");
}

QString AbsTextExport::addrPostcodeCol(const pim::Entity& e) {
    return addrCol(e, ":Postcode");
}
