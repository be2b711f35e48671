#pragma once

#include <QAbstractButton>
#include <QColor>

class QVariantAnimation;

namespace vantuli {

// A checkable on/off switch: a rounded track with a round knob, gold when on.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {38, 22}; }
    // The track's colour when on (gold unless set).
    void setTint(const QColor &tint);

protected:
    void paintEvent(QPaintEvent *event) override;
    void checkStateSet() override;
    void nextCheckState() override;

private:
    double position_ = 0;
    QColor tint_;
    QVariantAnimation *animation_;
};

} // namespace vantuli
