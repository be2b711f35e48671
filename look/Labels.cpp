#include "look/Labels.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>
#include <QTextLayout>

#include <cmath>

namespace vantuli {

namespace {

struct LaidLine {
    int start = 0;
    int length = 0;
    double x = 0;
    double y = 0;
    double width = 0;
};

// Lays `text` out in lines of `width`, `spacing` extra pixels apart.
std::vector<LaidLine> layLines(const QString &text, const QFont &font, int width, double spacing, int maximumLines,
                               double *height)
{
    std::vector<LaidLine> lines;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    const QFontMetricsF metrics(font);
    double y = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(qMax(1, width));
        lines.push_back({line.textStart(), line.textLength(), 0, y, line.naturalTextWidth()});
        y += metrics.lineSpacing() + spacing;
    }
    layout.endLayout();
    if (maximumLines > 0 && int(lines.size()) > maximumLines) {
        lines.resize(size_t(maximumLines));
        LaidLine &last = lines.back();
        last.length = int(text.size()) - last.start;
    }
    const int count = int(lines.size());
    *height = count == 0 ? 0 : std::ceil(count * metrics.lineSpacing() + (count - 1) * spacing);
    return lines;
}

} // namespace

struct LineSpacedLabel::Layout {
    std::vector<LaidLine> lines;
    double height = 0;
};

LineSpacedLabel::LineSpacedLabel(const QString &text, QWidget *parent) : QWidget(parent), text_(text)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void LineSpacedLabel::setText(const QString &text)
{
    if (text == text_)
        return;
    text_ = text;
    anchor_ = cursor_ = -1;
    laid_.reset();
    updateGeometry();
    update();
}

void LineSpacedLabel::setLineSpacing(double extra)
{
    spacing_ = extra;
    laid_.reset();
    updateGeometry();
    update();
}

void LineSpacedLabel::setTextColor(const QColor &color)
{
    color_ = color;
    update();
}

void LineSpacedLabel::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    laid_.reset();
    update();
}

void LineSpacedLabel::setMaximumLines(int lines)
{
    maximumLines_ = lines;
    laid_.reset();
    updateGeometry();
    update();
}

void LineSpacedLabel::setSelectable(bool selectable)
{
    selectable_ = selectable;
    setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
    setFocusPolicy(selectable ? Qt::ClickFocus : Qt::NoFocus);
}

const LineSpacedLabel::Layout &LineSpacedLabel::layout(int width) const
{
    // Layouts ask for the height of a few widths, paint and the mouse for the
    // current one: the latest is kept until the text or its look changes.
    if (laid_ && laidWidth_ == width)
        return *laid_;
    laidWidth_ = width;
    laid_ = std::make_shared<Layout>(computeLayout(width));
    return *laid_;
}

LineSpacedLabel::Layout LineSpacedLabel::computeLayout(int width) const
{
    Layout result;
    result.lines = layLines(text_, font(), width, spacing_, maximumLines_, &result.height);
    const QFontMetricsF metrics(font());
    for (LaidLine &line : result.lines) {
        if (maximumLines_ > 0 && &line == &result.lines.back() && line.start + line.length < int(text_.size()) + 1) {
            const QString rest = text_.mid(line.start, line.length);
            line.width = metrics.horizontalAdvance(metrics.elidedText(rest, Qt::ElideRight, width));
        }
        if (alignment_ & Qt::AlignHCenter)
            line.x = (width - line.width) / 2;
        else if (alignment_ & Qt::AlignRight)
            line.x = width - line.width;
    }
    return result;
}

int LineSpacedLabel::heightForWidth(int width) const
{
    return int(layout(width).height);
}

QSize LineSpacedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int natural = qMin(metrics.horizontalAdvance(text_) + 1, 480);
    return {natural, heightForWidth(natural)};
}

QSize LineSpacedLabel::minimumSizeHint() const
{
    return {0, QFontMetrics(font()).height()};
}

void LineSpacedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    const QColor color = color_.isValid() ? color_ : palette().color(QPalette::WindowText);
    const Layout &laid = layout(width());
    const QFontMetricsF metrics(font());
    double top = 0;
    if (alignment_ & Qt::AlignVCenter)
        top = (height() - laid.height) / 2;
    else if (alignment_ & Qt::AlignBottom)
        top = height() - laid.height;
    const int selectionStart = qMin(anchor_, cursor_);
    const int selectionEnd = qMax(anchor_, cursor_);
    for (size_t i = 0; i < laid.lines.size(); ++i) {
        const LaidLine &line = laid.lines[i];
        QString part = text_.mid(line.start, line.length);
        const bool last = i + 1 == laid.lines.size();
        if (last && maximumLines_ > 0)
            part = metrics.elidedText(part, Qt::ElideRight, width());
        while (part.endsWith(QLatin1Char('\n')))
            part.chop(1);
        const QPointF origin(line.x, top + line.y + metrics.ascent());
        if (selectable_ && selectionEnd > selectionStart && selectionStart < line.start + line.length &&
            selectionEnd > line.start) {
            const int from = qMax(selectionStart, line.start) - line.start;
            const int to = qMin(selectionEnd, line.start + line.length) - line.start;
            const double x0 = metrics.horizontalAdvance(part.left(from));
            const double x1 = metrics.horizontalAdvance(part.left(to));
            painter.fillRect(QRectF(line.x + x0, top + line.y, x1 - x0, metrics.lineSpacing()),
                             palette().color(QPalette::Highlight).lighter(130));
        }
        painter.setPen(color);
        painter.drawText(origin, part);
    }
}

void LineSpacedLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        laid_.reset();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

int LineSpacedLabel::positionAt(const QPoint &point) const
{
    const Layout &laid = layout(width());
    const QFontMetricsF metrics(font());
    for (const LaidLine &line : laid.lines) {
        if (point.y() < line.y + metrics.lineSpacing() || &line == &laid.lines.back()) {
            // The first position at or right of the point (advances grow
            // with the prefix, so a binary search).
            const QString part = text_.mid(line.start, line.length);
            int low = 0;
            int high = int(part.size());
            while (low < high) {
                const int middle = (low + high) / 2;
                if (line.x + metrics.horizontalAdvance(part.left(middle)) >= point.x())
                    high = middle;
                else
                    low = middle + 1;
            }
            return line.start + low;
        }
    }
    return 0;
}

QString LineSpacedLabel::selectedText() const
{
    if (anchor_ < 0 || anchor_ == cursor_)
        return {};
    return text_.mid(qMin(anchor_, cursor_), qAbs(anchor_ - cursor_));
}

void LineSpacedLabel::mousePressEvent(QMouseEvent *event)
{
    if (!selectable_ || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    anchor_ = cursor_ = positionAt(event->position().toPoint());
    update();
}

void LineSpacedLabel::mouseMoveEvent(QMouseEvent *event)
{
    if (!selectable_ || anchor_ < 0 || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    cursor_ = positionAt(event->position().toPoint());
    update();
}

void LineSpacedLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (!selectable_)
        return QWidget::mouseDoubleClickEvent(event);
    anchor_ = 0;
    cursor_ = int(text_.size());
    update();
}

void LineSpacedLabel::keyPressEvent(QKeyEvent *event)
{
    if (selectable_ && event->matches(QKeySequence::Copy) && !selectedText().isEmpty()) {
        auto *data = new QMimeData;
        data->setText(selectedText());
        QApplication::clipboard()->setMimeData(data);
        return;
    }
    if (selectable_ && event->matches(QKeySequence::SelectAll)) {
        anchor_ = 0;
        cursor_ = int(text_.size());
        update();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LineSpacedLabel::contextMenuEvent(QContextMenuEvent *event)
{
    if (!selectable_)
        return QWidget::contextMenuEvent(event);
    QMenu menu(this);
    const QString text = selectedText().isEmpty() ? text_ : selectedText();
    menu.addAction(QApplication::translate("QWidgetTextControl", "&Copy"), [text] {
        auto *data = new QMimeData;
        data->setText(text);
        QApplication::clipboard()->setMimeData(data);
    });
    menu.exec(event->globalPos());
}

// ---- FitLabel ----

namespace {

// Lines are laid out from no more of the text than `lines` lines of `width`
// pixels could show (a pixel a character is far below any real glyph), so a
// record of any length is fitted in the same time.
qsizetype fittingPrefix(const QString &text, int lines, int width)
{
    qsizetype cap = qsizetype(qMax(1, lines)) * qMax(1, width) + 1;
    if (text.size() <= cap)
        return text.size();
    if (text.at(cap - 1).isHighSurrogate())
        --cap;
    return cap;
}

QString withEllipsis(const QString &text, const QFontMetricsF &metrics, int width)
{
    QString elided = metrics.elidedText(text, Qt::ElideRight, width);
    if (elided == text) // the rest fits, but more text follows it
        elided = metrics.elidedText(text + QChar(0x2026), Qt::ElideRight, width);
    return elided;
}

} // namespace

struct FitLabel::Cached {
    int width;
    Fit fit;
};

FitLabel::FitLabel(const QString &text, QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setText(text);
}

FitLabel::~FitLabel() = default;

void FitLabel::invalidate()
{
    cache_.clear();
    updateGeometry();
    update();
}

void FitLabel::setText(const QString &text)
{
    if (text == text_ && !text.isEmpty())
        return;
    text_ = text;
    flat_ = text;
    for (QChar &c : flat_) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t') || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    invalidate();
}

void FitLabel::setMaximumLines(int lines)
{
    maximumLines_ = qMax(1, lines);
    invalidate();
}

void FitLabel::setMinimumScale(double scale)
{
    minimumScale_ = qBound(0.1, scale, 1.0);
    invalidate();
}

void FitLabel::setTextColor(const QColor &color)
{
    color_ = color;
    update();
}

void FitLabel::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    update();
}

void FitLabel::setHeightLimit(int pixels)
{
    pixels = qMax(0, pixels);
    if (pixels == heightLimit_)
        return;
    heightLimit_ = pixels;
    invalidate();
}

int FitLabel::basePixelSize() const
{
    return font().pixelSize() > 0 ? font().pixelSize() : QFontInfo(font()).pixelSize();
}

FitLabel::Fit FitLabel::computeFit(int width, int height) const
{
    // The largest size from the font's own down to the minimum scale at which
    // the text takes no more than the allowed lines (and, when a height is
    // given, no more than that height); else the minimum size, elided.
    width = qMax(1, width);
    const int base = basePixelSize();
    const int smallest = qMax(1, int(std::ceil(base * minimumScale_)));
    const qsizetype prefix = fittingPrefix(flat_, maximumLines_, width);
    const QString shown = flat_.left(prefix);
    const bool cut = prefix < flat_.size();
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    Fit result;
    for (int size = base; size >= smallest; --size) {
        QFont f = font();
        f.setPixelSize(size);
        const QFontMetricsF metrics(f);
        const double lineHeight = metrics.lineSpacing();
        int allowed = maximumLines_;
        if (height > 0)
            allowed = qBound(1, int((height + 0.5) / lineHeight), maximumLines_);

        QTextLayout layout(shown, f);
        layout.setTextOption(option);
        layout.beginLayout();
        std::vector<std::pair<int, int>> lines; // start, length
        bool more = false;
        while (true) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            if (int(lines.size()) == allowed) {
                more = true;
                break;
            }
            lines.emplace_back(line.textStart(), line.textLength());
        }
        layout.endLayout();
        more = more || cut;
        const bool tallEnough = height <= 0 || lines.size() * lineHeight <= height + 0.5;
        if ((!more && tallEnough) || size == smallest) {
            result.pixelSize = size;
            result.lineHeight = lineHeight;
            result.elided = more;
            for (size_t i = 0; i < lines.size(); ++i) {
                if (more && i + 1 == lines.size())
                    result.lines << withEllipsis(shown.mid(lines[i].first).trimmed(), metrics, width);
                else
                    result.lines << shown.mid(lines[i].first, lines[i].second).trimmed();
            }
            break;
        }
    }
    return result;
}

const FitLabel::Fit &FitLabel::fit(int width) const
{
    for (const Cached &c : cache_) {
        if (c.width == width)
            return c.fit;
    }
    // Layouts ask for a few widths in turn; keep the latest few.
    if (cache_.size() >= 6)
        cache_.erase(cache_.begin());
    const QMargins margins = contentsMargins();
    cache_.push_back({width, computeFit(width, heightLimit_ > 0 ? qMax(1, heightLimit_ - margins.top() - margins.bottom()) : 0)});
    return cache_.back().fit;
}

const FitLabel::Fit &FitLabel::current() const
{
    return fit(contentsRect().width());
}

int FitLabel::fittedPixelSize() const
{
    return current().pixelSize;
}

int FitLabel::fittedLineCount() const
{
    return int(current().lines.size());
}

QStringList FitLabel::fittedLines() const
{
    return current().lines;
}

int FitLabel::fittedHeight() const
{
    const Fit &f = current();
    return int(std::ceil(f.lineHeight * f.lines.size()));
}

int FitLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const Fit &f = fit(width - margins.left() - margins.right());
    return int(std::ceil(f.lineHeight * qMax<qsizetype>(1, f.lines.size()))) + margins.top() + margins.bottom();
}

QSize FitLabel::sizeHint() const
{
    // The natural width of what one line can ever show.
    const QMargins margins = contentsMargins();
    const int natural = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(flat_.left(512)))) + 1
                        + margins.left() + margins.right();
    return {natural, heightForWidth(natural)};
}

QSize FitLabel::minimumSizeHint() const
{
    return {0, heightForWidth(width() > 0 ? width() : 200)};
}

bool FitLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        if (current().elided) {
            const QString whole = flat_.size() > 300 ? flat_.left(300) + QChar(0x2026) : flat_;
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                               Qt::convertFromPlainText(whole, Qt::WhiteSpaceNormal), this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

void FitLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const Fit &f = current();
    QFont font = this->font();
    font.setPixelSize(qMax(1, f.pixelSize));
    painter.setFont(font);
    painter.setPen(color_.isValid() ? color_ : palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    const double total = f.lineHeight * f.lines.size();
    double y = area.top();
    if (alignment_ & Qt::AlignVCenter)
        y += (area.height() - total) / 2;
    else if (alignment_ & Qt::AlignBottom)
        y += area.height() - total;
    for (const QString &line : f.lines) {
        painter.drawText(QRectF(area.left(), y, area.width(), f.lineHeight),
                         int(alignment_ & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += f.lineHeight;
    }
}

void FitLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        invalidate();
    QWidget::changeEvent(event);
}

} // namespace vantuli
