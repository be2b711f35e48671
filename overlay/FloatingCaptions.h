#pragma once

#include "overlay/FloatingCaptionStyle.h"
#include "records/Caption.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QTimer;

namespace vantuli {

class CaptionPanel;
class CaptionScreens;
class FloatingCaptionCanvas;
class OverlayPlatform;
class RadioStore;
class SettingsStore;

// The floating caption overlay: shows the newest live caption of the radio
// store in a small frameless panel above every other window, pages it with
// the playback position, places the panel on a screen and remembers where
// the user put it. Lives on the main thread for the whole run.
class FloatingCaptions : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled NOTIFY enabledChanged)

public:
    using Translate = std::function<void(const QString &)>;

    static constexpr const char *frameKey = "floatingCaptionFrame";
    // Seconds a caption stays up after its end.
    static constexpr double linger = 2.0;
    static constexpr int tickMilliseconds = 150;

    explicit FloatingCaptions(std::shared_ptr<SettingsStore> defaults, QObject *parent = nullptr);
    // With the screens and the window-system layer given (tests).
    FloatingCaptions(std::shared_ptr<SettingsStore> defaults, std::shared_ptr<CaptionScreens> screens,
                     std::shared_ptr<OverlayPlatform> platform, QObject *parent = nullptr);
    ~FloatingCaptions() override;

    bool enabled() const { return enabled_; }
    const FloatingCaptionStyle &style() const { return style_; }

    // Switches the overlay on for this store; does nothing when it is on
    // already, when captions are off or deferred for the station's language.
    void show(RadioStore *radio, Translate translate);
    // Switches the overlay off.
    void hide();
    // Pops the overlay menu up at the mouse pointer (later, on the event loop).
    void openMenu();
    // Makes `style` the current style, saves it and re-lays out the panel.
    void update(const FloatingCaptionStyle &style);

    // ---- Internals, reachable for the canvas, the menu and tests ----
    // The overlay menu for the current style and caption (owned by the caller).
    QMenu *makeMenu(QWidget *parent = nullptr);
    // The newest caption arrived (or none).
    void display(const std::optional<Caption> &caption);
    // One presentation tick: page or hide by the playback position.
    void updatePresentation();
    // Lays out and places the panel; a corner moves it there.
    void refresh(std::optional<CaptionCorner> corner);
    // The panel was moved; a move by the user is saved.
    void panelMoved();

    CaptionPanel *panel() const { return panel_; }
    FloatingCaptionCanvas *canvas() const { return canvas_; }
    const std::optional<Caption> &cue() const { return cue_; }
    bool timerRunning() const;
    std::shared_ptr<OverlayPlatform> platform() const { return platform_; }

    // Where a panel of `size` goes in `area`: at `corner`; else keeping the
    // edges of `saved` nearer the area's edges; else bottom right. Always
    // inside the area, a panel taller than it on its bottom edge.
    static QRect place(const std::optional<QRect> &saved, const QRect &area, QSize size,
                       std::optional<CaptionCorner> corner);
    // The saved frame's text, "{{x, y}, {w, h}}" in screen pixels (y down).
    static QString frameString(const QRect &frame);
    // A frame that does not parse, is not finite or has no area is absent.
    static std::optional<QRect> parseFrame(const QString &text);

signals:
    void enabledChanged();
    void styleChanged();

private:
    void setEnabled(bool enabled);
    void updateLanguage();
    void orderFront();
    void orderOut();
    bool panelVisible() const;
    // The screen area that shows most of `rect`; the primary one without a rect.
    std::optional<QRect> screenArea(const std::optional<QRect> &rect) const;

    std::shared_ptr<SettingsStore> defaults_;
    std::shared_ptr<CaptionScreens> screens_;
    std::shared_ptr<OverlayPlatform> platform_;
    bool enabled_ = false;
    FloatingCaptionStyle style_;
    QMetaObject::Connection interfaceLanguageChanges_;
    CaptionPanel *panel_ = nullptr;
    FloatingCaptionCanvas *canvas_ = nullptr;
    QPointer<RadioStore> radio_;
    Translate translate_;
    std::vector<QMetaObject::Connection> subscriptions_;
    QTimer *timer_ = nullptr;
    std::optional<Caption> cue_;
    bool adjustingFrame_ = false;
    QRect placed_; // the frame refresh() last gave the panel
    bool shown_ = false;
};

// Qt picks Wayland when both a Wayland and an X display are there; Wayland
// cannot keep the overlay above other windows nor place it. Call before the
// QApplication is made: it chooses xcb in that case unless the user chose a
// platform (QT_QPA_PLATFORM or -platform). Returns whether it did.
bool preferX11ForOverlay(int argc, char **argv);

} // namespace vantuli
