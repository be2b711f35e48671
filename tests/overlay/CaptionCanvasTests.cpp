#include "overlay/FloatingCaptionCanvas.h"
#include "support/WidgetHarness.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

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
}

} // namespace
} // namespace vantuli::test
