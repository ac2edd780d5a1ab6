#include "entityformatters.h"

#include <QDateTime>
#include <QLocale>

#include "storeddates.h"

namespace {

QString field(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

// The user's own label when there is one (blanks count), else the table's text for the code
// ("Other" for a missing or non-numeric code, empty for a code the table lacks).
QString labelOf(const pim::Entity& e, const QMap<int, QString>& table) {
    const QString custom = field(e, "data3");
    if (!custom.isEmpty())
        return custom;
    return table.value(e.fields.value(QStringLiteral("data2")).toInt());
}

QString labelled(const pim::Entity& e, const QMap<int, QString>& table, const QString& value) {
    return QStringLiteral("%1:%2").arg(labelOf(e, table), value);
}

}  // namespace

QString EntityFormatters::g_phoneDisplay(const pim::Entity& e) {
    return labelled(e, pim::phoneTypeMap(), field(e, "data1"));
}

QString EntityFormatters::g_emailDisplay(const pim::Entity& e) {
    return labelled(e, pim::emailTypeMap(), field(e, "data1"));
}

QString EntityFormatters::g_eventDisplay(const pim::Entity& e) {
    // The calendar date as written: no zone conversion, and the time is never shown.
    const QDateTime dt = StoredDates::parseStoredDate(field(e, "data1"));
    const QString date =
        dt.date().isValid() ? StoredDates::displayDate(dt.date(), QLocale::ShortFormat) : QString();
    return labelled(e, pim::eventTypeMap(), date);
}

QString EntityFormatters::g_imDisplay(const pim::Entity& e) {
    QString service = field(e, "data6");
    if (service.isEmpty())
        service = pim::imProtocolMap().value(e.fields.value(QStringLiteral("data5")).toInt());
    return QStringLiteral("%1:%2(%3)")
        .arg(labelOf(e, pim::imTypeMap()), field(e, "data1"), service);
}

QString EntityFormatters::g_orgDisplay(const pim::Entity& e) {
    QString text = field(e, "data4");
    const QString department = field(e, "data5");
    if (!department.isEmpty())
        text += QLatin1Char(' ') + department;
    const QString company = field(e, "data1");
    if (!company.isEmpty())
        text += QLatin1Char(' ') + company;
    return labelled(e, pim::orgTypeMap(), text.trimmed());
}

QString EntityFormatters::g_relDisplay(const pim::Entity& e) {
    return labelled(e, pim::relTypeMap(), field(e, "data1"));
}

QString EntityFormatters::g_addrDisplay(const pim::Entity& e) {
    // Rich text: the data is escaped so that a "<" in a street cannot turn into markup.
    QString addr = e.formattedAddr().toHtmlEscaped();
    addr.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return QStringLiteral("<b>%1</b><br/>%2")
        .arg(labelOf(e, pim::addrTypeMap()).toHtmlEscaped(), addr);
}

QString EntityFormatters::g_urlDisplay(const pim::Entity& e) {
    return labelled(e, pim::urlTypeMap(), field(e, "data1"));
}

QString EntityFormatters::g_notesDisplay(const pim::Entity& e) {
    return field(e, "data1");
}

void EntityFormatters::g_forEachSection(
    const pim::_Contact& contact,
    const std::function<void(const QString&, const QList<pim::Entity>&, Formatter)>& visit) {
    struct Section {
        const char* title;
        int type;
        Formatter formatter;
    };
    static const Section sections[] = {
        {"Phone:", pim::ENTITY_PHONE, &EntityFormatters::g_phoneDisplay},
        {"E-Mail:", pim::ENTITY_EMAIL, &EntityFormatters::g_emailDisplay},
        {"Date:", pim::ENTITY_EVENT, &EntityFormatters::g_eventDisplay},
        {"IM:", pim::ENTITY_IM, &EntityFormatters::g_imDisplay},
        {"Organization:", pim::ENTITY_ORG, &EntityFormatters::g_orgDisplay},
        {"Relationship:", pim::ENTITY_REL, &EntityFormatters::g_relDisplay},
        {"Address:", pim::ENTITY_ADDR, &EntityFormatters::g_addrDisplay},
        {"Website:", pim::ENTITY_URL, &EntityFormatters::g_urlDisplay},
        {"Notes:", pim::ENTITY_NOTES, &EntityFormatters::g_notesDisplay},
    };
    for (const Section& s : sections) {
        QList<pim::Entity> list = contact.entities.value(s.type);
        if (s.type == pim::ENTITY_ORG && !list.isEmpty())
            list.removeFirst();
        if (!list.isEmpty())
            visit(QLatin1String(s.title), list, s.formatter);
    }
}
