#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QPixmap>
#include <QSet>
#include <QVector>

#include <vector>

#include "store/contactlistread.h"
#include "store/photofetch.h"
#include "store/pim.h"

// The flat contact list: name, one phone, first e-mail, first address, with a small photo.
// Contacts come as the store lists them, photos without their bytes: a row's photo is read
// when the row is first drawn, and only its thumbnail is kept. A listing's rows are shown
// from its bytes; a row's contact is made whole the first time it is asked for (a selection,
// an edit, contacts()), and stays at its address from then on.
class ItemModelContacts : public QAbstractItemModel {
public:
    explicit ItemModelContacts(QObject* parent = nullptr);
    ~ItemModelContacts() override;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    QModelIndex indexOfPos(int pos);
    void clear();
    // Reads the photo of a row whose contact was listed without its photo bytes.
    void setPhotoFetch(PhotoFetch fetch) { m_photoFetch = std::move(fetch); }
    void loadContacts(QList<pim::_Contact> contacts);
    // Shows the listing's contacts in its order.
    void loadListing(ContactListing listing);
    // Keeps only the rows of these contacts, ordered by full name (rows of equal names keep
    // their order).
    void keepOnly(const QSet<unsigned long long>& contactIds);
    void insertContact(const pim::_Contact& contact);

    const QList<pim::_Contact>& contacts() const;
    int size() const { return m_contacts.size(); }
    // The model's own copy of the contact at a row; null outside the list.
    pim::_Contact* contactAt(int row);
    // The row of the contact with this id; -1 when it is not listed.
    int rowOf(unsigned long long contactId) const;

    // Number of photo decodes so far (the thumbnails are cached per row).
    int photoDecodeCount() const { return m_decodes; }

private:
    QPixmap thumbnail(int row) const;
    QVariant cell(int row, int column) const;
    QVariant listedCell(int at, int column) const;
    // The row's contact, made from the listing when it is not yet.
    pim::_Contact& made(int row) const;

    // Row r's contact; until m_fromListing[r] is -1 a placeholder, to be made from the
    // listing's contact of that number. Made in place: the list is shared with nobody while
    // any row is unmade, since contacts() makes them all first.
    mutable QList<pim::_Contact> m_contacts;
    mutable std::vector<int> m_fromListing;
    ContactListing m_listing;
    // Decoded 18-pixel thumbnails by row; a null pixmap means not decoded yet.
    mutable QVector<QPixmap> m_thumbs;
    mutable int m_decodes = 0;
    PhotoFetch m_photoFetch;
};
