#include "overlay/FloatingCaptionCanvas.h"

#include "overlay/OverlayPlatform.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>

namespace vantuli {

namespace {

// Shadow of the glyphs: black at 85 %, one pixel down, blurred over 2 px.
constexpr double shadowAlpha = 0.85;
constexpr double shadowOffset = 1;
constexpr double shadowBlur = 2;
// The outline is this share of the font size, centred on the glyph edge.
constexpr double outlineShare = 0.03;
constexpr double backingRadius = 10;

// A small Gaussian blur of the alpha channel of a premultiplied black image.
void blurAlpha(QImage &image, double radius)
{
    const double sigma = std::max(radius / 2, 0.5);
    const int reach = static_cast<int>(std::ceil(sigma * 2));
    std::vector<double> kernel(2 * reach + 1);
    double sum = 0;
    for (int i = -reach; i <= reach; ++i)
        sum += kernel[i + reach] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double &k : kernel)
        k /= sum;

    const int w = image.width();
    const int h = image.height();
    std::vector<double> alpha(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[static_cast<std::size_t>(y) * w + x] = qAlpha(row[x]);
    }
    std::vector<double> pass(alpha.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = 0;
            for (int k = -reach; k <= reach; ++k)
                v += kernel[k + reach] * alpha[static_cast<std::size_t>(y) * w + std::clamp(x + k, 0, w - 1)];
            pass[static_cast<std::size_t>(y) * w + x] = v;
        }
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double v = 0;
            for (int k = -reach; k <= reach; ++k)
                v += kernel[k + reach] * pass[static_cast<std::size_t>(std::clamp(y + k, 0, h - 1)) * w + x];
            row[x] = qRgba(0, 0, 0, std::clamp(static_cast<int>(std::lround(v)), 0, 255));
        }
    }
}

// The pixels of `image` whose alpha reaches `threshold`: one rectangle per
// run of such pixels, rows with the same runs joined into one band.
QRegion coveredRegion(const QImage &image, int threshold)
{
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> runs, previous;
    std::size_t band = 0; // first rectangle of the previous row's band
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        runs.clear();
        for (int x = 0; x < image.width();) {
            if (qAlpha(row[x]) < threshold) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && qAlpha(row[x]) >= threshold)
                ++x;
            runs.emplace_back(start, x - start);
        }
        if (!runs.empty() && runs == previous) {
            for (std::size_t i = band; i < rects.size(); ++i)
                rects[i].setHeight(rects[i].height() + 1);
            continue;
        }
        band = rects.size();
        for (const auto &[x, w] : runs)
            rects.emplace_back(x, y, w, 1);
        previous.swap(runs);
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

// Without a backing, the faint rim of the shadow is left out of the shape:
// the window system would draw it as solid black.
constexpr int shadowRim = 64;

} // namespace

FloatingCaptionCanvas::FloatingCaptionCanvas(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    configure(style_, std::nullopt, 1);
}

FloatingCaptionCanvas::~FloatingCaptionCanvas() = default;

void FloatingCaptionCanvas::configure(const FloatingCaptionStyle &style, const std::optional<Caption> &cue, int width,
                                      const QString &language)
{
    style_ = style;
    cue_ = cue;

    QString text = cue ? cue->text : QString();
    const QFont font = captionFont(style.face, style.size, language, text);
    text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);

    layout_.clearLayout();
    layout_.setText(text);
    layout_.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout_.setTextOption(option);
    layout_.setCacheEnabled(true);

    lines_.clear();
    const QFontMetricsF metrics(font);
    const double lineWidth = std::max(width - 2 * inset, 1);
    double tallest = 0;
    if (!text.isEmpty()) {
        layout_.beginLayout();
        double y = 0;
        for (QTextLine line = layout_.createLine(); line.isValid(); line = layout_.createLine()) {
            line.setLineWidth(lineWidth);
            line.setPosition(QPointF(0, y));
            y += line.height();
            tallest = std::max(tallest, line.height());
            lines_.push_back(line);
        }
        layout_.endLayout();
    }

    double lineHeight = std::max(tallest, metrics.lineSpacing());
    if (!(lineHeight > 0))
        lineHeight = 0;
    const int lines = std::max(style.lines, 1);
    resize(std::max(width, 1), static_cast<int>(std::ceil(lineHeight * lines + 2 * inset)));

    page_ = 0;
    cachedPage_ = -1;
    setAccessibleDescription(text);
    update();
    reshape();
}

int FloatingCaptionCanvas::pageCount() const
{
    const int lines = std::max(style_.lines, 1);
    return (lineCount() + lines - 1) / lines;
}

void FloatingCaptionCanvas::advance(double position)
{
    if (!cue_ || lines_.empty())
        return;
    const int pages = pageCount();
    double span = cue_->end - cue_->start;
    if (!(span >= shortestSpan))
        span = shortestSpan;
    double progress = (position - cue_->start) / span;
    if (!(progress >= 0)) // negative or not a number
        progress = 0;
    progress = std::min(progress, 1.0);
    const int next = std::min(pages - 1, static_cast<int>(progress * pages));
    if (next != page_) {
        page_ = next;
        update();
        reshape();
    }
}

void FloatingCaptionCanvas::reshape()
{
    if (!platform_)
        return;
    if (platform_->translucent())
        platform_->shape(window(), std::nullopt);
    else
        platform_->shape(window(), drawnRegion());
}

QRegion FloatingCaptionCanvas::drawnRegion()
{
    const QImage &image = pageImage();
    if (image.isNull())
        return {};
    return coveredRegion(image, style_.opacity >= 1 ? 1 : shadowRim);
}

std::optional<FloatingCaptionCanvas::LineSpan> FloatingCaptionCanvas::visibleLines() const
{
    const int lines = std::max(style_.lines, 1);
    const int first = page_ * lines;
    if (first >= lineCount())
        return std::nullopt;
    return LineSpan{first, std::min(lineCount(), first + lines) - 1};
}

QString FloatingCaptionCanvas::visibleText() const
{
    const auto span = visibleLines();
    if (!span)
        return {};
    QStringList parts;
    for (int i = span->first; i <= span->last; ++i) {
        const QTextLine &line = lines_[static_cast<std::size_t>(i)];
        parts << layout_.text().mid(line.textStart(), line.textLength()).trimmed();
    }
    return parts.join(QLatin1Char('\n'));
}

void FloatingCaptionCanvas::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const QImage &page = pageImage();
    if (!page.isNull())
        painter.drawImage(QPointF(0, 0), page);
}

const QImage &FloatingCaptionCanvas::pageImage()
{
    static const QImage none;
    const auto span = visibleLines();
    if (!span)
        return none;
    const double ratio = devicePixelRatioF();
    if (cachedPage_ != page_ || cache_.size() != size() * ratio || cache_.devicePixelRatio() != ratio) {
        cache_ = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        cache_.setDevicePixelRatio(ratio);
        cache_.fill(Qt::transparent);
        QPainter page(&cache_);
        paintPage(page, *span);
        cachedPage_ = page_;
    }
    return cache_;
}

void FloatingCaptionCanvas::paintPage(QPainter &painter, const LineSpan &span)
{
    painter.setRenderHint(QPainter::Antialiasing);

    if (style_.opacity >= 1) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, std::clamp(style_.opacity * 255 / 100, 0, 255)));
        painter.drawRoundedRect(QRectF(rect()), backingRadius, backingRadius);
    }

    const QTextLine &first = lines_[static_cast<std::size_t>(span.first)];
    const QTextLine &last = lines_[static_cast<std::size_t>(span.last)];
    const double block = last.y() + last.height() - first.y();
    const double y = std::floor((height() - block) * 0.5) - first.y();

    QPainterPath glyphs;
    glyphs.setFillRule(Qt::WindingFill);
    for (int i = span.first; i <= span.last; ++i) {
        const QTextLine &line = lines_[static_cast<std::size_t>(i)];
        for (const QGlyphRun &run : line.glyphRuns()) {
            const QRawFont font = run.rawFont();
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype k = 0; k < indexes.size(); ++k) {
                QPainterPath glyph = font.pathForGlyph(indexes[k]);
                glyph.translate(positions[k]);
                glyphs.addPath(glyph);
            }
        }
    }
    glyphs.translate(inset, y);

    const double outline = style_.size * outlineShare;
    QPen pen(outlineColor(style_.ink), outline);
    pen.setJoinStyle(Qt::RoundJoin);

    // The soft shadow: the glyphs in black, blurred, one pixel down.
    const double ratio = devicePixelRatioF();
    QImage shadow(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter sp(&shadow);
        sp.setRenderHint(QPainter::Antialiasing);
        sp.scale(ratio, ratio);
        sp.fillPath(glyphs, Qt::black);
        sp.strokePath(glyphs, QPen(Qt::black, outline));
    }
    blurAlpha(shadow, shadowBlur * ratio);
    shadow.setDevicePixelRatio(ratio);
    painter.save();
    painter.setOpacity(shadowAlpha);
    painter.drawImage(QPointF(0, shadowOffset), shadow);
    painter.restore();

    painter.fillPath(glyphs, inkColor(style_.ink));
    painter.strokePath(glyphs, pen);
}

void FloatingCaptionCanvas::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if ((event->modifiers() & Qt::ControlModifier) && menuProvider_) {
        popUpMenu(event->globalPosition().toPoint());
        return;
    }
    const bool moving = platform_ ? platform_->beginMove(window())
                                  : window()->windowHandle() && window()->windowHandle()->startSystemMove();
    if (!moving)
        grab_ = event->globalPosition().toPoint() - window()->pos();
}

void FloatingCaptionCanvas::mouseMoveEvent(QMouseEvent *event)
{
    if (grab_ && (event->buttons() & Qt::LeftButton))
        window()->move(event->globalPosition().toPoint() - *grab_);
}

void FloatingCaptionCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    grab_.reset();
    QWidget::mouseReleaseEvent(event);
}

void FloatingCaptionCanvas::contextMenuEvent(QContextMenuEvent *event)
{
    if (menuProvider_)
        popUpMenu(event->globalPos());
}

void FloatingCaptionCanvas::popUpMenu(const QPoint &globalPosition)
{
    QMenu *menu = menuProvider_(this);
    if (!menu)
        return;
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(globalPosition);
}

// ---- The panel ----

CaptionPanel::CaptionPanel(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
}

void CaptionPanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    emit moved();
}

} // namespace vantuli
