#include "column/PlayerTransport.h"

#include "column/MenuText.h"
#include "look/Appearance.h"
#include "look/BroadcastIndicator.h"
#include "look/Icons.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/Studio.h"
#include "look/StudioButton.h"
#include "look/TextStyles.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "store/RadioStore.h"
#include "store/StoreTime.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace vantuli {

namespace {

constexpr int volumeSteps = 1000;
constexpr int circleSize = 31;

QString localized(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

// The play/stop symbol in pine on a gold circle: the button's whole label.
QIcon circledSymbol(const QString &symbol, qreal ratio)
{
    QPixmap pixmap(QSize(circleSize, circleSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Studio::gold());
    painter.drawEllipse(QRectF(0, 0, circleSize, circleSize));
    const int glyph = 13;
    const QPixmap mark = symbolPixmap(symbol, Studio::pine(), glyph, ratio);
    painter.drawPixmap(QPointF((circleSize - glyph) / 2.0, (circleSize - glyph) / 2.0), mark);
    painter.end();
    QIcon icon;
    icon.addPixmap(pixmap);
    return icon;
}

// A slider that asks for 76 px and takes 48 to 85. An arrow key or a wheel
// notch moves it 5 % of the range, a page key 20 %; a click on the track puts
// the knob where the click is (and goes on as a drag from there).
class VolumeSlider final : public QSlider {
public:
    explicit VolumeSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
    {
        setMinimumWidth(48);
        setMaximumWidth(85);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        setRange(0, volumeSteps);
        setSingleStep(volumeSteps / 20);
        setPageStep(volumeSteps / 5);
    }
    QSize sizeHint() const override { return {76, QSlider::sizeHint().height()}; }

protected:
    void wheelEvent(QWheelEvent *event) override
    {
        // One notch (120 eighths of a degree) is one step, whatever the
        // desktop's lines per notch; finer wheels add up to a notch.
        const QPoint angle = event->angleDelta();
        int delta = qAbs(angle.x()) > qAbs(angle.y()) ? -angle.x() : angle.y();
        if (event->inverted())
            delta = -delta;
        wheelRemainder_ += delta;
        const int notches = wheelRemainder_ / 120;
        wheelRemainder_ -= notches * 120;
        if (notches != 0)
            setValue(value() + notches * singleStep());
        event->accept();
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton) {
            QStyleOptionSlider option;
            initStyleOption(&option);
            const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
            const QPoint at = event->position().toPoint();
            if (!handle.contains(at)) {
                const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
                const int span = groove.width() - handle.width();
                setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), at.x() - groove.x() - handle.width() / 2,
                                                         span, option.upsideDown));
            }
        }
        QSlider::mousePressEvent(event);
    }

private:
    int wheelRemainder_ = 0;
};

} // namespace

PlayerTransport::PlayerTransport(RadioStore *radio, QWidget *parent)
    : QWidget(parent), radio_(radio), clock_(StoreClock::system())
{
    // Drawn in the dark scheme whatever the system's appearance.
    setPalette(Studio::darkPalette(Studio::pine()));
    setAutoFillBackground(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(19, 12, 19, 12);
    row->setSpacing(11);

    play_ = new StudioButton(Studio::pine(), Qt::transparent, 1, this);
    play_->setObjectName(QStringLiteral("transportPlay"));
    play_->setIconSize(QSize(circleSize, circleSize));
    play_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(play_, &QAbstractButton::clicked, this, &PlayerTransport::playOrStop);
    row->addWidget(play_);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    title_ = new FitLabel(QString(), this);
    title_->setObjectName(QStringLiteral("transportTitle"));
    title_->setFont(textFont(TextStyle::Body, QFont::DemiBold));
    title_->setTextColor(Qt::white);
    title_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    titles->addWidget(title_);

    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    indicator_ = new BroadcastIndicator(this);
    indicator_->setPlaying(true);
    statusRow->addWidget(indicator_);
    status_ = new FitLabel(QString(), this);
    status_->setObjectName(QStringLiteral("transportStatus"));
    status_->setFont(textFont(TextStyle::Caption2));
    status_->setTextColor(Studio::mist());
    status_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    statusRow->addWidget(status_);
    buffer_ = new QLabel(this);
    buffer_->setObjectName(QStringLiteral("transportBuffer"));
    buffer_->setTextFormat(Qt::PlainText);
    buffer_->setFont(monoDigitFont(pixelSize(TextStyle::Caption2)));
    QPalette mist = buffer_->palette();
    mist.setColor(QPalette::WindowText, Studio::mist());
    buffer_->setPalette(mist);
    statusRow->addWidget(buffer_);
    statusRow->addStretch(1);
    titles->addLayout(statusRow);
    row->addLayout(titles, 1);

    row->addSpacing(3);

    speaker_ = new QLabel(this);
    speaker_->setObjectName(QStringLiteral("transportSpeaker"));
    row->addWidget(speaker_);

    volume_ = new VolumeSlider(this);
    volume_->setObjectName(QStringLiteral("transportVolume"));
    QPalette gold = volume_->palette();
    gold.setColor(QPalette::Highlight, Studio::gold());
    gold.setColor(QPalette::Button, Studio::gold());
    volume_->setPalette(gold);
    // Every move is written to the store at once; the left end is exactly 0.
    connect(volume_, &QSlider::valueChanged, this,
            [this](int value) { radio_->setVolume(double(value) / double(volumeSteps)); });
    row->addWidget(volume_);

    QColor faint = Studio::gold();
    faint.setAlphaF(0.13f);
    countdown_ = new StudioButton(Studio::gold(), faint, 7, this);
    countdown_->setObjectName(QStringLiteral("sleepCountdown"));
    countdown_->setFont(monoDigitFont(pixelSize(TextStyle::Callout), QFont::DemiBold));
    countdown_->setElideMode(Qt::ElideNone);
    countdown_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Cancelling leaves playback alone.
    connect(countdown_, &QAbstractButton::clicked, this, [this] { radio_->cancelSleep(); });
    row->addWidget(countdown_);

    sleepButton_ = new QToolButton(this);
    sleepButton_->setObjectName(QStringLiteral("sleepTimerMenu"));
    sleepButton_->setAutoRaise(true);
    sleepButton_->setPopupMode(QToolButton::InstantPopup);
    sleepButton_->setIconSize(QSize(16, 16));
    sleepButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sleepButton_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 3px; }"
                                               "QToolButton::menu-indicator { image: none; width: 0; }"));
    sleepButton_->setCursor(Qt::PointingHandCursor);
    sleepMenu_ = new QMenu(sleepButton_);
    // Dark like the bar it opens from, whatever the scheme.
    sleepMenu_->setAttribute(Qt::WA_WindowPropagation);
    sleepButton_->setMenu(sleepMenu_);
    row->addWidget(sleepButton_);

    tick_ = new QTimer(this);
    tick_->setInterval(1000);
    connect(tick_, &QTimer::timeout, this, &PlayerTransport::refreshCountdown);

    // Observation: only the members the bar reads. The buffer figure changes
    // with every position report, so it has a refresh of its own.
    refresher_ = new Refresher([this] { refresh(); }, this);
    bufferRefresher_ = new Refresher([this] { refreshBuffer(); }, this);
    menuRefresher_ = new Refresher([this] { rebuildSleepMenu(); }, this);
    for (auto signal : {&RadioStore::stateChanged, &RadioStore::currentChanged, &RadioStore::selectedChanged,
                        &RadioStore::captionsOnChanged, &RadioStore::languageChanged, &RadioStore::volumeChanged,
                        &RadioStore::sleepUntilChanged, &RadioStore::playbackMessageChanged})
        connect(radio_, signal, refresher_, &Refresher::schedule);
    connect(radio_, &RadioStore::bufferSecondsChanged, bufferRefresher_, &Refresher::schedule);
    connect(radio_, &RadioStore::sleepUntilChanged, menuRefresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, refresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, menuRefresher_, &Refresher::schedule);
    connect(&Appearance::shared(), &Appearance::reduceMotionChanged, refresher_, &Refresher::schedule);

    rebuildSleepMenu();
    refresh();
}

PlayerTransport::~PlayerTransport() = default;

void PlayerTransport::setClock(std::shared_ptr<StoreClock> clock)
{
    clock_ = clock ? std::move(clock) : StoreClock::system();
    refreshCountdown();
}

QString PlayerTransport::countdownText(double remainingSeconds)
{
    const double rounded = std::isfinite(remainingSeconds) ? std::ceil(remainingSeconds) : 0;
    const qint64 seconds = rounded > 0 ? qint64(rounded) : 0;
    return QStringLiteral("%1:%2").arg(seconds / 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void PlayerTransport::playOrStop()
{
    if (radio_->active()) {
        radio_->stop(false);
        return;
    }
    // The station as shown: in the failed state that is the current station,
    // not the directory's selection.
    if (station_)
        radio_->start(*station_, 0, true);
}

void PlayerTransport::refresh()
{
    const RadioStore::State state = radio_->state();
    const bool active = radio_->active();
    station_ = radio_->transportStation();

    const QString playSymbol = active ? QStringLiteral("stop.fill") : QStringLiteral("play.fill");
    if (playSymbol != playSymbol_) {
        play_->setIcon(circledSymbol(playSymbol, devicePixelRatioF()));
        play_->setProperty("symbol", playSymbol);
        playSymbol_ = playSymbol;
    }
    // Icon-only controls: their label is both their name and their tooltip.
    const QString playLabel = active ? localized("停止播放") : localized("收听此台");
    play_->setAccessibleName(playLabel);
    play_->setToolTip(playLabel);

    title_->setFont(withTextLanguage(textFont(TextStyle::Body, QFont::DemiBold), station_ ? station_->language : QString(),
                                     station_ ? station_->name : QString()));
    title_->setText(station_ ? station_->name : QStringLiteral("Vantuli"));
    indicator_->setVisible(state == RadioStore::State::Playing);
    status_->setText(radio_->status());
    refreshBuffer();

    const double volume = radio_->volume();
    const QString speakerSymbol = volume == 0 ? QStringLiteral("speaker.slash") : QStringLiteral("speaker.wave.2");
    if (speakerSymbol != speakerSymbol_) {
        speaker_->setPixmap(symbolPixmap(speakerSymbol, Qt::white, 14, devicePixelRatioF()));
        speaker_->setProperty("symbol", speakerSymbol);
        speakerSymbol_ = speakerSymbol;
    }
    volume_->setAccessibleName(localized("音量"));
    volume_->setToolTip(volume_->accessibleName());
    // The slider follows the store, except while it is the one moving it.
    const int position = int(std::lround(volume * volumeSteps));
    if (volume_->value() != position && !volume_->isSliderDown()) {
        const QSignalBlocker quiet(volume_);
        volume_->setValue(position);
    }

    const bool set = radio_->sleepUntil().has_value();
    const QString sleepSymbol = set ? QStringLiteral("moon.fill") : QStringLiteral("moon");
    if (sleepSymbol != sleepSymbol_) {
        sleepButton_->setIcon(symbolIcon(sleepSymbol, Qt::white, 16));
        sleepButton_->setProperty("symbol", sleepSymbol);
        sleepSymbol_ = sleepSymbol;
    }
    sleepButton_->setAccessibleName(localized("睡眠定时"));
    sleepButton_->setToolTip(sleepButton_->accessibleName());
    refreshCountdown();
}

void PlayerTransport::refreshBuffer()
{
    const bool shown = radio_->state() == RadioStore::State::Playing && radio_->captionsOn()
                       && !radio_->captionsDeferred();
    if (shown) {
        const QString note = L10n::format(QStringLiteral("· 缓冲 %@ 秒"), {Formats::wholeNumber(radio_->bufferSeconds())});
        if (buffer_->text() != note)
            buffer_->setText(note);
    }
    buffer_->setVisible(shown);
}

void PlayerTransport::refreshCountdown()
{
    const std::optional<Date> &until = radio_->sleepUntil();
    if (!until) {
        tick_->stop();
        countdown_->hide();
        return;
    }
    const QString text = countdownText(until->secondsSince1970 - clock_->now().secondsSince1970);
    if (countdown_->text() != text) {
        countdown_->setText(text);
        countdown_->setAccessibleDescription(text);
    }
    const QString cancel = L10n::format(QStringLiteral("取消 %@ 的定时"), {Formats::shortTime(*until)});
    countdown_->setAccessibleName(cancel);
    if (countdown_->toolTip() != cancel)
        countdown_->setToolTip(cancel);
    countdown_->setFixedSize(countdown_->sizeHint());
    countdown_->show();
    if (!tick_->isActive())
        tick_->start();
}

void PlayerTransport::rebuildSleepMenu()
{
    sleepMenu_->clear();
    for (int minutes : {15, 30, 60}) {
        const QString title = L10n::format(QStringLiteral("%@ 分钟后停止"), {Formats::wholeNumber(minutes)});
        sleepMenu_->addAction(menuText(title), this, [this, minutes] { radio_->sleep(minutes); });
    }
    if (const std::optional<Date> &until = radio_->sleepUntil()) {
        const QString title = L10n::format(QStringLiteral("取消 %@ 的定时"), {Formats::shortTime(*until)});
        sleepMenu_->addAction(menuText(title), this, [this] { radio_->cancelSleep(); });
    }
}

} // namespace vantuli
