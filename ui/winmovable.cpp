#include "winmovable.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

WinMovable::WinMovable(QWidget* widget) : target(widget), pressPos(0, 0), dragging(false) {
    widget->installEventFilter(this);
}

WinMovable::~WinMovable() = default;

bool WinMovable::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            pressPos = e->pos();
            dragging = (e->button() == Qt::LeftButton);
            break;
        }
        case QEvent::MouseButtonRelease:
            dragging = false;
            break;
        case QEvent::MouseMove: {
            // A press at the very corner counts as "no press yet".
            if (pressPos.isNull() || !dragging) {
                break;
            }
            auto* e = static_cast<QMouseEvent*>(event);
            const QPoint delta = e->pos() - pressPos;
            target->move(target->geometry().topLeft() + delta);
            break;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}
