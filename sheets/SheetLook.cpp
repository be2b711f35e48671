#include "sheets/SheetLook.h"

#include "look/Studio.h"

#include "look/Appearance.h"

#include <QLabel>
#include <QPainter>

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

} // namespace vantuli::sheetlook
