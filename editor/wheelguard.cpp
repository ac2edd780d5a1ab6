#include "wheelguard.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWheelEvent>
#include <QWidget>

namespace {

class WheelGuard : public QObject {
public:
    explicit WheelGuard(QWidget* widget) : QObject(widget), m_widget(widget) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_widget || event->type() != QEvent::Wheel || m_widget->hasFocus()) {
            return QObject::eventFilter(watched, event);
        }
        // The form around it scrolls instead.
        auto* wheel = static_cast<QWheelEvent*>(event);
        for (QWidget* w = m_widget->parentWidget(); w; w = w->parentWidget()) {
            auto* area = qobject_cast<QAbstractScrollArea*>(w);
            if (!area) {
                continue;
            }
            QWidget* viewport = area->viewport();
            const QPointF pos = viewport->mapFromGlobal(wheel->globalPosition().toPoint());
            QWheelEvent copy(pos, wheel->globalPosition(), wheel->pixelDelta(), wheel->angleDelta(),
                             wheel->buttons(), wheel->modifiers(), wheel->phase(),
                             wheel->inverted(), wheel->source());
            QCoreApplication::sendEvent(viewport, &copy);
            break;
        }
        return true;
    }

private:
    QWidget* m_widget;
};

}  // namespace

void g_takeWheelOnlyWithFocus(QWidget* widget) {
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->installEventFilter(new WheelGuard(widget));
}
