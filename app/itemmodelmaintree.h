#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QSharedPointer>
#include <QString>

#include "store/localdb.h"
#include "store/pim.h"

// The navigation tree: two fixed roots (devices, local databases), one node per contact
// database below them and one node per group below each database.
class ItemModelMainTree : public QAbstractItemModel {
    Q_OBJECT
public:
    enum NodeType {
        TYPE_DEVICE_ROOT = 1,
        TYPE_LOCALDB_ROOT = 2,
        TYPE_DEVICE_DB = 3,
        TYPE_LOCAL_DB = 5,
        TYPE_GROUP = 6,
    };
    enum { KIND_IPHONE = 1 };

    class _ItemNode {
    public:
        _ItemNode(int type, const QString& name, _ItemNode* parent);
        virtual ~_ItemNode();
        _ItemNode(const _ItemNode&) = delete;
        _ItemNode& operator=(const _ItemNode&) = delete;

        // Position among the parent's children; -1 for a root or a detached node.
        int row() const;

        int type;
        int kind;
        QString name;
        QModelIndex index;  // last index handed out; informational only
        _ItemNode* parent;
        QList<_ItemNode*> children;
    };

    class _DBItemNode : public _ItemNode {
    public:
        _DBItemNode(int type, const QString& name, _ItemNode* parent);
        QSharedPointer<LocalDb> db;
        QString id;
        // A device database loaded from the data folder without a phone behind it: it can be
        // read, but nothing may be written to a device for it.
        bool isVirtual = false;
        // Whether a phone is behind this node (a device node that is not virtual).
        bool isConnectedPhone() const {
            return type == TYPE_DEVICE_DB && kind == KIND_IPHONE && !isVirtual;
        }
    };

    class _GroupItemNode : public _ItemNode {
    public:
        _GroupItemNode(const pim::_Group& group, _ItemNode* parent);
        pim::_Group group;
    };

    explicit ItemModelMainTree(QObject* parent = nullptr);
    ~ItemModelMainTree() override;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    _DBItemNode* addDevice(QSharedPointer<LocalDb> db, QString name, QString id, int kind);
    _DBItemNode* addLocalDb(QSharedPointer<LocalDb> db, QString name);
    void refreshDbNodeGroups(_DBItemNode* node);
    void removeChild(_ItemNode* node, int row);
    void clearChilds(_ItemNode* node);
    void removeDevice(QString id);
    int deviceCount(int kind) const;
    // Device nodes with a phone behind them (virtual mirrors left out).
    int connectedDeviceCount() const;
    QModelIndex indexOfItemNode(_ItemNode* node);
    void contentsUpdate();

    _ItemNode* deviceRoot() { return &m_deviceRoot; }
    _ItemNode* localDbRoot() { return &m_localDbRoot; }

    static _ItemNode* nodeOf(const QModelIndex& index) {
        return static_cast<_ItemNode*>(index.internalPointer());
    }

private:
    // Index of a node computed from where it sits now.
    QModelIndex indexFor(_ItemNode* node) const;

    _ItemNode m_deviceRoot;
    _ItemNode m_localDbRoot;
};
