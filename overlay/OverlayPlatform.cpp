#include "overlay/OverlayPlatform.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <array>

namespace vantuli {

void OverlayPlatform::orderFront(QWidget *panel)
{
    panel->show();
    panel->raise();
}

void OverlayPlatform::raise(QWidget *panel)
{
    panel->raise();
}

void OverlayPlatform::orderOut(QWidget *panel)
{
    panel->hide();
}

void OverlayPlatform::setClickThrough(QWidget *panel, bool on)
{
    const Qt::WindowFlags flags = panel->windowFlags();
    const Qt::WindowFlags wanted = on ? flags | Qt::WindowTransparentForInput : flags & ~Qt::WindowTransparentForInput;
    if (wanted == flags)
        return;
    // Changed in place: QWidget::setWindowFlags would hide and recreate the window.
    panel->overrideWindowFlags(wanted);
    if (QWindow *window = panel->windowHandle())
        window->setFlags(wanted);
}

bool OverlayPlatform::beginMove(QWidget *panel)
{
    QWindow *window = panel->windowHandle();
    return window && window->startSystemMove();
}

std::shared_ptr<OverlayPlatform> OverlayPlatform::forSession()
{
    if (auto x11 = X11OverlayPlatform::make())
        return x11;
    return std::make_shared<OverlayPlatform>();
}

// ---- X11 ----

struct X11OverlayPlatform::Atoms {
    xcb_connection_t *connection = nullptr;
    xcb_atom_t state = 0;
    xcb_atom_t desktop = 0;
    xcb_atom_t type = 0;
    xcb_atom_t notification = 0;
    // Written to _NET_WM_STATE.
    std::array<xcb_atom_t, 4> states{};
};

namespace {

constexpr quint32 allDesktops = 0xFFFFFFFF;

xcb_atom_t intern(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(qstrlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

} // namespace

std::shared_ptr<X11OverlayPlatform> X11OverlayPlatform::make()
{
    auto *native = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!native || !native->connection())
        return nullptr;
    auto atoms = std::make_shared<Atoms>();
    atoms->connection = native->connection();
    atoms->state = intern(atoms->connection, "_NET_WM_STATE");
    atoms->desktop = intern(atoms->connection, "_NET_WM_DESKTOP");
    atoms->type = intern(atoms->connection, "_NET_WM_WINDOW_TYPE");
    atoms->notification = intern(atoms->connection, "_NET_WM_WINDOW_TYPE_NOTIFICATION");
    atoms->states = {intern(atoms->connection, "_NET_WM_STATE_STICKY"),
                     intern(atoms->connection, "_NET_WM_STATE_ABOVE"),
                     intern(atoms->connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                     intern(atoms->connection, "_NET_WM_STATE_SKIP_PAGER")};
    std::shared_ptr<X11OverlayPlatform> platform(new X11OverlayPlatform);
    platform->atoms_ = std::move(atoms);
    return platform;
}

void X11OverlayPlatform::prepare(QWidget *panel)
{
    panel->setWindowFlag(Qt::X11BypassWindowManagerHint, true);
}

void X11OverlayPlatform::orderFront(QWidget *panel)
{
    const Atoms &a = *atoms_;
    const auto window = static_cast<xcb_window_t>(panel->winId());
    if (!panel->isVisible()) {
        xcb_change_property(a.connection, XCB_PROP_MODE_REPLACE, window, a.state, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(a.states.size()), a.states.data());
        xcb_change_property(a.connection, XCB_PROP_MODE_REPLACE, window, a.desktop, XCB_ATOM_CARDINAL, 32, 1,
                            &allDesktops);
        xcb_change_property(a.connection, XCB_PROP_MODE_REPLACE, window, a.type, XCB_ATOM_ATOM, 32, 1,
                            &a.notification);
        xcb_flush(a.connection);
    }
    OverlayPlatform::orderFront(panel);
}

} // namespace vantuli
