#pragma once

#include <QRegion>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace vantuli {

// What the window system does for the caption panel: order it in and out
// without taking focus, keep it above other windows on every workspace, let
// mouse events through, and move it with the pointer.
//
// The base class is plain Qt and serves every session (Wayland included,
// where the compositor decides about stacking and placement); the X11 layer
// adds the window manager states.
class OverlayPlatform {
public:
    virtual ~OverlayPlatform() = default;

    // The layer for this session: X11 under xcb, plain Qt otherwise.
    static std::shared_ptr<OverlayPlatform> forSession();

    // Called once on the new panel, before its window exists.
    virtual void prepare(QWidget *panel) {}
    // Shows the panel above other windows without activating the application.
    virtual void orderFront(QWidget *panel);
    // Puts the shown panel back on top (a new caption arrived).
    virtual void raise(QWidget *panel);
    virtual void orderOut(QWidget *panel);
    // Mouse events pass to the windows below while on.
    virtual void setClickThrough(QWidget *panel, bool on);
    // Lets the window system move the panel with the pointer (a press is
    // down); false when the caller must follow the pointer itself.
    virtual bool beginMove(QWidget *panel);
    // A name for logs and reports.
    virtual QString name() const { return QStringLiteral("qt"); }

    // Whether the window system blends the panel's translucent pixels with
    // what lies below. Where it does not (X11 without a compositing manager)
    // they show black, and the panel is shaped to the pixels it draws.
    virtual bool translucent() const { return true; }
    // Limits the panel to `drawn` (device pixels of the panel) while it is
    // not translucent; nothing shapes it to the whole window again.
    virtual void shape(QWidget *panel, const std::optional<QRegion> &drawn) {}
    // Called on the main thread whenever translucent() changes.
    void onTranslucencyChanged(std::function<void()> changed) { translucencyChanged_ = std::move(changed); }

protected:
    void announceTranslucency()
    {
        if (translucencyChanged_)
            translucencyChanged_();
    }

private:
    std::function<void()> translucencyChanged_;
};

// The X11 layer. Window managers put a focused full-screen window above
// every "keep above" window (openbox, KWin), so the panel is not managed at
// all (override-redirect): like a tooltip it shows on every workspace, never
// in a taskbar, never takes focus, stays where it is put and stands above
// full-screen windows; it is raised again with each new caption. Its
// _NET_WM_STATE (sticky, above, skip-taskbar, skip-pager), _NET_WM_DESKTOP
// (all) and window type (notification) are set through xcb for pagers and
// compositors. The window manager cannot move an unmanaged window: the
// canvas follows the pointer itself.
//
// Translucency needs a compositing manager, the owner of the screen's
// _NET_WM_CM_Sn selection. XFixes reports each change of owner, so the
// panel switches between per-pixel translucency and the X Shape bounding
// region while it runs.
class X11OverlayPlatform : public OverlayPlatform {
public:
    // Null when the application does not run on xcb.
    static std::shared_ptr<X11OverlayPlatform> make();
    ~X11OverlayPlatform() override;

    void prepare(QWidget *panel) override;
    void orderFront(QWidget *panel) override;
    bool beginMove(QWidget *) override { return false; }
    QString name() const override { return QStringLiteral("x11"); }
    bool translucent() const override;
    void shape(QWidget *panel, const std::optional<QRegion> &drawn) override;

private:
    X11OverlayPlatform() = default;
    struct Atoms;
    class Watch;
    std::shared_ptr<Atoms> atoms_;
    std::unique_ptr<Watch> watch_;
    // The bounding shape is set (not the whole window).
    bool shaped_ = false;
};

// For tests: never asks the window system for anything beyond Qt's own
// show and hide; counts the moves asked for and keeps the last shape.
class NullOverlayPlatform : public OverlayPlatform {
public:
    bool beginMove(QWidget *) override
    {
        ++moves;
        return true;
    }
    QString name() const override { return QStringLiteral("null"); }
    bool translucent() const override { return translucent_; }
    void shape(QWidget *, const std::optional<QRegion> &drawn) override { shaped = drawn; }
    // As a compositing manager starting (true) or leaving (false).
    void setTranslucent(bool on)
    {
        translucent_ = on;
        announceTranslucency();
    }
    int moves = 0;
    std::optional<QRegion> shaped;

private:
    bool translucent_ = true;
};

} // namespace vantuli
