#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <span>
#include <vector>

struct whisper_vad_context;

namespace vantuli {

// A run of speech samples: the first speech sample and how many follow,
// relative to the first sample handed to the detector.
struct SampleRange {
    qint64 location = 0;
    qint64 length = 0;
    friend bool operator==(const SampleRange &, const SampleRange &) = default;
};

// One speech segment as the speech library reports it, in its units of 10 ms.
struct VoiceSegment {
    float start = 0;
    float end = 0;
};

// Turns the library's segments into sample ranges over `count` samples: times
// are scaled by 160 samples per unit and rounded half away from zero, clipped
// to 0 ... count; empty or inverted segments are dropped. Order is kept.
std::vector<SampleRange> sampleRangesFromSegments(std::span<const VoiceSegment> segments, qint64 count);

// Bridge to whisper.cpp's voice-activity detection (Silero model). It answers
// the sample ranges of a block of 16 kHz mono samples that hold speech.
// Not thread-safe: one detector is used from one queue at a time.
class RadioVoiceDetector {
public:
    // Null when the model file is missing or cannot be loaded.
    static std::unique_ptr<RadioVoiceDetector> create(const QString &modelPath);
    ~RadioVoiceDetector();

    RadioVoiceDetector(const RadioVoiceDetector &) = delete;
    RadioVoiceDetector &operator=(const RadioVoiceDetector &) = delete;

    // The speech ranges of the samples, in the library's order; an empty list
    // when there is no speech (or no samples), nothing when the library fails.
    std::optional<std::vector<SampleRange>> speechRanges(const float *samples, qsizetype count);
    // The same over a block of native 32-bit floats; trailing bytes that do
    // not make a whole float are ignored.
    std::optional<std::vector<SampleRange>> speechRanges(QByteArrayView data);

private:
    explicit RadioVoiceDetector(whisper_vad_context *context) : context_(context) {}

    whisper_vad_context *context_;
};

} // namespace vantuli
