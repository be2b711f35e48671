#include "look/ToggleSwitch.h"

#include "look/Appearance.h"
#include "look/Studio.h"

#include <QPainter>
#include <QVariantAnimation>

namespace vantuli {

ToggleSwitch::ToggleSwitch(QWidget *parent) : QAbstractButton(parent), animation_(new QVariantAnimation(this))
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    animation_->setDuration(150);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        position_ = v.toDouble();
        update();
    });
}

void ToggleSwitch::setTint(const QColor &tint)
{
    tint_ = tint;
    update();
}

void ToggleSwitch::checkStateSet()
{
    const double target = isChecked() ? 1 : 0;
    animation_->stop();
    if (Appearance::shared().reduceMotion() || !isVisible()) {
        position_ = target;
        update();
        return;
    }
    animation_->setStartValue(position_);
    animation_->setEndValue(target);
    animation_->start();
}

void ToggleSwitch::nextCheckState()
{
    QAbstractButton::nextCheckState();
    checkStateSet();
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor off = palette().color(QPalette::WindowText);
    off.setAlphaF(0.25f);
    QColor on = tint_.isValid() ? tint_ : Studio::gold();
    const double p = position_;
    const QColor fill = QColor::fromRgbF(off.redF() + (on.redF() - off.redF()) * p, off.greenF() + (on.greenF() - off.greenF()) * p,
                                         off.blueF() + (on.blueF() - off.blueF()) * p,
                                         off.alphaF() + (on.alphaF() - off.alphaF()) * p);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const double knob = track.height() - 4;
    const double x = track.left() + 2 + (track.width() - knob - 4) * p;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

} // namespace vantuli
