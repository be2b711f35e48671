// Recognition benchmark: the backend and device the recogniser runs on, wall
// time and real-time factor of `recognize` on windows of 4 s, 10.5 s and 13 s
// with a model of the real small model's shape (q5_1, random weights: see
// tools/make-test-models), the encoder time per pass and decoder time per
// token with a real-speech estimate, the peak resident memory with the model
// loaded, and the window cutter's throughput per pacing.
//
//   bench_recognition [MODEL] [--runs N]
//
// MODEL defaults to <build>/test-models/ggml-small-random-q5_1.bin.

#include "BenchSupport.h"
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

using bench::median;

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

// The library's diagnostics would drown the figures.
void quietLog(ggml_log_level, const char *, void *) {}

// Where one call's time goes, from the library's own timings: a context loaded
// for the same device the recogniser picked, the recogniser's parameters.
// The random model's decoder runs on noise to the token limit, which real
// speech does not: the estimate takes one encoder pass plus 3 tokens per
// second of audio at the measured per-token cost.
void breakdown(const QString &modelPath, const ComputeChoice &compute, qsizetype count, const char *language, int runs)
{
    whisper_context_params contextParams = whisper_context_default_params();
    if (compute.gpuIndex >= 0)
        contextParams.gpu_device = compute.gpuIndex;
    else
        contextParams.use_gpu = false;
    whisper_context *context =
        whisper_init_from_file_with_params(QFile::encodeName(modelPath).constData(), contextParams);
    if (!context)
        return;
    const std::vector<float> samples = speechLike(count, unsigned(count) + 1);
    const whisper_full_params params = recognitionParameters(language);
    whisper_full(context, params, samples.data(), int(samples.size())); // warm-up
    whisper_reset_timings(context);
    std::vector<double> walls;
    int tokens = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        whisper_full(context, params, samples.data(), int(samples.size()));
        walls.push_back(secondsSince(start));
        tokens = 0;
        for (int i = 0; i < whisper_full_n_segments(context); ++i)
            tokens += whisper_full_n_tokens(context, i);
    }
    whisper_timings *timings = whisper_get_timings(context);
    const double seconds = double(count) / 16000.0;
    const double wall = median(walls);
    std::printf("  %4.1f s window, language %-4s  measured %6.0f ms  RTF %.3f  (%d tokens on noise)\n", seconds,
                language, wall * 1000.0, wall / seconds, tokens);
    if (timings) {
        const double estimate = timings->encode_ms + 3.0 * seconds * timings->decode_ms;
        std::printf("      encoder %7.1f ms per pass; decoder %6.2f ms per token (start-of-text batch %.2f ms "
                    "per token)\n",
                    timings->encode_ms, timings->decode_ms, timings->batchd_ms);
        std::printf("      real-speech estimate %6.0f ms  RTF %.3f  (1 encoder pass + %.0f tokens)\n", estimate,
                    estimate / 1000.0 / seconds, 3.0 * seconds);
        delete timings;
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

    whisper_log_set(quietLog, nullptr);
    // The application keeps the Vulkan drivers away before the library's first
    // look at its devices; the system line below is such a look.
    keepVulkanAwayWithoutGpu();

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
    const ComputeChoice compute = recognizer->compute();
    std::printf("\nLibrary devices:\n");
    for (const ComputeDevice &device : computeDevices())
        std::printf("  %-8s %s%s\n", qPrintable(device.name), qPrintable(device.description),
                    device.software ? " (software, never used)" : device.gpu ? " (GPU)" : "");
    std::printf("Recognition runs on: %s backend, device %s \"%s\"\n",
                compute.gpuIndex >= 0 ? "GPU" : "CPU", qPrintable(compute.device.name),
                qPrintable(compute.device.description));
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

    std::printf("\nWhere the time goes (library timings, median of %d, same device and parameters)\n", runs);
    breakdown(modelPath, compute, 64000, "en", runs);
    breakdown(modelPath, compute, 168000, "en", runs);
    breakdown(modelPath, compute, 168000, "auto", runs);

#ifdef VANTULI_HAVE_WINDOW_BUILDER
    const QString voiceModels = QStringLiteral(VANTULI_RESOURCE_DIR);
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
