#include "itemmodelmaintree.h"

#include <QImage>
#include <QPixmap>
#include <QTextDocument>

ItemModelMainTree::_ItemNode::_ItemNode(int type_, const QString& name_, _ItemNode* parent_)
    : type(type_), kind(0), name(name_), parent(parent_) {
    if (parent) {
        parent->children.append(this);
    }
}

ItemModelMainTree::_ItemNode::~_ItemNode() {
    for (_ItemNode* child : children) {
        delete child;
    }
    children.clear();
}

int ItemModelMainTree::_ItemNode::row() const {
    if (!parent) {
        return -1;
    }
    return parent->children.indexOf(const_cast<_ItemNode*>(this));
}

ItemModelMainTree::_DBItemNode::_DBItemNode(int type_, const QString& name_, _ItemNode* parent_)
    : _ItemNode(type_, name_, parent_) {}

ItemModelMainTree::_GroupItemNode::_GroupItemNode(const pim::_Group& group_, _ItemNode* parent_)
    : _ItemNode(TYPE_GROUP, group_.name, parent_), group(group_) {}

ItemModelMainTree::ItemModelMainTree(QObject* parent)
    : QAbstractItemModel(parent),
      m_deviceRoot(TYPE_DEVICE_ROOT, tr("IDS_ROOT_DEVICE"), nullptr),
      m_localDbRoot(TYPE_LOCALDB_ROOT, tr("IDS_ROOT_LOCALDB"), nullptr) {}

ItemModelMainTree::~ItemModelMainTree() = default;

QModelIndex ItemModelMainTree::indexFor(_ItemNode* node) const {
    if (!node) {
        return QModelIndex();
    }
    if (node == &m_deviceRoot) {
        return createIndex(0, 0, node);
    }
    if (node == &m_localDbRoot) {
        return createIndex(1, 0, node);
    }
    const int r = node->row();
    if (r < 0) {
        return QModelIndex();
    }
    return createIndex(r, 0, node);
}

QModelIndex ItemModelMainTree::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return QModelIndex();
    }
    _ItemNode* p = nodeOf(parent);
    _ItemNode* node = nullptr;
    if (!p) {
        node = const_cast<_ItemNode*>(row == 0 ? &m_deviceRoot : &m_localDbRoot);
    } else {
        node = p->children.value(row, nullptr);
    }
    if (!node) {
        return QModelIndex();
    }
    QModelIndex idx = createIndex(row, column, node);
    node->index = idx;
    return idx;
}

QModelIndex ItemModelMainTree::parent(const QModelIndex& child) const {
    _ItemNode* node = nodeOf(child);
    if (!child.isValid() || !node || !node->parent) {
        return QModelIndex();
    }
    // Worked out from the parent's place now; a cached index may be stale after removals.
    return indexFor(node->parent);
}

int ItemModelMainTree::rowCount(const QModelIndex& parent) const {
    _ItemNode* node = nodeOf(parent);
    if (!node) {
        return 2;
    }
    if (parent.column() > 0) {
        return 0;
    }
    return node->children.size();
}

int ItemModelMainTree::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant ItemModelMainTree::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !nodeOf(index)) {
        return QVariant();
    }
    const _ItemNode* node = nodeOf(index);
    switch (role) {
        case Qt::DisplayRole:
            return node->name;
        case Qt::ToolTipRole:
            // Tool tips render markup: a device or file name shows as typed.
            return Qt::mightBeRichText(node->name) ? node->name.toHtmlEscaped() : node->name;
        case Qt::DecorationRole: {
            QString res;
            switch (node->type) {
                case TYPE_DEVICE_ROOT:
                    res = ":res/icon_devices.png";
                    break;
                case TYPE_LOCALDB_ROOT:
                    res = ":res/icon_databases.png";
                    break;
                case TYPE_DEVICE_DB:
                    if (node->kind == KIND_IPHONE) {
                        res = ":res/iphone.png";
                    }
                    break;
                case TYPE_LOCAL_DB:
                    res = ":res/icon_database.png";
                    break;
                case TYPE_GROUP:
                    res = ":res/group.png";
                    break;
                default:
                    break;
            }
            if (res.isEmpty()) {
                return QVariant();
            }
            QImage img(res);
            if (img.isNull()) {
                return QVariant();
            }
            return QPixmap::fromImage(img.scaledToWidth(18, Qt::FastTransformation));
        }
        default:
            return QVariant();
    }
}

QVariant ItemModelMainTree::headerData(int, Qt::Orientation, int) const {
    return QVariant();
}

ItemModelMainTree::_DBItemNode* ItemModelMainTree::addDevice(QSharedPointer<LocalDb> db,
                                                             QString name, QString id, int kind) {
    // Announced as an insertion: a bare layoutChanged() would make Qt 5's selection model
    // drop the tree's selection.
    const int row = m_deviceRoot.children.size();
    beginInsertRows(indexFor(&m_deviceRoot), row, row);
    auto* node = new _DBItemNode(TYPE_DEVICE_DB, name, &m_deviceRoot);
    node->db = db;
    node->id = id;
    node->kind = kind;
    endInsertRows();
    return node;
}

ItemModelMainTree::_DBItemNode* ItemModelMainTree::addLocalDb(QSharedPointer<LocalDb> db,
                                                              QString name) {
    const int row = m_localDbRoot.children.size();
    beginInsertRows(indexFor(&m_localDbRoot), row, row);
    auto* node = new _DBItemNode(TYPE_LOCAL_DB, name, &m_localDbRoot);
    node->db = db;
    endInsertRows();
    return node;
}

void ItemModelMainTree::refreshDbNodeGroups(_DBItemNode* node) {
    if (!node || !node->db) {
        return;
    }
    // Read first: a failing read leaves the node as it was.
    const QList<pim::_Group> groups = node->db->groups();
    clearChilds(node);
    if (!groups.isEmpty()) {
        beginInsertRows(indexFor(node), 0, groups.size() - 1);
        for (const pim::_Group& g : groups) {
            new _GroupItemNode(g, node);
        }
        endInsertRows();
    }
    contentsUpdate();
}

void ItemModelMainTree::removeChild(_ItemNode* node, int row) {
    if (!node || row < 0 || row >= node->children.size()) {
        return;
    }
    beginRemoveRows(indexFor(node), row, row);
    _ItemNode* child = node->children.takeAt(row);
    delete child;
    endRemoveRows();
}

void ItemModelMainTree::clearChilds(_ItemNode* node) {
    if (!node || node->children.isEmpty()) {
        return;
    }
    beginRemoveRows(indexFor(node), 0, node->children.size() - 1);
    const QList<_ItemNode*> old = node->children;
    node->children.clear();
    for (_ItemNode* child : old) {
        delete child;
    }
    endRemoveRows();
}

void ItemModelMainTree::removeDevice(QString id) {
    for (int i = 0; i < m_deviceRoot.children.size(); ++i) {
        auto* db = dynamic_cast<_DBItemNode*>(m_deviceRoot.children[i]);
        if (!db) {
            continue;
        }
        if (db->id == id) {
            removeChild(&m_deviceRoot, i);
            return;
        }
    }
}

int ItemModelMainTree::deviceCount(int kind) const {
    int n = 0;
    for (const _ItemNode* child : m_deviceRoot.children) {
        if (child->kind == kind) {
            ++n;
        }
    }
    return n;
}

int ItemModelMainTree::connectedDeviceCount() const {
    int n = 0;
    for (_ItemNode* child : m_deviceRoot.children) {
        auto* db = dynamic_cast<_DBItemNode*>(child);
        if (db && db->isConnectedPhone()) {
            ++n;
        }
    }
    return n;
}

QModelIndex ItemModelMainTree::indexOfItemNode(_ItemNode* node) {
    if (!node || !node->parent) {
        return QModelIndex();
    }
    return indexFor(node);
}

void ItemModelMainTree::contentsUpdate() {
    // Always as a pair, so that views and selection models keep their persistent indexes.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}
