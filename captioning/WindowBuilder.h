#pragma once

#include "captioning/SpeechWindow.h"
#include "records/CaptionPacing.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vantuli {

// Cuts the run's recognition audio (16 kHz mono float, fed in blocks of any
// size) into speech windows. `Short` cuts fixed stretches of at most 4 s at a
// quiet 60 ms frame; `Sentence` and `Conversational` cut whole utterances found
// by the voice detector, bounded in length.
//
// A plain value with no thread and no lock: its owner calls it from one queue
// at a time. Copies share one voice detector.
class WindowBuilder {
public:
    // Half-open range of sample indices, relative to the start of a slice.
    struct Range {
        qint64 lower = 0;
        qint64 upper = 0;
        friend bool operator==(const Range &, const Range &) = default;
    };
    // Speech ranges of a slice, or nothing when detection failed.
    using Detector = std::function<std::optional<std::vector<Range>>(std::span<const float>)>;

    static constexpr qint64 sampleRate = 16000;
    // Short pacing.
    static constexpr qint64 shortLongest = 64000;
    static constexpr qint64 shortLatestCut = 62400;
    static constexpr qint64 shortEarliestCut = 41600;
    static constexpr qint64 shortCutStep = 320;
    static constexpr qint64 shortFrame = 960;
    static constexpr float shortQuietEnergy = 8e-5f;
    // Sentence pacings.
    static constexpr qint64 pad = 2880;
    static constexpr qint64 firstInspection = 128000;
    static constexpr qint64 inspectionGrowth = 40000;
    static constexpr qint64 lateStartAllowance = 16000;
    static constexpr qint64 recentGapHorizon = 48000;
    static constexpr qint64 quietBreakFrame = 1920;
    static constexpr qint64 quietBreakStep = 320;
    // Forced flush.
    static constexpr qint64 flushMinimum = 48000;
    static constexpr double flushLeadSeconds = 2.5;

    // The silence-gap that separates utterances and the longest window of a
    // sentence pacing (for `Short`: no gap, windows of at most 4 s).
    static qint64 gap(CaptionPacing pacing);
    static qint64 longest(CaptionPacing pacing);

    // The voice detector's model file inside the model directory.
    static QString voiceModelFileName();

    explicit WindowBuilder(CaptionPacing pacing, Detector detect = {});

    // The builder for one run: for a sentence pacing with a model directory,
    // the voice detector is loaded from it; without one the builder cuts
    // fixed maximal windows instead.
    static WindowBuilder radio(CaptionPacing pacing, std::optional<QString> modelDirectory);

    // Adds samples at the end of the backlog and cuts what is due; with
    // `flush` everything waiting is cut. Takes any contiguous floats
    // (a std::vector converts implicitly).
    std::vector<SpeechWindow> append(std::span<const float> samples, bool flush);

    // The utterance cutter of the sentence pacings (the short cutter for `Short`).
    std::vector<SpeechWindow> sentences(bool flush);

    // Forced flush of a sentence pacing: cuts everything waiting when at least
    // 3 s wait and the backlog starts no later than 2.5 s after what has been
    // played; otherwise answers nothing.
    std::vector<SpeechWindow> flushDue(double playedSeconds);

    // Forgets every waiting sample; the clock moves on past them.
    void reset();

    CaptionPacing pacing() const { return pacing_; }
    qint64 offset() const { return offset_; }
    qint64 waitingCount() const { return qint64(waiting_.size()); }
    qint64 nextInspection() const { return nextInspection_; }
    bool hasDetector() const { return bool(detect_); }

private:
    std::vector<SpeechWindow> cutShort(bool flush);
    std::vector<float> recognitionSamples(std::span<const float> slice) const;
    std::optional<qint64> quietBreak(qint64 end) const;
    std::vector<Range> speechIn(qint64 count) const;
    void cutWindow(std::vector<SpeechWindow> &windows, qint64 start, qint64 end) const;
    void consume(qint64 count);

    std::vector<float> waiting_;
    qint64 offset_ = 0;
    qint64 nextInspection_ = firstInspection;
    CaptionPacing pacing_;
    Detector detect_;
};

} // namespace vantuli
