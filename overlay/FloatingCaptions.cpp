#include "overlay/FloatingCaptions.h"

#include "overlay/CaptionMenuItem.h"
#include "overlay/CaptionScreens.h"
#include "overlay/FloatingCaptionCanvas.h"
#include "overlay/OverlayPlatform.h"
#include "platform/SettingsStore.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QActionGroup>
#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>

namespace vantuli {

namespace {

QString localized(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

} // namespace

FloatingCaptions::FloatingCaptions(std::shared_ptr<SettingsStore> defaults, QObject *parent)
    : FloatingCaptions(std::move(defaults), nullptr, nullptr, parent)
{
}

FloatingCaptions::FloatingCaptions(std::shared_ptr<SettingsStore> defaults, std::shared_ptr<CaptionScreens> screens,
                                   std::shared_ptr<OverlayPlatform> platform, QObject *parent)
    : QObject(parent),
      defaults_(defaults ? std::move(defaults) : SettingsStore::standard()),
      screens_(screens ? std::move(screens) : CaptionScreens::system()),
      platform_(platform ? std::move(platform) : OverlayPlatform::forSession())
{
    if (auto data = defaults_->data(QString::fromLatin1(FloatingCaptionStyle::settingsKey))) {
        int widest = 0;
        for (const QRect &area : screens_->areas())
            widest = std::max(widest, area.width());
        if (auto stored = FloatingCaptionStyle::decode(*data, widest))
            style_ = *stored;
    }

    panel_ = new CaptionPanel;
    platform_->prepare(panel_);
    canvas_ = new FloatingCaptionCanvas(panel_);
    canvas_->setPlatform(platform_);
    QPointer<FloatingCaptions> self(this);
    // A compositing manager came or went: translucent pixels or a shaped panel.
    platform_->onTranslucencyChanged([self] {
        if (self)
            self->canvas_->reshape();
    });
    canvas_->setMenuProvider([self](QWidget *parent) -> QMenu * {
        return self ? self->makeMenu(parent) : new QMenu(parent);
    });
    connect(panel_, &CaptionPanel::moved, this, &FloatingCaptions::panelMoved);

    timer_ = new QTimer(this);
    timer_->setInterval(tickMilliseconds);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &FloatingCaptions::updatePresentation);

    updateLanguage();
    interfaceLanguageChanges_ = connect(&L10n::shared(), &L10n::didChange, this, &FloatingCaptions::updateLanguage);
}

FloatingCaptions::~FloatingCaptions()
{
    for (const auto &connection : subscriptions_)
        disconnect(connection);
    disconnect(interfaceLanguageChanges_);
    platform_->onTranslucencyChanged(nullptr);
    delete panel_;
}

void FloatingCaptions::updateLanguage()
{
    panel_->setWindowTitle(localized("字幕浮窗"));
    canvas_->setAccessibleName(localized("实时字幕"));
}

void FloatingCaptions::setEnabled(bool enabled)
{
    enabled_ = enabled;
    emit enabledChanged();
}

void FloatingCaptions::show(RadioStore *radio, Translate translate)
{
    if (enabled_ || !radio)
        return;
    if (!radio->captionsOn() || radio->captionsDeferred())
        return;
    radio_ = radio;
    translate_ = std::move(translate);
    setEnabled(true);

    auto deliver = [this] {
        if (!radio_)
            return;
        const auto &list = radio_->subtitles();
        display(list.empty() ? std::nullopt : std::optional<Caption>(list.back()));
    };
    subscriptions_.push_back(connect(radio, &RadioStore::subtitlesChanged, this, deliver));
    deliver();
    subscriptions_.push_back(connect(radio, &RadioStore::captionsOnChanged, this, [this] {
        if (radio_ && !radio_->captionsOn())
            hide();
    }));
    // The store going away ends the overlay like a hide.
    subscriptions_.push_back(connect(radio, &QObject::destroyed, this, &FloatingCaptions::hide));
    if (enabled_)
        timer_->start();
    subscriptions_.push_back(connect(screens_.get(), &CaptionScreens::changed, this, [this] { refresh(std::nullopt); }));
}

void FloatingCaptions::hide()
{
    for (const auto &connection : subscriptions_)
        disconnect(connection);
    subscriptions_.clear();
    timer_->stop();
    setEnabled(false);
    cue_.reset();
    orderOut();
    radio_ = nullptr;
    translate_ = nullptr;
}

bool FloatingCaptions::timerRunning() const
{
    return timer_->isActive();
}

bool FloatingCaptions::panelVisible() const
{
    return panel_->isVisible();
}

void FloatingCaptions::orderFront()
{
    platform_->orderFront(panel_);
}

void FloatingCaptions::orderOut()
{
    if (panel_->isVisible())
        platform_->orderOut(panel_);
}

void FloatingCaptions::display(const std::optional<Caption> &caption)
{
    const bool same = (caption && cue_) ? caption->id == cue_->id : (!caption && !cue_);
    const bool visibilityMatches = caption ? panelVisible() : !panelVisible();
    if (same && visibilityMatches)
        return;
    cue_ = caption;
    if (!cue_) {
        orderOut();
        return;
    }
    const bool shown = panelVisible();
    refresh(std::nullopt);
    updatePresentation();
    // Back on top of whatever was raised over the panel since.
    if (shown && panelVisible())
        platform_->raise(panel_);
}

void FloatingCaptions::updatePresentation()
{
    if (!radio_ || !cue_)
        return;
    const double position = radio_->position();
    if (position > cue_->end + linger) {
        orderOut();
        return;
    }
    canvas_->advance(position);
    if (!panelVisible())
        orderFront();
}

std::optional<QRect> FloatingCaptions::screenArea(const std::optional<QRect> &rect) const
{
    const std::optional<QRect> primary = screens_->primaryArea();
    if (!rect)
        return primary;
    std::optional<QRect> best;
    qint64 bestOverlap = 0;
    for (const QRect &area : screens_->areas()) {
        const QRect overlap = area.intersected(*rect);
        const qint64 size = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (size > bestOverlap) {
            bestOverlap = size;
            best = area;
        }
    }
    return best ? best : primary;
}

void FloatingCaptions::refresh(std::optional<CaptionCorner> corner)
{
    const std::optional<QString> savedText = defaults_->string(QString::fromLatin1(frameKey));
    const std::optional<QRect> saved = savedText ? parseFrame(*savedText) : std::nullopt;
    const std::optional<QRect> found = screenArea(saved);
    if (!found)
        return;
    const QRect area = *found;

    adjustingFrame_ = true;
    canvas_->configure(style_, cue_, std::min(area.width(), std::max(style_.width, 1)),
                       radio_ ? radio_->captionsLanguage() : QString());
    const int w = canvas_->width();
    const int h = canvas_->height();

    const QRect frame = place(saved, area, QSize(w, h), corner);

    placed_ = frame;
    if (panel_->geometry() != frame) {
        panel_->setGeometry(frame);
        canvas_->move(0, 0);
    }
    if (!savedText || saved != frame)
        defaults_->setValue(QString::fromLatin1(frameKey), frameString(frame));
    platform_->setClickThrough(panel_, style_.clickThrough);
    canvas_->advance(radio_ ? radio_->position() : 0);
    adjustingFrame_ = false;
}

void FloatingCaptions::panelMoved()
{
    // Window managers report our own placements later, as moves: only a
    // frame other than the one placed is the user's.
    if (!enabled_ || adjustingFrame_ || !panelVisible())
        return;
    const QRect frame = panel_->geometry();
    if (frame == placed_)
        return;
    defaults_->setValue(QString::fromLatin1(frameKey), frameString(frame));
}

void FloatingCaptions::update(const FloatingCaptionStyle &style)
{
    style_ = style;
    emit styleChanged();
    defaults_->setValue(QString::fromLatin1(FloatingCaptionStyle::settingsKey), style_.encoded());
    refresh(std::nullopt);
}

void FloatingCaptions::openMenu()
{
    QPointer<FloatingCaptions> self(this);
    QTimer::singleShot(0, this, [self] {
        if (!self || !self->enabled_)
            return;
        QMenu *menu = self->makeMenu(nullptr);
        connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
        menu->popup(QCursor::pos());
    });
}

QMenu *FloatingCaptions::makeMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setTitle(localized("字幕浮窗"));
    QPointer<FloatingCaptions> self(this);
    const FloatingCaptionStyle current = style_;

    // A style choice: the current style with one field changed, saved and applied.
    auto choice = [self](std::function<void(FloatingCaptionStyle &)> change) {
        return [self, change] {
            if (!self)
                return;
            FloatingCaptionStyle next = self->style_;
            change(next);
            self->update(next);
        };
    };
    auto item = [](QMenu *into, const QString &title, std::optional<bool> checked, std::function<void()> handler) {
        auto *entry = new CaptionMenuItem(title, checked, std::move(handler), into);
        into->addAction(entry);
        return entry;
    };
    // A list that holds one value is a choice of one: its entries carry
    // radio marks, not check boxes.
    struct Choices {
        QMenu *menu;
        QActionGroup *group;
    };
    auto choices = [menu](const QString &title) {
        QMenu *list = menu->addMenu(title);
        return Choices{list, new QActionGroup(list)};
    };
    auto option = [&item](const Choices &list, const QString &title, bool checked, std::function<void()> handler) {
        list.group->addAction(item(list.menu, title, checked, std::move(handler)));
    };
    const Choices font = choices(localized("字体"));
    for (CaptionTypeface face : allCaptionTypefaces)
        option(font, L10n::shared().text(rawValue(face)), face == current.face,
               choice([face](FloatingCaptionStyle &s) { s.face = face; }));

    const Choices size = choices(localized("字号"));
    for (int value : {18, 22, 26, 32, 40})
        option(size, QStringLiteral("%1 pt").arg(value), value == current.size,
               choice([value](FloatingCaptionStyle &s) { s.size = value; }));

    const Choices ink = choices(localized("文字颜色"));
    for (CaptionInk value : allCaptionInks)
        option(ink, L10n::shared().text(rawValue(value)), value == current.ink,
               choice([value](FloatingCaptionStyle &s) { s.ink = value; }));

    const Choices lines = choices(localized("显示行数"));
    for (int value : {1, 2, 3, 4})
        option(lines, L10n::format(QStringLiteral("%@ 行"), {Formats::wholeNumber(value)}), value == current.lines,
               choice([value](FloatingCaptionStyle &s) { s.lines = value; }));

    const Choices opacity = choices(localized("背景不透明度"));
    for (int value : {0, 25, 50, 75, 100})
        option(opacity, value == 0 ? localized("全透明") : QStringLiteral("%1%").arg(value), value == current.opacity,
               choice([value](FloatingCaptionStyle &s) { s.opacity = value; }));

    const Choices width = choices(localized("浮窗宽度"));
    for (int value : {360, 560, 780})
        option(width, QStringLiteral("%1 pt").arg(value), value == current.width,
               choice([value](FloatingCaptionStyle &s) { s.width = value; }));

    menu->addSeparator();
    QMenu *corners = menu->addMenu(localized("移到屏幕角落"));
    for (CaptionCorner corner : allCaptionCorners)
        item(corners, L10n::shared().text(rawValue(corner)), std::nullopt, [self, corner] {
            if (self)
                self->refresh(corner);
        });
    item(menu, localized("鼠标穿透"), current.clickThrough,
         choice([](FloatingCaptionStyle &s) { s.clickThrough = !s.clickThrough; }));

    if (cue_) {
        const QString text = cue_->text;
        menu->addSeparator();
        item(menu, localized("复制此句"), std::nullopt, [text] { QGuiApplication::clipboard()->setText(text); });
        item(menu, localized("翻译此句") + QStringLiteral("…"), std::nullopt, [self, text] {
            if (self && self->translate_)
                self->translate_(text);
        });
    }
    menu->addSeparator();
    item(menu, localized("关闭字幕浮窗"), std::nullopt, [self] {
        if (self)
            self->hide();
    });
    return menu;
}

QRect FloatingCaptions::place(const std::optional<QRect> &saved, const QRect &area, QSize size,
                              std::optional<CaptionCorner> corner)
{
    const int w = size.width();
    const int h = size.height();
    QPoint origin;
    if (!corner && saved && saved->intersects(area)) {
        // Keep the edge nearer the screen's edge, so that the panel grows
        // towards the middle. A centre exactly on the middle counts as the
        // right half and the upper half.
        const double midX = saved->x() + saved->width() / 2.0;
        const double midY = saved->y() + saved->height() / 2.0;
        const double areaMidX = area.x() + area.width() / 2.0;
        const double areaMidY = area.y() + area.height() / 2.0;
        origin.setX(midX >= areaMidX ? saved->x() + saved->width() - w : saved->x());
        origin.setY(midY <= areaMidY ? saved->y() : saved->y() + saved->height() - h);
    } else {
        origin = cornerOrigin(corner.value_or(CaptionCorner::BottomRight), size, area);
    }
    const int x = std::max(area.x(), std::min(origin.x(), area.x() + area.width() - w));
    const int y = std::min(area.y() + area.height() - h, std::max(origin.y(), area.y()));
    return QRect(x, y, w, h);
}

QString FloatingCaptions::frameString(const QRect &frame)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height());
}

std::optional<QRect> FloatingCaptions::parseFrame(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\s*\\{\\s*\\{\\s*([^,{}\\s]+)\\s*,\\s*([^,{}\\s]+)\\s*\\}\\s*,\\s*\\{\\s*([^,{}\\s]+)\\s*,\\s*([^,{}\\s]+)\\s*\\}\\s*\\}\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    std::array<double, 4> values{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[static_cast<std::size_t>(i)] = match.captured(i + 1).toDouble(&ok);
        if (!ok || !std::isfinite(values[static_cast<std::size_t>(i)]) || std::abs(values[static_cast<std::size_t>(i)]) > 1e7)
            return std::nullopt;
    }
    const QRect frame(static_cast<int>(std::lround(values[0])), static_cast<int>(std::lround(values[1])),
                      static_cast<int>(std::lround(values[2])), static_cast<int>(std::lround(values[3])));
    if (frame.width() <= 0 || frame.height() <= 0)
        return std::nullopt;
    return frame;
}

bool preferX11ForOverlay(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-platform" || argument == "--platform" || argument.startsWith("-platform=") ||
            argument.startsWith("--platform="))
            return false;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

} // namespace vantuli
