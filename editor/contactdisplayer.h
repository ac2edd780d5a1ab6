// The read-only view of one contact beside the contact list. Its entity formatters come from
// EntityFormatters, which the HTML export uses without the widget.
#pragma once

#include <QScrollArea>
#include <QString>

#include "entityformatters.h"
#include "store/photofetch.h"
#include "store/pim.h"

class QVBoxLayout;

class ContactDisplayer : public QScrollArea, public EntityFormatters {
    Q_OBJECT
public:
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
