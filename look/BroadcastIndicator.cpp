#include "look/BroadcastIndicator.h"

#include "look/Appearance.h"
#include "look/Studio.h"
#include "records/Date.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>

namespace vantuli {

BroadcastIndicator::BroadcastIndicator(QWidget *parent) : QWidget(parent), timer_(new QTimer(this))
{
    setFixedSize(20, 16);
    setAccessibleName(QString());
    timer_->setInterval(intervalMilliseconds);
    connect(timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    connect(&Appearance::shared(), &Appearance::reduceMotionChanged, this, [this] {
        updateTimer();
        update();
    });
}

void BroadcastIndicator::setPlaying(bool playing)
{
    if (playing_ == playing)
        return;
    playing_ = playing;
    updateTimer();
    update();
}

bool BroadcastIndicator::animating() const
{
    return timer_->isActive();
}

void BroadcastIndicator::updateTimer()
{
    // The timeline runs only while it moves something on screen.
    const bool run = playing_ && !Appearance::shared().reduceMotion() && isVisible();
    if (run && !timer_->isActive())
        timer_->start();
    else if (!run)
        timer_->stop();
}

void BroadcastIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void BroadcastIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

double BroadcastIndicator::phase()
{
    return 4.0 * Date::now().since2001();
}

double BroadcastIndicator::barFraction(int index, bool playing, double t)
{
    if (!playing)
        return 0.22;
    return 0.38 + 0.62 * std::fabs(std::sin(t + 1.15 * index));
}

void BroadcastIndicator::paintBars(QPainter &painter, const QRectF &rect, bool playing, bool reduced)
{
    paintBars(painter, rect, playing, playing && !reduced ? phase() : 0.0);
}

void BroadcastIndicator::paintBars(QPainter &painter, const QRectF &rect, bool playing, double t)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const double w = rect.width();
    const double h = rect.height();
    for (int i = 0; i < 5; ++i) {
        const double bar = barFraction(i, playing, t) * h;
        path.addRoundedRect(QRectF(rect.left() + i * w / 5, rect.top() + (h - bar) * 0.5, 2.4, bar), 1.2, 1.2);
    }
    painter.fillPath(path, Studio::gold());
    painter.restore();
}

void BroadcastIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF frame((width() - 20) / 2.0, (height() - 16) / 2.0, 20, 16);
    paintBars(painter, frame, playing_, Appearance::shared().reduceMotion());
}

} // namespace vantuli
