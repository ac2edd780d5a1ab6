#pragma once

#include <QItemSelection>
#include <QTreeView>

// Tree view that re-emits selection changes and context-menu requests as signals.
class MyTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit MyTreeView(QWidget* parent = nullptr);

signals:
    void onSelectionChanged(QItemSelection selected, QItemSelection deselected);
    void createContextMenu();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
};
