#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace vantuli {

// The keyboard focus ring of the Studio look, drawn once for the whole
// application around whichever control has keyboard focus: Studio buttons,
// switches, tool buttons, sliders, fields and lists alike, whatever style or
// style sheet draws the control itself. It shows while the keyboard moves the
// focus (Tab, shortcuts) and hides after a mouse press, so clicking a control
// leaves no ring. The ring is a widget laid over the control in its window,
// transparent to the mouse: gold on dark surfaces, deep amber on light ones;
// around scrolling areas (lists) it is drawn just inside their edge.
class FocusRing final : public QObject {
    Q_OBJECT
public:
    // Starts the ring for the application (once; later calls do nothing).
    static void install();
    // The control the ring is drawn around now, or null (also before install).
    static QWidget *target();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FocusRing() = default;
    void follow(QWidget *widget);
    void place();

    QPointer<QWidget> target_;
    QPointer<QWidget> ring_; // a child of the target's window, made on demand
    bool keyboard_ = false;
};

} // namespace vantuli
