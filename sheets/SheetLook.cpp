#include "sheets/SheetLook.h"

#include "look/Studio.h"

#include "look/Appearance.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace vantuli::sheetlook {

QColor primaryText(bool dark)
{
    return dark ? QColor(255, 255, 255, 230) : QColor(0, 0, 0, 217);
}

QColor secondaryText(bool dark)
{
    return dark ? QColor(255, 255, 255, 140) : QColor(0, 0, 0, 128);
}

QColor windowBackground(bool dark)
{
    return dark ? QColor(0x32, 0x32, 0x32) : QColor(0xEC, 0xEC, 0xEC);
}

QColor separator(bool dark)
{
    return dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 30);
}

QPalette palette(bool dark)
{
    QPalette p;
    const QColor background = Studio::sheetBackground(dark);
    const QColor opaqueText = dark ? QColor(235, 235, 235) : QColor(30, 30, 30);
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, opaqueText);
    p.setColor(QPalette::Base, dark ? QColor(0x1E, 0x24, 0x26) : QColor(255, 255, 255));
    p.setColor(QPalette::AlternateBase, windowBackground(dark));
    p.setColor(QPalette::Text, opaqueText);
    p.setColor(QPalette::Button, dark ? QColor(0x2A, 0x33, 0x36) : QColor(0xF4, 0xF2, 0xEE));
    p.setColor(QPalette::ButtonText, opaqueText);
    p.setColor(QPalette::PlaceholderText, secondaryText(dark));
    p.setColor(QPalette::Highlight, Studio::pine().lighter(dark ? 160 : 100));
    p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    p.setColor(QPalette::Light, dark ? QColor(0x40, 0x48, 0x4A) : QColor(255, 255, 255));
    p.setColor(QPalette::Mid, dark ? QColor(0x3A, 0x42, 0x44) : QColor(0xC8, 0xC6, 0xC0));
    p.setColor(QPalette::Dark, dark ? QColor(0x10, 0x14, 0x16) : QColor(0xA0, 0x9E, 0x98));
    p.setColor(QPalette::ToolTipBase, background);
    p.setColor(QPalette::ToolTipText, opaqueText);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, secondaryText(dark));
    return p;
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

namespace {

// One pixel of the scheme's separator colour, the full width it is given.
class Divider final : public QWidget {
public:
    explicit Divider(QWidget *parent) : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), separator(Appearance::shared().dark()));
    }
};

} // namespace

QWidget *divider(QWidget *parent)
{
    return new Divider(parent);
}

void setSecondary(QLabel *label, bool dark)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, secondaryText(dark));
    label->setPalette(p);
}

namespace {
constexpr int segmentRadius = 6;
constexpr int segmentPadding = 12;
constexpr int segmentHeight = 26;

// The button's text as shown: "&&" is a written ampersand.
QString shownText(const QAbstractButton &button)
{
    return button.text().replace(QLatin1String("&&"), QLatin1String("&"));
}
} // namespace

SegmentButton::SegmentButton(Side side, QWidget *parent) : QPushButton(parent), side_(side)
{
    setCheckable(true);
    setAutoDefault(false);
    setFocusPolicy(Qt::StrongFocus);
}

QSize SegmentButton::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(shownText(*this)) + 2 * segmentPadding, segmentHeight};
}

QSize SegmentButton::minimumSizeHint() const
{
    return sizeHint();
}

void SegmentButton::paintEvent(QPaintEvent *)
{
    const bool dark = Appearance::shared().dark();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The half of one rounded outline: the rounded corners on the outer side only.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QRectF wide = side_ == Side::Left ? box.adjusted(0, 0, segmentRadius * 2, 0)
                                            : box.adjusted(-segmentRadius * 2, 0, 0, 0);
    QPainterPath rounded;
    rounded.addRoundedRect(wide, segmentRadius, segmentRadius);
    QPainterPath half;
    half.addRect(box);
    const QPainterPath shape = rounded.intersected(half);

    const QColor accent = dark ? QColor(0xE8, 0xE2, 0xD0) : Studio::pine();
    const QColor onAccent = dark ? Studio::pine() : QColor(255, 255, 255);
    if (isChecked())
        painter.fillPath(shape, accent);
    else if (isDown() || underMouse())
        painter.fillPath(shape, separator(dark));
    painter.setPen(QPen(isChecked() ? accent : (dark ? QColor(255, 255, 255, 90) : QColor(0, 0, 0, 70)), 1));
    painter.drawPath(shape);
    if (hasFocus()) {
        painter.setPen(QPen(Studio::gold(), 2));
        painter.drawPath(shape);
    }
    painter.setPen(isChecked() ? onAccent : primaryText(dark));
    painter.setFont(font());
    painter.drawText(rect().adjusted(segmentPadding / 2, 0, -segmentPadding / 2, 0), Qt::AlignCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(shownText(*this), Qt::ElideRight, width() - segmentPadding));
}

} // namespace vantuli::sheetlook
