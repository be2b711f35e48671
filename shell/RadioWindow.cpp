#include "shell/RadioWindow.h"

#include "column/CaptionDesk.h"
#include "column/PlayerTransport.h"
#include "column/StationMasthead.h"
#include "look/Appearance.h"
#include "look/Icons.h"
#include "look/Refresher.h"
#include "look/SheetBinder.h"
#include "look/StudioButton.h"
#include "shell/AppLanguageMenu.h"
#include "shell/TranslationPanel.h"
#include "directory/StationDirectory.h"
#include "overlay/FloatingCaptions.h"
#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "sheets/ArchiveView.h"
#include "sheets/ScheduleView.h"
#include "store/RadioStore.h"
#include "tipjar/SupportView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QEvent>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace vantuli {

namespace {

// Window colours by scheme.
QColor windowText(bool dark)
{
    return dark ? QColor::fromRgbF(0.94f, 0.94f, 0.89f) : QColor::fromRgbF(0.08f, 0.17f, 0.17f);
}

QColor windowBackground(bool dark)
{
    return dark ? QColor::fromRgbF(0.075f, 0.11f, 0.12f) : QColor::fromRgbF(0.971f, 0.964f, 0.94f);
}

// The artwork clipped to a rounded square.
QPixmap roundedArtwork(const QString &name, int side, qreal radius, qreal ratio)
{
    const QPixmap art = artwork(name, QSize(side, side), ratio);
    QPixmap rounded(QSize(side, side) * ratio);
    rounded.setDevicePixelRatio(ratio);
    rounded.fill(Qt::transparent);
    QPainter painter(&rounded);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, side, side), radius, radius);
    painter.setClipPath(clip);
    painter.drawPixmap(QRect(0, 0, side, side), art);
    return rounded;
}

// A vertical line 15 px tall with 3 px of space on each side.
class HeaderDivider final : public QWidget {
public:
    explicit HeaderDivider(QWidget *parent) : QWidget(parent) { setFixedSize(7, 15); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.2f);
        painter.fillRect(QRect(3, 0, 1, height()), line);
    }
};

// A horizontal line across the window under the header.
class HeaderRule final : public QWidget {
public:
    explicit HeaderRule(QWidget *parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.14f);
        painter.fillRect(rect(), line);
    }
};

int itemGap = 4;

} // namespace

// The content area below the header: lays out the directory column and the
// station column itself, from its own width and height.
class ContentArea final : public QWidget {
public:
    explicit ContentArea(RadioWindow *window, QWidget *parent) : QWidget(parent), window_(window) {}

    double reveal = 1; // 0 hidden ... 1 shown

    void place()
    {
        const int width = this->width();
        const int height = this->height();
        const int columnWidth = directoryColumnWidth(width);
        const int offset = static_cast<int>(std::lround(columnWidth * reveal));
        if (StationDirectory *directory = window_->directory_)
            directory->setGeometry(offset - columnWidth, 0, columnWidth, height);
        const int stationWidth = width - offset;
        int top = 0;
        if (StationMasthead *masthead = window_->masthead_) {
            const int mast = mastheadHeight(height);
            masthead->setGeometry(offset, 0, stationWidth, mast);
            top = mast;
        }
        PlayerTransport *transport = window_->transport_;
        const int bar = transport->hasHeightForWidth() ? transport->heightForWidth(stationWidth)
                                                      : transport->sizeHint().height();
        const int barHeight = std::clamp(bar, 0, std::max(0, height - top));
        transport->setGeometry(offset, height - barHeight, stationWidth, barHeight);
        window_->desk_->setGeometry(offset, top, stationWidth, std::max(0, height - barHeight - top));

        if (TranslationPanel *panel = window_->translation_; panel && !panel->isHidden()) {
            const int panelWidth = std::min(460, std::max(0, width - 32));
            const int panelHeight = std::min(panel->hasHeightForWidth() ? panel->heightForWidth(panelWidth)
                                                                        : panel->sizeHint().height(),
                                             std::max(0, height - 24));
            panel->setGeometry((width - panelWidth) / 2, 12, panelWidth, panelHeight);
            panel->raise();
        }
    }

protected:
    void resizeEvent(QResizeEvent *) override { place(); }

private:
    RadioWindow *window_;
};

bool storedDirectoryVisible(const SettingsStore &settings)
{
    // A readable boolean, else the default (shown). Numbers other than
    // 0 and 1, and anything unreadable, fall back too.
    const std::optional<QVariant> raw = settings.value(QString::fromLatin1(directoryVisibleKey));
    if (!raw)
        return true;
    if (raw->typeId() == QMetaType::Double || raw->typeId() == QMetaType::Float) {
        const double number = raw->toDouble();
        return number == 0 ? false : true;
    }
    return settings.boolean(QString::fromLatin1(directoryVisibleKey)).value_or(true);
}

int directoryColumnWidth(int width)
{
    return std::clamp(static_cast<int>(std::lround(width * 0.275)), 232, 300);
}

int mastheadHeight(int height)
{
    return std::clamp(static_cast<int>(std::lround(height * 0.28)), 143, 195);
}

RadioWindow::RadioWindow(RadioStore *radio, FloatingCaptions *floating, SupportCatalog *support,
                         std::function<void()> toggleFloating, std::shared_ptr<SettingsStore> settings,
                         QWidget *parent)
    : QMainWindow(parent), radio_(radio), floating_(floating), support_(support),
      toggleFloating_(std::move(toggleFloating)), settings_(std::move(settings))
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Vantuli"));
    showDirectory_ = storedDirectoryVisible(*settings_);

    root_ = new QWidget(this);
    root_->setObjectName(QStringLiteral("windowRoot"));
    root_->setAutoFillBackground(true);
    root_->setMinimumSize(720, 510);
    auto *column = new QVBoxLayout(root_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    header_ = new QWidget(root_);
    header_->setObjectName(QStringLiteral("headerBar"));
    buildHeader(header_);
    column->addWidget(header_);
    column->addWidget(new HeaderRule(root_));
    auto *content = new ContentArea(this, root_);
    content->setObjectName(QStringLiteral("contentArea"));
    content_ = content;
    column->addWidget(content_, 1);
    setCentralWidget(root_);

    desk_ = new CaptionDesk(radio_, settings_, content_);
    transport_ = new PlayerTransport(radio_, content_);
    translation_ = new TranslationPanel(radio_, content_);
    translation_->installEventFilter(this);
    content->reveal = showDirectory_ ? 1 : 0;
    updateDirectory();
    updateMasthead();
    connect(radio_, &RadioStore::selectedChanged, this, &RadioWindow::updateMasthead);

    reveal_ = new QVariantAnimation(this);
    reveal_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(reveal_, &QVariantAnimation::valueChanged, this, [content](const QVariant &value) {
        content->reveal = value.toDouble();
        content->place();
    });
    connect(reveal_, &QVariantAnimation::finished, this, [this] { updateDirectory(); });

    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), this);
    connect(shortcut, &QShortcut::activated, this, &RadioWindow::toggleDirectory);

    bindSheets();

    texts_ = new Refresher([this] { updateTexts(); }, this);
    connect(&L10n::shared(), &L10n::didChange, texts_, &Refresher::schedule);
    connect(&Appearance::shared(), &Appearance::schemeChanged, this, &RadioWindow::applyScheme);
    applyScheme();
    updateTexts();

    // F10 opens the first menu of the menu bar; its menus then move with the arrows.
    auto *menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this, [this] {
        if (!menuBar()->actions().isEmpty())
            menuBar()->setActiveAction(menuBar()->actions().constFirst());
    });

    // The size and place of the last run, else the default size. Unreadable
    // or foreign data leaves the default; Qt keeps a restored window on a screen.
    const std::optional<QVariant> geometry = settings_->value(QString::fromLatin1(windowGeometryKey));
    if (!geometry || !restoreGeometry(QByteArray::fromBase64(geometry->toString().toLatin1())))
        resize(1040, 690);
    // Kept a moment after each move or resize (a drag makes many), when the
    // window is hidden or closed, and at quit after the store's own write-out.
    geometrySave_ = new QTimer(this);
    geometrySave_->setSingleShot(true);
    geometrySave_->setInterval(500);
    connect(geometrySave_, &QTimer::timeout, this, &RadioWindow::saveGeometryToSettings);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible())
            saveGeometryToSettings();
        settings_->sync();
    });
}

RadioWindow::~RadioWindow()
{
    if (isVisible())
        saveGeometryToSettings();
}

void RadioWindow::saveGeometryToSettings()
{
    settings_->setValue(QString::fromLatin1(windowGeometryKey), QString::fromLatin1(saveGeometry().toBase64()));
}

void RadioWindow::moveEvent(QMoveEvent *event)
{
    if (isVisible())
        geometrySave_->start();
    QMainWindow::moveEvent(event);
}

void RadioWindow::resizeEvent(QResizeEvent *event)
{
    if (isVisible())
        geometrySave_->start();
    QMainWindow::resizeEvent(event);
}

void RadioWindow::hideEvent(QHideEvent *event)
{
    // Closed, hidden at quit or minimised: the place is kept for the next run.
    saveGeometryToSettings();
    QMainWindow::hideEvent(event);
}

void RadioWindow::buildHeader(QWidget *header)
{
    header->setMinimumHeight(42);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(14, 3, 14, 3);
    row->setSpacing(9);

    artwork_ = new QLabel(header);
    artwork_->setFixedSize(21, 21);
    artwork_->setPixmap(roundedArtwork(QStringLiteral("RadioCover"), 21, 5, devicePixelRatioF()));
    artwork_->setAccessibleName(QString());

    title_ = new QLabel(QStringLiteral("Vantuli"), header);
    title_->setObjectName(QStringLiteral("windowTitle"));
    title_->setTextFormat(Qt::PlainText);
    QFont titleFont = font();
    titleFont.setPixelSize(15);
    titleFont.setBold(true);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.45);
    title_->setFont(titleFont);
    title_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    toggle_ = new StudioButton(QColor(), Qt::transparent, 7, header);
    toggle_->setObjectName(QStringLiteral("toggleDirectory"));
    toggle_->setFocusPolicy(Qt::TabFocus);
    connect(toggle_, &QAbstractButton::clicked, this, &RadioWindow::toggleDirectory);

    toolbar_ = new HeaderToolbar(radio_, floating_, toggleFloating_, header);

    row->addWidget(artwork_);
    row->addWidget(title_);
    row->addWidget(new HeaderDivider(header));
    row->addWidget(toggle_);
    row->addItem(new QSpacerItem(8, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(toolbar_);
}

void RadioWindow::setShowDirectory(bool show, bool animated)
{
    auto *content = static_cast<ContentArea *>(content_);
    const bool changed = show != showDirectory_;
    showDirectory_ = show;
    settings_->setValue(QString::fromLatin1(directoryVisibleKey), show);
    if (!changed)
        return;
    toggle_->setAccessibleName(QString());
    updateTexts();
    if (show)
        updateDirectory(); // the new panel enters from the leading edge
    const double target = show ? 1 : 0;
    reveal_->stop();
    if (!animated || Appearance::shared().reduceMotion() || !isVisible()) {
        content->reveal = target;
        updateDirectory();
        content->place();
        return;
    }
    reveal_->setStartValue(content->reveal);
    reveal_->setEndValue(target);
    reveal_->start();
}

void RadioWindow::toggleDirectory()
{
    reveal_->setDuration(240);
    setShowDirectory(!showDirectory_);
}

void RadioWindow::requestSearch()
{
    reveal_->setDuration(200);
    setShowDirectory(true);
    ++searchRequest_;
    if (directory_)
        directory_->setSearchRequest(searchRequest_);
}

void RadioWindow::openLink(const QUrl &url)
{
    radio_->openStationLink(url);
}

StationDirectory *RadioWindow::directory() const
{
    return directory_;
}

StationMasthead *RadioWindow::masthead() const
{
    return masthead_;
}

QDialog *RadioWindow::sheet(const QString &name) const
{
    if (name == QLatin1String("schedule"))
        return schedule_;
    if (name == QLatin1String("support"))
        return supportSheet_;
    if (name == QLatin1String("archive"))
        return archive_;
    return nullptr;
}

void RadioWindow::updateDirectory()
{
    auto *content = static_cast<ContentArea *>(content_);
    const bool present = showDirectory_ || content->reveal > 0;
    if (present && !directory_) {
        directory_ = new StationDirectory(radio_, searchRequest_, content_);
        connect(directory_, &StationDirectory::searchRequestChanged, this,
                [this](int request) { searchRequest_ = request; });
        directory_->show();
    } else if (!present && directory_) {
        delete directory_.data(); // a later reveal builds a fresh panel
    }
    content->place();
}

void RadioWindow::updateMasthead()
{
    const bool selected = radio_->selected().has_value();
    if (selected && !masthead_) {
        masthead_ = new StationMasthead(radio_, content_);
        masthead_->show();
    } else if (!selected && masthead_) {
        delete masthead_.data();
    }
    static_cast<ContentArea *>(content_)->place();
}

void RadioWindow::updateTexts()
{
    L10n &l10n = L10n::shared();
    const QString label = l10n.text(showDirectory_ ? QStringLiteral("收起目录") : QStringLiteral("展开目录"));
    toggle_->setAccessibleName(label);
    toggle_->setToolTip((label + QStringLiteral(" (Ctrl+Alt+S)")).toHtmlEscaped());
    toolbar_->updateTexts();
}

void RadioWindow::applyScheme()
{
    const bool dark = Appearance::shared().dark();
    const QColor text = windowText(dark);
    QPalette palette = root_->palette();
    palette.setColor(QPalette::Window, windowBackground(dark));
    palette.setColor(QPalette::Base, windowBackground(dark));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, text);
    root_->setPalette(palette);
    toggle_->setForeground(text);
    toggle_->setIcon(symbolIcon(QStringLiteral("sidebar.left"), text));
    toolbar_->setForeground(text);
}

void RadioWindow::bindSheets()
{
    // Each sheet is made when its flag is set (so the schedule starts at the
    // current time every time) and dropped once closed.
    auto attach = [this](QPointer<QDialog> &slot, bool (RadioStore::*get)() const, void (RadioStore::*set)(bool),
                         void (RadioStore::*changed)(), std::function<QDialog *()> make) {
        auto open = [this, &slot, get, set, changed, make] {
            if (!(radio_->*get)() || slot)
                return;
            QDialog *dialog = make();
            slot = dialog;
            // Closed: the slot is free at once and the dialog no longer follows
            // the flag (a new one will), then it goes. Connected before the
            // binder's own handler, which clears the flag.
            connect(dialog, &QDialog::finished, this, [this, &slot, dialog] {
                if (slot == dialog)
                    slot = nullptr;
                disconnect(radio_, nullptr, dialog, nullptr);
                dialog->deleteLater();
            });
            bindSheet(dialog, radio_, get, set, changed);
        };
        connect(radio_, changed, this, open);
        open();
    };
    attach(schedule_, &RadioStore::scheduleVisible, &RadioStore::setScheduleVisible,
           &RadioStore::scheduleVisibleChanged, [this] {
               auto *view = new ScheduleView(radio_, QDateTime::currentDateTime(), true, this);
               view->setObjectName(QStringLiteral("scheduleSheet"));
               return view;
           });
    attach(supportSheet_, &RadioStore::supportVisible, &RadioStore::setSupportVisible,
           &RadioStore::supportVisibleChanged, [this] {
               auto *dialog = new QDialog(this);
               dialog->setObjectName(QStringLiteral("supportSheet"));
               dialog->setWindowTitle(L10n::shared().text(QStringLiteral("支持 Vantuli")));
               auto *layout = new QVBoxLayout(dialog);
               layout->setContentsMargins(0, 0, 0, 0);
               auto *view = new SupportView(support_, dialog);
               layout->addWidget(view);
               connect(view, &SupportView::done, dialog, &QDialog::reject);
               return dialog;
           });
    attach(archive_, &RadioStore::archiveVisible, &RadioStore::setArchiveVisible,
           &RadioStore::archiveVisibleChanged, [this] {
               auto *view = new ArchiveView(radio_, this);
               view->setObjectName(QStringLiteral("archiveSheet"));
               return view;
           });
}

bool RadioWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == translation_ &&
        (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest))
        QMetaObject::invokeMethod(this, [this] { static_cast<ContentArea *>(content_)->place(); },
                                  Qt::QueuedConnection);
    return QMainWindow::eventFilter(watched, event);
}

void RadioWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        // The artwork's pixel ratio may change with the screen.
        artwork_->setPixmap(roundedArtwork(QStringLiteral("RadioCover"), 21, 5, devicePixelRatioF()));
    }
    QMainWindow::changeEvent(event);
}

bool RadioWindow::focusNextPrevChild(bool next)
{
    // Tab follows the reading order: header, directory, masthead, caption
    // desk, transport, then the translation panel laid over them. Inside each
    // part its own focus chain holds, so controls a part makes later (a
    // masthead for a new station, a rebuilt directory) still fall in place.
    QHash<QWidget *, int> chain;
    int index = 0;
    for (QWidget *widget = nextInFocusChain(); widget != this && index < 100000; widget = widget->nextInFocusChain())
        chain.insert(widget, index++);
    QList<QWidget *> order;
    for (QWidget *part : {header_, static_cast<QWidget *>(directory_.data()), static_cast<QWidget *>(masthead_.data()),
                          static_cast<QWidget *>(desk_), static_cast<QWidget *>(transport_),
                          static_cast<QWidget *>(translation_)}) {
        if (!part)
            continue;
        QList<QWidget *> controls;
        for (QWidget *widget : part->findChildren<QWidget *>()) {
            if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && widget->window() == this &&
                widget->isVisible() && widget->isEnabled())
                controls << widget;
        }
        std::stable_sort(controls.begin(), controls.end(),
                         [&chain](QWidget *a, QWidget *b) { return chain.value(a) < chain.value(b); });
        order += controls;
    }
    QWidget *focus = QApplication::focusWidget();
    while (focus && focus->focusProxy())
        focus = focus->focusProxy();
    const qsizetype at = order.indexOf(focus);
    if (order.isEmpty() || at < 0)
        return QMainWindow::focusNextPrevChild(next);
    const qsizetype count = order.size();
    order[(at + (next ? 1 : count - 1)) % count]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// ---- Toolbar ----

HeaderToolbar::HeaderToolbar(RadioStore *radio, FloatingCaptions *floating, std::function<void()> toggleFloating,
                             QWidget *parent)
    : QWidget(parent), radio_(radio), floating_(floating)
{
    setObjectName(QStringLiteral("headerToolbar"));
    auto make = [this](const char *name) {
        auto *button = new StudioButton(QColor(), Qt::transparent, 7, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setFocusPolicy(Qt::TabFocus);
        // Toolbar labels are never cut: a row that does not fit takes two rows.
        button->setElideMode(Qt::ElideNone);
        return button;
    };
    overlay_ = make("toolbarOverlay");
    schedule_ = make("toolbarSchedule");
    support_ = make("toolbarSupport");
    language_ = make("toolbarLanguage");
    listening_ = {overlay_, schedule_};
    app_ = {support_, language_};

    connect(overlay_, &QAbstractButton::clicked, this, [toggleFloating] {
        if (toggleFloating)
            toggleFloating();
    });
    connect(schedule_, &QAbstractButton::clicked, this, [this] { radio_->setScheduleVisible(true); });
    connect(support_, &QAbstractButton::clicked, this, [this] { radio_->setSupportVisible(true); });
    auto *menu = new AppLanguageMenu(this);
    connect(language_, &QAbstractButton::clicked, this,
            [this, menu] { menu->popup(language_->mapToGlobal(QPoint(0, language_->height()))); });

    auto *overlayState = new Refresher([this] { updateOverlay(); }, this);
    for (auto signal : {&RadioStore::captionsOnChanged, &RadioStore::selectedChanged, &RadioStore::currentChanged,
                        &RadioStore::stateChanged, &RadioStore::languageChanged})
        connect(radio_, signal, overlayState, &Refresher::schedule);
    if (floating_)
        connect(floating_, &FloatingCaptions::enabledChanged, overlayState, &Refresher::schedule);
    updateTexts();
}

QAbstractButton *HeaderToolbar::overlayButton() const
{
    return overlay_;
}

void HeaderToolbar::setForeground(const QColor &color)
{
    foreground_ = color;
    overlay_->setIcon(symbolIcon(QStringLiteral("pip"), color));
    schedule_->setIcon(symbolIcon(QStringLiteral("calendar.badge.clock"), color));
    support_->setIcon(symbolIcon(QStringLiteral("heart"), color));
    language_->setIcon(symbolIcon(QStringLiteral("globe"), color));
    for (StudioButton *button : {overlay_, schedule_, support_, language_})
        button->setForeground(color);
}

void HeaderToolbar::updateTexts()
{
    L10n &l10n = L10n::shared();
    schedule_->setText(l10n.text(QStringLiteral("广播日程")));
    support_->setText(l10n.text(QStringLiteral("支持 Vantuli")));
    language_->setText(l10n.text(QStringLiteral("界面语言")));
    language_->setAccessibleName(l10n.text(QStringLiteral("界面语言")));
    updateOverlay();
    updateGeometry();
    arrange();
}

void HeaderToolbar::updateOverlay()
{
    const bool on = floating_ && floating_->enabled();
    overlay_->setText(L10n::shared().text(on ? QStringLiteral("关闭浮窗") : QStringLiteral("字幕浮窗")));
    overlay_->setEnabled(on || (radio_->captionsOn() && !radio_->captionsDeferred()));
    updateGeometry();
    arrange();
}

QSize HeaderToolbar::groupSize(const QList<QWidget *> &items) const
{
    int width = 0;
    int height = 0;
    for (QWidget *item : items) {
        const QSize hint = item->sizeHint();
        width += hint.width();
        height = std::max(height, hint.height());
    }
    width += itemGap * (static_cast<int>(items.size()) - 1);
    return {width, height};
}

QSize HeaderToolbar::sizeHint() const
{
    const QSize first = groupSize(listening_);
    const QSize second = groupSize(app_);
    const int height = twoRows_ ? first.height() + second.height() : std::max(first.height(), second.height());
    return {first.width() + itemGap + second.width(), height};
}

QSize HeaderToolbar::minimumSizeHint() const
{
    const QSize first = groupSize(listening_);
    const QSize second = groupSize(app_);
    const int height = twoRows_ ? first.height() + second.height() : std::max(first.height(), second.height());
    return {std::max(first.width(), second.width()), height};
}

void HeaderToolbar::resizeEvent(QResizeEvent *)
{
    arrange();
}

bool HeaderToolbar::event(QEvent *event)
{
    // A button's size changed (its text, its font once polished): the header
    // measures again and the buttons are placed again.
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::ChildPolished:
    case QEvent::FontChange:
    case QEvent::Show:
        updateGeometry();
        arrange();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void HeaderToolbar::arrange()
{
    const QSize first = groupSize(listening_);
    const QSize second = groupSize(app_);
    const int oneRow = first.width() + itemGap + second.width();
    const bool twoRows = width() < oneRow;
    if (twoRows != twoRows_) {
        twoRows_ = twoRows;
        updateGeometry(); // the header takes the new height
    }
    auto placeRow = [this](const QList<QWidget *> &items, int right, int top, int rowHeight) {
        int x = right;
        for (auto it = items.crbegin(); it != items.crend(); ++it) {
            const QSize hint = (*it)->sizeHint();
            x -= hint.width();
            (*it)->setGeometry(x, top + (rowHeight - hint.height()) / 2, hint.width(), hint.height());
            x -= itemGap;
        }
    };
    if (twoRows_) {
        placeRow(listening_, width(), 0, first.height());
        placeRow(app_, width(), first.height(), second.height());
    } else {
        const int rowHeight = std::max(first.height(), second.height());
        const int top = (height() - rowHeight) / 2;
        placeRow(app_, width(), top, rowHeight);
        placeRow(listening_, width() - second.width() - itemGap, top, rowHeight);
    }
}

} // namespace vantuli
