#include "column/CaptionDesk.h"

#include "column/CaptionHistory.h"
#include "column/MenuText.h"
#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/Studio.h"
#include "look/TextStyles.h"
#include "look/ToggleSwitch.h"
#include "platform/LocaleNames.h"
#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "records/Station.h"
#include "store/RadioStore.h"

#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace vantuli {

namespace {

QString localized(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

QColor captionTextColor(bool dark)
{
    return dark ? QColor::fromRgbF(0.94f, 0.94f, 0.89f) : QColor::fromRgbF(0.08f, 0.17f, 0.17f);
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

// Sets a label's plain text only when it changed (a new text re-lays out the label).
void setLabelText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

QFont sizedFont(TextStyle style, int pixels, QFont::Weight weight)
{
    QFont font = textFont(style, weight);
    font.setPixelSize(pixels);
    return font;
}

// Marks the menu button as one: a chevron after its text.
class MenuButton final : public QToolButton {
public:
    using QToolButton::QToolButton;

    // The chevron's width and its gap to the text; the style sheet's right
    // padding leaves room for both.
    static constexpr int chevron = 10;
    static constexpr int gap = 4;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QToolButton::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(palette().color(QPalette::ButtonText), 1.6);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        const double x = width() - chevron - 4;
        const double y = height() / 2.0 - 2;
        const QPointF points[] = {{x, y}, {x + chevron / 2.0, y + 4.5}, {x + chevron, y}};
        painter.drawPolyline(points, 3);
    }
};

} // namespace

QStringList CaptionDesk::languageLabels(const QStringList &tags)
{
    // A language's name; where two tags would read the same, the name with the
    // script ("Chinese (Simplified)", "Chinese (Traditional)"), then with the
    // whole tag's script and region, then with the tag itself.
    const QString display = L10n::shared().displayLocaleId();
    QStringList labels;
    for (const QString &tag : tags)
        labels << Station::languageName(tag);
    const std::function<QString(const QString &)> renamings[] = {
        [&display](const QString &tag) {
            const QString language = LocaleNames::localeIdFromTag(tag).section(QLatin1Char('_'), 0, 0);
            const QString script = LocaleNames::likelyScript(tag);
            return script.isEmpty() ? QString()
                                    : LocaleNames::localeName(language + QLatin1Char('_') + script, display).value_or(QString());
        },
        [&display](const QString &tag) {
            return LocaleNames::localeName(LocaleNames::localeIdFromTag(tag), display).value_or(QString());
        },
        [&labels, &tags](const QString &tag) { return labels[tags.indexOf(tag)] + QStringLiteral(" (") + tag + QLatin1Char(')'); },
    };
    for (const auto &rename : renamings) {
        QStringList next = labels;
        bool clashed = false;
        for (qsizetype i = 0; i < labels.size(); ++i) {
            if (labels.count(labels[i]) < 2)
                continue;
            clashed = true;
            const QString renamed = rename(tags[i]);
            if (!renamed.isEmpty())
                next[i] = renamed;
        }
        if (!clashed)
            break;
        labels = next;
    }
    return labels;
}

CaptionDesk::CaptionDesk(RadioStore *radio, std::shared_ptr<SettingsStore> settings, QWidget *parent)
    : QWidget(parent), radio_(radio), settings_(std::move(settings))
{
    size_ = usableSize(settings_ ? settings_->number(QString::fromLatin1(sizeKey)) : std::nullopt);
    setAutoFillBackground(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(26, 18, 26, 10);
    column->setSpacing(0);

    // Header: title, gap, settings menu, captions switch.
    auto *header = new QHBoxLayout;
    header->setSpacing(9);
    // A narrow window cuts the title short (the whole of it as the tooltip).
    title_ = new FitLabel(QString(), this);
    title_->setObjectName(QStringLiteral("captionTitle"));
    title_->setFont(sizedFont(TextStyle::Body, 22, QFont::DemiBold));
    header->addWidget(title_);
    header->addSpacing(3);
    header->addStretch(1);

    menuButton_ = new MenuButton(this);
    menuButton_->setObjectName(QStringLiteral("captionSettings"));
    menuButton_->setAutoRaise(true);
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menuButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    menuButton_->setFont(textFont(TextStyle::Body));
    menuButton_->setCursor(Qt::PointingHandCursor);
    menu_ = new QMenu(menuButton_);
    menuButton_->setMenu(menu_);
    header->addWidget(menuButton_);

    switch_ = new ToggleSwitch(this);
    switch_->setObjectName(QStringLiteral("captionSwitch"));
    connect(switch_, &QAbstractButton::clicked, this, [this](bool on) { radio_->setCaptionsOn(on); });
    header->addWidget(switch_);
    column->addLayout(header);

    // The station being captioned (may differ from the one shown above).
    playing_ = new FitLabel(QString(), this);
    playing_->setObjectName(QStringLiteral("captionStation"));
    playing_->setFont(textFont(TextStyle::Caption));
    playing_->setContentsMargins(0, 4, 0, 0);
    playing_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(playing_);

    column->addSpacing(11);
    divider_ = new QWidget(this);
    divider_->setFixedHeight(1);
    divider_->setAutoFillBackground(true);
    column->addWidget(divider_);

    // Body: the empty state or the history.
    body_ = new QStackedLayout;
    emptyState_ = new QWidget(this);
    auto *empty = new QVBoxLayout(emptyState_);
    empty->setContentsMargins(0, 0, 0, 0);
    empty->setSpacing(12);
    empty->addStretch(1);
    emptyIcon_ = new QLabel(emptyState_);
    empty->addWidget(emptyIcon_, 0, Qt::AlignLeft);
    emptyLabel_ = new QLabel(emptyState_);
    emptyLabel_->setObjectName(QStringLiteral("captionEmptyText"));
    emptyLabel_->setTextFormat(Qt::PlainText);
    emptyLabel_->setWordWrap(true);
    emptyLabel_->setFont(serifFont(23, QFont::Medium));
    empty->addWidget(emptyLabel_);
    failureLabel_ = new QLabel(emptyState_);
    failureLabel_->setObjectName(QStringLiteral("captionFailureText"));
    failureLabel_->setTextFormat(Qt::PlainText);
    failureLabel_->setWordWrap(true);
    failureLabel_->setFont(textFont(TextStyle::Callout));
    empty->addWidget(failureLabel_);
    empty->addStretch(1);
    body_->addWidget(emptyState_);

    historyPage_ = new QWidget(this);
    auto *page = new QVBoxLayout(historyPage_);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    history_ = new CaptionHistory(historyPage_);
    history_->setCaptionSize(size_);
    page->addWidget(history_, 1);
    notice_ = new QLabel(historyPage_);
    notice_->setObjectName(QStringLiteral("captionNotice"));
    notice_->setTextFormat(Qt::PlainText);
    notice_->setWordWrap(true);
    notice_->setFont(textFont(TextStyle::Caption));
    page->addWidget(notice_);
    body_->addWidget(historyPage_);
    column->addLayout(body_, 1);

    connect(history_, &CaptionHistory::translateRequested, this, &CaptionDesk::translate);
    connect(history_, &CaptionHistory::copyRequested, this, [](const QString &text) {
        // setText replaces whatever the clipboard held in one step.
        QGuiApplication::clipboard()->setText(text);
    });

    // Observation: only the members this desk reads.
    refresher_ = new Refresher([this] { refresh(); }, this);
    menuRefresher_ = new Refresher([this] { rebuildMenu(); }, this);
    for (auto signal : {&RadioStore::stateChanged, &RadioStore::currentChanged, &RadioStore::selectedChanged,
                        &RadioStore::playbackMessageChanged, &RadioStore::captionsOnChanged,
                        &RadioStore::subtitlesChanged, &RadioStore::captionNoticeKeyChanged})
        connect(radio_, signal, refresher_, &Refresher::schedule);
    for (auto signal : {&RadioStore::languageChanged, &RadioStore::stationsChanged})
        connect(radio_, signal, menuRefresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, refresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, menuRefresher_, &Refresher::schedule);
    connect(&L10n::shared(), &L10n::didChange, history_, &CaptionHistory::retranslate);
    connect(&Appearance::shared(), &Appearance::schemeChanged, this, [this] {
        applyColors();
        refresher_->schedule();
    });

    applyColors();
    rebuildMenu();
    refresh();
}

CaptionDesk::~CaptionDesk() = default;

double CaptionDesk::usableSize(std::optional<double> stored)
{
    if (!stored || !std::isfinite(*stored) || *stored < 12 || *stored > 96)
        return defaultSize;
    return *stored;
}

void CaptionDesk::setCaptionSize(double size)
{
    size_ = usableSize(size);
    if (settings_)
        settings_->setValue(QString::fromLatin1(sizeKey), size_);
    history_->setCaptionSize(size_);
    menuRefresher_->schedule();
}

QString CaptionDesk::emptyText() const
{
    if (radio_->captionsDeferred())
        return localized("孟加拉语电台目前仅提供收听。");
    if (!radio_->captionsOn())
        return localized("同步字幕已关闭。");
    // The desk is about the captioned run, whichever station is selected.
    if (radio_->state() == RadioStore::State::Failed)
        return localized("直播连接已中断。");
    if (const QString notice = radio_->captionNotice(); !notice.isEmpty())
        return notice;
    if (!radio_->active())
        return localized("开播后，在这里读字幕。");
    return localized("等待下一句播音…");
}

void CaptionDesk::translate(const QString &text)
{
    // The text first: the panel opens on `translating` and shows the text.
    radio_->setTranslationText(text);
    radio_->setTranslating(true);
}

void CaptionDesk::applyColors()
{
    const bool dark = Appearance::shared().dark();
    const QColor text = captionTextColor(dark);
    const QColor secondary = withAlpha(text, 0.6);

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Studio::sheetBackground(dark));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Text, text);
    setPalette(palette);
    for (QWidget *label : std::initializer_list<QWidget *>{playing_, failureLabel_, notice_})
        setTextColor(label, secondary);
    QPalette line = divider_->palette();
    line.setColor(QPalette::Window, withAlpha(text, 0.14));
    divider_->setPalette(line);
    history_->setTextColor(text);
    menuButton_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px %2px 2px 4px; color: %1; }"
                                              "QToolButton::menu-indicator { image: none; width: 0; }")
                                   .arg(text.name())
                                   .arg(4 + MenuButton::chevron + MenuButton::gap));
    // Thin scroll indicators in the caption colour, for either scheme.
    history_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 0; }"
                       "QScrollBar::handle:vertical { background: rgba(%1, %2, %3, 0.28); border-radius: 3px;"
                       " min-height: 24px; margin: 0 1px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(text.red())
            .arg(text.green())
            .arg(text.blue()));
    switch_->setTint(dark ? Studio::gold() : Studio::pine());
    emptySymbol_.clear(); // the icon is redrawn in the new colour
}

void CaptionDesk::rebuildMenu()
{
    menuButton_->setText(menuText(localized("字幕字号")));
    menuButton_->setAccessibleName(localized("字幕字号与识别语言"));
    menu_->clear();

    menu_->addSection(menuText(localized("字幕字号")));
    auto *sizes = new QActionGroup(menu_);
    for (double size : CaptionDesk::sizes) {
        // The unit is appended as it stands, never looked up.
        QAction *item = menu_->addAction(QString::number(std::lround(size)) + QStringLiteral(" pt"));
        item->setCheckable(true);
        item->setChecked(size == size_);
        item->setActionGroup(sizes);
        connect(item, &QAction::triggered, this, [this, size] { setCaptionSize(size); });
    }

    menu_->addSeparator();
    menu_->addSection(menuText(localized("识别语言")));
    auto *languages = new QActionGroup(menu_);
    languages->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    std::vector<std::pair<QString, QString>> entries; // label, value
    entries.emplace_back(localized("跟随电台"), QStringLiteral("station"));
    const QStringList tags = radio_->captionLanguageCodes();
    const QStringList labels = languageLabels(tags);
    for (qsizetype i = 0; i < tags.size(); ++i)
        entries.emplace_back(labels[i], tags[i]);
    entries.emplace_back(localized("自动识别"), QStringLiteral("auto"));
    const QString current = radio_->language();
    for (const auto &[label, value] : entries) {
        QAction *item = menu_->addAction(menuText(label));
        item->setCheckable(true);
        item->setChecked(value == current);
        item->setData(value);
        item->setActionGroup(languages);
        connect(item, &QAction::triggered, this, [this, value = value] {
            radio_->setLanguage(value);
            menuRefresher_->schedule(); // the check mark follows the store, not the click
        });
    }
}

void CaptionDesk::refresh()
{
    const bool dark = Appearance::shared().dark();
    const bool deferred = radio_->captionsDeferred();
    const bool on = radio_->captionsOn();
    const bool failed = radio_->state() == RadioStore::State::Failed;

    title_->setText(localized("实时字幕"));

    switch_->setAccessibleName(localized("同步字幕"));
    switch_->setToolTip(localized("同步字幕"));
    if (switch_->isChecked() != on)
        switch_->setChecked(on);
    switch_->setEnabled(!deferred);

    const std::optional<Station> &current = radio_->current();
    const bool showPlaying = radio_->active() && current.has_value();
    if (showPlaying)
        playing_->setText(current->name);
    playing_->setVisible(showPlaying);

    const std::vector<Caption> &subtitles = radio_->subtitles();
    const bool empty = !on || deferred || subtitles.empty();
    if (empty) {
        const QString symbol = failed ? QStringLiteral("antenna.radiowaves.left.and.right.slash")
                                      : QStringLiteral("quote.opening");
        if (symbol != emptySymbol_) {
            const QColor tint = dark ? Studio::gold() : QColor::fromRgbF(0.42f, 0.53f, 0.46f);
            emptyIcon_->setPixmap(symbolPixmap(symbol, tint, 30, devicePixelRatioF()));
            emptyIcon_->setProperty("symbol", symbol);
            emptySymbol_ = symbol;
        }
        setLabelText(emptyLabel_, emptyText());
        if (failed) {
            const std::optional<DisplayMessage> &message = radio_->playbackMessage();
            setLabelText(failureLabel_, message ? message->text() : QString());
        }
        failureLabel_->setVisible(failed);
        body_->setCurrentWidget(emptyState_);
    } else {
        // The notice first: it takes height from the history.
        const QString notice = radio_->captionNotice();
        setLabelText(notice_, notice);
        notice_->setVisible(!notice.isEmpty());
        history_->setReducedMotion(Appearance::shared().reduceMotion());
        body_->setCurrentWidget(historyPage_);
        // Recognised in the chosen language, the captioned station's (not the
        // selected one's), or one detected.
        history_->setLanguage(radio_->captionsLanguage());
        history_->setCaptions(subtitles);
    }
}

} // namespace vantuli
