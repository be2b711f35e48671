#pragma once

#include "store/RadioStore.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QSystemTrayIcon;

namespace vantuli {

// The tray icon's tooltip: the product name, and while there is a station
// to act on, its name and the transport's status.
QString trayToolTip(const RadioStore &radio);
// The tray icon: the signal mark on a rounded tile of `trayTileColor()`,
// readable on light and dark panels, drawn at any size the tray asks for.
QIcon trayMarkIcon();
QColor trayTileColor();
// The application icon at the usual sizes, for every window, each size
// rendered when first asked for.
QIcon applicationIcon();

class AppMenus;
class FloatingCaptions;
class MprisMediaSession;
class RadioWindow;
class SettingsStore;
class SupportCatalog;
class TipStore;
class WindowRegistry;

// The application object: owns the run's one store, overlay controller and
// tip-jar catalogue, the windows by id ("main", "about", "support"), the
// menus, the tray icon and the desktop's player controls; keeps the
// interface language in step with the system.
class VantuliApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Settings of the store, the overlay and the window; null: the standard store.
        std::shared_ptr<SettingsStore> settings;
        // The store's dependencies (tests); absent: the production ones over `settings`.
        std::optional<RadioStore::Dependencies> dependencies;
        // The tip jar's store; null: the shipped one.
        std::shared_ptr<TipStore> tipStore;
        // How the application ends normally; null: QCoreApplication::quit.
        std::function<void()> quit;
        // Show an icon in the system tray where one exists.
        bool tray = true;
    };

    explicit VantuliApp(QObject *parent = nullptr);
    explicit VantuliApp(Options options, QObject *parent = nullptr);
    ~VantuliApp() override;

    RadioStore *radio() const { return radio_.get(); }
    FloatingCaptions *floating() const { return floating_; }
    SupportCatalog *support() const { return support_; }
    WindowRegistry *windows() const { return windows_; }
    AppMenus *menus() const { return menus_; }
    QSystemTrayIcon *trayIcon() const { return tray_; }
    // The main window, made on first use.
    RadioWindow *mainWindow();

    // Opens (or raises) a window by id.
    QWidget *open(const QString &id);
    // Switches the floating overlay on or off.
    void toggleFloating();
    // The overlay's translation request: main window to the front, then the
    // store's translation text and flag, after the current event.
    void translate(const QString &text);
    // The search command: main window first, then the search request.
    void search();
    // The archive command: main window first, then the archive sheet.
    void showArchive();
    // A link handed to the application: main window to the front, then the store.
    void openLink(const QUrl &url);
    void quit();

private:
    void installMediaHooks();
    void updateTray();

    std::shared_ptr<SettingsStore> settings_;
    std::function<void()> quit_;
    SupportCatalog *support_ = nullptr;
    std::unique_ptr<RadioStore> radio_;
    FloatingCaptions *floating_ = nullptr;
    std::shared_ptr<MediaSession> mediaSession_;
    WindowRegistry *windows_ = nullptr;
    AppMenus *menus_ = nullptr;
    QSystemTrayIcon *tray_ = nullptr;
};

} // namespace vantuli
