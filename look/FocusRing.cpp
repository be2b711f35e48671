#include "look/FocusRing.h"

#include "look/Studio.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace vantuli {

namespace {

constexpr int outset = 4; // a clear gap between the control and its ring
constexpr double penWidth = 2;

FocusRing *instance = nullptr;

// Draws the rounded ring at `ring` (window coordinates); the widget itself
// covers only the part of the ring its control's ancestors leave visible.
class RingWidget final : public QWidget {
public:
    explicit RingWidget(QWidget *window) : QWidget(window)
    {
        setObjectName(QStringLiteral("focusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

    QRect ring;
    double radius = 0;
    QColor color;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(color, penWidth));
        const QRectF shape = QRectF(ring.translated(-pos())).adjusted(penWidth / 2, penWidth / 2, -penWidth / 2, -penWidth / 2);
        painter.drawRoundedRect(shape, radius, radius);
    }
};

bool onDarkSurface(const QWidget *widget)
{
    const QWidget *surface = widget->parentWidget() ? widget->parentWidget() : widget;
    return surface->palette().color(surface->backgroundRole()).lightness() < 128;
}

} // namespace

void FocusRing::install()
{
    if (instance || !qApp)
        return;
    instance = new FocusRing();
    instance->setParent(qApp);
    qApp->installEventFilter(instance);
}

QWidget *FocusRing::target()
{
    if (!instance || !instance->ring_ || !instance->ring_->isVisible())
        return nullptr;
    return instance->target_;
}

bool FocusRing::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        if (watched->isWidgetType()) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
                keyboard_ = true;
            else if (reason == Qt::MouseFocusReason)
                keyboard_ = false;
            follow(static_cast<QWidget *>(watched));
        }
        break;
    case QEvent::FocusOut:
        if (watched == target_)
            follow(nullptr);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (keyboard_) {
            keyboard_ = false;
            follow(nullptr);
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
        // The control or one of its ancestors moved, resized, appeared or
        // went; the ring follows.
        if (target_ && watched->isWidgetType() && watched != ring_ &&
            (watched == target_ || static_cast<QWidget *>(watched)->isAncestorOf(target_)))
            place();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void FocusRing::follow(QWidget *widget)
{
    target_ = widget;
    place();
}

void FocusRing::place()
{
    QWidget *target = target_;
    const bool shown = target && keyboard_ && target->isVisible() && target->isEnabled() &&
                       target->focusPolicy() != Qt::NoFocus && target->window() != target;
    if (!shown) {
        if (ring_)
            ring_->hide();
        return;
    }
    QWidget *window = target->window();
    if (!ring_ || ring_->parentWidget() != window) {
        delete ring_.data();
        ring_ = new RingWidget(window);
    }
    auto *ring = static_cast<RingWidget *>(ring_.data());
    const QRect bounds(target->mapTo(window, QPoint(0, 0)), target->size());
    const bool inset = qobject_cast<QAbstractScrollArea *>(target) != nullptr;
    ring->ring = inset ? bounds : bounds.adjusted(-outset, -outset, outset, outset);
    ring->radius = inset ? 4 : std::min(target->height() / 2.0, 7.0) + outset;
    ring->color = onDarkSurface(target) ? Studio::gold() : Studio::gold().darker(165);
    // Clipped as the control itself is: by each ancestor below the window.
    QRect visible = ring->ring;
    for (QWidget *ancestor = target->parentWidget(); ancestor && ancestor != window; ancestor = ancestor->parentWidget())
        visible &= QRect(ancestor->mapTo(window, QPoint(0, 0)), ancestor->size());
    ring->setGeometry(visible);
    ring->setVisible(!visible.isEmpty());
    ring->raise();
    ring->update();
}

} // namespace vantuli
