// An item model over a tree of owned nodes; derived models supply columns and cell data.
#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

class AbsTreeItemModel : public QAbstractItemModel {
public:
    struct _ItemNode {
        _ItemNode(int type, QString name, _ItemNode* parent);
        virtual ~_ItemNode();
        _ItemNode(const _ItemNode&) = delete;
        _ItemNode& operator=(const _ItemNode&) = delete;

        int type;
        QString name;
        // What index() last returned for this node (row, column, node, model).
        QModelIndex index;
        _ItemNode* parent;
        QList<_ItemNode*> children;
    };

    explicit AbsTreeItemModel(QObject* parent = nullptr);
    ~AbsTreeItemModel() override;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;

    static _ItemNode* nodeOf(const QModelIndex& index);
    QModelIndex indexOfItemNode(const _ItemNode* node) const;
    void invokeDataChanged(const _ItemNode* node);
    void clearChilds(const _ItemNode* node);
    void removeNode(const _ItemNode* node);
    QList<const _ItemNode*> nodes() const;
    void appendNode(QList<const _ItemNode*>& list, const _ItemNode* node) const;
    void contentsUpdate();

protected:
    QList<_ItemNode*> roots;
};
