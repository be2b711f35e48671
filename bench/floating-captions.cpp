// Floating caption overlay benchmark: the real overlay on the running
// display (offscreen, or X11 under a window manager), following a store whose
// caption changes every 2 s while the playback position advances every
// 0.1 s, as a playing station's does. Prints the process's CPU time over the
// run (after a short warm-up) as a share of one core, with the same run without the overlay as the
// baseline. On X11 without a compositing manager the panel is shaped to its
// pixels on every page; run it with and without one (xcompmgr) for both modes.
//
//   bench_floating-captions [--seconds N]

#include "overlay/FloatingCaptions.h"
#include "overlay/OverlayPlatform.h"
#include "support/WidgetHarness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

using namespace vantuli;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the store's side (position every 0.1 s, a new caption every 2 s) for
// `seconds`, with or without the overlay; returns the CPU share of one core.
double run(double seconds, bool overlayOn, const char **mode = nullptr)
{
    test::WidgetHarness h;
    FloatingCaptions overlay(h.settings);
    if (mode)
        *mode = overlay.platform()->translucent() ? "translucent" : "shaped (no compositing manager)";
    FloatingCaptionStyle style = overlay.style();
    style.opacity = 50;
    overlay.update(style);
    if (overlayOn)
        overlay.show(h.store.get(), [](const QString &) {});

    const QStringList lines{QStringLiteral("今天的节目从一首老歌开始，我们一起回到八十年代的夏天。"),
                            QStringLiteral("The next train to the city leaves from platform four in ten minutes."),
                            QStringLiteral("天气预报说，明天下午会有雷阵雨，出门记得带伞。")};
    std::vector<Caption> shown;
    QElapsedTimer clock;
    int next = 0;
    QTimer position;
    position.setInterval(100);
    QObject::connect(&position, &QTimer::timeout, [&] {
        const double now = clock.elapsed() / 1000.0;
        if (now >= next * 2.0) {
            shown.push_back(test::caption(lines[next % lines.size()], next * 2.0, 1.9));
            ++next;
            h.probe->setSubtitles(shown);
        }
        h.probe->setPosition(now);
    });

    // Measured after a warm-up of two captions, so that loading the fonts
    // and making the window are left out.
    constexpr int warmUp = 4000;
    QApplication::processEvents();
    double start = 0;
    QElapsedTimer measured;
    clock.start();
    position.start();
    QTimer::singleShot(warmUp, qApp, [&] {
        start = cpuSeconds();
        measured.start();
    });
    QTimer::singleShot(warmUp + static_cast<int>(seconds * 1000), qApp, &QCoreApplication::quit);
    QApplication::exec();
    const double used = cpuSeconds() - start;
    const double wall = measured.elapsed() / 1000.0;
    overlay.hide();
    return used / wall;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 60;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
    }
    QApplication app(argc, argv);
    std::printf("platform %s, %.0f s each, caption every 2 s, position every 0.1 s\n",
                QGuiApplication::platformName().toUtf8().constData(), seconds);
    const double baseline = run(seconds, false);
    const char *mode = "";
    std::printf("without overlay: %.3f %% of a core\n", baseline * 100);
    const double with = run(seconds, true, &mode);
    std::printf("with overlay:    %.3f %% of a core, panel %s\n", with * 100, mode);
    std::printf("overlay's share: %.3f %% of a core\n", (with - baseline) * 100);
    return 0;
}
