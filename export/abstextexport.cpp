#include "abstextexport.h"

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

// Calls `cell(column name, value)` for every column the entity fills, under the rules shared by
// the header and the rows: name, organisation and address parts only when not empty.
void forEachCell(int type, const pim::Entity& e,
                 const std::function<void(const QString&, const QString&)>& cell) {
    auto text = [&e](const char* key) { return e.text(QLatin1String(key)); };
    auto nonEmpty = [&cell](const QString& name, const QString& value) {
        if (!value.isEmpty())
            cell(name, value);
    };
    switch (type) {
        case pim::ENTITY_NAME:
            nonEmpty(QStringLiteral("Prefix"), text("data5"));
            nonEmpty(QStringLiteral("First Name"), text("data2"));
            nonEmpty(QStringLiteral("Middle Name"), text("data4"));
            nonEmpty(QStringLiteral("Last Name"), text("data3"));
            nonEmpty(QStringLiteral("Suffix"), text("data6"));
            break;
        case pim::ENTITY_PHONE:
            cell(AbsTextExport::telCol(e), text("data1"));
            break;
        case pim::ENTITY_EMAIL:
            cell(AbsTextExport::emailCol(e), text("data1"));
            break;
        case pim::ENTITY_NICKNAME:
            cell(QStringLiteral("Nickname"), text("data1"));
            break;
        case pim::ENTITY_EVENT:
            cell(AbsTextExport::eventCol(e), text("data1"));
            break;
        case pim::ENTITY_GROUP:
            cell(QStringLiteral("Category"), text("data2"));
            break;
        case pim::ENTITY_IM:
            cell(AbsTextExport::imCol(e), text("data1"));
            break;
        case pim::ENTITY_NOTES:
            cell(QStringLiteral("Notes"), text("data1"));
            break;
        case pim::ENTITY_ORG:
            nonEmpty(QStringLiteral("Company"), text("data1"));
            nonEmpty(QStringLiteral("Department"), text("data5"));
            nonEmpty(QStringLiteral("Job Title"), text("data4"));
            break;
        case pim::ENTITY_REL:
            cell(AbsTextExport::relCol(e), text("data1"));
            break;
        case pim::ENTITY_ADDR:
            nonEmpty(AbsTextExport::addrCountryCol(e), text("data10"));
            nonEmpty(AbsTextExport::addrStateCol(e), text("data8"));
            nonEmpty(AbsTextExport::addrCityCol(e), text("data7"));
            nonEmpty(AbsTextExport::addrStreetCol(e), text("data4"));
            nonEmpty(AbsTextExport::addrPostcodeCol(e), text("data9"));
            break;
        case pim::ENTITY_URL:
            cell(AbsTextExport::urlCol(e), text("data1"));
            break;
        default:
            break;
    }
}

void forEachCell(const pim::_Contact& contact,
                 const std::function<void(const QString&, const QString&)>& cell) {
    for (auto it = contact.entities.constBegin(); it != contact.entities.constEnd(); ++it) {
        for (const pim::Entity& e : it.value())
            forEachCell(it.key(), e, cell);
    }
}

}  // namespace

AbsTextExport::AbsTextExport() {}

AbsTextExport::~AbsTextExport() {}

QByteArray AbsTextExport::initialize(const QList<pim::_Contact>& contacts) {
    QSet<QString> names;
    for (const pim::_Contact& c : contacts)
        forEachCell(c, [&names](const QString& name, const QString&) { names.insert(name); });
    // Names of equal priority keep alphabetical order, so the same contacts always give the
    // same header.
    QStringList sorted = names.values();
    sorted.sort();
    std::stable_sort(sorted.begin(), sorted.end(), compareColNameLess);
    colIndexMap.clear();
    for (int i = 0; i < sorted.size(); ++i)
        colIndexMap.insert(sorted.at(i), i);
    return cols2Bytes(sorted);
}

QByteArray AbsTextExport::ct2Bytes(const pim::_Contact& contact) {
    const int n = colIndexMap.size();
    std::vector<QString> cells(static_cast<size_t>(n));
    forEachCell(contact, [this, &cells](const QString& name, const QString& value) {
        auto it = colIndexMap.constFind(name);
        if (it != colIndexMap.constEnd())
            cells[static_cast<size_t>(it.value())] = value;
    });
    return rowData2Bytes(cells.data(), n);
}

QByteArray AbsTextExport::uninitialize() {
    return QByteArray();
}

int AbsTextExport::colPriority(QString name) {
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
