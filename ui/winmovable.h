#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Lets a frameless window be dragged by its body with the left mouse button.
// Install one per window; it never consumes an event.
class WinMovable : public QObject {
    Q_OBJECT
public:
    explicit WinMovable(QWidget* widget);
    ~WinMovable() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* target;
    QPoint pressPos;
    bool dragging;
};
