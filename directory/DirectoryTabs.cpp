#include "directory/DirectoryTabs.h"

#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Studio.h"
#include "records/L10n.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace vantuli {

namespace {

constexpr int symbolSize = 14;
constexpr int labelPixels = 11;
constexpr int gap = 6;
constexpr int underlineHeight = 2;
constexpr int tabSpacing = 2;
// Room kept on either side of a label, so that two long labels side by
// side never read as one.
constexpr int labelPadding = 2;

QString shortLabelKey(LibraryFilter filter)
{
    switch (filter.value()) {
    case LibraryFilter::Featured:
        return QStringLiteral("精选");
    case LibraryFilter::All:
        return QStringLiteral("全部");
    case LibraryFilter::Favorites:
        return QStringLiteral("收藏");
    case LibraryFilter::Recent:
        return QStringLiteral("历史");
    case LibraryFilter::Unavailable:
        return QStringLiteral("失效");
    }
    return {};
}

QFont labelFont()
{
    QFont font;
    font.setPixelSize(labelPixels);
    font.setWeight(QFont::Medium);
    return font;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Widths for items that need `needs` in a row of `room`: with room to spare,
// every item is as wide as the rest allow equally but never below its need;
// short of room, the widest are narrowed to a common width and the others
// keep their need.
std::vector<double> share(const std::vector<int> &needs, double room)
{
    std::vector<int> sorted = needs;
    const double total = std::accumulate(needs.begin(), needs.end(), 0.0);
    const bool spare = total <= room;
    // Widening: the largest needs are met in turn; narrowing: the smallest.
    if (spare)
        std::sort(sorted.begin(), sorted.end(), std::greater<>());
    else
        std::sort(sorted.begin(), sorted.end());
    double level = 0;
    double rest = room;
    size_t left = sorted.size();
    for (int need : sorted) {
        level = rest / double(left);
        if (spare ? need <= level : need >= level)
            break;
        rest -= need;
        --left;
    }
    std::vector<double> widths;
    for (int need : needs)
        widths.push_back(spare ? std::max<double>(need, level) : std::min<double>(need, level));
    return widths;
}

} // namespace

QString DirectoryTabs::symbol(LibraryFilter filter)
{
    switch (filter.value()) {
    case LibraryFilter::Featured:
        return QStringLiteral("radio");
    case LibraryFilter::All:
        return QStringLiteral("globe");
    case LibraryFilter::Favorites:
        return QStringLiteral("star");
    case LibraryFilter::Recent:
        return QStringLiteral("clock");
    case LibraryFilter::Unavailable:
        return QStringLiteral("antenna.radiowaves.left.and.right.slash");
    }
    return {};
}

DirectoryTab::DirectoryTab(DirectoryTabs *row, int position, LibraryFilter filter, QString symbol)
    : QAbstractButton(row), row_(row), position_(position), filter_(filter), symbol_(std::move(symbol))
{
    setCheckable(true);
    setAutoExclusive(false);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setFont(labelFont());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void DirectoryTab::setShortLabel(const QString &label)
{
    setText(label);
    updateGeometry();
    update();
}

QSize DirectoryTab::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {qMax(symbolSize, metrics.horizontalAdvance(text())), symbolSize + gap + metrics.height() + gap + underlineHeight};
}

QSize DirectoryTab::minimumSizeHint() const
{
    const QSize hint = sizeHint();
    return {symbolSize, hint.height()};
}

void DirectoryTab::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    if (ratio != pixmapRatio_) {
        // Rendered once per pixel ratio, found or not.
        gold_ = symbolPixmap(symbol_, Studio::gold(), symbolSize, ratio);
        mist_ = symbolPixmap(symbol_, Studio::mist(), symbolSize, ratio);
        pixmapRatio_ = ratio;
    }
    // Gold in proportion to the underline's nearness: all gold under it,
    // all mist a tab away.
    const double weight = std::max(0.0, 1.0 - std::abs(row_->underline() - position_));
    const int x = (width() - symbolSize) / 2;
    if (weight < 1) {
        painter.setOpacity(1 - weight);
        painter.drawPixmap(x, 0, mist_);
    }
    if (weight > 0) {
        painter.setOpacity(weight);
        painter.drawPixmap(x, 0, gold_);
    }
    painter.setOpacity(1);

    // One line, at the size all the tabs share, cut short when even that
    // does not fit.
    QFont font = this->font();
    const int top = symbolSize + gap;
    font.setPixelSize(row_->labelPixelSize());
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(mix(Studio::mist(), Studio::gold(), weight));
    const QRect line(0, top, width(), QFontMetrics(this->font()).height());
    painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(text(), Qt::ElideRight, width()));
    if (hasFocus()) {
        QColor ring = Studio::mist();
        ring.setAlphaF(0.5f);
        painter.setPen(QPen(ring, 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1 - underlineHeight));
    }
}

DirectoryTabs::DirectoryTabs(QWidget *parent)
    : QWidget(parent), labelSize_(labelPixels), glide_(new QVariantAnimation(this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    int position = 0;
    for (LibraryFilter::Value value : LibraryFilter::allCases()) {
        auto *tab = new DirectoryTab(this, position++, value, symbol(value));
        tabs_.push_back(tab);
        connect(tab, &QAbstractButton::clicked, this, [this, value] {
            // A click never unchecks a tab; the owner decides.
            setCurrent(current_);
            emit chosen(value);
        });
    }
    glide_->setDuration(200);
    glide_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(glide_, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        underline_ = value.toDouble();
        update();
        for (DirectoryTab *tab : tabs_)
            tab->update();
    });
    setCurrent(LibraryFilter::Featured);
    underline_ = 0;
    retranslate();
}

bool DirectoryTabs::gliding() const
{
    return glide_->state() == QAbstractAnimation::Running;
}

void DirectoryTabs::setCurrent(LibraryFilter filter)
{
    const int position = int(filter.value());
    for (DirectoryTab *tab : tabs_)
        tab->setChecked(tab->filter() == filter);
    if (filter == current_ && !gliding() && underline_ == position)
        return;
    current_ = filter;
    glide_->stop();
    if (Appearance::shared().reduceMotion() || !isVisible()) {
        underline_ = position;
        update();
        for (DirectoryTab *tab : tabs_)
            tab->update();
        return;
    }
    glide_->setStartValue(underline_);
    glide_->setEndValue(double(position));
    glide_->start();
}

QSize DirectoryTabs::sizeHint() const
{
    int width = tabSpacing * (int(tabs_.size()) - 1);
    for (const DirectoryTab *tab : tabs_)
        width += tab->sizeHint().width() + 2 * labelPadding;
    return {width, tabs_.empty() ? 0 : tabs_.front()->sizeHint().height()};
}

QSize DirectoryTabs::minimumSizeHint() const
{
    const int count = int(tabs_.size());
    return {count * symbolSize + tabSpacing * (count - 1), sizeHint().height()};
}

void DirectoryTabs::resizeEvent(QResizeEvent *)
{
    arrange();
}

void DirectoryTabs::arrange()
{
    if (tabs_.empty())
        return;
    const int count = int(tabs_.size());
    const int room = width() - tabSpacing * (count - 1);
    const int smallest = int(std::ceil(labelPixels * 0.8));
    QFont font = tabs_.front()->font(); // as the tabs draw their labels
    std::vector<int> advances(size_t(count), 0);
    int padding = labelPadding;
    for (int size = labelPixels; size >= smallest; --size) {
        font.setPixelSize(size);
        // Rounded up: a label wider than its tab by any fraction is cut short.
        const QFontMetricsF metrics(font);
        int total = 0;
        for (int i = 0; i < count; ++i) {
            const qreal advance = metrics.horizontalAdvance(tabs_[size_t(i)]->text());
            advances[size_t(i)] = std::max(symbolSize, int(std::ceil(advance)));
            total += advances[size_t(i)];
        }
        labelSize_ = size;
        padding = labelPadding;
        if (total + 2 * labelPadding * count <= room)
            break;
        // At the smallest size the labels keep what room is left around
        // them, but never run into each other: the longest are cut first.
        padding = std::clamp((room - total) / (2 * count), 1, labelPadding);
    }
    std::vector<int> needs;
    for (int advance : advances)
        needs.push_back(advance + 2 * padding);
    const std::vector<double> widths = share(needs, std::max(room, 0));
    // Edges rounded from the running sum, so that the row is filled exactly.
    double x = 0;
    for (int i = 0; i < count; ++i) {
        const int left = int(std::lround(x));
        x += widths[size_t(i)];
        tabs_[size_t(i)]->setGeometry(left, 0, int(std::lround(x)) - left, height());
        x += tabSpacing;
    }
    update();
}

void DirectoryTabs::retranslate()
{
    for (DirectoryTab *tab : tabs_) {
        tab->setShortLabel(L10n::shared().text(shortLabelKey(tab->filter())));
        const QString title = tab->filter().title();
        tab->setToolTip(title.toHtmlEscaped());
        tab->setAccessibleName(title);
    }
    updateGeometry();
    arrange();
}

void DirectoryTabs::paintEvent(QPaintEvent *)
{
    if (tabs_.empty())
        return;
    // The underline between the two tabs it stands between.
    const int lower = std::clamp(int(std::floor(underline_)), 0, int(tabs_.size()) - 1);
    const int upper = std::min(lower + 1, int(tabs_.size()) - 1);
    const double t = underline_ - lower;
    const QRect a = tabs_[size_t(lower)]->geometry();
    const QRect b = tabs_[size_t(upper)]->geometry();
    const double left = a.left() + (b.left() - a.left()) * t;
    const double right = a.right() + 1 + (b.right() + 1 - (a.right() + 1)) * t;
    QPainter painter(this);
    painter.fillRect(QRectF(left, a.bottom() + 1 - underlineHeight, right - left, underlineHeight), Studio::gold());
}

} // namespace vantuli
