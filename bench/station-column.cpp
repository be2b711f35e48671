// Station column benchmark: the masthead, caption desk and transport bar in a
// visible window on the real store, playing spoken phrases (espeak-ng, MP3)
// from a local HTTPS server at real time, with a recogniser that answers at
// once (one caption over each speech window, as bench_caption-sync --instant).
//
// It reports the CPU time of the whole process over N seconds of playback
// (user + system, as a share of one core; the HTTPS server runs in the same
// process) with captions off and with captions on, each with and without the
// three views, so that the views' own share shows; the views alone on a store
// driven as a playing one drives them (no stream); and the time from the
// store announcing a new caption to the desk laid out and painted, at size 46.
// Targets: under 3 % of a core with captions off; a new caption painted
// within one 16 ms frame.
//
//   bench_station-column [--seconds N] [--frame-only]
//
// Run it on a display (Xvfb is enough); without one it uses the offscreen
// platform, which still paints every frame into its backing store.

#include "BenchSupport.h"
#include "column/CaptionDesk.h"
#include "column/CaptionHistory.h"
#include "column/PlayerTransport.h"
#include "column/StationMasthead.h"
#include "captioning/LocalASR.h"
#include "captioning/RadioRecognizer.h"
#include "platform/SettingsStore.h"
#include "store/RadioStore.h"
#include "streaming/PlaybackStream.h"
#include "support/HttpsTestServer.h"
#include "support/SpeechAudio.h"
#include "support/TestSupport.h"
#include "support/WidgetHarness.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <functional>
#include <cstdio>
#include <memory>
#include <vector>

using namespace vantuli;

namespace {

const char *phrases[] = {
    "The morning news begins at seven.",
    "Traffic is light on the northern bridge.",
    "A cold front moves in from the sea tonight.",
    "Our next guest has travelled from the mountains.",
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

QByteArray spokenMp3(double seconds)
{
    std::vector<float> track = test::silenceSamples(1.0);
    for (size_t i = 0; double(track.size()) / 16000.0 < seconds; ++i) {
        const std::vector<float> clip = test::speechSamples(QString::fromLatin1(phrases[i % 4]));
        if (clip.empty())
            return {};
        test::appendSamples(track, clip);
        test::appendSamples(track, test::silenceSamples(0.6));
    }
    return test::liveMp3(track);
}

class InstantRecognizer final : public SpeechRecognizer {
public:
    std::vector<RecognizedSegment> segmentsForSamples(const float *, qsizetype count, const QString &) override
    {
        return {{QStringLiteral("Traffic is light on the northern bridge tonight."), 0.0, double(count) / 16000.0}};
    }
};

// Runs the event loop for `milliseconds` as the application's own loop runs
// (asleep until something is due), not in a polling wait that would add its
// own wake-ups to the figure; `arm` may connect what ends it early.
void runLoop(int milliseconds, const std::function<void(QEventLoop &)> &arm = {})
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    if (arm)
        arm(loop);
    loop.exec();
}

struct Run {
    double cpu = 0;   // share of one core
    int captions = 0; // captions shown
    bool played = false;
};

// The station column as the main window stacks it: masthead, caption desk, transport.
std::unique_ptr<QWidget> showColumn(RadioStore &store, const std::shared_ptr<SettingsStore> &settings)
{
    auto window = std::make_unique<QWidget>();
    auto *column = new QVBoxLayout(window.get());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *masthead = new StationMasthead(&store);
    masthead->setFixedHeight(220);
    column->addWidget(masthead);
    column->addWidget(new CaptionDesk(&store, settings), 1);
    column->addWidget(new PlayerTransport(&store));
    window->resize(760, 690);
    window->show();
    return window;
}

Run play(const QByteArray &mp3, double seconds, bool captions, bool views)
{
    test::HttpsTestServer server;
    const qint64 burst = 32000;
    const qint64 perTick = 800; // 50 ms at 128 kb/s
    server.serve(QStringLiteral("/live"), [&mp3, burst, perTick](const test::HttpsTestServer::Request &) {
        return test::HttpsTestServer::Response::streamed(
            "audio/mpeg",
            [&mp3, burst, perTick](qint64 index) -> QByteArray {
                const qint64 from = index == 0 ? 0 : burst + (index - 1) * perTick;
                return from >= mp3.size() ? QByteArray() : mp3.mid(from, index == 0 ? burst : perTick);
            },
            50);
    });
    const QString catalog = bench::oneStationCatalog(
        QDir(test::temporaryFolder()).filePath(QStringLiteral("column-catalog.json")),
        server.url(QStringLiteral("/live")).toString());
    auto settings = std::make_shared<MemorySettingsStore>();
    settings->setValue(QStringLiteral("captions"), captions);
    settings->setValue(QStringLiteral("subtitleSize"), 32);
    RadioStore::Dependencies d;
    d.defaults = settings;
    d.catalogPath = catalog;
    d.streamConfiguration.caCertificates = {test::HttpsTestServer::caCertificate()};
    // The stand-in recogniser needs a model file to exist, not to be one.
    const QString model = QDir(test::temporaryFolder()).filePath(QStringLiteral("instant.bin"));
    {
        QFile file(model);
        if (file.open(QIODevice::WriteOnly))
            file.write("instant");
    }
    d.asr = LocalASR::create(60, model,
                             [](const QString &) -> std::unique_ptr<SpeechRecognizer> {
                                 return std::make_unique<InstantRecognizer>();
                             });
    d.handleTerminationSignals = false;
    RadioStore store(std::move(d));

    std::unique_ptr<QWidget> window;
    if (views) {
        window = showColumn(store, settings);
    }

    Run run;
    QObject::connect(&store, &RadioStore::subtitlesChanged, [&] { ++run.captions; });
    store.setSelected(store.stations().at(0));
    store.start(store.stations().at(0), 0, true);
    run.played = test::waitUntil([&] { return store.state() == RadioStore::State::Playing; }, std::chrono::seconds(60));
    // Let the start-up settle, then measure a stretch of steady playback.
    test::waitUntil([] { return false; }, std::chrono::seconds(2));
    run.captions = 0;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (store.state() == RadioStore::State::Playing)
        runLoop(int(seconds * 1000), [&store](QEventLoop &loop) {
            QObject::connect(&store, &RadioStore::stateChanged, &loop, [&store, &loop] {
                if (store.state() != RadioStore::State::Playing)
                    loop.quit();
            });
        });
    run.cpu = (cpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);
    run.played = run.played && store.state() == RadioStore::State::Playing;
    store.stop(false);
    return run;
}

// A one-station catalog for the runs without a stream.
QString quietCatalog()
{
    static const QString path = bench::oneStationCatalog(
        QDir(test::temporaryFolder()).filePath(QStringLiteral("quiet-catalog.json")),
        QStringLiteral("https://radio.example.invalid/live"));
    return path;
}

// The three views alone on a store in the playing state, driven as a playing
// store drives them: the buffer figure ten times a second, a caption every
// three seconds; no stream in the process.
double viewsAlone(double seconds, bool captions)
{
    auto settings = std::make_shared<MemorySettingsStore>();
    settings->setValue(QStringLiteral("captions"), captions);
    RadioStore::Dependencies d;
    d.defaults = settings;
    d.catalogPath = quietCatalog();
    d.handleTerminationSignals = false;
    RadioStore store(std::move(d));
    test::StoreProbe probe(store);
    const std::unique_ptr<QWidget> window = showColumn(store, settings);
    store.setSelected(store.stations().at(0));
    probe.play(store.stations().at(0));
    test::waitUntil([] { return false; }, std::chrono::seconds(1));

    std::vector<Caption> list;
    int tick = 0;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        probe.setBufferSeconds(12 + (tick / 10) % 3);
        if (captions && tick % 30 == 0) {
            list.push_back(test::caption(QStringLiteral("Traffic is light on the northern bridge tonight."), tick / 10.0));
            probe.setSubtitles(list);
        }
        ++tick;
    });
    report.start(100);
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runLoop(int(seconds * 1000));
    return (cpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);
}

// A new caption at size 46: from the store announcing it to the desk painted.
void newCaptionFrame()
{
    auto settings = std::make_shared<MemorySettingsStore>();
    settings->setValue(QStringLiteral("subtitleSize"), 46);
    RadioStore::Dependencies d;
    d.defaults = settings;
    d.catalogPath = quietCatalog();
    d.handleTerminationSignals = false;
    RadioStore store(std::move(d));
    test::StoreProbe probe(store);
    CaptionDesk desk(&store, settings);
    desk.resize(760, 420);
    // Laid out and painted as on screen, but into an image: what is measured
    // is the desk's own work, not the window system's copy of the window.
    desk.setAttribute(Qt::WA_DontShowOnScreen);
    desk.show();
    QImage frame(desk.size() * desk.devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    frame.setDevicePixelRatio(desk.devicePixelRatio());
    probe.play(store.stations().at(0));
    test::waitUntil([] { return false; }, std::chrono::milliseconds(500));

    const QString texts[] = {
        QStringLiteral("Traffic is light on the northern bridge, and a cold front moves in from the sea tonight."),
        QStringLiteral("今夜北部有冷空气南下，沿海地区风力逐渐加大，请注意添衣保暖。"),
        QStringLiteral("今夜は北から寒気が入り、沿岸部では風が次第に強まる見込みです。"),
        QStringLiteral("오늘 밤 북쪽에서 찬 공기가 내려와 해안 지역은 바람이 점차 강해지겠습니다."),
    };
    std::vector<Caption> list;
    std::vector<double> times, layouts, paints;
    for (int i = 0; i < 400; ++i) {
        list.push_back(test::caption(texts[i % 4], i));
        if (list.size() > 100)
            list.erase(list.begin());
        // Thread CPU time: on a busy machine wall time mostly measures the wait for a core.
        const double start = threadMilliseconds();
        probe.setSubtitles(list);
        QApplication::processEvents(); // the desk's coalesced refresh: rows chosen, laid out
        const double laidOut = threadMilliseconds() - start;
        desk.render(&frame); // and painted
        times.push_back(threadMilliseconds() - start);
        layouts.push_back(laidOut);
        paints.push_back(times.back() - laidOut);
    }
    auto summary = [](std::vector<double> values) {
        values.erase(values.begin(), values.begin() + 20); // the first layouts load fonts
        std::sort(values.begin(), values.end());
        return std::array<double, 3>{values[values.size() / 2], values[size_t(double(values.size()) * 0.95)], values.back()};
    };
    const auto all = summary(times), layout = summary(layouts), paint = summary(paints);
    std::printf("new caption at size 46 (%zu rows shown), CPU time of the main thread: total median %.2f ms  p95 %.2f ms  max %.2f ms"
                " | refresh and layout median %.2f ms | paint median %.2f ms\n",
                desk.history()->rows().size(), all[0], all[1], all[2], layout[0], paint[0]);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("VANTULI_AUDIO", "null");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VANTULI_RESOURCES"))
        qputenv("VANTULI_RESOURCES", VANTULI_RESOURCE_DIR);
    QApplication app(argc, argv);
    double seconds = 60;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[++i].toDouble();
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
    if (args.contains(QStringLiteral("--frame-only"))) {
        newCaptionFrame();
        return 0;
    }

    const QByteArray mp3 = spokenMp3(seconds + 40);
    if (mp3.isEmpty()) {
        std::fprintf(stderr, "espeak-ng or ffmpeg failed\n");
        return 1;
    }
    for (bool captions : {false, true}) {
        for (bool views : {false, true}) {
            const Run run = play(mp3, seconds, captions, views);
            std::printf("captions %-3s  views %-3s  CPU %5.2f %% of a core over %.0f s%s  (caption updates %d)\n",
                        captions ? "on" : "off", views ? "on" : "off", run.cpu * 100, seconds,
                        run.played ? "" : "  [playback did not last]", run.captions);
        }
    }
    for (bool captions : {false, true})
        std::printf("views alone (no stream), captions %-3s: CPU %5.2f %% of a core over %.0f s\n",
                    captions ? "on" : "off", viewsAlone(seconds / 2, captions) * 100, seconds / 2);
    newCaptionFrame();
    std::fflush(stdout);
    return 0;
}
