#include "abstreeitemmodel.h"

AbsTreeItemModel::_ItemNode::_ItemNode(int t, QString n, _ItemNode* p)
    : type(t), name(std::move(n)), parent(p) {}

AbsTreeItemModel::_ItemNode::~_ItemNode() {
    qDeleteAll(children);
    children.clear();
}

AbsTreeItemModel::AbsTreeItemModel(QObject* parent) : QAbstractItemModel(parent) {}

AbsTreeItemModel::~AbsTreeItemModel() {
    qDeleteAll(roots);
    roots.clear();
}

AbsTreeItemModel::_ItemNode* AbsTreeItemModel::nodeOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<_ItemNode*>(index.internalPointer()) : nullptr;
}

QModelIndex AbsTreeItemModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    const _ItemNode* p = nodeOf(parent);
    const QList<_ItemNode*>& list = p ? p->children : roots;
    if (row < 0 || row >= list.size())
        return QModelIndex();
    _ItemNode* node = list.at(row);
    node->index = createIndex(row, column, node);
    return node->index;
}

QModelIndex AbsTreeItemModel::parent(const QModelIndex& child) const {
    const _ItemNode* node = nodeOf(child);
    if (!node || !node->parent)
        return QModelIndex();
    return node->parent->index;
}

int AbsTreeItemModel::rowCount(const QModelIndex& parent) const {
    const _ItemNode* p = nodeOf(parent);
    return p ? p->children.size() : roots.size();
}

QModelIndex AbsTreeItemModel::indexOfItemNode(const _ItemNode* node) const {
    if (!node)
        return QModelIndex();
    if (node->index.isValid() && node->index.model() == this)
        return node->index;
    const QList<_ItemNode*>& list = node->parent ? node->parent->children : roots;
    const int r = list.indexOf(const_cast<_ItemNode*>(node));
    if (r < 0)
        return QModelIndex();
    return createIndex(r, 0, const_cast<_ItemNode*>(node));
}

void AbsTreeItemModel::invokeDataChanged(const _ItemNode* node) {
    if (!node)
        return;
    const QModelIndex first = indexOfItemNode(node);
    const QModelIndex last =
        node->children.isEmpty() ? first : indexOfItemNode(node->children.last());
    emit dataChanged(first, last);
}

void AbsTreeItemModel::clearChilds(const _ItemNode* node) {
    QList<_ItemNode*>& list = node ? const_cast<_ItemNode*>(node)->children : roots;
    if (list.isEmpty())
        return;
    const QModelIndex p = node ? indexOfItemNode(node) : QModelIndex();
    beginRemoveRows(p, 0, list.size() - 1);
    qDeleteAll(list);
    list.clear();
    endRemoveRows();
}

void AbsTreeItemModel::removeNode(const _ItemNode* node) {
    if (!node)
        return;
    clearChilds(node);
    QList<_ItemNode*>& list = node->parent ? node->parent->children : roots;
    const int r = list.indexOf(const_cast<_ItemNode*>(node));
    if (r < 0)
        return;
    const QModelIndex p = node->parent ? indexOfItemNode(node->parent) : QModelIndex();
    beginRemoveRows(p, r, r);
    delete node;
    list.removeAt(r);
    endRemoveRows();
}

QList<const AbsTreeItemModel::_ItemNode*> AbsTreeItemModel::nodes() const {
    QList<const _ItemNode*> list;
    for (const _ItemNode* r : roots)
        appendNode(list, r);
    return list;
}

void AbsTreeItemModel::appendNode(QList<const _ItemNode*>& list, const _ItemNode* node) const {
    if (!node)
        return;
    list.append(node);
    for (const _ItemNode* c : node->children)
        appendNode(list, c);
}

void AbsTreeItemModel::contentsUpdate() {
    emit layoutChanged();
}
