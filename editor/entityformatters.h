// The text that stands for each kind of contact entity, and the order of a card's sections.
// The display pane and the HTML export share them, so they hold no widgets.
#pragma once

#include <QList>
#include <QString>

#include <functional>

#include "store/pim.h"

class EntityFormatters {
public:
    // The text that stands for one entity of a kind. All but g_addrDisplay return plain text;
    // g_addrDisplay returns rich text ("<b>label</b><br/>line<br/>line") whose label and
    // address parts are HTML-escaped.
    using Formatter = QString (*)(const pim::Entity&);

    static QString g_phoneDisplay(const pim::Entity& e);
    static QString g_emailDisplay(const pim::Entity& e);
    static QString g_eventDisplay(const pim::Entity& e);
    static QString g_imDisplay(const pim::Entity& e);
    static QString g_orgDisplay(const pim::Entity& e);
    static QString g_relDisplay(const pim::Entity& e);
    static QString g_addrDisplay(const pim::Entity& e);
    static QString g_urlDisplay(const pim::Entity& e);
    static QString g_notesDisplay(const pim::Entity& e);

    // Walks the titled sections of a contact card in their fixed order, skipping empty ones.
    // The first organisation belongs to the name block, so its section lists only the others.
    static void g_forEachSection(
        const pim::_Contact& contact,
        const std::function<void(const QString& title, const QList<pim::Entity>& entities,
                                 Formatter formatter)>& visit);
};
