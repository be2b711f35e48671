#pragma once

#include "captioning/SpeechWindow.h"
#include "records/Caption.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

struct whisper_context;

namespace vantuli {

// One recognised stretch of a window: its text (trimmed, never empty) and its
// times in seconds from the window's first sample.
struct RecognizedSegment {
    QString text;
    double start = 0;
    double end = 0;
};

// What the recognition service needs of a recogniser: 16 kHz mono samples and
// a language in, segments out. It always answers a list, empty on failure,
// silence or too short input. Not thread-safe: one queue uses it at a time.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;
    virtual std::vector<RecognizedSegment> segmentsForSamples(const float *samples, qsizetype count,
                                                              const QString &language) = 0;
    // From now on a recognition in progress ends early, answering no
    // segments, once `flag` is set (by another thread). The flag outlives
    // the recogniser. A recogniser that cannot stop early ignores it.
    virtual void abortWhen(const std::atomic<bool> *flag) { (void)flag; }
};

// One of the speech library's compute devices, in the library's own order.
struct ComputeDevice {
    QString name;         // the library's name for it: "CPU", "Vulkan0", ...
    QString description;  // what its driver calls it
    bool gpu = false;     // the library counts it as a GPU (discrete or integrated)
    bool integrated = false;
    bool software = false; // a CPU posing as a GPU (a Vulkan driver such as Mesa's lavapipe)
};

// Where the model runs: `gpuIndex` counts among the library's GPU devices as
// the library does (its context's gpu_device), -1 for the CPU backend.
struct ComputeChoice {
    int gpuIndex = -1;
    ComputeDevice device;
};

// Keeps the speech library from starting its Vulkan backend on a machine
// where no hardware GPU can exist (no DRM render node): there the Vulkan
// loader would only find software drivers, and loading them (LLVM among them)
// costs tens of megabytes for a device that is never used. An explicit
// choice of Vulkan drivers or devices in the environment is left alone.
// Called before the library's first use of its devices; safe from any thread.
void keepVulkanAwayWithoutGpu();

// Held while the speech library loads a model. Every load sets the library's
// process-wide logger without a lock, and the recogniser and the voice
// detector load theirs on different queues: the loads take turns.
std::mutex &speechModelLoads();

// The library's devices, each GPU checked against the Vulkan driver's own
// device type so that software renderers are known as such.
std::vector<ComputeDevice> computeDevices();

// A hardware GPU when there is one (the first discrete one, else the first
// integrated one), never a software device; the CPU otherwise.
ComputeChoice chooseComputeDevice(const std::vector<ComputeDevice> &devices);

// The bridge to the speech library: owns one speech context loaded from a
// model file, freed when the recogniser goes.
class RadioRecognizer final : public SpeechRecognizer {
public:
    // Windows shorter than this (0.1 s) or quieter than this RMS never reach the library.
    static constexpr qsizetype minimumSamples = 1600;
    static constexpr double minimumLoudness = 0.0008;

    // The recogniser of a model file, or null when the model does not load.
    static std::unique_ptr<RadioRecognizer> create(const QString &modelPath);
    ~RadioRecognizer() override;
    RadioRecognizer(const RadioRecognizer &) = delete;
    RadioRecognizer &operator=(const RadioRecognizer &) = delete;

    std::vector<RecognizedSegment> segmentsForSamples(const float *samples, qsizetype count,
                                                      const QString &language) override;
    void abortWhen(const std::atomic<bool> *flag) override { abort_ = flag; }

    // The language handed to the library: the given code when the library
    // knows it, else "auto" (the library detects the language).
    static QString libraryLanguage(const QString &language);
    // Whether a window is long and loud enough to be worth recognising.
    static bool worthRecognizing(const float *samples, qsizetype count);

    // How often the library's transcription ran, and with which language last.
    int transcriptions() const { return transcriptions_; }
    const QString &lastLanguage() const { return lastLanguage_; }
    // The device the model was loaded for.
    const ComputeChoice &compute() const { return compute_; }

private:
    RadioRecognizer(whisper_context *context, ComputeChoice compute) : context_(context), compute_(std::move(compute)) {}

    whisper_context *context_;
    ComputeChoice compute_;
    int transcriptions_ = 0;
    QString lastLanguage_;
    const std::atomic<bool> *abort_ = nullptr;
};

// Decodes UTF-8, dropping every byte that is not part of a well-formed
// sequence (stray continuation bytes, cut-off sequences, overlong forms,
// surrogates), so that broken library output never turns into garbled text.
QString decodeUtf8DroppingInvalid(std::string_view bytes);

// Places a window's segments on the stream's clock: each caption starts at
// the segment's start and lasts at least 0.15 s, and neither its start nor its
// end lies past the window's last sample.
std::vector<Caption> captionsForSegments(const std::vector<RecognizedSegment> &segments, qint64 windowOffset,
                                         qsizetype sampleCount);

// Recognises one window and answers its captions in segment order (possibly none).
std::vector<Caption> recognize(const SpeechWindow &window, SpeechRecognizer &recognizer, const QString &language);

} // namespace vantuli
