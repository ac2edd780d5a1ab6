#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QPixmap>
#include <QVector>

#include "store/photofetch.h"
#include "store/pim.h"

// The flat contact list: name, one phone, first e-mail, first address, with a small photo.
// Contacts come as the store lists them, photos without their bytes: a row's photo is read
// when the row is first drawn, and only its thumbnail is kept.
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
    void insertContact(const pim::_Contact& contact);

    const QList<pim::_Contact>& contacts() const { return m_contacts; }
    int size() const { return m_contacts.size(); }
    // The model's own copy of the contact at a row; null outside the list.
    pim::_Contact* contactAt(int row);

    // Number of photo decodes so far (the thumbnails are cached per row).
    int photoDecodeCount() const { return m_decodes; }

private:
    QPixmap thumbnail(int row) const;

    QList<pim::_Contact> m_contacts;
    // Decoded 18-pixel thumbnails by row; a null pixmap means not decoded yet.
    mutable QVector<QPixmap> m_thumbs;
    mutable int m_decodes = 0;
    PhotoFetch m_photoFetch;
};
