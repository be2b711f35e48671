#include "shell/VantuliApp.h"

#include "look/Icons.h"
#include "look/Refresher.h"
#include "shell/AboutWindow.h"
#include "shell/AppMenus.h"
#include "shell/RadioWindow.h"
#include "shell/WindowRegistry.h"
#include "overlay/FloatingCaptions.h"
#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "store/MprisMediaSession.h"
#include "tipjar/SupportCatalog.h"
#include "tipjar/SupportView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace vantuli {

namespace {

// The windows go at once when the application ends; the store's last
// checkpoint, the settings and the end of recognition follow unseen.
void hideWindows()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            window->hide();
    }
}

// Escape and Ctrl+W close a secondary window, as its close button does.
void closeOnKeys(QWidget *window)
{
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *shortcut = new QShortcut(keys, window);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

} // namespace

QString trayToolTip(const RadioStore &radio)
{
    const std::optional<Station> station = radio.transportStation();
    if (!station)
        return QStringLiteral("Vantuli");
    return QStringLiteral("Vantuli\n%1 \u2014 %2").arg(station->name, radio.status());
}

namespace {

// The signal mark on a rounded tile, drawn afresh at whatever size the tray
// asks for. The panel's tone cannot be read, so neither a dark nor a light
// glyph would do: the tile is a mid tone of the brand's teal that stands off
// white and near-black panels alike, and the light mark stands off the tile.
class TrayMarkEngine final : public QIconEngine {
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(rect.width(), rect.height());
        if (side <= 0)
            return;
        const QRectF square(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0, side, side);
        // Room for the rounded edge's antialiasing, then the mark inset on the tile.
        const QRectF tile = square.adjusted(side / 32.0, side / 32.0, -side / 32.0, -side / 32.0);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(trayTileColor());
        painter->drawRoundedRect(tile, tile.width() * 0.22, tile.height() * 0.22);
        const int mark = qRound(tile.width() * 0.8);
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap signal = artwork(QStringLiteral("MenuSignal"), QSize(mark, mark), ratio);
        painter->drawPixmap(QRectF(tile.center() - QPointF(mark / 2.0, mark / 2.0), QSizeF(mark, mark)), signal,
                            QRectF(signal.rect()));
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, pixmap.rect(), mode, state);
        return pixmap;
    }

    // The sizes offered to a tray that takes a list of images.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine *clone() const override { return new TrayMarkEngine; }
    QString key() const override { return QStringLiteral("VantuliTrayMark"); }
};

// One of our artworks as an icon of the given sizes, each rendered from the
// SVG only when it is first asked for (a window system takes a window's icon
// when the window is made, some never), then kept.
class ArtworkIconEngine final : public QIconEngine {
public:
    ArtworkIconEngine(QString name, QList<QSize> sizes) : name_(std::move(name)), sizes_(std::move(sizes)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        if (size.isEmpty())
            return {};
        const quint64 key = (quint64(quint32(size.width())) << 32) | quint32(size.height());
        auto found = rendered_.constFind(key);
        if (found == rendered_.constEnd())
            found = rendered_.insert(key, artwork(name_, size));
        return *found;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return sizes_; }

    QIconEngine *clone() const override
    {
        auto *copy = new ArtworkIconEngine(name_, sizes_);
        copy->rendered_ = rendered_;
        return copy;
    }
    QString key() const override { return QStringLiteral("VantuliArtwork"); }

private:
    QString name_;
    QList<QSize> sizes_;
    QHash<quint64, QPixmap> rendered_;
};

} // namespace

QColor trayTileColor()
{
    return QColor(0x1a, 0x7f, 0x86);
}

QIcon trayMarkIcon()
{
    return QIcon(new TrayMarkEngine);
}

QIcon applicationIcon()
{
    QList<QSize> sizes;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        sizes.append(QSize(side, side));
    return QIcon(new ArtworkIconEngine(QStringLiteral("AppIcon"), sizes));
}

VantuliApp::VantuliApp(QObject *parent) : VantuliApp(Options{}, parent) {}

VantuliApp::VantuliApp(Options options, QObject *parent)
    : QObject(parent), settings_(options.settings ? options.settings : SettingsStore::standard()),
      quit_(options.quit ? std::move(options.quit) : std::function<void()>([] { QCoreApplication::quit(); }))
{
    // Every window's title bar and task-bar entry carries the application icon.
    QApplication::setWindowIcon(applicationIcon());

    // The tip jar first, its listener running for the whole run.
    support_ = new SupportCatalog(options.tipStore ? options.tipStore : shippedTipStore(), this);
    support_->watch();

    // The store and the overlay controller, once, before any window.
    RadioStore::Dependencies dependencies = options.dependencies ? std::move(*options.dependencies)
                                                                 : RadioStore::Dependencies{};
    if (!options.dependencies)
        dependencies.defaults = settings_;
    if (!dependencies.mediaSession)
        dependencies.mediaSession = MediaSession::makeDefault();
    mediaSession_ = dependencies.mediaSession;
    radio_ = std::make_unique<RadioStore>(std::move(dependencies));
    connect(radio_.get(), &RadioStore::terminating, this, [] { hideWindows(); });
    floating_ = new FloatingCaptions(settings_, this);

    // The interface language follows the system: every activation asks again
    // (there is no locale-change event to listen to).
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            L10n::shared().refresh();
    });

    menus_ = new AppMenus(radio_.get(), floating_,
                          AppMenus::Commands{
                              [this] { open(QStringLiteral("about")); },
                              [this] { showArchive(); },
                              [this] { search(); },
                              [this] { open(QStringLiteral("support")); },
                              [this] { open(QStringLiteral("main")); },
                              [this] { quit(); },
                              [this] { toggleFloating(); },
                          },
                          this);

    windows_ = new WindowRegistry(this);
    windows_->add(QStringLiteral("main"), [this]() -> QWidget * {
        auto *window = new RadioWindow(radio_.get(), floating_, support_, [this] { toggleFloating(); }, settings_);
        menus_->install(window->menuBar());
        return window;
    });
    windows_->add(QStringLiteral("about"), [this]() -> QWidget * {
        auto *window = new AboutVantuliView;
        closeOnKeys(window);
        // Opens centred on the main window, when that is on screen.
        if (QWidget *main = windows_->window(QStringLiteral("main")); main && main->isVisible()) {
            window->ensurePolished();
            window->adjustSize();
            QRect frame = window->frameGeometry();
            frame.moveCenter(main->frameGeometry().center());
            window->move(frame.topLeft());
        }
        return window;
    });
    windows_->add(QStringLiteral("support"), [this]() -> QWidget * {
        auto *window = new QWidget;
        window->setObjectName(QStringLiteral("support"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        auto *view = new SupportView(support_, window);
        layout->addWidget(view);
        connect(view, &SupportView::done, window, &QWidget::close);
        closeOnKeys(window);
        auto title = [window] { window->setWindowTitle(L10n::shared().text(QStringLiteral("支持 Vantuli"))); };
        connect(&L10n::shared(), &L10n::didChange, window, title);
        title();
        return window;
    });

    if (options.tray && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(menus_->trayMenu());
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                open(QStringLiteral("main"));
        });
        auto *refresh = new Refresher([this] { updateTray(); }, this);
        for (auto signal : {&RadioStore::selectedChanged, &RadioStore::currentChanged, &RadioStore::stateChanged,
                            &RadioStore::playbackMessageChanged, &RadioStore::bufferSecondsChanged})
            connect(radio_.get(), signal, refresh, &Refresher::schedule);
        connect(&L10n::shared(), &L10n::didChange, refresh, &Refresher::schedule);
        tray_->setIcon(trayMarkIcon());
        updateTray();
        tray_->show();
    }
    // Without a tray, closing the last window ends the application.
    QGuiApplication::setQuitOnLastWindowClosed(tray_ == nullptr);

    installMediaHooks();
}

VantuliApp::~VantuliApp()
{
    if (auto *session = dynamic_cast<MprisMediaSession *>(mediaSession_.get()))
        session->setApplicationHooks({});
    delete windows_;
    windows_ = nullptr;
    if (floating_)
        floating_->hide();
}

RadioWindow *VantuliApp::mainWindow()
{
    if (auto *window = qobject_cast<RadioWindow *>(windows_->window(QStringLiteral("main"))))
        return window;
    auto *window = qobject_cast<RadioWindow *>(windows_->open(QStringLiteral("main")));
    return window;
}

QWidget *VantuliApp::open(const QString &id)
{
    return windows_->open(id);
}

void VantuliApp::toggleFloating()
{
    if (floating_->enabled()) {
        floating_->hide();
        return;
    }
    floating_->show(radio_.get(), [this](const QString &text) { translate(text); });
}

void VantuliApp::translate(const QString &text)
{
    open(QStringLiteral("main"));
    QPointer<RadioStore> radio(radio_.get());
    QMetaObject::invokeMethod(this, [radio, text] {
        if (!radio)
            return;
        radio->setTranslationText(text);
        radio->setTranslating(true);
    }, Qt::QueuedConnection);
}

void VantuliApp::search()
{
    if (auto *window = qobject_cast<RadioWindow *>(open(QStringLiteral("main"))))
        window->requestSearch();
}

void VantuliApp::showArchive()
{
    open(QStringLiteral("main"));
    radio_->setArchiveVisible(true);
}

void VantuliApp::openLink(const QUrl &url)
{
    if (auto *window = qobject_cast<RadioWindow *>(open(QStringLiteral("main"))))
        window->openLink(url);
}

void VantuliApp::quit()
{
    hideWindows();
    quit_();
}

void VantuliApp::updateTray()
{
    tray_->setToolTip(trayToolTip(*radio_));
}

void VantuliApp::installMediaHooks()
{
    auto *session = dynamic_cast<MprisMediaSession *>(mediaSession_.get());
    if (!session)
        return;
    QPointer<VantuliApp> self(this);
    MprisMediaSession::ApplicationHooks hooks;
    hooks.desktopEntry = QStringLiteral("vantuli");
    hooks.raise = [self] {
        if (self)
            self->open(QStringLiteral("main"));
    };
    hooks.quit = [self] {
        if (self)
            self->quit();
    };
    hooks.volume = [self] { return self ? self->radio_->volume() : 1.0; };
    hooks.setVolume = [self](double volume) {
        if (self)
            self->radio_->setVolume(volume);
    };
    hooks.canPlay = [self] { return self && self->radio_->transportStation().has_value(); };
    session->setApplicationHooks(std::move(hooks));
    connect(radio_.get(), &RadioStore::volumeChanged, this, [session] { session->volumeChanged(); });
    for (auto signal : {&RadioStore::selectedChanged, &RadioStore::currentChanged, &RadioStore::stateChanged})
        connect(radio_.get(), signal, this, [session] { session->canPlayChanged(); });
}

} // namespace vantuli
