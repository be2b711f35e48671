#pragma once

#include <QAbstractButton>
#include <QColor>

class QVariantAnimation;

namespace vantuli {

// The application's one button look: the label (text and/or icon, tinted
// `foreground`) inset by `padding` on every edge, on `fill` in a rounded
// rectangle of radius 7, with a hover highlight of `foreground` at 10 %.
// The whole padded rectangle takes clicks. While pressed it is drawn at
// opacity 0.75 and, unless motion is reduced, scaled to 0.96 about its centre.
class StudioButton : public QAbstractButton {
    Q_OBJECT
public:
    StudioButton(const QColor &foreground, const QColor &fill, int padding, QWidget *parent = nullptr);

    QColor foreground() const { return foreground_; }
    void setForeground(const QColor &color);
    QColor fill() const { return fill_; }
    void setFill(const QColor &color);
    int padding() const { return padding_; }
    void setPadding(int padding);

    // A second label drawn at the trailing edge (a price beside a name).
    void setTrailingText(const QString &text);
    QString trailingText() const { return trailingText_; }
    // How the text is cut when the button is narrower than its label.
    void setElideMode(Qt::TextElideMode mode);
    // Expands to the width it is given, label at the leading edge.
    void setLeadingAligned(bool leading);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The drawn state, for tests: 0 at rest, 1 fully pressed (dim and scale).
    double pressProgress() const { return press_; }
    double hoverProgress() const { return hover_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
    void changeEvent(QEvent *event) override;

private:
    void animate(QVariantAnimation *animation, double &value, double target, int milliseconds);
    QSize contentSize() const;

    QColor foreground_;
    QColor fill_;
    int padding_;
    QString trailingText_;
    Qt::TextElideMode elide_ = Qt::ElideRight;
    bool leading_ = false;
    double press_ = 0;
    double hover_ = 0;
    QVariantAnimation *pressAnimation_;
    QVariantAnimation *hoverAnimation_;
};

} // namespace vantuli
