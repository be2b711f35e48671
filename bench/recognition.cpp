// Recognition benchmark: wall time and real-time factor of `recognize` on
// windows of 4 s, 10.5 s and 13 s with a model of the real small model's
// shape (q5_1, random weights: see tools/make-test-models), the peak resident
// memory with the model loaded, and the window cutter's throughput per pacing.
//
//   bench_recognition [MODEL] [--runs N]
//
// MODEL defaults to <build>/test-models/ggml-small-random-q5_1.bin.

#include "captioning/RadioRecognizer.h"
#include "captioning/RecognitionParameters.h"

#if __has_include("captioning/WindowBuilder.h")
#include "captioning/WindowBuilder.h"
#define VANTULI_HAVE_WINDOW_BUILDER 1
#endif

#include <whisper.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace vantuli;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak and current resident set size of this process in MiB.
std::pair<double, double> residentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double peak = 0, current = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() >= 2 && parts[0] == "VmHWM:")
                peak = parts[1].toDouble() / 1024.0;
            if (parts.size() >= 2 && parts[0] == "VmRSS:")
                current = parts[1].toDouble() / 1024.0;
        }
    }
    return {peak, current};
}

// Speech-like test audio: noise bursts at a syllable rate with short pauses
// every few seconds, about -20 dBFS while "speaking".
std::vector<float> speechLike(qsizetype count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> samples(static_cast<size_t>(count));
    double phase = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const double t = double(i) / 16000.0;
        const double syllable = 0.5 + 0.5 * std::sin(2 * M_PI * 4.0 * t);
        const bool pause = std::fmod(t, 4.0) > 3.4;
        phase += 2 * M_PI * (140.0 + 30.0 * std::sin(2 * M_PI * 0.5 * t)) / 16000.0;
        const double voiced = 0.6 * std::sin(phase) + 0.4 * noise(generator);
        samples[static_cast<size_t>(i)] = pause ? 0.002f * noise(generator) : float(0.1 * syllable * voiced);
    }
    return samples;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The library's own timing report, captured from its log while it is printed.
std::string capturedLog;
bool capturing = false;

void logSink(ggml_log_level, const char *text, void *)
{
    if (capturing && text)
        capturedLog += text;
}

// Where one call's time goes: the library's own timings for the same
// parameters the recogniser uses, on a separate context.
void breakdown(const QString &modelPath, const std::vector<float> &samples, const char *language)
{
    whisper_context *context =
        whisper_init_from_file_with_params(QFile::encodeName(modelPath).constData(), whisper_context_default_params());
    if (!context)
        return;
    const whisper_full_params params = recognitionParameters(language);
    whisper_reset_timings(context);
    const auto start = Clock::now();
    whisper_full(context, params, samples.data(), int(samples.size()));
    const double wall = secondsSince(start) * 1000.0;
    int tokens = 0;
    const int segments = whisper_full_n_segments(context);
    for (int i = 0; i < segments; ++i)
        tokens += whisper_full_n_tokens(context, i);
    std::printf("  %.1f s window, language \"%s\": wall %.0f ms, %d segments, %d tokens\n",
                double(samples.size()) / 16000.0, language, wall, segments, tokens);
    capturedLog.clear();
    capturing = true;
    whisper_print_timings(context);
    capturing = false;
    for (const QString &line : QString::fromUtf8(capturedLog).split(QLatin1Char('\n'))) {
        const QString text = line.section(QLatin1Char(':'), 1).simplified();
        if (text.startsWith(QLatin1String("encode time")) || text.startsWith(QLatin1String("decode time")) ||
            text.startsWith(QLatin1String("batchd time")) || text.startsWith(QLatin1String("mel time")) ||
            text.startsWith(QLatin1String("sample time")))
            std::printf("      %s\n", qPrintable(text));
    }
    whisper_free(context);
}

// Real speech for the cutter when espeak-ng and ffmpeg are at hand (the voice
// detector finds none in synthetic noise): a spoken paragraph, repeated to the
// wanted length, as 16 kHz mono floats.
std::vector<float> spokenAudio(qsizetype count)
{
    const QString folder = QDir::tempPath() + QStringLiteral("/vantuli-bench-%1").arg(QCoreApplication::applicationPid());
    QDir().mkpath(folder);
    const QString wav = folder + QStringLiteral("/speech.wav");
    const QString text = QStringLiteral(
        "Good evening, this is the late news. Heavy rain is expected along the coast tonight, "
        "and the harbour will stay closed until the morning. In the city, the new tram line opened today. "
        "Thousands of people came to see it. Now, the weather for the weekend: sunny spells, light winds, "
        "and temperatures around twenty degrees. Stay with us for music until midnight.");
    std::vector<float> samples;
    QProcess speak;
    speak.start(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), wav, text});
    if (speak.waitForFinished(60000) && speak.exitCode() == 0) {
        QProcess convert;
        convert.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), wav,
                                                 QStringLiteral("-ar"), QStringLiteral("16000"), QStringLiteral("-ac"),
                                                 QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("f32le"),
                                                 QStringLiteral("-")});
        if (convert.waitForFinished(60000) && convert.exitCode() == 0) {
            const QByteArray raw = convert.readAllStandardOutput();
            const auto *floats = reinterpret_cast<const float *>(raw.constData());
            const std::vector<float> once(floats, floats + raw.size() / qsizetype(sizeof(float)));
            while (!once.empty() && qsizetype(samples.size()) < count) {
                samples.insert(samples.end(), once.begin(), once.end());
                samples.insert(samples.end(), 16000, 0.0f); // a second of silence between readings
            }
        }
    }
    QDir(folder).removeRecursively();
    if (samples.empty())
        return {};
    samples.resize(static_cast<size_t>(count));
    return samples;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString modelPath = QStringLiteral(VANTULI_BINARY_DIR "/test-models/ggml-small-random-q5_1.bin");
    int runs = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else
            modelPath = args[i];
    }
    if (!QFile::exists(modelPath)) {
        std::fprintf(stderr, "bench_recognition: no model at %s (run tools/make-test-models small)\n",
                     qPrintable(modelPath));
        return 1;
    }

    // The library's diagnostics would drown the figures.
    whisper_log_set(logSink, nullptr);

    std::printf("Recognition benchmark\n  model %s\n  %s\n  hardware threads %u, recogniser threads 4, %d runs each\n",
                qPrintable(modelPath), whisper_print_system_info(), std::thread::hardware_concurrency(), runs);

    const double rssBefore = residentMemory().second;
    auto loadStart = Clock::now();
    std::unique_ptr<RadioRecognizer> recognizer = RadioRecognizer::create(modelPath);
    const double loadSeconds = secondsSince(loadStart);
    if (!recognizer) {
        std::fprintf(stderr, "bench_recognition: the model does not load\n");
        return 1;
    }
    const double rssLoaded = residentMemory().second;
    std::printf("\nModel load %.2f s; resident memory %.0f MiB before, %.0f MiB with the model loaded\n",
                loadSeconds, rssBefore, rssLoaded);

    std::printf("\nrecognize() wall time (median of %d) and real-time factor\n", runs);
    struct Window {
        const char *name;
        qsizetype samples;
        const char *language;
    };
    const Window windows[] = {
        {"4 s (short pacing)", 64000, "en"},
        {"10.5 s (conversational longest)", 168000, "en"},
        {"13 s (sentence longest)", 208000, "en"},
        {"10.5 s, language detected", 168000, ""},
    };
    for (const Window &w : windows) {
        const SpeechWindow window{0, speechLike(w.samples, unsigned(w.samples))};
        const QString language = QString::fromLatin1(w.language);
        recognize(window, *recognizer, language); // warm-up
        std::vector<double> times;
        size_t captions = 0;
        for (int r = 0; r < runs; ++r) {
            const auto start = Clock::now();
            captions = recognize(window, *recognizer, language).size();
            times.push_back(secondsSince(start));
        }
        const double seconds = double(w.samples) / 16000.0;
        const double m = median(times);
        std::printf("  %-34s median %7.0f ms  RTF %.3f  (min %.0f ms, max %.0f ms, %zu captions)\n", w.name,
                    m * 1000.0, m / seconds, *std::min_element(times.begin(), times.end()) * 1000.0,
                    *std::max_element(times.begin(), times.end()) * 1000.0, captions);
    }
    const auto [peakAfter, rssAfter] = residentMemory();
    std::printf("\nPeak resident memory with the model loaded and recognising: %.0f MiB (current %.0f MiB)\n",
                peakAfter, rssAfter);
    recognizer.reset();

    std::printf("\nWhere the time goes (library timings, same parameters)\n");
    breakdown(modelPath, speechLike(64000, 1), "en");
    breakdown(modelPath, speechLike(168000, 2), "en");
    breakdown(modelPath, speechLike(168000, 2), "auto");

#ifdef VANTULI_HAVE_WINDOW_BUILDER
    const QString voiceModels = QStringLiteral(VANTULI_SHARED_MODELS);
    const bool haveVoiceModel = QFile::exists(QDir(voiceModels).filePath(WindowBuilder::voiceModelFileName()));
    std::vector<float> audio = spokenAudio(120 * 16000);
    const bool spoken = !audio.empty();
    if (!spoken)
        audio = speechLike(120 * 16000, 3);
    std::printf("\nWindow cutter throughput (120 s of %s in 100 ms blocks)%s\n",
                spoken ? "espeak-ng speech" : "synthetic audio",
                haveVoiceModel ? "" : " -- no voice-activity model found, sentence pacings run without detector");
    for (const CaptionPacing pacing : {CaptionPacing(CaptionPacing::Short), CaptionPacing(CaptionPacing::Sentence),
                                       CaptionPacing(CaptionPacing::Conversational)}) {
        for (const bool detector : {true, false}) {
            if (pacing.value() == CaptionPacing::Short && !detector)
                continue;
            WindowBuilder builder = WindowBuilder::radio(
                pacing, detector && haveVoiceModel ? std::optional<QString>(voiceModels) : std::nullopt);
            const auto start = Clock::now();
            size_t cut = 0;
            for (size_t at = 0; at < audio.size(); at += 1600) {
                const size_t n = std::min<size_t>(1600, audio.size() - at);
                const std::vector<float> block(audio.begin() + qsizetype(at), audio.begin() + qsizetype(at + n));
                cut += builder.append(block, at + n == audio.size()).size();
            }
            const double seconds = secondsSince(start);
            std::printf("  %-15s %-17s %12.0f samples/s  (%.0fx real time, %zu windows)\n",
                        qPrintable(pacing.rawValue()), builder.hasDetector() ? "voice detector" : "no detector",
                        double(audio.size()) / seconds, double(audio.size()) / 16000.0 / seconds, cut);
        }
    }
#else
    std::printf("\nWindow cutter throughput: not measured (no window cutter in this tree)\n");
#endif
    return 0;
}
