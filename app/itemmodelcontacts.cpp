#include "itemmodelcontacts.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QTextDocument>

#include <algorithm>
#include <utility>

#include "editor/photoimage.h"

namespace {
const char* const g_columns[4] = {"Name", "Phone", "E-Mail", "Address"};

const QPixmap& emptyContactPixmap() {
    static const QPixmap pm = [] {
        QImage img(":res/empty_contact.png");
        if (img.isNull()) {
            return QPixmap();
        }
        return QPixmap::fromImage(img.scaledToWidth(18, Qt::FastTransformation));
    }();
    return pm;
}
}  // namespace

ItemModelContacts::ItemModelContacts(QObject* parent) : QAbstractItemModel(parent) {}

ItemModelContacts::~ItemModelContacts() = default;

QModelIndex ItemModelContacts::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return QModelIndex();
    }
    if (column == 0) {
        return createIndex(row, 0, const_cast<pim::_Contact*>(&m_contacts.at(row)));
    }
    return createIndex(row, column, nullptr);
}

QModelIndex ItemModelContacts::parent(const QModelIndex&) const {
    return QModelIndex();
}

int ItemModelContacts::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_contacts.size();
}

int ItemModelContacts::columnCount(const QModelIndex&) const {
    return 4;
}

QVariant ItemModelContacts::data(const QModelIndex& index, int role) const {
    if (role == Qt::ToolTipRole) {
        // Tool tips render markup: contact data shows as typed.
        const QVariant v = data(index, Qt::DisplayRole);
        const QString s = v.toString();
        return Qt::mightBeRichText(s) ? QVariant(s.toHtmlEscaped()) : v;
    }
    if (role > 13 || !index.isValid() || index.row() < 0 || index.row() >= m_contacts.size()) {
        return QVariant();
    }
    switch (role) {
        case Qt::DisplayRole:
            return cell(index.row(), index.column());
        case Qt::DecorationRole:
            if (index.column() != 0) {
                return QVariant();
            }
            return thumbnail(index.row());
        case Qt::BackgroundRole:
            return QBrush(index.row() % 2 == 0 ? QColor(250, 250, 250, 255)
                                               : QColor(255, 255, 255, 255));
        case Qt::SizeHintRole:
            return QSize(0, 25);
        default:
            return QVariant();
    }
}

QVariant ItemModelContacts::cell(int row, int column) const {
    if (m_fromListing[size_t(row)] >= 0) {
        return listedCell(m_fromListing[size_t(row)], column);
    }
    const pim::_Contact& c = m_contacts.at(row);
    switch (column) {
        case 0:
            return c.fullName.isNull() ? QString("") : c.fullName;
        case 1: {
            const auto it = c.entities.constFind(pim::ENTITY_PHONE);
            if (it == c.entities.constEnd() || it->isEmpty()) {
                return QVariant();
            }
            for (const pim::Entity& e : *it) {
                if (e.fields.value("data2").toInt() == 2) {
                    return e.fields.value("data1").toString();
                }
            }
            return it->first().fields.value("data1").toString();
        }
        case 2: {
            const auto it = c.entities.constFind(pim::ENTITY_EMAIL);
            if (it == c.entities.constEnd() || it->isEmpty()) {
                return QVariant();
            }
            return it->first().fields.value("data1").toString();
        }
        case 3: {
            const auto it = c.entities.constFind(pim::ENTITY_ADDR);
            if (it == c.entities.constEnd() || it->isEmpty()) {
                return QVariant();
            }
            return it->first().fields.value("data1");
        }
        default:
            return QVariant();
    }
}

// The same cells read from the listing's bytes, without making the contact.
QVariant ItemModelContacts::listedCell(int at, int column) const {
    static const QString data1 = QStringLiteral("data1");
    static const QString data2 = QStringLiteral("data2");
    switch (column) {
        case 0: {
            const QString& name = m_listing.fullName(at);
            return name.isNull() ? QString("") : name;
        }
        case 1: {
            const int phones = m_listing.detailCount(at, pim::ENTITY_PHONE);
            if (phones == 0) {
                return QVariant();
            }
            for (int n = 0; n < phones; ++n) {
                if (m_listing.field(at, pim::ENTITY_PHONE, n, data2).toInt() == 2) {
                    return m_listing.field(at, pim::ENTITY_PHONE, n, data1).toString();
                }
            }
            return m_listing.field(at, pim::ENTITY_PHONE, 0, data1).toString();
        }
        case 2:
            if (m_listing.detailCount(at, pim::ENTITY_EMAIL) == 0) {
                return QVariant();
            }
            return m_listing.field(at, pim::ENTITY_EMAIL, 0, data1).toString();
        case 3:
            return m_listing.field(at, pim::ENTITY_ADDR, 0, data1);
        default:
            return QVariant();
    }
}

pim::_Contact& ItemModelContacts::made(int row) const {
    int& from = m_fromListing[size_t(row)];
    // at(): no detach, so the addresses handed out stay.
    auto& c = const_cast<pim::_Contact&>(m_contacts.at(row));
    if (from >= 0) {
        c = m_listing.contact(from);
        from = -1;
    }
    return c;
}

const QList<pim::_Contact>& ItemModelContacts::contacts() const {
    for (int row = 0; row < m_contacts.size(); ++row) {
        made(row);
    }
    return m_contacts;
}

int ItemModelContacts::rowOf(unsigned long long contactId) const {
    for (int row = 0; row < m_contacts.size(); ++row) {
        const int from = m_fromListing[size_t(row)];
        if ((from >= 0 ? m_listing.id(from) : m_contacts.at(row)._id) == contactId) {
            return row;
        }
    }
    return -1;
}

QPixmap ItemModelContacts::thumbnail(int row) const {
    if (m_thumbs.size() != m_contacts.size()) {
        m_thumbs.resize(m_contacts.size());
    }
    QPixmap& slot = m_thumbs[row];
    if (!slot.isNull()) {
        return slot;
    }
    const int from = m_fromListing[size_t(row)];
    QImage img;
    if (from >= 0 ? m_listing.detailCount(from, pim::ENTITY_PHOTO) > 0
                  : !m_contacts.at(row).entities.value(pim::ENTITY_PHOTO).isEmpty()) {
        const QByteArray bytes = g_firstPhotoBytes(made(row), m_photoFetch);
        ++m_decodes;
        img = g_decodePhoto(bytes);
    }
    if (img.isNull()) {
        slot = emptyContactPixmap();
    } else {
        slot = QPixmap::fromImage(img.scaledToWidth(18, Qt::FastTransformation));
    }
    return slot;
}

QVariant ItemModelContacts::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4) {
        return QString(g_columns[section]);
    }
    return QVariant();
}

QModelIndex ItemModelContacts::indexOfPos(int pos) {
    if (pos < 0 || pos >= m_contacts.size()) {
        return QModelIndex();
    }
    made(pos);
    return createIndex(pos, 0, &m_contacts[pos]);
}

pim::_Contact* ItemModelContacts::contactAt(int row) {
    if (row < 0 || row >= m_contacts.size()) {
        return nullptr;
    }
    made(row);
    return &m_contacts[row];
}

void ItemModelContacts::clear() {
    beginResetModel();
    m_contacts.clear();
    m_fromListing.clear();
    m_listing = ContactListing();
    m_thumbs.clear();
    endResetModel();
}

void ItemModelContacts::loadContacts(QList<pim::_Contact> contacts) {
    beginResetModel();
    m_contacts = std::move(contacts);
    // Detach now, so that the element addresses handed out in indexes stay put (a list
    // handed over whole is the model's alone already, and is not copied).
    m_contacts.detach();
    m_fromListing.assign(size_t(m_contacts.size()), -1);
    m_listing = ContactListing();
    m_thumbs.clear();
    endResetModel();
}

void ItemModelContacts::loadListing(ContactListing listing) {
    beginResetModel();
    m_listing = std::move(listing);
    const int n = m_listing.size();
    QList<pim::_Contact> placeholders;
    placeholders.reserve(n);
    m_fromListing.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        placeholders.append(pim::_Contact());
        m_fromListing[size_t(i)] = i;
    }
    m_contacts = std::move(placeholders);
    m_thumbs.clear();
    endResetModel();
}

void ItemModelContacts::keepOnly(const QSet<unsigned long long>& contactIds) {
    struct Kept {
        int row;
        QString name;
    };
    std::vector<Kept> kept;
    for (int row = 0; row < m_contacts.size(); ++row) {
        const int from = m_fromListing[size_t(row)];
        const unsigned long long id = from >= 0 ? m_listing.id(from) : m_contacts.at(row)._id;
        if (contactIds.contains(id)) {
            kept.push_back(
                {row, from >= 0 ? m_listing.fullName(from) : m_contacts.at(row).fullName});
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Kept& a, const Kept& b) { return a.name < b.name; });
    QList<pim::_Contact> contacts;
    contacts.reserve(int(kept.size()));
    std::vector<int> fromListing;
    fromListing.reserve(kept.size());
    for (const Kept& k : kept) {
        contacts.append(m_contacts.at(k.row));
        fromListing.push_back(m_fromListing[size_t(k.row)]);
    }
    beginResetModel();
    m_contacts = std::move(contacts);
    m_contacts.detach();
    m_fromListing = std::move(fromListing);
    m_thumbs.clear();
    endResetModel();
}

void ItemModelContacts::insertContact(const pim::_Contact& contact) {
    const int n = m_contacts.size();
    beginInsertRows(QModelIndex(), n, n);
    m_contacts.append(contact);
    m_fromListing.push_back(-1);
    if (m_thumbs.size() == n) {
        m_thumbs.append(QPixmap());
    }
    endInsertRows();
}
