#include "column/CaptionHistory.h"

#include "column/MenuText.h"
#include "look/TextStyles.h"
#include "records/L10n.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <QTextOption>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace vantuli {

namespace {

constexpr int rowSpacing = 13;     // between caption rows
constexpr int contentInset = 14;   // above the first and below the last row
constexpr int fitMargin = 28;      // room the newest caption needs beyond its own height
constexpr int enterOffset = 20;    // an entering row rises this far
constexpr int scrollMilliseconds = 320;
constexpr double olderOpacity = 0.66;

} // namespace

// ---- CaptionRow ----

CaptionRow::CaptionRow(const Caption &caption, QWidget *parent) : QAbstractButton(parent), id_(caption.id)
{
    // The text is kept as the button's accessible name and drawn by hand:
    // QAbstractButton::setText would turn an "&" of a caption into a shortcut.
    setProperty("captionText", caption.text);
    setAccessibleName(caption.text);
    setToolTip(L10n::shared().text(QStringLiteral("翻译此句")));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(this, &QAbstractButton::clicked, this, [this] { emit translateRequested(accessibleName()); });
}

void CaptionRow::setTextStyle(const QFont &font, double lineSpacing, const QColor &color)
{
    if (font == font_ && lineSpacing == lineSpacing_ && color == color_)
        return;
    const bool relayout = font != font_ || lineSpacing != lineSpacing_;
    font_ = font;
    lineSpacing_ = lineSpacing;
    color_ = color;
    drawn_ = QImage();
    if (relayout) {
        layout_.reset();
        layoutWidth_ = -1;
        updateGeometry();
    }
    update();
}

const QTextLayout &CaptionRow::layoutFor(int width) const
{
    width = std::max(width, 1);
    if (layout_ && layoutWidth_ == width)
        return *layout_;
    layout_ = std::make_unique<QTextLayout>(accessibleName(), font_);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout_->setTextOption(option);
    layout_->setCacheEnabled(true);
    double y = 0;
    int lines = 0;
    layout_->beginLayout();
    for (QTextLine line = layout_->createLine(); line.isValid(); line = layout_->createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height() + lineSpacing_;
        ++lines;
    }
    layout_->endLayout();
    layoutWidth_ = width;
    layoutHeight_ = lines == 0 ? 0 : int(std::ceil(y - lineSpacing_));
    return *layout_;
}

int CaptionRow::textHeight(int width) const
{
    layoutFor(width);
    return layoutHeight_;
}

QSize CaptionRow::sizeHint() const
{
    const int width = std::max(this->width(), 200);
    return {width, textHeight(width)};
}

void CaptionRow::appear(bool animated)
{
    if (appearAnimation_)
        appearAnimation_->stop();
    if (!animated) {
        appearance_ = 1;
        update();
        return;
    }
    if (!appearAnimation_) {
        appearAnimation_ = new QVariantAnimation(this);
        appearAnimation_->setDuration(scrollMilliseconds);
        appearAnimation_->setEasingCurve(QEasingCurve::OutCubic);
        connect(appearAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            appearance_ = value.toDouble();
            update();
        });
    }
    appearance_ = 0;
    appearAnimation_->setStartValue(0.0);
    appearAnimation_->setEndValue(1.0);
    appearAnimation_->start();
}

void CaptionRow::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    if (drawn_.size() != size() * ratio || drawn_.devicePixelRatio() != ratio) {
        // Drawn into a fresh, unclipped image the glyphs take the raster
        // engine's direct path. Drawn straight into the row, under its
        // opacity and clip, large glyphs went through the span path, which
        // hands each one to worker threads and waits for them: most of the
        // time a new caption took.
        drawn_ = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        drawn_.setDevicePixelRatio(ratio);
        drawn_.fill(Qt::transparent);
        QPainter text(&drawn_);
        text.setRenderHint(QPainter::TextAntialiasing);
        text.setPen(color_);
        layoutFor(width()).draw(&text, QPointF(0, 0));
    }
    QPainter painter(this);
    painter.setOpacity(appearance_);
    painter.drawImage(QPoint(0, int(std::lround(enterOffset * (1 - appearance_)))), drawn_);
}

std::unique_ptr<QMenu> CaptionRow::contextMenu()
{
    // Not a child of the row: the row may leave the history while its menu is open.
    auto menu = std::make_unique<QMenu>();
    const QString text = accessibleName();
    menu->addAction(menuText(L10n::shared().text(QStringLiteral("翻译此句"))), this,
                    [this, text] { emit translateRequested(text); });
    menu->addAction(menuText(L10n::shared().text(QStringLiteral("复制此句"))), this,
                    [this, text] { emit copyRequested(text); });
    return menu;
}

void CaptionRow::contextMenuEvent(QContextMenuEvent *event)
{
    contextMenu()->exec(event->globalPos());
}

// ---- CaptionHistory ----

CaptionHistory::CaptionHistory(QWidget *parent)
    : QScrollArea(parent), content_(new QWidget), scrollAnimation_(new QVariantAnimation(this))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(false);
    setWidget(content_);
    // The rows are placed by hand (placeRows), so the content's size is known
    // at once and a scroll can be computed in the same turn.
    content_->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    scrollAnimation_->setDuration(scrollMilliseconds);
    scrollAnimation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(scrollAnimation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { verticalScrollBar()->setValue(value.toInt()); });
}

int CaptionHistory::olderLineSize(double size)
{
    return std::max(17, int(std::lround(size * 0.71)));
}

int CaptionHistory::lineCount(double size, double height)
{
    const double divisor = olderLineSize(size) * 1.35 + 13;
    const double fitting = std::max(0.0, height) / divisor;
    return std::max(2, int(fitting) + 1);
}

CaptionHistory::Anchor CaptionHistory::anchor(double height, double newestHeight)
{
    return height < newestHeight + fitMargin ? Anchor::Top : Anchor::Bottom;
}

void CaptionHistory::setCaptions(const std::vector<Caption> &captions)
{
    // The store announces its list on every change; the history only works
    // when the captions it shows differ.
    const bool same = captions.size() == captions_.size()
                      && std::equal(captions.begin(), captions.end(), captions_.begin(),
                                    [](const Caption &a, const Caption &b) { return a.id == b.id && a.text == b.text; });
    if (same && styled_)
        return;
    captions_ = captions;
    rebuild();
}

void CaptionHistory::setCaptionSize(double size)
{
    if (size == size_)
        return;
    size_ = size;
    styled_ = false;
    rebuild();
}

void CaptionHistory::setTextColor(const QColor &color)
{
    if (color == textColor_)
        return;
    textColor_ = color;
    styled_ = false;
    rebuild();
}

void CaptionHistory::retranslate()
{
    for (CaptionRow *row : rows_)
        row->setToolTip(L10n::shared().text(QStringLiteral("翻译此句")));
}

void CaptionHistory::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    const int before = lineCount_;
    const int height = viewport()->height();
    const bool taller = height != anchoredHeight_;
    rebuild();
    // The history is anchored at its bottom: when the area's height changes
    // (and the line count did not, which scrolls by itself) the newest
    // caption keeps its place by the same rule, without animation.
    if (taller && lineCount_ == before && newestRow() && scrollAnimation_->state() != QAbstractAnimation::Running)
        scrollToNewest(anchor(height, newestHeight_), false);
    anchoredHeight_ = height;
}

void CaptionHistory::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    // Once when the history is shown: the newest caption in view.
    placeRows();
    if (newestRow())
        scrollToNewest(anchor(viewport()->height(), newestHeight_), false);
}

void CaptionHistory::setLanguage(const QString &language)
{
    if (language == language_)
        return;
    language_ = language;
    restyle();
}

void CaptionHistory::restyle()
{
    const int older = olderLineSize(size_);
    QColor dimmed = textColor_;
    dimmed.setAlphaF(dimmed.alphaF() * olderOpacity);
    for (CaptionRow *row : rows_) {
        const QString text = row->accessibleName();
        if (row == rows_.back())
            row->setTextStyle(serifFont(int(std::lround(size_)), QFont::Medium, language_, text), 5, textColor_);
        else
            row->setTextStyle(serifFont(older, QFont::Normal, language_, text), 2, dimmed);
    }
    styled_ = true;
}

void CaptionHistory::rebuild()
{
    // Placing the rows can show the scroll bar, which resizes the viewport
    // (only its width, which the rows do not follow) while this runs.
    if (rebuilding_)
        return;
    rebuilding_ = true;
    const auto done = qScopeGuard([this] { rebuilding_ = false; });
    const int height = viewport()->height();
    const int count = lineCount(size_, height);
    const size_t first = captions_.size() > size_t(count) ? captions_.size() - size_t(count) : 0;

    QHash<QUuid, CaptionRow *> previous;
    for (CaptionRow *row : rows_)
        previous.insert(row->captionId(), row);
    const bool hadNewest = !newestId_.isNull();

    std::vector<CaptionRow *> next;
    std::vector<CaptionRow *> entering;
    next.reserve(captions_.size() - first);
    for (size_t i = first; i < captions_.size(); ++i) {
        const Caption &caption = captions_[i];
        CaptionRow *row = previous.take(caption.id);
        if (row && row->accessibleName() != caption.text) {
            previous.insert(caption.id, row); // same id, new text: a new row
            row = nullptr;
        }
        if (!row) {
            row = new CaptionRow(caption, content_);
            connect(row, &CaptionRow::translateRequested, this, &CaptionHistory::translateRequested);
            connect(row, &CaptionRow::copyRequested, this, &CaptionHistory::copyRequested);
            row->show();
            entering.push_back(row);
        }
        next.push_back(row);
    }
    for (CaptionRow *gone : std::as_const(previous)) {
        gone->hide();
        gone->deleteLater();
    }
    rows_ = std::move(next);

    const QUuid newest = captions_.empty() ? QUuid() : captions_.back().id;
    const bool newestChanged = newest != newestId_;
    const bool countChanged = count != lineCount_;
    newestId_ = newest;
    lineCount_ = count;

    restyle();
    const bool heightChanged = placeRows();
    if (newest.isNull())
        return;

    const bool animate = !reduced_ && isVisible();
    if (hadNewest && animate) {
        for (CaptionRow *row : entering)
            row->appear(true);
    }
    if (newestChanged)
        scrollToNewest(anchor(height, newestHeight_), animate && hadNewest);
    else if (heightChanged && anchor(height, newestHeight_) == Anchor::Top)
        scrollToNewest(Anchor::Top, false);
    else if (countChanged)
        scrollToNewest(anchor(height, newestHeight_), false);
}

bool CaptionHistory::placeRows()
{
    // The rows take the width the area has with its scroll bar shown, so that
    // the bar coming or going never re-wraps the text.
    const int barWidth = verticalScrollBar()->sizeHint().width();
    const int width = std::max(1, this->width() - barWidth);
    const int viewportHeight = viewport()->height();

    int total = 2 * contentInset;
    std::vector<int> heights;
    heights.reserve(rows_.size());
    for (CaptionRow *row : rows_) {
        heights.push_back(row->textHeight(width));
        total += heights.back();
    }
    if (!rows_.empty())
        total += rowSpacing * int(rows_.size() - 1);

    // Content shorter than the area sits at its bottom.
    const int contentHeight = std::max(total, viewportHeight);
    int y = contentHeight - total + contentInset;
    for (size_t i = 0; i < rows_.size(); ++i) {
        rows_[i]->setGeometry(0, y, width, heights[i]);
        y += heights[i] + rowSpacing;
    }
    content_->resize(width, contentHeight);
    verticalScrollBar()->setRange(0, std::max(0, contentHeight - viewportHeight));
    verticalScrollBar()->setPageStep(viewportHeight);

    if (rows_.empty())
        return false;
    const double measured = heights.back();
    const bool changed = measured != newestHeight_;
    newestHeight_ = measured;
    return changed;
}

void CaptionHistory::scrollToNewest(Anchor edge, bool animated)
{
    CaptionRow *row = newestRow();
    if (!row)
        return;
    QScrollBar *bar = verticalScrollBar();
    const int top = row->geometry().top();
    const int target = edge == Anchor::Top ? top : row->geometry().bottom() + 1 - viewport()->height();
    const int value = std::clamp(target, bar->minimum(), bar->maximum());
    scrollAnimation_->stop();
    if (!animated || value == bar->value()) {
        bar->setValue(value);
        return;
    }
    scrollAnimation_->setStartValue(bar->value());
    scrollAnimation_->setEndValue(value);
    scrollAnimation_->start();
}

} // namespace vantuli
