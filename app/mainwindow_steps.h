// Steps the main window's flow files share.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <exception>

#include "mainwindow.h"
#include "ui/progressform.h"

using _ItemNode = ItemModelMainTree::_ItemNode;
using _DBItemNode = ItemModelMainTree::_DBItemNode;
using _GroupItemNode = ItemModelMainTree::_GroupItemNode;

namespace mainwindow_steps {

constexpr const char* kStyle = ":/res/style.css";

inline QString utf8(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// Waits for a thread while the window keeps painting and its timers run: after a cancel the
// worker stops only at its next step (a phone's next batch, or its bounded wait for a stalled
// phone). The user's input waits too, so no other flow starts meanwhile.
inline void waitAnswering(QThread& worker) {
    while (!worker.wait(20)) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    }
}

// Runs a worker under its progress dialog: start, modal loop, wait. True on success only.
inline bool runUnderForm(ProgressForm& form, QThread& worker) {
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    waitAnswering(worker);
    return result == 1 && !form.rejected;
}

// The group a tree node stands for; 0 for a whole database.
inline quint64 groupIdOf(const MainWindow::_CurrentNode& cur) {
    return cur.groupNode ? cur.groupNode->group._id : 0;
}

inline int selectedRowCount(QTreeView* view) {
    QItemSelectionModel* sel = view->selectionModel();
    return sel ? sel->selectedRows(0).size() : 0;
}

}  // namespace mainwindow_steps

// Marks a running flow: device events that arrive meanwhile are held back until the outermost
// flow has ended, so no event removes a node or store that the flow still uses.
class MainWindow::BusyScope {
public:
    explicit BusyScope(MainWindow* w) : m_w(w) { ++m_w->m_busy; }
    ~BusyScope() {
        if (--m_w->m_busy == 0 && !m_w->m_pendingDeviceEvents.isEmpty()) {
            QTimer::singleShot(0, m_w, &MainWindow::processPendingDeviceEvents);
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    MainWindow* m_w;
};
