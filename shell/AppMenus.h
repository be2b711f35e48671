#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;

namespace vantuli {

class AppLanguageMenu;
class FloatingCaptions;
class RadioStore;
class Refresher;

// Ampersands in action texts mark mnemonics: written twice they show as one.
QString actionText(QString text);

// Gives the texts of one menu (or menu bar) distinct keyboard mnemonics, in
// the order asked: the first letter of a text in a cased script (Latin,
// Cyrillic, Greek) that no earlier text took, else the hint letter appended
// as " (&X)" in the way of Chinese, Japanese and Korean menus.
class Mnemonics {
public:
    QString operator()(const QString &text, QChar hint);

private:
    QString used_;
};

// The overlay controls, one set of actions shown in the "字幕" menu and in
// the tray menu: the show/close toggle (Ctrl+Shift+C, enabled by the same rule
// under which the overlay would show), and while the overlay is on its
// appearance menu and the click-through switch.
struct OverlayControls {
    QAction *toggle = nullptr;
    QAction *appearance = nullptr;
    QAction *clickThrough = nullptr;
};

// The widest a station's name is shown in the tray menu, in pixels.
constexpr int trayNameWidth = 320;

// Fills the tray menu: now playing, featured stations, favourites and recent
// stations (those two only when not empty; recent cut to 10 before the ids
// are resolved), the overlay controls, open and quit. Long station names are
// cut short, whole in their items' tooltips: in the menu itself now, in each
// submenu when it is about to show.
void fillTrayMenu(QMenu &menu, RadioStore &radio, const OverlayControls &overlay, QAction *open, QAction *quit);

// The application's commands and menus. The actions live as long as this
// object; menus are rebuilt or relabelled whenever what they show changes
// (the tray menu when it is next about to show, or at once while it shows).
class AppMenus : public QObject {
    Q_OBJECT

public:
    struct Commands {
        std::function<void()> about;
        std::function<void()> archive;
        std::function<void()> search;
        std::function<void()> support;
        std::function<void()> openMain;
        std::function<void()> quit;
        std::function<void()> toggleFloating;
    };

    AppMenus(RadioStore *radio, FloatingCaptions *floating, Commands commands, QObject *parent = nullptr);
    ~AppMenus() override;

    // The main window's menu bar: "Vantuli" and "字幕".
    void install(QMenuBar *bar);
    QMenu *trayMenu() const { return tray_; }
    const OverlayControls &overlayControls() const { return overlay_; }
    QAction *searchAction() const { return search_; }
    QAction *archiveAction() const { return archive_; }

    // Runs pending rebuilds now (tests). The tray menu is filled when it is
    // about to show.
    void flush();

private:
    void updateOverlay();
    void updateTexts();
    void trayChanged();
    void rebuildTray();

    RadioStore *radio_;
    FloatingCaptions *floating_;
    Commands commands_;
    OverlayControls overlay_;
    QAction *about_;
    QAction *archive_;
    QAction *search_;
    QAction *support_;
    QAction *open_;
    QAction *quit_;
    QMenuBar *bar_ = nullptr;
    QMenu *appMenu_ = nullptr;
    QMenu *captionMenu_ = nullptr;
    AppLanguageMenu *languageMenu_ = nullptr;
    QMenu *tray_;
    Refresher *overlayRefresh_;
    Refresher *trayRefresh_;
    Refresher *textRefresh_;
    bool trayStale_ = true;
};

} // namespace vantuli
