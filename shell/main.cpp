#include "shell/CommandLine.h"
#include "shell/RadioWindow.h"
#include "shell/SingleInstance.h"
#include "shell/VantuliApp.h"
#include "overlay/FloatingCaptions.h"
#include "streaming/LiveStream.h"
#include "look/Appearance.h"
#include "look/FocusRing.h"
#include "platform/MainThread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QUrl>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// `vantuli --play <url>`: plays one station from the terminal with captions
// off and prints what the stream reports, until the run ends. Ctrl-C (or a
// termination signal) ends it like any other end: with the summary.
int play(int argc, char **argv, const QString &address)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantuli"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantuli"));
    const QUrl url = QUrl::fromUserInput(address);
    if (!url.isValid() || url.scheme().isEmpty()) {
        std::fprintf(stderr, "vantuli: not a URL: %s\n", address.toLocal8Bit().constData());
        return 2;
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
            char byte = 0;
            while (::read(signalPipe[0], &byte, 1) > 0) {
            }
            QCoreApplication::exit(130);
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaction(signal, &action, nullptr);
    }

    vantuli::PlaybackStream::Parameters parameters;
    parameters.event = [](const vantuli::StreamEvent &event) {
        switch (event.kind) {
        case vantuli::StreamEvent::Kind::Answered:
            std::printf("answered\n");
            break;
        case vantuli::StreamEvent::Kind::Playing:
            std::printf("playing\n");
            break;
        case vantuli::StreamEvent::Kind::Position:
            std::printf("\rposition %8.1f s played, %5.1f s buffered", event.played, event.buffered);
            break;
        case vantuli::StreamEvent::Kind::Failed: {
            // The message is localised on the main thread, then the run ends.
            vantuli::MainThread::post([message = event.message] {
                const QString text = message ? message->text() : QString();
                std::printf("\nfailed: %s\n", text.toLocal8Bit().constData());
                QCoreApplication::exit(1);
            });
            break;
        }
        }
        std::fflush(stdout);
    };
    vantuli::LiveStream stream(std::move(parameters));
    stream.start(url, 1.0f, vantuli::StreamConfiguration{});
    const int code = app.exec();
    stream.stop();
    const vantuli::StreamTransfer transfer = stream.transfer();
    std::printf("\n%lld bytes received\n", static_cast<long long>(transfer.bytes));
    std::fflush(stdout);
    return code == 130 ? 0 : code;
}

bool displayReachable()
{
    int screen = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screen);
    const bool reachable = connection && xcb_connection_has_error(connection) == 0;
    if (connection)
        xcb_disconnect(connection);
    return reachable;
}

// With VANTULI_REPORT_FIRST_PAINT=1, "phase NAME MONOTONIC CPU" marks each
// step of start-up on standard output: the monotonic clock and the process's
// processor time so far, in milliseconds (the start-up benchmark splits the
// time between launch and first paint with them).
void reportPhase(const char *name)
{
    static const bool reporting = qEnvironmentVariableIntValue("VANTULI_REPORT_FIRST_PAINT") == 1;
    if (!reporting)
        return;
    timespec now{};
    timespec cpu{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    std::printf("phase %s %.3f %.3f\n", name, double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6,
                double(cpu.tv_sec) * 1e3 + double(cpu.tv_nsec) / 1e6);
    std::fflush(stdout);
}

// VANTULI_REPORT_FIRST_PAINT=1 prints "first-paint" on standard output once
// the main window has painted (the start-up benchmark waits for it).
class FirstPaintReporter final : public QObject {
public:
    explicit FirstPaintReporter(QWidget *window) : window_(window) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() && window_ &&
            static_cast<QWidget *>(watched)->window() == window_) {
            qApp->removeEventFilter(this);
            QMetaObject::invokeMethod(this, [] {
                reportPhase("painted");
                std::printf("first-paint\n");
                std::fflush(stdout);
            }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
};

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const vantuli::CommandLine line = vantuli::CommandLine::parse(arguments);
    switch (line.mode) {
    case vantuli::CommandLine::Mode::Help:
        std::fputs(vantuli::CommandLine::usage().toLocal8Bit().constData(), stdout);
        return 0;
    case vantuli::CommandLine::Mode::Version:
        std::printf("Vantuli %s\n", VANTULI_VERSION);
        return 0;
    case vantuli::CommandLine::Mode::Error:
        std::fprintf(stderr, "vantuli: %s\n\n%s", line.error.toLocal8Bit().constData(),
                     vantuli::CommandLine::usage().toLocal8Bit().constData());
        return 2;
    case vantuli::CommandLine::Mode::Play:
        return play(argc, argv, line.playAddress);
    case vantuli::CommandLine::Mode::Window:
        break;
    }

    reportPhase("main");
    vantuli::preferX11ForOverlay(argc, argv);
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    const bool x11 = platform.startsWith(QLatin1String("xcb")) || (platform.isEmpty() && wayland.isEmpty());
    const QString missing =
        vantuli::missingDisplay(platform, display, wayland, x11 && !display.isEmpty() ? displayReachable() : false);
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "vantuli: %s; the window needs a graphical session (try --play URL in a terminal)\n",
                     missing.toLocal8Bit().constData());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantuli"));
    QApplication::setApplicationName(QStringLiteral("Vantuli"));
    QApplication::setApplicationVersion(QStringLiteral(VANTULI_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantuli"));
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
    // The Studio look for every window: the scheme's palette, the focus ring.
    vantuli::Appearance::shared();
    vantuli::FocusRing::install();

    // One instance at a time: a later launch hands its links over and ends.
    vantuli::SingleInstance instance;
    switch (instance.claim(line.links)) {
    case vantuli::SingleInstance::Claim::First:
        break;
    case vantuli::SingleInstance::Claim::HandedOver:
        return 0;
    case vantuli::SingleInstance::Claim::Unanswered:
        std::fprintf(stderr, "vantuli: another instance holds %s but does not answer\n",
                     instance.channelName().toLocal8Bit().constData());
        return 1;
    case vantuli::SingleInstance::Claim::Unguarded:
        std::fprintf(stderr, "vantuli: no session bus and no private runtime or cache folder; "
                             "running without the single-instance guard\n");
        break;
    }

    reportPhase("application");
    vantuli::VantuliApp vantuliApp;
    reportPhase("store");
    QObject::connect(&instance, &vantuli::SingleInstance::activationRequested, &vantuliApp,
                     [&vantuliApp] { vantuliApp.open(QStringLiteral("main")); });
    QObject::connect(&instance, &vantuli::SingleInstance::linkReceived, &vantuliApp,
                     [&vantuliApp](const QUrl &url) { vantuliApp.openLink(url); });
    // Quitting can take seconds (recognition ends last): a launch meanwhile
    // runs itself rather than hand its request to an application that goes.
    QObject::connect(vantuliApp.radio(), &vantuli::RadioStore::terminating, &instance,
                     &vantuli::SingleInstance::release);

    QWidget *window = vantuliApp.open(QStringLiteral("main"));
    reportPhase("window");
    std::unique_ptr<FirstPaintReporter> reporter;
    if (qEnvironmentVariableIntValue("VANTULI_REPORT_FIRST_PAINT") == 1)
        reporter = std::make_unique<FirstPaintReporter>(window);
    for (const QString &link : line.links) {
        const QUrl url(link, QUrl::StrictMode);
        if (url.isValid())
            vantuliApp.openLink(url);
    }
    return app.exec();
}
