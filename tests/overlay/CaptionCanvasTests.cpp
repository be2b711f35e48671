#include "overlay/FloatingCaptionCanvas.h"
#include "overlay/OverlayPlatform.h"
#include "support/WidgetHarness.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QSet>
#include <QTest>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <cmath>

namespace vantuli::test {
namespace {

Caption timed(const QString &text, double start, double end)
{
    Caption c = caption(text, start);
    c.end = end;
    return c;
}

int expectedHeight(const FloatingCaptionStyle &style)
{
    return static_cast<int>(std::ceil(QFontMetricsF(captionFont(style.face, style.size)).lineSpacing() * style.lines + 24));
}

TEST(CaptionCanvasTest, PagesTheLinesOverTheCaptionsSpan)
{
    FloatingCaptionCanvas canvas;
    FloatingCaptionStyle style; // 2 lines a page
    canvas.configure(style, timed(QStringLiteral("a\nb\nc\nd\ne"), 10, 16), 560);
    ASSERT_EQ(canvas.lineCount(), 5);
    EXPECT_EQ(canvas.pageCount(), 3);
    EXPECT_EQ(canvas.width(), 560);
    EXPECT_GE(canvas.height(), expectedHeight(style)); // the tallest line may exceed the font's spacing
    EXPECT_LE(canvas.height(), expectedHeight(style) + 2 * style.lines);

    const struct {
        double position;
        int page;
        const char *text;
    } steps[] = {{9, 0, "a\nb"}, {10, 0, "a\nb"}, {11.99, 0, "a\nb"}, {12, 1, "c\nd"},
                 {14, 2, "e"},   {30, 2, "e"},    {std::nan(""), 0, "a\nb"}};
    for (const auto &step : steps) {
        canvas.advance(step.position);
        EXPECT_EQ(canvas.page(), step.page) << step.position;
        EXPECT_EQ(canvas.visibleText(), QString::fromLatin1(step.text)) << step.position;
    }

    // Fewer lines per page: more pages, recomputed on the next advance.
    style.lines = 1;
    canvas.configure(style, timed(QStringLiteral("a\nb\nc"), 0, 0), 360);
    EXPECT_EQ(canvas.pageCount(), 3);
    canvas.advance(0.1); // a caption without length pages over 0.15 s
    EXPECT_EQ(canvas.page(), 2);

    // No caption: nothing to show, the height still holds its lines.
    style.lines = 3;
    canvas.configure(style, std::nullopt, 360);
    EXPECT_EQ(canvas.lineCount(), 0);
    EXPECT_EQ(canvas.height(), expectedHeight(style));
    EXPECT_TRUE(canvas.visibleText().isEmpty());
}

QImage render(FloatingCaptionCanvas &canvas)
{
    QImage image(canvas.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    canvas.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int countPixels(const QImage &image, const std::function<bool(QColor)> &test)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += test(image.pixelColor(x, y));
    return count;
}

TEST(CaptionCanvasTest, DrawsOutlinedTextOverAnOptionalBacking)
{
    WidgetHarness h; // fonts and the interface as the application has them
    FloatingCaptionCanvas canvas;
    FloatingCaptionStyle style;
    style.ink = CaptionInk::Black;
    style.size = 40;
    canvas.configure(style, timed(QStringLiteral("字幕 Caption"), 0, 2), 560);
    canvas.advance(0);

    QImage clear = render(canvas);
    const int w = clear.width(), h2 = clear.height();
    for (QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h2 - 1), QPoint(w - 1, h2 - 1), QPoint(4, h2 / 2)})
        EXPECT_EQ(clear.pixelColor(corner).alpha(), 0) << corner.x() << "," << corner.y();
    // Black ink with a white outline.
    EXPECT_GT(countPixels(clear, [](QColor c) { return c.alpha() > 200 && c.lightness() > 200; }), 20);
    EXPECT_GT(countPixels(clear, [](QColor c) { return c.alpha() > 200 && c.lightness() < 40; }), 100);

    // Full backing: opaque black inside the rounded rectangle, the very
    // corners cut off; light ink gets a black outline, never a white one
    // beyond the ink itself.
    style.opacity = 100;
    style.ink = CaptionInk::Yellow;
    canvas.configure(style, timed(QStringLiteral("字幕 Caption"), 0, 2), 560);
    QImage backed = render(canvas);
    EXPECT_EQ(backed.pixelColor(4, h2 / 2), QColor(Qt::black));
    EXPECT_LT(backed.pixelColor(0, 0).alpha(), 128);
    EXPECT_EQ(countPixels(backed, [](QColor c) { return c.lightness() > 200 && c.blue() > 230; }), 0);

    // No caption: fully transparent, backing included.
    canvas.configure(style, std::nullopt, 560);
    EXPECT_EQ(countPixels(render(canvas), [](QColor c) { return c.alpha() > 0; }), 0);

    // Each ink fills the glyphs in its own colour (sRGB), outlined in black,
    // or white around black ink.
    const struct {
        CaptionInk ink;
        QColor fill;
        QColor outline;
    } inks[] = {{CaptionInk::White, QColor(255, 255, 255), Qt::black},
                {CaptionInk::Yellow, QColor(255, 232, 145), Qt::black},
                {CaptionInk::Mint, QColor(171, 252, 217), Qt::black},
                {CaptionInk::Black, QColor(0, 0, 0), Qt::white}};
    style.opacity = 0;
    for (const auto &c : inks) {
        style.ink = c.ink;
        canvas.configure(style, timed(QStringLiteral("字幕 Caption"), 0, 2), 560);
        const QImage image = render(canvas);
        auto near = [](QColor a, QColor b) {
            return a.alpha() == 255 && std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1 &&
                   std::abs(a.blue() - b.blue()) <= 1;
        };
        EXPECT_GT(countPixels(image, [&](QColor p) { return near(p, c.fill); }), 100) << rawValue(c.ink).toStdString();
        EXPECT_GT(countPixels(image, [&](QColor p) { return p.alpha() > 200 && near(QColor(p.rgb()), c.outline); }), 20)
            << rawValue(c.ink).toStdString();
    }
}

// The families that draw `text` in a face, in the order of the runs.
QStringList drawnFamilies(CaptionTypeface face, const QString &text)
{
    QTextLayout layout(text, captionFont(face, 26));
    layout.beginLayout();
    layout.createLine().setLineWidth(2000);
    layout.endLayout();
    QStringList families;
    for (const QGlyphRun &run : layout.lineAt(0).glyphRuns())
        families << run.rawFont().familyName();
    return families;
}

TEST(CaptionCanvasTest, FacesDrawDistinctTypefacesInLatinAndCjk)
{
    WidgetHarness h;
    QSet<QString> latin, cjk;
    for (CaptionTypeface face : allCaptionTypefaces) {
        latin << drawnFamilies(face, QStringLiteral("Caption")).value(0);
        cjk << drawnFamilies(face, QStringLiteral("字幕")).value(0);
    }
    EXPECT_EQ(latin.size(), 4) << latin.values().join(", ").toStdString();
    // Rounded CJK text falls back to the system font; serif and mono have their own.
    EXPECT_EQ(cjk.size(), 3) << cjk.values().join(", ").toStdString();
}

TEST(CaptionCanvasTest, APressMovesThePanelAndCtrlOrTheRightButtonOpensTheMenu)
{
    WidgetHarness h;
    auto platform = std::make_shared<NullOverlayPlatform>();
    FloatingCaptionCanvas canvas;
    canvas.setPlatform(platform);
    canvas.configure(FloatingCaptionStyle(), timed(QStringLiteral("Caption"), 0, 2), 360);
    int menus = 0;
    const struct {
        const char *name;
        Qt::MouseButton button;
        Qt::KeyboardModifiers modifiers;
        bool provider;
        int moves;
        int menus;
    } presses[] = {
        {"plain press", Qt::LeftButton, Qt::NoModifier, true, 1, 0},
        {"ctrl press", Qt::LeftButton, Qt::ControlModifier, true, 0, 1},
        {"right press", Qt::RightButton, Qt::NoModifier, true, 0, 1},
        {"ctrl press without a menu", Qt::LeftButton, Qt::ControlModifier, false, 1, 0},
    };
    for (const auto &c : presses) {
        canvas.setMenuProvider(c.provider ? std::function<QMenu *(QWidget *)>([&](QWidget *) {
            ++menus;
            return nullptr;
        })
                                          : nullptr);
        const int movesBefore = platform->moves;
        const int menusBefore = menus;
        QTest::mousePress(&canvas, c.button, c.modifiers, QPoint(20, 20));
        if (c.button == Qt::RightButton) { // the window system's context menu request follows the press
            QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(20, 20), canvas.mapToGlobal(QPoint(20, 20)));
            QApplication::sendEvent(&canvas, &request);
        }
        QTest::mouseRelease(&canvas, c.button, c.modifiers, QPoint(20, 20));
        EXPECT_EQ(platform->moves - movesBefore, c.moves) << c.name;
        EXPECT_EQ(menus - menusBefore, c.menus) << c.name;
    }
}

} // namespace
} // namespace vantuli::test
