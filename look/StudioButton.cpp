#include "look/StudioButton.h"

#include "look/Appearance.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>
#include <QVariantAnimation>

#include <cmath>

namespace vantuli {

namespace {
constexpr double radius = 7;
constexpr int iconSpacing = 6;
constexpr int trailingSpacing = 12;
} // namespace

StudioButton::StudioButton(const QColor &foreground, const QColor &fill, int padding, QWidget *parent)
    : QAbstractButton(parent), foreground_(foreground), fill_(fill), padding_(padding),
      pressAnimation_(new QVariantAnimation(this)), hoverAnimation_(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(pressAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        press_ = v.toDouble();
        update();
    });
    connect(hoverAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        hover_ = v.toDouble();
        update();
    });
    connect(this, &QAbstractButton::pressed, this, [this] { animate(pressAnimation_, press_, 1, 120); });
    connect(this, &QAbstractButton::released, this, [this] { animate(pressAnimation_, press_, 0, 120); });
    connect(&Appearance::shared(), &Appearance::reduceMotionChanged, this, qOverload<>(&QWidget::update));
}

void StudioButton::animate(QVariantAnimation *animation, double &value, double target, int milliseconds)
{
    animation->stop();
    if (Appearance::shared().reduceMotion() || !isVisible()) {
        value = target;
        update();
        return;
    }
    animation->setStartValue(value);
    animation->setEndValue(target);
    animation->setDuration(milliseconds);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->start();
}

void StudioButton::setForeground(const QColor &color)
{
    foreground_ = color;
    update();
}

void StudioButton::setFill(const QColor &color)
{
    fill_ = color;
    update();
}

void StudioButton::setPadding(int padding)
{
    padding_ = padding;
    updateGeometry();
    update();
}

void StudioButton::setTrailingText(const QString &text)
{
    trailingText_ = text;
    updateGeometry();
    update();
}

void StudioButton::setElideMode(Qt::TextElideMode mode)
{
    elide_ = mode;
    update();
}

void StudioButton::setLeadingAligned(bool leading)
{
    leading_ = leading;
    setSizePolicy(leading ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    update();
}

QSize StudioButton::contentSize() const
{
    // Widths rounded up, so a button given its size hint never elides its label.
    const QFontMetricsF metrics(font());
    int width = 0;
    int height = int(std::ceil(metrics.height()));
    if (!icon().isNull()) {
        width += iconSize().width();
        height = qMax(height, iconSize().height());
    }
    if (!text().isEmpty()) {
        if (width > 0)
            width += iconSpacing;
        width += int(std::ceil(metrics.horizontalAdvance(text())));
    }
    if (!trailingText_.isEmpty())
        width += trailingSpacing + int(std::ceil(metrics.horizontalAdvance(trailingText_)));
    return {width, height};
}

QSize StudioButton::sizeHint() const
{
    const QSize content = contentSize();
    return {content.width() + 2 * padding_, content.height() + 2 * padding_};
}

QSize StudioButton::minimumSizeHint() const
{
    if (elide_ == Qt::ElideNone)
        return sizeHint();
    const QSize hint = sizeHint();
    return {qMin(hint.width(), 2 * padding_ + (icon().isNull() ? 24 : iconSize().width())), hint.height()};
}

bool StudioButton::hitButton(const QPoint &pos) const
{
    // The whole rectangle takes clicks, clear fill or not.
    return rect().contains(pos);
}

void StudioButton::enterEvent(QEnterEvent *event)
{
    animate(hoverAnimation_, hover_, 1, 100);
    QAbstractButton::enterEvent(event);
}

void StudioButton::leaveEvent(QEvent *event)
{
    animate(hoverAnimation_, hover_, 0, 100);
    QAbstractButton::leaveEvent(event);
}

void StudioButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QAbstractButton::changeEvent(event);
}

void StudioButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool reduced = Appearance::shared().reduceMotion();
    const QRectF bounds = rect();
    painter.setOpacity((1.0 - 0.25 * press_) * (isEnabled() ? 1.0 : 0.45));
    if (!reduced && press_ > 0) {
        const double scale = 1.0 - 0.04 * press_;
        painter.translate(bounds.center());
        painter.scale(scale, scale);
        painter.translate(-bounds.center());
    }

    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    if (fill_.alpha() > 0)
        painter.fillPath(shape, fill_);
    if (hover_ > 0 && isEnabled()) {
        QColor tint = foreground_;
        tint.setAlphaF(0.1f * float(hover_) * foreground_.alphaF());
        painter.fillPath(shape, tint);
    }

    const QRect content = rect().adjusted(padding_, padding_, -padding_, -padding_);
    const QFontMetrics metrics(font());
    const QSize natural = contentSize();
    int x = content.left();
    if (!leading_ && natural.width() < content.width())
        x += (content.width() - natural.width()) / 2;
    int available = content.right() + 1 - x;

    if (!icon().isNull()) {
        const QSize size = iconSize();
        const QPixmap pixmap = icon().pixmap(size, devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
        painter.drawPixmap(QPoint(x, content.top() + (content.height() - size.height()) / 2), pixmap);
        x += size.width() + iconSpacing;
        available -= size.width() + iconSpacing;
    }
    painter.setPen(foreground_);
    painter.setFont(font());
    int trailingWidth = 0;
    if (!trailingText_.isEmpty()) {
        trailingWidth = metrics.horizontalAdvance(trailingText_);
        const QRect trailing(content.right() + 1 - trailingWidth, content.top(), trailingWidth, content.height());
        painter.drawText(trailing, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, trailingText_);
        available -= trailingWidth + trailingSpacing;
    }
    if (!text().isEmpty() && available > 0) {
        const QString shown = metrics.horizontalAdvance(text()) <= available ? text()
                                                                             : metrics.elidedText(text(), elide_, available);
        painter.drawText(QRect(x, content.top(), available, content.height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
}

} // namespace vantuli
