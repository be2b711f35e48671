#include "overlay/OverlayPlatform.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <array>
#include <vector>

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
    // The compositing manager's selection, _NET_WM_CM_Sn of the screen.
    xcb_atom_t compositor = 0;
    bool shapes = false; // the server has the Shape extension
    bool composited = true;
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

// The screen number of the display the application runs on ("host:0.1" is 1).
int screenNumber()
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const qsizetype dot = display.indexOf('.', colon + 1);
    return colon >= 0 && dot > colon ? display.mid(dot + 1).toInt() : 0;
}

xcb_screen_t *screenAt(xcb_connection_t *connection, int number)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; it.rem > 0; xcb_screen_next(&it), ++i) {
        if (i == number)
            return it.data;
    }
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
}

bool ownerPresent(xcb_connection_t *connection, xcb_atom_t selection)
{
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool present = reply && reply->owner != XCB_NONE;
    free(reply);
    return present;
}

} // namespace

// Follows the owner of the compositing manager's selection through the
// XFixes notifications that reach the application's event stream.
class X11OverlayPlatform::Watch : public QAbstractNativeEventFilter {
public:
    Watch(X11OverlayPlatform &platform, uint8_t firstEvent) : platform_(platform), notify_(firstEvent + XCB_XFIXES_SELECTION_NOTIFY)
    {
        qGuiApp->installNativeEventFilter(this);
    }
    ~Watch() override
    {
        if (qGuiApp)
            qGuiApp->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & ~0x80) != notify_)
            return false;
        const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
        Atoms &a = *platform_.atoms_;
        if (notify->selection != a.compositor)
            return false;
        const bool composited = notify->owner != XCB_NONE;
        if (composited != a.composited) {
            a.composited = composited;
            platform_.announceTranslucency();
        }
        return false; // Qt follows the same selection
    }

private:
    X11OverlayPlatform &platform_;
    uint8_t notify_;
};

X11OverlayPlatform::~X11OverlayPlatform() = default;

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
    atoms->compositor = intern(atoms->connection, QByteArray("_NET_WM_CM_S" + QByteArray::number(screenNumber())));
    atoms->composited = ownerPresent(atoms->connection, atoms->compositor);
    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(atoms->connection, &xcb_shape_id);
    atoms->shapes = shape && shape->present;

    std::shared_ptr<X11OverlayPlatform> platform(new X11OverlayPlatform);
    platform->atoms_ = atoms;
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(atoms->connection, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        free(xcb_xfixes_query_version_reply(atoms->connection, xcb_xfixes_query_version(atoms->connection, 5, 0), nullptr));
        const xcb_window_t root = screenAt(atoms->connection, screenNumber())->root;
        xcb_xfixes_select_selection_input(atoms->connection, root, atoms->compositor,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(atoms->connection);
        platform->watch_ = std::make_unique<Watch>(*platform, xfixes->first_event);
        // A compositing manager may have come or gone before the selection was watched.
        atoms->composited = ownerPresent(atoms->connection, atoms->compositor);
    }
    return platform;
}

bool X11OverlayPlatform::translucent() const
{
    return atoms_->composited || !atoms_->shapes;
}

void X11OverlayPlatform::shape(QWidget *panel, const std::optional<QRegion> &drawn)
{
    const Atoms &a = *atoms_;
    if (!a.shapes || (!drawn && !shaped_))
        return;
    const auto window = static_cast<xcb_window_t>(panel->winId());
    if (drawn) {
        std::vector<xcb_rectangle_t> rectangles;
        rectangles.reserve(static_cast<std::size_t>(drawn->rectCount()));
        for (const QRect &r : *drawn)
            rectangles.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()),
                                  static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())});
        xcb_shape_rectangles(a.connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window,
                             0, 0, static_cast<uint32_t>(rectangles.size()), rectangles.data());
    } else {
        xcb_shape_mask(a.connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_PIXMAP_NONE);
    }
    shaped_ = drawn.has_value();
    xcb_flush(a.connection);
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
