// The caption panel's X11 layer on a real X server: a private Xvfb with
// openbox, started by this executable (the tests skip when none can start).

#include "OverlayTestSupport.h"

#include "overlay/FloatingCaptionCanvas.h"
#include "overlay/FloatingCaptions.h"
#include "overlay/OverlayPlatform.h"
#include "support/TestEnvironment.h"
#include "support/WidgetHarness.h"

#include <QApplication>
#include <QPalette>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

extern char **environ;

namespace vantuli::test {
namespace {

pid_t spawn(std::vector<std::string> argv, const posix_spawn_file_actions_t *actions = nullptr)
{
    std::vector<char *> args;
    for (std::string &arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, args[0], actions, nullptr, args.data(), environ) == 0 ? pid : 0;
}

void stop(pid_t &pid)
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    pid = 0;
}

// The X server, its window manager, and the application on it.
struct Session {
    pid_t server = 0;
    pid_t manager = 0;
    std::unique_ptr<QApplication> app;
    xcb_connection_t *x = nullptr;
    xcb_window_t root = 0;

    bool start(int &argc, char **argv)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        server = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        char c = 0;
        while (server && poll(&wait, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return false;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        x = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(x))
            return false;
        root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
        manager = spawn({"openbox", "--sm-disable"});
        // openbox lists its clients (none yet) at the end of its start-up;
        // map requests sent before then can be lost. The application starts
        // after, as on a desktop.
        for (int i = 0; manager && i < 500 && !hasProperty(root, "_NET_CLIENT_LIST"); ++i)
            QThread::msleep(20);
        if (!manager || !hasProperty(root, "_NET_CLIENT_LIST"))
            return false;
        app = std::make_unique<QApplication>(argc, argv);
        return true;
    }

    ~Session()
    {
        app.reset();
        if (x)
            xcb_disconnect(x);
        stop(manager);
        stop(server);
    }

    xcb_atom_t atom(const char *name) const
    {
        auto *reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }

    bool hasProperty(xcb_window_t window, const char *name) const
    {
        auto *reply = xcb_get_property_reply(x, xcb_get_property(x, 0, window, atom(name), XCB_ATOM_ANY, 0, 0), nullptr);
        const bool present = reply && reply->type != XCB_NONE;
        free(reply);
        return present;
    }

    std::vector<uint32_t> property(xcb_window_t window, const char *name) const
    {
        auto *reply =
            xcb_get_property_reply(x, xcb_get_property(x, 0, window, atom(name), XCB_ATOM_ANY, 0, 64), nullptr);
        std::vector<uint32_t> values;
        if (reply && reply->format == 32) {
            const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        free(reply);
        return values;
    }

    // Index of `window` (or of its top-level ancestor) in the root's stacking order, bottom first.
    int stackIndex(xcb_window_t window) const
    {
        for (;;) {
            auto *tree = xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr);
            if (!tree)
                return -1;
            const xcb_window_t parent = tree->parent;
            free(tree);
            if (parent == root || parent == XCB_NONE)
                break;
            window = parent;
        }
        auto *tree = xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr);
        int index = -1;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree); ++i) {
            if (children[i] == window)
                index = i;
        }
        free(tree);
        return index;
    }

    // The number of rectangles of a window's shape, -1 while it has none set.
    int shapeRectangles(xcb_window_t window, xcb_shape_kind_t kind) const
    {
        auto *extents = xcb_shape_query_extents_reply(x, xcb_shape_query_extents(x, window), nullptr);
        const bool shaped = extents && (kind == XCB_SHAPE_SK_BOUNDING ? extents->bounding_shaped : true);
        free(extents);
        if (!shaped)
            return -1;
        auto *rects = xcb_shape_get_rectangles_reply(x, xcb_shape_get_rectangles(x, window, kind), nullptr);
        const int count = rects ? rects->rectangles_len : -1;
        free(rects);
        return count;
    }

    QColor pixel(QPoint at) const
    {
        auto *image = xcb_get_image_reply(
            x, xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(at.x()), int16_t(at.y()), 1, 1, ~0u), nullptr);
        QColor colour;
        if (image && xcb_get_image_data_length(image) >= 4) {
            const uint8_t *p = xcb_get_image_data(image);
            colour = QColor(p[2], p[1], p[0]);
        }
        free(image);
        return colour;
    }
};

Session *session = nullptr;

TEST(OverlayX11Test, PanelStandsAboveAFullScreenWindowShapedWithoutACompositor)
{
    if (!session)
        GTEST_SKIP() << "no X server (Xvfb with openbox) could start";
    WidgetHarness h;
    auto platform = OverlayPlatform::forSession();
    ASSERT_EQ(platform->name(), QStringLiteral("x11"));
    ASSERT_FALSE(platform->translucent()); // no compositing manager yet

    // A focused full-screen window in a solid colour.
    const QColor red(200, 30, 30);
    QWidget full;
    QPalette palette;
    palette.setColor(QPalette::Window, red);
    full.setPalette(palette);
    full.setAutoFillBackground(true);
    // On a loaded machine a window manager fresh from its start-up can drop
    // the first map request; a second showing is what a person would see.
    bool shown = false;
    for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
        full.hide();
        full.showFullScreen();
        full.activateWindow();
        shown = eventually([&] { return session->pixel(QPoint(640, 400)) == red; }, 8000);
    }
    ASSERT_TRUE(shown) << session->pixel(QPoint(640, 400)).name().toStdString();

    FloatingCaptions overlay(h.settings, nullptr, platform);
    h.probe->setSubtitles({caption(QStringLiteral("Caption 字幕"), 0, 60)});
    overlay.show(h.store.get(), {});
    const auto panel = static_cast<xcb_window_t>(overlay.panel()->winId());
    const auto fullWindow = static_cast<xcb_window_t>(full.winId());
    auto onTop = [&] { return session->stackIndex(panel) > session->stackIndex(fullWindow); };
    ASSERT_TRUE(eventually([&] { return overlay.panel()->isVisible() && onTop(); }));
    // Pushed below the full-screen window (as another unmanaged window may
    // do), it is back on top by the next caption at the latest.
    const uint32_t below = XCB_STACK_MODE_BELOW;
    xcb_configure_window(session->x, panel, XCB_CONFIG_WINDOW_STACK_MODE, &below);
    xcb_flush(session->x);
    ASSERT_TRUE(eventually([&] { return !onTop(); }));
    h.probe->setSubtitles({caption(QStringLiteral("Next caption"), 0, 60)});
    EXPECT_TRUE(eventually(onTop));

    // Unmanaged, on every desktop, out of taskbars and pagers.
    auto *attributes = xcb_get_window_attributes_reply(session->x, xcb_get_window_attributes(session->x, panel), nullptr);
    ASSERT_TRUE(attributes);
    EXPECT_TRUE(attributes->override_redirect);
    free(attributes);
    const std::vector<uint32_t> states = session->property(panel, "_NET_WM_STATE");
    for (const char *state : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR"})
        EXPECT_NE(std::find(states.begin(), states.end(), session->atom(state)), states.end()) << state;
    EXPECT_EQ(session->property(panel, "_NET_WM_DESKTOP"), std::vector<uint32_t>{0xFFFFFFFF});

    // Shaped to its pixels: the screen shows through beside the text, not black.
    const QRect frame = overlay.panel()->geometry();
    const QPoint beside = frame.topLeft() + QPoint(3, frame.height() / 2);
    EXPECT_GT(session->shapeRectangles(panel, XCB_SHAPE_SK_BOUNDING), 0);
    EXPECT_TRUE(eventually([&] { return session->pixel(beside) == red; })) << session->pixel(beside).name().toStdString();

    // Click-through empties the input shape.
    FloatingCaptionStyle style = overlay.style();
    style.clickThrough = true;
    overlay.update(style);
    EXPECT_TRUE(eventually([&] { return session->shapeRectangles(panel, XCB_SHAPE_SK_INPUT) == 0; }));
    style.clickThrough = false;
    overlay.update(style);
    EXPECT_TRUE(eventually([&] { return session->shapeRectangles(panel, XCB_SHAPE_SK_INPUT) > 0; }));

    // A compositing manager arriving and leaving while it runs.
    pid_t compositor = spawn({"xcompmgr"});
    if (!compositor)
        GTEST_SKIP() << "xcompmgr is not installed";
    EXPECT_TRUE(eventually([&] { return platform->translucent(); }));
    EXPECT_TRUE(eventually([&] { return session->shapeRectangles(panel, XCB_SHAPE_SK_BOUNDING) == -1; }));
    stop(compositor);
    EXPECT_TRUE(eventually([&] { return !platform->translucent(); }));
    EXPECT_TRUE(eventually([&] { return session->shapeRectangles(panel, XCB_SHAPE_SK_BOUNDING) > 0; }));
    overlay.hide();
}

} // namespace
} // namespace vantuli::test

int main(int argc, char **argv)
{
    vantuli::test::useTestEnvironment(); // the session then moves the platform to xcb
    ::testing::InitGoogleTest(&argc, argv);
    auto session = std::make_unique<vantuli::test::Session>();
    if (!::testing::GTEST_FLAG(list_tests) && session->start(argc, argv))
        vantuli::test::session = session.get();
    const int result = RUN_ALL_TESTS();
    vantuli::test::session = nullptr;
    return result;
}
