// The read-only view of one contact beside the contact list, and the per-entity text formatters
// that the view and the HTML export share.
#pragma once

#include <QScrollArea>
#include <QString>

#include <functional>

#include "store/photofetch.h"
#include "store/pim.h"

class QVBoxLayout;

class ContactDisplayer : public QScrollArea {
    Q_OBJECT
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

    explicit ContactDisplayer(QWidget* parent = nullptr);
    ~ContactDisplayer() override;

    // Reads the photo of a contact listed without its photo bytes, when it is shown.
    void setPhotoFetch(PhotoFetch fetch) { m_photoFetch = std::move(fetch); }

    // Shows nothing.
    void clear();
    // Rebuilds the pane for the contact (a null contact clears the pane). The pane keeps its own
    // copy, so the caller's contact may change or go away afterwards.
    void showContact(const pim::_Contact* contact);
    // Adds one titled section with a line per entity to the content being built.
    void showEntities(QString title, const QList<pim::Entity>& entities, Formatter formatter);

    // The contact last shown (an empty contact before the first showContact or after clear).
    const pim::_Contact& shownContact() const { return m_shownContact; }
    QWidget* contentWidget() const { return m_contentWidget; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void replaceContent();
    void savePhoto();

    pim::_Contact m_shownContact;
    QByteArray m_shownPhoto;  // the first photo's bytes, as stored
    PhotoFetch m_photoFetch;
    QWidget* m_contentWidget = nullptr;
    QVBoxLayout* m_contentLayout = nullptr;
};
