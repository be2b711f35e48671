#include "look/Studio.h"

#include "look/Appearance.h"

#include <QAbstractScrollArea>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>

namespace vantuli::Studio {

QColor pine()
{
    static const QColor color = QColor::fromRgbF(0.055f, 0.145f, 0.15f);
    return color;
}

QColor side()
{
    static const QColor color = QColor::fromRgbF(0.075f, 0.145f, 0.151f);
    return color;
}

QColor gold()
{
    static const QColor color = QColor::fromRgbF(1.0f, 0.76f, 0.38f);
    return color;
}

QColor mist()
{
    static const QColor color = QColor::fromRgbF(0.71f, 0.79f, 0.76f);
    return color;
}

QColor sheetBackground(bool dark)
{
    return dark ? QColor::fromRgbF(0.075f, 0.11f, 0.12f) : QColor::fromRgbF(0.971f, 0.964f, 0.94f);
}

QColor sheetBackground()
{
    return sheetBackground(Appearance::shared().dark());
}

namespace {

// Fusion's transient scroll bars: slim, over the content, no arrow buttons.
class OverlayScrollBarStyle final : public QProxyStyle {
public:
    OverlayScrollBarStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ScrollBar_Transient)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void useOverlayScrollBars(QAbstractScrollArea *area)
{
    static OverlayScrollBarStyle *style = new OverlayScrollBarStyle();
    for (QScrollBar *bar : {area->verticalScrollBar(), area->horizontalScrollBar()})
        bar->setStyle(style);
}

QPalette darkPalette(const QColor &base)
{
    QPalette palette;
    const QColor text = Qt::white;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, base);
        palette.setColor(group, QPalette::Base, base.lighter(118));
        palette.setColor(group, QPalette::AlternateBase, base.lighter(110));
        palette.setColor(group, QPalette::Button, base.lighter(125));
        palette.setColor(group, QPalette::Highlight, gold());
        palette.setColor(group, QPalette::HighlightedText, pine());
        palette.setColor(group, QPalette::PlaceholderText, mist());
        palette.setColor(group, QPalette::ToolTipBase, pine());
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::Link, gold());
        const QColor fg = group == QPalette::Disabled ? mist().darker(140) : text;
        palette.setColor(group, QPalette::WindowText, fg);
        palette.setColor(group, QPalette::Text, fg);
        palette.setColor(group, QPalette::ButtonText, fg);
        palette.setColor(group, QPalette::BrightText, gold());
    }
    // Disabled text is drawn flat: no light "etched" copy under it.
    palette.setColor(QPalette::Disabled, QPalette::Light, Qt::transparent);
    return palette;
}

} // namespace vantuli::Studio
