#include "cardplan.h"

#include <QDateTime>
#include <QLocale>
#include <QMap>

namespace {

QString text(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

}  // namespace

CardTexts planCard(const pim::_Contact& contact, int w, CardTexts texts) {
    const CardMetrics m(w);

    const int x = w / 3 + m.pattern + m.lineSep;
    const int width = w - x - 10;
    int y = m.pattern;

    y += texts.addEntityVal(CardTexts::NameFace, x, y, width, contact.fullName, QString(), true) +
         m.lineSep;
    const CardTexts::Face font = CardTexts::LabelFace;

    const QList<pim::Entity> orgs = contact.entities.value(pim::ENTITY_ORG);
    if (!orgs.isEmpty()) {
        const pim::Entity& org = orgs.first();
        QString line = text(org, "data4");
        if (!text(org, "data5").isEmpty())
            line += ' ' + text(org, "data5");
        if (!text(org, "data1").isEmpty())
            line += ' ' + text(org, "data1");
        y += texts.addEntityVal(font, x, y, width, line.trimmed(), QString(), true) + m.lineSep;
    }

    for (const pim::Entity& e : contact.entities.value(pim::ENTITY_EVENT)) {
        if (e.fields.value(QStringLiteral("data2")).toInt() != 3)
            continue;
        const QDateTime dt = QDateTime::fromString(text(e, "data1"), Qt::ISODate);
        const QString date =
            dt.isValid() ? QLocale::system().toString(dt.date(), QLocale::ShortFormat) : QString();
        y += texts.addEntityVal(font, x, y, width, QStringLiteral("Birthday:"), date, false) +
             m.lineSep;
        break;
    }

    QList<pim::Entity> phones = contact.entities.value(pim::ENTITY_PHONE);
    std::stable_sort(phones.begin(), phones.end(), pim::comparePhoneLess);
    const QMap<int, QString> phoneLabels = pim::phoneTypeMap();
    for (int i = 0; i < phones.size() && i < 4; ++i) {
        const pim::Entity& e = phones.at(i);
        const QString label =
            phoneLabels.value(e.fields.value(QStringLiteral("data2")).toInt()) + ':';
        y += texts.addEntityVal(font, x, y, width, label, text(e, "data1"), true) + m.lineSep;
    }

    const QList<pim::Entity> emails = contact.entities.value(pim::ENTITY_EMAIL);
    if (!emails.isEmpty()) {
        y += texts.addEntityVal(font, x, y, width, QStringLiteral("E-Mail:"),
                                text(emails.first(), "data1"), true) +
             m.lineSep;
    }

    const QList<pim::Entity> addrs = contact.entities.value(pim::ENTITY_ADDR);
    if (!addrs.isEmpty()) {
        texts.addEntityVal(font, x, y, width, QStringLiteral("Address:"),
                           addrs.first().formattedAddr(), false);
    }
    return texts;
}
