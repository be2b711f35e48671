// Caption synchronisation benchmark: the real store, live stream and
// recogniser against a local HTTPS server that plays spoken phrases (espeak-ng,
// known onsets) at real time, captions on, for the `sentence` and
// `conversational` pacings. Timing only: the model has random weights, so the
// words are meaningless, but its compute cost is the real small model's.
//
// For each caption shown it reports the lag from the moment the audio at the
// caption's start was played back (from the timing hook) to the moment the
// store showed it, and for each recognised window the lag from its hand-over
// to the end of its recognition. Target: every caption shown no later than
// 100 ms after its audio starts playing, with no skipped batch.
//
//   bench_caption-sync [MODEL] [--seconds N] [--instant]
//
// --instant replaces the model by a stand-in that answers at once with one
// caption over each whole window: what is left is the lag the pipeline
// itself adds (cutting, hand-over, queueing, the shown-at-position rule).
//
// MODEL defaults to <build>/test-models/ggml-small-random-q5_1.bin
// (tools/make-test-models small). Playback goes to the null audio output.

#include "BenchSupport.h"
#include "captioning/LocalASR.h"
#include "captioning/RadioRecognizer.h"
#include "captioning/WindowBuilder.h"
#include "platform/SettingsStore.h"
#include "store/RadioStore.h"
#include "store/StoreTime.h"
#include "streaming/PlaybackStream.h"
#include "support/HttpsTestServer.h"
#include "support/SpeechAudio.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <vector>

using namespace vantuli;

namespace {

const char *phrases[] = {
    "The morning news begins at seven.",
    "Traffic is light on the northern bridge.",
    "A cold front moves in from the sea tonight.",
    "Our next guest has travelled from the mountains.",
    "The concert starts after the weather report.",
    "Stay with us for music until midnight.",
};

double uptime()
{
    return StoreClock::system()->uptime();
}

struct Figures {
    std::vector<double> shownLag;       // seconds, shown minus played back
    std::vector<double> recognitionLag; // seconds, recognised minus handed over
    int skipped = 0;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

// The spoken track: phrases between pauses, as 16 kHz samples, and the
// onsets of the phrases in seconds.
std::pair<std::vector<float>, std::vector<double>> spokenTrack(double seconds)
{
    std::vector<float> track = test::silenceSamples(1.0);
    std::vector<double> onsets;
    std::vector<std::vector<float>> spoken;
    for (const char *phrase : phrases)
        spoken.push_back(test::speechSamples(QString::fromLatin1(phrase)));
    for (size_t i = 0; double(track.size()) / 16000.0 < seconds; ++i) {
        const std::vector<float> &clip = spoken[i % spoken.size()];
        if (clip.empty())
            return {};
        const qsizetype at = test::appendSamples(track, clip);
        onsets.push_back(double(at + test::audibleExtent(clip).first) / 16000.0);
        test::appendSamples(track, test::silenceSamples(0.5 + 0.25 * double(i % 3)));
    }
    return {track, onsets};
}

// Records when each window was handed over and when its recognition ended.
struct WindowClock {
    std::mutex mutex;
    std::vector<double> handedOver; // in order of hand-over
    std::vector<double> recognised; // in order of recognition
};

class TimedRecognizer final : public SpeechRecognizer {
public:
    TimedRecognizer(std::unique_ptr<SpeechRecognizer> inner, std::shared_ptr<WindowClock> clock)
        : inner_(std::move(inner)), clock_(std::move(clock)) {}
    std::vector<RecognizedSegment> segmentsForSamples(const float *samples, qsizetype count,
                                                      const QString &language) override
    {
        auto segments = inner_->segmentsForSamples(samples, count, language);
        std::lock_guard lock(clock_->mutex);
        clock_->recognised.push_back(uptime());
        return segments;
    }

private:
    std::unique_ptr<SpeechRecognizer> inner_;
    std::shared_ptr<WindowClock> clock_;
};

// Answers at once with one segment over the whole window.
class InstantRecognizer final : public SpeechRecognizer {
public:
    std::vector<RecognizedSegment> segmentsForSamples(const float *, qsizetype count, const QString &) override
    {
        return {{QStringLiteral("caption"), 0.0, double(count) / 16000.0}};
    }
};

Figures runPacing(const QString &language, const QString &model, const QByteArray &mp3, double seconds,
                  bool instant)
{
    Figures figures;
    test::HttpsTestServer server;
    if (!server.isListening()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(server.error()));
        return figures;
    }
    // Two seconds at once, as stations do, then real time (128 kb/s).
    const qint64 burst = 32000;
    const qint64 perTick = 800; // 50 ms
    server.serve(QStringLiteral("/live"), [&mp3, burst, perTick](const test::HttpsTestServer::Request &) {
        return test::HttpsTestServer::Response::streamed(
            "audio/mpeg",
            [&mp3, burst, perTick](qint64 index) -> QByteArray {
                const qint64 from = index == 0 ? 0 : burst + (index - 1) * perTick;
                if (from >= mp3.size())
                    return {};
                return mp3.mid(from, index == 0 ? burst : perTick);
            },
            50);
    });

    const QString catalog = bench::oneStationCatalog(QDir(test::temporaryFolder()).filePath(QStringLiteral("catalog.json")),
                                                     server.url(QStringLiteral("/live")).toString());

    auto windows = std::make_shared<WindowClock>();
    std::mutex samplesLock;
    std::vector<PlaybackSample> samples;

    auto settings = std::make_shared<MemorySettingsStore>();
    settings->setValue(QStringLiteral("language"), language);
    RadioStore::Dependencies d;
    d.defaults = settings;
    d.catalogPath = catalog;
    d.streamConfiguration.caCertificates = {test::HttpsTestServer::caCertificate()};
    d.asr = LocalASR::create(60, model, [windows, instant](const QString &path) -> std::unique_ptr<SpeechRecognizer> {
        std::unique_ptr<SpeechRecognizer> inner;
        if (instant)
            inner = std::make_unique<InstantRecognizer>();
        else
            inner = RadioRecognizer::create(path);
        if (!inner)
            return nullptr;
        return std::make_unique<TimedRecognizer>(std::move(inner), windows);
    });
    d.timing = [&](const PlaybackSample &sample) {
        std::lock_guard lock(samplesLock);
        samples.push_back(sample);
    };
    d.streamFactory = [windows](PlaybackStream::Parameters parameters) {
        auto handler = std::move(parameters.window);
        parameters.window = [windows, handler](std::vector<SpeechWindow> batch) {
            {
                std::lock_guard lock(windows->mutex);
                for (size_t i = 0; i < batch.size(); ++i)
                    windows->handedOver.push_back(uptime());
            }
            handler(std::move(batch));
        };
        return makeLiveStream(std::move(parameters));
    };
    d.handleTerminationSignals = false;
    RadioStore store(std::move(d));

    std::set<QUuid> seen;
    std::vector<std::pair<double, double>> shown; // caption start, shown at
    QObject::connect(&store, &RadioStore::subtitlesChanged, [&] {
        const double now = uptime();
        for (const Caption &caption : store.subtitles())
            if (seen.insert(caption.id).second)
                shown.emplace_back(caption.start, now);
    });
    QObject::connect(&store, &RadioStore::captionNoticeKeyChanged, [&] {
        if (store.captionNoticeKey() == QStringLiteral("识别暂时落后，已跳过一段。"))
            figures.skipped++;
    });

    store.start(store.stations().at(0), 0, true);
    test::waitUntil([&] { return store.state() == RadioStore::State::Playing; }, std::chrono::seconds(60));
    test::waitUntil([&] { return store.position() >= seconds - 2 || store.state() != RadioStore::State::Playing; },
                    std::chrono::milliseconds(int((seconds + 30) * 1000)));
    store.stop(false);

    std::lock_guard lock(samplesLock);
    for (const auto &[start, at] : shown) {
        const auto sample = std::find_if(samples.begin(), samples.end(),
                                         [start](const PlaybackSample &s) { return s.mediaEnd >= start; });
        if (sample == samples.end())
            continue;
        const double playedBack = sample->playedAt - (sample->mediaEnd - start);
        figures.shownLag.push_back(at - playedBack);
    }
    std::lock_guard windowLock(windows->mutex);
    for (size_t i = 0; i < std::min(windows->handedOver.size(), windows->recognised.size()); ++i)
        figures.recognitionLag.push_back(windows->recognised[i] - windows->handedOver[i]);
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("VANTULI_AUDIO", "null");
    QCoreApplication app(argc, argv);
    QString model = QStringLiteral(VANTULI_BINARY_DIR "/test-models/ggml-small-random-q5_1.bin");
    double seconds = 60;
    bool instant = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = args[++i].toDouble();
        else if (args[i] == QLatin1String("--instant"))
            instant = true;
        else
            model = args[i];
    }
    if (!instant && !QFile::exists(model)) {
        std::fprintf(stderr, "no model at %s (run tools/make-test-models small)\n", qPrintable(model));
        return 1;
    }
    if (instant && !QFile::exists(model)) {
        // The stand-in needs no model, but the service loads only from a file that exists.
        model = QDir(test::temporaryFolder()).filePath(QStringLiteral("stand-in.bin"));
        QFile placeholder(model);
        if (!placeholder.open(QIODevice::WriteOnly) || placeholder.write("stand-in") < 0)
            return 1;
    }
    // The sentence pacings cut at the voice detector's pauses, as in the
    // application: the stream finds its model in the resource folder.
    if (qEnvironmentVariableIsEmpty("VANTULI_RESOURCES"))
        qputenv("VANTULI_RESOURCES", VANTULI_RESOURCE_DIR);
    const QString voiceModel = QDir(qEnvironmentVariable("VANTULI_RESOURCES")).filePath(WindowBuilder::voiceModelFileName());
    if (!QFile::exists(voiceModel)) {
        std::fprintf(stderr, "no voice-activity model at %s\n", qPrintable(voiceModel));
        return 1;
    }
    std::printf("voice detector: %s\n", qPrintable(voiceModel));
    {
        PlaybackStream::Parameters probe;
        probe.event = [](const StreamEvent &) {};
        probe.window = [](std::vector<SpeechWindow>) {};
        if (!makeLiveStream(std::move(probe))) {
            std::fprintf(stderr, "the live stream is not part of this build\n");
            return 1;
        }
    }
    const auto [track, onsets] = spokenTrack(seconds + 20);
    const QByteArray mp3 = track.empty() ? QByteArray() : test::liveMp3(track);
    if (mp3.isEmpty()) {
        std::fprintf(stderr, "espeak-ng or ffmpeg failed\n");
        return 1;
    }
    std::printf("track: %.1f s, %zu phrases\n", double(track.size()) / 16000.0, onsets.size());

    bool met = true;
    for (const auto &[pacing, language] : {std::pair{"sentence", "de"}, std::pair{"conversational", "en"}}) {
        const Figures f = runPacing(QString::fromLatin1(language), model, mp3, seconds, instant);
        const double worst = f.shownLag.empty() ? 0 : *std::max_element(f.shownLag.begin(), f.shownLag.end());
        std::printf("%-15s captions %3zu  shown lag median %6.3f s  p95 %6.3f s  max %6.3f s | "
                    "recognition lag median %6.3f s  p95 %6.3f s | skipped batches %d\n",
                    pacing, f.shownLag.size(), percentile(f.shownLag, 0.5), percentile(f.shownLag, 0.95), worst,
                    percentile(f.recognitionLag, 0.5), percentile(f.recognitionLag, 0.95), f.skipped);
        met = met && !f.shownLag.empty() && worst <= 0.1 && f.skipped == 0;
    }
    std::printf("target (every caption shown within 100 ms, no skipped batch): %s\n", met ? "met" : "NOT met");
    return 0;
}
