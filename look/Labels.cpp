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
    updateGeometry();
    update();
}

void LineSpacedLabel::setLineSpacing(double extra)
{
    spacing_ = extra;
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
    update();
}

void LineSpacedLabel::setMaximumLines(int lines)
{
    maximumLines_ = lines;
    updateGeometry();
    update();
}

void LineSpacedLabel::setSelectable(bool selectable)
{
    selectable_ = selectable;
    setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
    setFocusPolicy(selectable ? Qt::ClickFocus : Qt::NoFocus);
}

LineSpacedLabel::Layout LineSpacedLabel::layout(int width) const
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
    const Layout laid = layout(width());
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
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

int LineSpacedLabel::positionAt(const QPoint &point) const
{
    const Layout laid = layout(width());
    const QFontMetricsF metrics(font());
    for (const LaidLine &line : laid.lines) {
        if (point.y() < line.y + metrics.lineSpacing() || &line == &laid.lines.back()) {
            const QString part = text_.mid(line.start, line.length);
            for (int i = 0; i <= part.size(); ++i) {
                if (line.x + metrics.horizontalAdvance(part.left(i)) >= point.x())
                    return line.start + i;
            }
            return line.start + int(part.size());
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

FitLabel::FitLabel(const QString &text, QWidget *parent) : QWidget(parent), text_(text)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void FitLabel::setText(const QString &text)
{
    if (text == text_)
        return;
    text_ = text;
    updateGeometry();
    update();
}

void FitLabel::setMaximumLines(int lines)
{
    maximumLines_ = qMax(1, lines);
    updateGeometry();
    update();
}

void FitLabel::setMinimumScale(double scale)
{
    minimumScale_ = qBound(0.1, scale, 1.0);
    updateGeometry();
    update();
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

FitLabel::Fit FitLabel::fit(int width) const
{
    // Largest size from the font's own down to the minimum scale at which
    // the text takes no more than the allowed lines; else the minimum, cut.
    const int base = font().pixelSize() > 0 ? font().pixelSize() : QFontInfo(font()).pixelSize();
    const int smallest = qMax(1, int(std::ceil(base * minimumScale_)));
    Fit result;
    for (int size = base; size >= smallest; --size) {
        QFont f = font();
        f.setPixelSize(size);
        double height = 0;
        const auto lines = layLines(text_, f, width, 0, 0, &height);
        if (int(lines.size()) <= maximumLines_ || size == smallest) {
            result.pixelSize = size;
            const QFontMetrics metrics(f);
            for (int i = 0; i < int(lines.size()) && i < maximumLines_; ++i) {
                QString part = text_.mid(lines[size_t(i)].start, i + 1 == maximumLines_ ? text_.size() : lines[size_t(i)].length);
                if (i + 1 == maximumLines_ && int(lines.size()) > maximumLines_)
                    part = metrics.elidedText(part.simplified(), Qt::ElideRight, width);
                result.lines << part.trimmed();
            }
            return result;
        }
    }
    return result;
}

int FitLabel::fittedPixelSize() const
{
    return fit(width()).pixelSize;
}

int FitLabel::fittedLineCount() const
{
    return int(fit(width()).lines.size());
}

int FitLabel::heightForWidth(int width) const
{
    const Fit f = fit(width);
    QFont font = this->font();
    font.setPixelSize(qMax(1, f.pixelSize));
    return int(std::ceil(QFontMetricsF(font).lineSpacing() * qMax<qsizetype>(1, f.lines.size())));
}

QSize FitLabel::sizeHint() const
{
    const int natural = QFontMetrics(font()).horizontalAdvance(text_) + 1;
    return {natural, heightForWidth(natural)};
}

QSize FitLabel::minimumSizeHint() const
{
    return {0, heightForWidth(width() > 0 ? width() : 200)};
}

void FitLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const Fit f = fit(width());
    QFont font = this->font();
    font.setPixelSize(qMax(1, f.pixelSize));
    painter.setFont(font);
    painter.setPen(color_.isValid() ? color_ : palette().color(QPalette::WindowText));
    const QFontMetricsF metrics(font);
    const double total = metrics.lineSpacing() * f.lines.size();
    double y = 0;
    if (alignment_ & Qt::AlignVCenter)
        y = (height() - total) / 2;
    else if (alignment_ & Qt::AlignBottom)
        y = height() - total;
    for (const QString &line : f.lines) {
        painter.drawText(QRectF(0, y, width(), metrics.lineSpacing()),
                         int(alignment_ & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += metrics.lineSpacing();
    }
}

void FitLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

} // namespace vantuli
