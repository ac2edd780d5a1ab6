#include "csvrowreader.h"

#include "typelabels.h"

#include <QDate>
#include <QRegularExpression>

namespace csvrow {

namespace {

const QString kMultiSeparator = QStringLiteral(" ::: ");

// Types whose every value is an entity of its own: two such columns with the same subtype
// ("Home Phone" and "Home Phone 2") give two entities rather than one joined text.
bool isOnePerValue(int type) {
    switch (type) {
        case pim::ENTITY_PHONE:
        case pim::ENTITY_EMAIL:
        case pim::ENTITY_EVENT:
        case pim::ENTITY_IM:
        case pim::ENTITY_REL:
        case pim::ENTITY_URL:
            return true;
        default:
            return false;
    }
}

QStringList pieces(const QString& cell) {
    QStringList out;
    for (const QString& p : cell.split(kMultiSeparator)) {
        const QString t = p.trimmed();
        out.append(t);
    }
    return out;
}

// The type that a key text ("type-subtype...") begins with.
int typeOfKey(const QString& key) {
    int type = 0;
    for (const QChar ch : key) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            break;
        type = type * 10 + (ch.unicode() - '0');
    }
    return type;
}

bool hasAddressPart(const pim::Entity& e) {
    for (const char* k : {"data4", "data7", "data8", "data9", "data10"}) {
        if (!e.text(QLatin1String(k)).isEmpty())
            return true;
    }
    return false;
}

// Types whose entities have a kind (code 0 is "Other"): a column that names one writes it, Other
// included, so no entity of these types is left without a kind.
bool hasKind(int type) {
    return isOnePerValue(type) || type == pim::ENTITY_ADDR;
}

// The custom label of a kind no code names; a messenger's goes where the service name goes.
void setCustomLabel(pim::Entity& e, int type, const QString& subtypeKey, const QString& label) {
    e.fields[subtypeKey] = 0;
    e.fields[type == pim::ENTITY_IM ? "data6" : "data3"] = label;
}

void setLabel(pim::Entity& e, int type, const QString& subtypeKey,
              const QPair<int, QString>& code) {
    if (subtypeKey.isEmpty())
        return;
    if (code.first != 0 || hasKind(type))
        e.fields[subtypeKey] = code.first;
    if (!code.second.isEmpty())
        setCustomLabel(e, type, subtypeKey, code.second);
}

bool isAddressStreet(const CSVImport::_ColInfo& info) {
    return info.type == pim::ENTITY_ADDR && info.dataKey == QLatin1String("data4");
}

// "12 Mar 2024", "7-Feb-22" (LinkedIn), "March 12, 2024": a date with its month in English words.
bool monthWordsDate(const QString& t, QDate& out) {
    static const QRegularExpression dayFirst(
        QStringLiteral("^(\\d{1,2})[ -]([A-Za-z]{3,9})\\.?[ ,-]+(\\d{2}|\\d{4})$"));
    static const QRegularExpression monthFirst(
        QStringLiteral("^([A-Za-z]{3,9})\\.? (\\d{1,2}),? (\\d{4})$"));
    static const QStringList months{"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};
    QString day, month, year;
    QRegularExpressionMatch m = dayFirst.match(t);
    if (m.hasMatch()) {
        day = m.captured(1), month = m.captured(2), year = m.captured(3);
    } else {
        m = monthFirst.match(t);
        if (!m.hasMatch())
            return false;
        month = m.captured(1), day = m.captured(2), year = m.captured(3);
    }
    const int mo = months.indexOf(month.left(3).toLower()) + 1;
    int y = year.toInt();
    if (year.size() == 2)
        y += y < 30 ? 2000 : 1900;
    out = QDate(y, mo, day.toInt());
    return mo > 0 && out.isValid();
}

int number(const QString& t, bool* ok) {
    return t.toInt(ok);
}

}  // namespace

DateRead readDate(const QString& cell, bool dayFirst, QDateTime& out) {
    const QString whole = cell.trimmed();
    bool letters = false;
    for (QChar ch : whole)
        letters = letters || (ch.unicode() < 128 && ch.isLetter());
    QDate named;
    if (letters && monthWordsDate(whole, named)) {
        out = QDateTime(named, QTime(0, 0));
        return DATE;
    }
    const QString t = whole.section(QLatin1Char(' '), 0, 0);
    if (t.isEmpty())
        return NO_DATE;
    if (t.startsWith(QLatin1String("--"))) {
        // A day without a year; the phone keeps such dates in the year 1604.
        const QString md = QString(t.mid(2)).remove(QLatin1Char('-'));
        const QDate d(1604, md.left(2).toInt(), md.mid(2, 2).toInt());
        if (md.size() != 4 || !d.isValid())
            return NOT_A_DATE;
        out = QDateTime(d, QTime(0, 0));
        return DATE;
    }
    QDate d = QDate::fromString(t.left(10), Qt::ISODate);
    if (!d.isValid() && t.size() == 8)
        d = QDate::fromString(t, QStringLiteral("yyyyMMdd"));
    if (d.isValid()) {
        out = QDateTime(d, QTime(0, 0));
        return DATE;
    }
    const QStringList parts = t.split(QRegExp(QStringLiteral("[/.]")));
    if (parts.size() != 3)
        return NOT_A_DATE;
    bool ok[3];
    int n[3];
    for (int i = 0; i < 3; ++i)
        n[i] = number(parts[i], &ok[i]);
    if (!ok[0] || !ok[1] || !ok[2])
        return NOT_A_DATE;
    if (n[0] == 0 && n[1] == 0 && n[2] == 0)
        return NO_DATE;  // Outlook's "0/0/00", "0.0.00": no date
    int y, m, day;
    if (parts[0].size() == 4) {
        y = n[0], m = n[1], day = n[2];
    } else if (dayFirst || n[0] > 12 || t.contains(QLatin1Char('.'))) {
        day = n[0], m = n[1], y = n[2];
    } else {
        m = n[0], day = n[1], y = n[2];
    }
    if (parts[parts.size() - 1].size() <= 2 && parts[0].size() != 4)
        y += y < 30 ? 2000 : 1900;
    d = QDate(y, m, day);
    if (!d.isValid())
        return NOT_A_DATE;
    out = QDateTime(d, QTime(0, 0));
    return DATE;
}

QVector<QString> entityKeys(const QVector<CSVImport::_ColInfo>& columns) {
    QVector<QString> keys;
    keys.reserve(columns.size());
    for (const CSVImport::_ColInfo& info : columns) {
        QString key = QString("%1-%2").arg(info.type).arg(info.subtype);
        if (info.slot)
            key += QString("@%1").arg(info.slot);
        keys.append(key);
    }
    return keys;
}

RowReader::RowReader(int width, const QVector<CSVImport::_ColInfo>& columns,
                     const QVector<QString>& keys, bool dayFirst)
    : width(width), columns(columns), keys(keys), dayFirst(dayFirst) {}

void RowReader::readSlotLabels(const QStringList& row) {
    for (int i = 0; i < width; ++i) {
        const Col& info = columns[i];
        if (info.role != Col::LABEL && info.role != Col::SERVICE &&
            info.role != Col::FORMATTED_ADDR)
            continue;
        const QString cell = i < row.size() ? row[i] : QString();
        if (cell.trimmed().isEmpty())
            continue;
        const QPair<int, int> slot(info.type, info.slot);
        if (info.role == Col::LABEL)
            labels[slot] = cell;
        else if (info.role == Col::SERVICE)
            services[slot] = cell.trimmed();
        else
            formatted[slot] = cell;
    }
}

bool RowReader::dateValue(const QString& text, QVariant& value) {
    QDateTime date;
    switch (readDate(text, dayFirst, date)) {
        case DATE:
            value = date;
            return true;
        case NOT_A_DATE:
            ++skipped;
            return false;
        case NO_DATE:
            break;
    }
    return false;
}

void RowReader::plainCell(const Col& info, const QString& base, const QString& cell) {
    QString key = base;
    if (isOnePerValue(info.type)) {
        // The first entity of this type and subtype whose value is still free; the same value
        // twice (two columns naming one address) is kept once.
        for (int n = 2;; ++n) {
            auto it = work.constFind(key);
            if (it == work.constEnd())
                break;
            const QString have = it->text(info.dataKey);
            if (have.isEmpty())
                break;
            if (have == cell)
                return;
            key = QString("%1#%2").arg(base).arg(n);
        }
    }
    QVariant value = cell;
    if (info.type == pim::ENTITY_EVENT && !dateValue(cell, value))
        return;
    pim::Entity& entity = work[key];
    if (!info.subtypeKey.isEmpty() && (info.subtype != 0 || hasKind(info.type)))
        entity.fields[info.subtypeKey] = info.subtype;
    if (!info.label.isEmpty() && !info.subtypeKey.isEmpty())
        setCustomLabel(entity, info.type, info.subtypeKey, info.label);
    noteFirst(info, cell);
    if (isAddressStreet(info)) {
        streets[key].lines[info.streetLine].append(cell);
        return;
    }
    const QString old = entity.text(info.dataKey);
    entity.fields[info.dataKey] = old.isEmpty() ? value : QVariant(old + " " + cell);
}

// The first company, e-mail address and number in column order: what a nameless row is called.
void RowReader::noteFirst(const Col& info, const QString& value) {
    int which;
    if (info.type == pim::ENTITY_ORG && info.dataKey == QLatin1String("data1"))
        which = 0;
    else if (info.type == pim::ENTITY_EMAIL)
        which = 1;
    else if (info.type == pim::ENTITY_PHONE)
        which = 2;
    else
        return;
    if (firstValues[which].isEmpty())
        firstValues[which] = value.trimmed();
}

// An address's street lines, one under the other as an address is written: its post-office
// box, its extended address, then its street lines in column order.
void RowReader::foldStreets() {
    for (auto it = streets.constBegin(); it != streets.constEnd(); ++it) {
        QStringList lines;
        for (const QStringList& part : it->lines)
            lines += part;
        work[it.key()].fields["data4"] = lines.join(QLatin1Char('\n'));
    }
}

// A Google value column: several values of one label are joined by " ::: ", each an entity.
void RowReader::multiCell(const Col& info, const QString& cell) {
    const QPair<int, int> slot(info.type, info.slot);
    QPair<int, QString> code = typelabels::labelCode(info.type, labels.value(slot));
    const bool labelled = code.first >= 0;
    if (!labelled)
        code = qMakePair(info.subtype, QString());
    const QStringList values = pieces(cell);
    for (int k = 0; k < values.size(); ++k) {
        if (values[k].isEmpty())
            continue;
        if (isOnePerValue(info.type) && holds(info.type, info.dataKey, values[k]))
            continue;  // also in another column ("E-mail Address" and "E-mail 1 - Value")
        QVariant value = values[k];
        if (info.type == pim::ENTITY_EVENT && !dateValue(values[k], value))
            continue;
        const QString key =
            QString("%1-%2@%3.%4").arg(info.type).arg(code.first).arg(info.slot).arg(k);
        pim::Entity& entity = work[key];
        if (labelled)
            setLabel(entity, info.type, info.subtypeKey, code);
        else if (code.first != 0 && !info.subtypeKey.isEmpty())
            entity.fields[info.subtypeKey] = code.first;
        if (info.type == pim::ENTITY_IM) {
            const QString service = services.value(slot);
            const int protocol = typelabels::imProtocol(service);
            if (protocol > 0)
                entity.fields["data5"] = protocol;
            else if (!service.isEmpty())
                entity.fields["data6"] = service;
        }
        noteFirst(info, values[k]);
        if (isAddressStreet(info)) {
            streets[key].lines[info.streetLine].append(values[k]);
            continue;
        }
        const QString old = entity.text(info.dataKey);
        entity.fields[info.dataKey] = old.isEmpty() ? value : QVariant(old + " " + values[k]);
    }
}

bool RowReader::holds(int type, const QString& dataKey, const QString& value) const {
    for (auto it = work.constBegin(); it != work.constEnd(); ++it) {
        if (typeOfKey(it.key()) == type && it->text(dataKey) == value)
            return true;
    }
    return false;
}

void RowReader::formattedAddresses() {
    for (auto it = formatted.constBegin(); it != formatted.constEnd(); ++it) {
        QPair<int, QString> code = typelabels::labelCode(pim::ENTITY_ADDR, labels.value(it.key()));
        if (code.first < 0)
            code = qMakePair(0, QString());
        const QStringList values = pieces(it.value());
        for (int k = 0; k < values.size(); ++k) {
            const QString key = QString("%1-%2@%3.%4")
                                    .arg(pim::ENTITY_ADDR)
                                    .arg(code.first)
                                    .arg(it.key().second)
                                    .arg(k);
            pim::Entity& entity = work[key];
            if (hasAddressPart(entity) || values[k].isEmpty())
                continue;
            setLabel(entity, pim::ENTITY_ADDR, QStringLiteral("data2"), code);
            entity.fields["data4"] = values[k];
        }
    }
}

// Thunderbird's birthday in three columns; a day without a year takes the phone's 1604.
void RowReader::birthday() {
    if (birthParts[1].isEmpty() && birthParts[2].isEmpty()) {
        if (!birthParts[0].isEmpty())
            ++skipped;
        return;
    }
    bool okY = true, okM = false, okD = false;
    const int y = birthParts[0].isEmpty() ? 1604 : birthParts[0].toInt(&okY);
    const QDate d(y, birthParts[1].toInt(&okM), birthParts[2].toInt(&okD));
    if (!okY || !okM || !okD || !d.isValid()) {
        ++skipped;
        return;
    }
    pim::Entity& entity = work[QStringLiteral("6-3")];
    entity.fields["data2"] = 3;
    entity.fields["data1"] = QDateTime(d, QTime(0, 0));
}

pim::_Contact RowReader::read(const QStringList& row) {
    readSlotLabels(row);
    for (int i = 0; i < width; ++i) {
        const QString cell = i < row.size() ? row[i] : QString();
        const Col& info = columns[i];
        if (cell.isEmpty())
            continue;
        switch (info.role) {
            case Col::PLAIN:
                if (info.type != 0)
                    plainCell(info, keys[i], cell);
                break;
            case Col::MULTI:
                multiCell(info, cell);
                break;
            case Col::FULL_NAME:
                if (fullName.isEmpty())
                    fullName = cell.trimmed();
                break;
            case Col::BIRTH_YEAR:
            case Col::BIRTH_MONTH:
            case Col::BIRTH_DAY:
                birthParts[info.role - Col::BIRTH_YEAR] = cell.trimmed();
                break;
            case Col::GROUPS:
                for (const QString& g : pieces(cell)) {
                    // Google's own groups ("* myContacts", "* starred") are no user's groups.
                    if (g.isEmpty() || g.startsWith(QLatin1String("* ")))
                        continue;
                    groups.append(g);
                }
                break;
            case Col::LABEL:
            case Col::SERVICE:
            case Col::FORMATTED_ADDR:
            case Col::IGNORED:
                break;
        }
    }
    foldStreets();
    formattedAddresses();
    birthday();
    return assemble();
}

pim::_Contact RowReader::assemble() {
    pim::_Contact contact;
    for (auto it = work.begin(); it != work.end(); ++it) {
        const int type = typeOfKey(it.key());
        pim::Entity& entity = it.value();
        if (entity.fields.isEmpty())
            continue;
        if (type == pim::ENTITY_ADDR) {
            if (!hasAddressPart(entity))
                continue;
            entity.fields["data1"] = entity.formattedAddr();
        } else if (type == pim::ENTITY_IM) {
            if (!entity.fields.contains(QStringLiteral("data2")))
                entity.fields["data2"] = 1;
        } else if (type == pim::ENTITY_NAME) {
            contact.fullName = entity.fullName();
            entity.fields["data1"] = contact.fullName;
        }
        contact.entities[type].append(entity);
    }
    for (const QString& g : groups) {
        pim::Entity group;
        group.fields["data2"] = g;
        contact.entities[pim::ENTITY_GROUP].append(group);
    }
    if (contact.fullName.isEmpty()) {
        // A row without name parts is named by its whole name, else after its first company,
        // e-mail address or number.
        contact.fullName = fullName;
        for (int i = 0; i < 3 && contact.fullName.isEmpty(); ++i)
            contact.fullName = firstValues[i];
        if (!contact.fullName.isEmpty()) {
            pim::Entity name;
            name.fields["data2"] = contact.fullName;
            name.fields["data1"] = contact.fullName;
            contact.entities[pim::ENTITY_NAME].append(name);
        }
    }
    return contact;
}

}  // namespace csvrow
