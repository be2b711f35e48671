#include "shell/VantuliApp.h"

#include "look/Icons.h"
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

} // namespace

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
    windows_->add(QStringLiteral("about"), [] { return new AboutVantuliView; });
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
        auto title = [window] { window->setWindowTitle(L10n::shared().text(QStringLiteral("支持 Vantuli"))); };
        connect(&L10n::shared(), &L10n::didChange, window, title);
        title();
        return window;
    });

    if (options.tray && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(QIcon(artwork(QStringLiteral("MenuSignal"), QSize(22, 22))), this);
        tray_->setToolTip(QStringLiteral("Vantuli"));
        tray_->setContextMenu(menus_->trayMenu());
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                open(QStringLiteral("main"));
        });
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
