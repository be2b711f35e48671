#include "shell/VantuliApp.h"

#include "look/Appearance.h"
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

QIcon trayIconFor(bool darkPanel)
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = artwork(QStringLiteral("MenuSignal"), QSize(side, side));
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), darkPanel ? QColor(0xf5, 0xf5, 0xf5) : QColor(0x24, 0x24, 0x24));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

VantuliApp::VantuliApp(QObject *parent) : VantuliApp(Options{}, parent) {}

VantuliApp::VantuliApp(Options options, QObject *parent)
    : QObject(parent), settings_(options.settings ? options.settings : SettingsStore::standard()),
      quit_(options.quit ? std::move(options.quit) : std::function<void()>([] { QCoreApplication::quit(); }))
{
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
        connect(&Appearance::shared(), &Appearance::schemeChanged, refresh, &Refresher::schedule);
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
    // The panel's own colour cannot be read; it follows the desktop's scheme.
    const bool dark = Appearance::shared().dark();
    if (trayDark_ != dark) {
        trayDark_ = dark;
        tray_->setIcon(trayIconFor(dark));
    }
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
