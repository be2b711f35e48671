#pragma once

#include <QWidget>

class QPainter;
class QTimer;

namespace vantuli {

// The on-air level meter: five gold bars in 20 x 16. While playing (and
// motion is not reduced) the bars move with the clock, redrawn at most every
// 0.12 s, so two meters on screen move in step; otherwise they stand still.
class BroadcastIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BroadcastIndicator(QWidget *parent = nullptr);

    void setPlaying(bool playing);
    bool playing() const { return playing_; }
    bool animating() const;

    QSize sizeHint() const override { return {20, 16}; }

    // The phase of the bars: 4 x seconds since 2001-01-01 UTC.
    static double phase();
    // Each bar's height as a fraction of the meter's height at phase t.
    static double barFraction(int index, bool playing, double t);
    // Draws the bars into `rect` (a delegate draws its row's meter this way
    // and repaints its own row every 0.12 s while playing and not reduced).
    static void paintBars(QPainter &painter, const QRectF &rect, bool playing, bool reduced);
    static void paintBars(QPainter &painter, const QRectF &rect, bool playing, double t);
    static constexpr int intervalMilliseconds = 120;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateTimer();

    bool playing_ = false;
    QTimer *timer_;
};

} // namespace vantuli
