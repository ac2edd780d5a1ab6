#include "app/itemmodelcontacts.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QTextDocument>

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
    const pim::_Contact& c = m_contacts.at(index.row());
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
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

QPixmap ItemModelContacts::thumbnail(int row) const {
    if (m_thumbs.size() != m_contacts.size()) {
        m_thumbs.resize(m_contacts.size());
    }
    QPixmap& slot = m_thumbs[row];
    if (!slot.isNull()) {
        return slot;
    }
    const pim::_Contact& c = m_contacts.at(row);
    QImage img;
    if (!c.entities.value(pim::ENTITY_PHOTO).isEmpty()) {
        const QByteArray bytes = g_firstPhotoBytes(c, m_photoFetch);
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
    return createIndex(pos, 0, &m_contacts[pos]);
}

pim::_Contact* ItemModelContacts::contactAt(int row) {
    if (row < 0 || row >= m_contacts.size()) {
        return nullptr;
    }
    return &m_contacts[row];
}

void ItemModelContacts::clear() {
    beginResetModel();
    m_contacts.clear();
    m_thumbs.clear();
    endResetModel();
}

void ItemModelContacts::loadContacts(QList<pim::_Contact> contacts) {
    beginResetModel();
    m_contacts = std::move(contacts);
    // Detach now, so that the element addresses handed out in indexes stay put (a list
    // handed over whole is the model's alone already, and is not copied).
    m_contacts.detach();
    m_thumbs.clear();
    endResetModel();
}

void ItemModelContacts::insertContact(const pim::_Contact& contact) {
    const int n = m_contacts.size();
    beginInsertRows(QModelIndex(), n, n);
    m_contacts.append(contact);
    if (m_thumbs.size() == n) {
        m_thumbs.append(QPixmap());
    }
    endInsertRows();
}
