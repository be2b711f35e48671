#include "column/StationMasthead.h"

#include "column/MenuText.h"
#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/Studio.h"
#include "look/StudioButton.h"
#include "look/TextStyles.h"
#include "platform/Resources.h"
#include "records/CaptionPacing.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGraphicsEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QSvgRenderer>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>

namespace vantuli {

namespace {

constexpr int nameSize = 36;
constexpr double nameMinimumScale = 0.67;
constexpr int riseDistance = 4;

QString localized(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

QColor translucentBlack()
{
    return QColor::fromRgbF(0, 0, 0, 0.34f);
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

// Draws the change of a station's name: the new name rises 4 px into place
// while fading in, and the old one, drawn as it last looked, sinks 4 px while
// fading out.
class RiseEffect final : public QGraphicsEffect {
public:
    using QGraphicsEffect::QGraphicsEffect;

    // The outgoing name, in the widget's coordinates from its top left.
    void setOutgoing(QPixmap outgoing)
    {
        outgoing_ = std::move(outgoing);
        updateBoundingRect();
    }
    void setProgress(double progress)
    {
        progress_ = progress;
        if (progress_ >= 1 && !outgoing_.isNull())
            setOutgoing(QPixmap()); // gone for good
        update();
    }
    QRectF boundingRectFor(const QRectF &rect) const override
    {
        QRectF area = rect;
        if (!outgoing_.isNull())
            area |= QRectF(QPointF(0, 0), outgoing_.deviceIndependentSize());
        return area.adjusted(0, 0, 0, riseDistance);
    }

protected:
    void draw(QPainter *painter) override
    {
        if (progress_ >= 1) {
            drawSource(painter);
            return;
        }
        QPoint offset;
        const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset);
        painter->save();
        const double opacity = painter->opacity();
        if (!outgoing_.isNull()) {
            painter->setOpacity(opacity * (1 - progress_));
            painter->drawPixmap(QPointF(0, riseDistance * progress_), outgoing_);
        }
        painter->setOpacity(opacity * progress_);
        painter->drawPixmap(offset + QPointF(0, riseDistance * (1 - progress_)), pixmap);
        painter->restore();
    }

private:
    double progress_ = 1;
    QPixmap outgoing_;
};

namespace {

// One frame of a symbol replacing another: the old one shrinks and fades
// out over the first 60 %, the new one grows and fades in over the last 60 %.
QIcon symbolSwapFrame(const QPixmap &from, const QPixmap &to, int size, qreal ratio, double progress)
{
    QPixmap frame(QSize(size, size) * ratio);
    frame.setDevicePixelRatio(ratio);
    frame.fill(Qt::transparent);
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const auto draw = [&painter, size](const QPixmap &symbol, double shown) {
        if (shown <= 0)
            return;
        const double side = size * (0.6 + 0.4 * shown);
        painter.setOpacity(shown);
        painter.drawPixmap(QRectF((size - side) / 2, (size - side) / 2, side, side), symbol, QRectF(symbol.rect()));
    };
    draw(from, 1 - std::clamp(progress / 0.6, 0.0, 1.0));
    draw(to, std::clamp((progress - 0.4) / 0.6, 0.0, 1.0));
    painter.end();
    return QIcon(frame);
}

} // namespace

StationMasthead::StationMasthead(RadioStore *radio, QWidget *parent) : QWidget(parent), radio_(radio)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget(this);
    outer->addWidget(content_);
    QPalette white = Studio::darkPalette(Studio::pine());
    white.setColor(QPalette::WindowText, Qt::white);
    content_->setPalette(white);

    auto *column = column_ = new QVBoxLayout(content_);
    column->setContentsMargins(26, 10, 26, 10);
    column->setSpacing(7);
    column->addStretch(1);

    auto *kickerRow = new QHBoxLayout;
    kickerRow->setSpacing(7);
    kickerIcon_ = new QLabel(content_);
    kickerIcon_->setPixmap(symbolPixmap(QStringLiteral("antenna.radiowaves.left.and.right"), Studio::gold(), 12,
                                        devicePixelRatioF()));
    kickerRow->addWidget(kickerIcon_);
    // Catalog texts may be of any length: the labels show what fits, elided.
    kicker_ = new FitLabel(QString(), content_);
    kicker_->setObjectName(QStringLiteral("stationKicker"));
    kicker_->setFont(monoDigitFont(11, QFont::DemiBold));
    kicker_->setTextColor(Studio::gold());
    kickerRow->addWidget(kicker_, 1);
    column->addLayout(kickerRow);

    name_ = new FitLabel(QString(), content_);
    name_->setObjectName(QStringLiteral("stationName"));
    nameFont_ = serifFont(nameSize, QFont::Medium);
    nameFont_.setLetterSpacing(QFont::AbsoluteSpacing, -0.85);
    name_->setFont(nameFont_);
    name_->setMaximumLines(2);
    name_->setMinimumScale(nameMinimumScale);
    name_->setTextColor(Qt::white);
    name_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    nameEffect_ = new RiseEffect(name_);
    name_->setGraphicsEffect(nameEffect_);
    column->addWidget(name_);

    facts_ = new FitLabel(QString(), content_);
    facts_->setObjectName(QStringLiteral("stationFacts"));
    facts_->setFont(textFont(TextStyle::Callout));
    facts_->setTextColor(withAlpha(Qt::white, 0.88));
    facts_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(facts_);

    auto *controls = new QHBoxLayout;
    controls->setContentsMargins(0, 3, 0, 0);
    controls->setSpacing(8);
    play_ = new StudioButton(Studio::pine(), Studio::gold(), 7, content_);
    play_->setObjectName(QStringLiteral("stationPlay"));
    QFont bold = textFont(TextStyle::Callout, QFont::Bold);
    play_->setFont(bold);
    play_->setIconSize(QSize(12, 12));
    play_->setElideMode(Qt::ElideNone);
    play_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(play_, &QAbstractButton::clicked, this, [this] {
        if (station_)
            radio_->toggle(*station_);
    });
    controls->addWidget(play_);

    favorite_ = new StudioButton(Qt::white, translucentBlack(), 7, content_);
    favorite_->setObjectName(QStringLiteral("favoriteStation"));
    favorite_->setIconSize(QSize(14, 14));
    favorite_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(favorite_, &QAbstractButton::clicked, this, [this] {
        if (station_)
            radio_->favorite(*station_);
    });
    controls->addWidget(favorite_);

    more_ = new StudioButton(Qt::white, translucentBlack(), 7, content_);
    more_->setObjectName(QStringLiteral("stationMenu"));
    more_->setIcon(symbolIcon(QStringLiteral("ellipsis"), Qt::white, 14));
    more_->setIconSize(QSize(14, 14));
    more_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    menu_ = new QMenu(this);
    shareConfirmation_ = new QTimer(this);
    shareConfirmation_->setSingleShot(true);
    connect(shareConfirmation_, &QTimer::timeout, this, &StationMasthead::confirmShare);
    // The menu is drawn in the dark scheme whatever the system's appearance.
    menu_->setPalette(Studio::darkPalette(Studio::pine()));
    connect(more_, &QAbstractButton::clicked, this, [this] {
        if (!menu_->isEmpty())
            menu_->popup(more_->mapToGlobal(QPoint(0, more_->height() + 2)));
    });
    controls->addWidget(more_);
    controls->addStretch(1);
    column->addLayout(controls);
    column->addStretch(1);

    // Both run 0 -> 1 over 0.2 s; the painters read their progress.
    const auto transition = [this](const char *name) {
        auto *animation = new QVariantAnimation(this);
        animation->setObjectName(QString::fromLatin1(name));
        animation->setDuration(200);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        return animation;
    };
    starSwap_ = transition("favoriteSwap");
    entrance_ = transition("stationNameTransition");
    connect(entrance_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { nameEffect_->setProgress(value.toDouble()); });

    refresher_ = new Refresher([this] { refresh(); }, this);
    for (auto signal : {&RadioStore::selectedChanged, &RadioStore::currentChanged, &RadioStore::stateChanged,
                        &RadioStore::favoritesChanged, &RadioStore::failuresChanged})
        connect(radio_, signal, refresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, refresher_, &Refresher::schedule);
    refresh();
}

StationMasthead::~StationMasthead() = default;

QString StationMasthead::kickerText(const Station &station)
{
    if (!station.frequency.isEmpty())
        return station.frequency;
    return Formats::regionName(station.country);
}

QString StationMasthead::factsText(const Station &station)
{
    const QString code = station.language.isEmpty() ? QStringLiteral("und") : CaptionPacing::languageCode(station.language);
    return station.place() + QStringLiteral("  \u00B7  ") + Station::languageName(code);
}

std::optional<QUrl> StationMasthead::websiteLink(const Station &station)
{
    const QUrl url(station.website, QUrl::StrictMode);
    if (station.website.isEmpty() || !url.isValid())
        return std::nullopt;
    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))
        return std::nullopt;
    return url;
}

std::optional<QString> StationMasthead::shareLink(const Station &station)
{
    const QString text = station.path.isEmpty()
                             ? station.website
                             : QStringLiteral("https://") + QLatin1String(RadioStore::productSiteHost) + station.path;
    if (text.isEmpty() || !QUrl(text, QUrl::StrictMode).isValid())
        return std::nullopt;
    return text;
}

void StationMasthead::shareStation()
{
    if (!station_)
        return;
    const std::optional<QString> link = shareLink(*station_);
    if (!link)
        return;
    // The address is only ever copied as text, never opened or handed over:
    // a catalog web site may have any scheme.
    QGuiApplication::clipboard()->setText(*link);
    // The menu closes before its action runs, and the window then takes the
    // keyboard back from it, which closes every tooltip; on X11 that focus
    // event arrives some time after the menu has gone. So the confirmation
    // shows when the window has its focus back (again, should it have shown
    // already), or after a moment on a platform that sends no such event.
    if (QWindow *window = this->window()->windowHandle(); window != focusWatched_) {
        if (focusWatched_)
            focusWatched_->removeEventFilter(this);
        focusWatched_ = window;
        if (window)
            window->installEventFilter(this);
    }
    focusAwaited_ = QDeadlineTimer(1000);
    shareConfirmation_->start(250);
}

void StationMasthead::confirmShare()
{
    shownConfirmation_ = localized("已复制电台链接");
    QToolTip::showText(more_->mapToGlobal(QPoint(0, more_->height())), shownConfirmation_, more_, QRect(),
                       shareConfirmationDuration_);
}

void StationMasthead::dismissShareConfirmation()
{
    shareConfirmation_->stop();
    focusAwaited_ = QDeadlineTimer();
    // Only the confirmation: a tooltip the pointer brought up since stays.
    if (!shownConfirmation_.isEmpty() && QToolTip::isVisible() && QToolTip::text() == shownConfirmation_)
        QToolTip::hideText();
    shownConfirmation_.clear();
}

bool StationMasthead::eventFilter(QObject *watched, QEvent *event)
{
    const bool focusBack = event->type() == QEvent::FocusIn || event->type() == QEvent::WindowActivate;
    if (watched == focusWatched_ && focusBack && !focusAwaited_.hasExpired()) {
        focusAwaited_ = QDeadlineTimer();
        shareConfirmation_->start(0); // after the tooltip has seen this event
    }
    return QWidget::eventFilter(watched, event);
}

void StationMasthead::rebuildMenu()
{
    menu_->clear();
    if (!station_)
        return;
    if (const std::optional<QUrl> site = websiteLink(*station_)) {
        const QUrl url = *site;
        menu_->addAction(menuText(localized("台方官网")), this, [url] { QDesktopServices::openUrl(url); });
    }
    if (shareLink(*station_)) {
        QAction *share = menu_->addAction(symbolIcon(QStringLiteral("square.and.arrow.up"), Qt::white, 14),
                                          menuText(localized("分享电台")));
        connect(share, &QAction::triggered, this, &StationMasthead::shareStation);
    }
    if (station_->verifiedAt) {
        QAction *verified = menu_->addAction(
            menuText(L10n::format(QStringLiteral("音源验证 · %@"), {station_->verifiedAt->left(10)})));
        verified->setEnabled(false);
    }
}

void StationMasthead::refresh()
{
    const std::optional<Station> previous = station_;
    station_ = radio_->selected();
    // "Link copied" speaks of the station it copied, not of the next one.
    if (previous.has_value() != station_.has_value() || (previous && previous->id != station_->id))
        dismissShareConfirmation();
    content_->setVisible(station_.has_value());
    if (!station_)
        return;
    const Station &station = *station_;

    const bool changed = previous && previous->id != station.id;
    const bool animate = !Appearance::shared().reduceMotion() && isVisible();
    if (changed && animate && name_->isVisible()) {
        // The old name as it looks now, to leave while the new one comes in.
        const qreal ratio = devicePixelRatioF();
        QPixmap outgoing(name_->size() * ratio);
        outgoing.setDevicePixelRatio(ratio);
        outgoing.fill(Qt::transparent);
        nameEffect_->setEnabled(false);
        name_->render(&outgoing, QPoint(), QRegion(), QWidget::RenderFlags());
        nameEffect_->setEnabled(true);
        nameEffect_->setOutgoing(outgoing);
    }

    kicker_->setText(kickerText(station));
    name_->setFont(withTextLanguage(nameFont_, station.language, station.name));
    name_->setText(station.name);
    facts_->setText(factsText(station));
    fitName();

    const bool onAir = radio_->active() && radio_->current() && radio_->current()->id == station.id;
    const bool failed = radio_->failures().count(station.id) > 0;
    const QString playSymbol = onAir ? QStringLiteral("stop.fill") : QStringLiteral("play.fill");
    if (playSymbol != playSymbol_) {
        play_->setIcon(symbolIcon(playSymbol, Studio::pine(), 12));
        play_->setProperty("symbol", playSymbol);
        playSymbol_ = playSymbol;
    }
    const QString title = onAir ? localized("停止播放") : failed ? localized("重新连接") : localized("收听直播");
    if (play_->text() != title) {
        play_->setText(title);
        // The label is inset 5 px beyond the button's padding on both sides.
        play_->setFixedSize(play_->sizeHint() + QSize(10, 0));
    }

    const bool favourite = radio_->favorites().contains(station.id);
    const QString star = favourite ? QStringLiteral("star.fill") : QStringLiteral("star");
    if (star != starSymbol_) {
        const QColor tint = favourite ? Studio::gold() : QColor(Qt::white);
        const QIcon icon = symbolIcon(star, tint, 14);
        starSwap_->stop();
        starSwap_->disconnect(this);
        // The symbol is replaced in 0.2 s; with reduced motion at once.
        if (!starSymbol_.isEmpty() && animate) {
            const qreal ratio = devicePixelRatioF();
            const QColor oldTint = favourite ? QColor(Qt::white) : Studio::gold();
            const QPixmap from = symbolPixmap(starSymbol_, oldTint, 14, ratio);
            const QPixmap to = symbolPixmap(star, tint, 14, ratio);
            connect(starSwap_, &QVariantAnimation::valueChanged, this, [this, from, to, ratio](const QVariant &value) {
                favorite_->setIcon(symbolSwapFrame(from, to, 14, ratio, value.toDouble()));
            });
            connect(starSwap_, &QVariantAnimation::finished, this, [this, icon] { favorite_->setIcon(icon); });
            starSwap_->start();
        } else {
            favorite_->setIcon(icon);
        }
        favorite_->setForeground(tint);
        favorite_->setProperty("symbol", star);
        starSymbol_ = star;
    }
    // The icon-only buttons: their label is both their name and their tooltip.
    favorite_->setAccessibleName(favourite ? localized("取消收藏") : localized("加入收藏"));
    favorite_->setToolTip(favorite_->accessibleName());
    more_->setAccessibleName(localized("电台信息和分享"));
    more_->setToolTip(more_->accessibleName());
    rebuildMenu();

    if (changed) {
        entrance_->stop();
        if (animate)
            entrance_->start();
        else
            nameEffect_->setProgress(1);
    }
}

void StationMasthead::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitName();
}

void StationMasthead::fitName()
{
    // The masthead's height is the window's: the name takes what the other
    // rows leave, in fewer lines or a smaller size when that is short.
    const int width = this->width(); // the content's width: it fills the masthead
    const int others = column_->heightForWidth(width) - name_->heightForWidth(width);
    name_->setHeightLimit(qMax(1, height() - others));
}

void StationMasthead::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, Studio::pine());

    // The artwork fills the whole band (aspect kept, centred, cut to the band).
    if (artworkSize_ != area.size() * devicePixelRatioF()) {
        artworkSize_ = area.size() * devicePixelRatioF();
        artworkCache_ = QPixmap();
        QSvgRenderer renderer(Resources::path(QStringLiteral("artwork/BroadcastHorizon.svg")));
        if (renderer.isValid() && !area.isEmpty()) {
            const QSizeF natural = renderer.defaultSize().isEmpty() ? QSizeF(area.size()) : QSizeF(renderer.defaultSize());
            const double scale = std::max(area.width() / natural.width(), area.height() / natural.height());
            const QSizeF drawn = natural * scale;
            const qreal ratio = devicePixelRatioF();
            QPixmap pixmap(area.size() * ratio);
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(Qt::transparent);
            QPainter canvas(&pixmap);
            canvas.setRenderHint(QPainter::Antialiasing);
            renderer.render(&canvas, QRectF(QPointF((area.width() - drawn.width()) / 2, (area.height() - drawn.height()) / 2),
                                            drawn));
            canvas.end();
            artworkCache_ = pixmap;
        }
    }
    if (!artworkCache_.isNull())
        painter.drawPixmap(0, 0, artworkCache_);

    QLinearGradient shade(area.topLeft(), area.topRight());
    shade.setColorAt(0, withAlpha(Studio::pine(), 0.83));
    shade.setColorAt(0.5, withAlpha(Studio::pine(), 0.46));
    shade.setColorAt(1, withAlpha(Studio::pine(), 0));
    painter.fillRect(area, shade);
}

} // namespace vantuli
