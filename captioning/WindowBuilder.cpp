#include "captioning/WindowBuilder.h"

#include "captioning/RadioVoiceDetector.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <memory>

namespace vantuli {

namespace {

float sumOfSquares(const float *samples, qint64 count)
{
    float sum = 0;
    for (qint64 i = 0; i < count; ++i)
        sum += samples[i] * samples[i];
    return sum;
}

} // namespace

qint64 WindowBuilder::gap(CaptionPacing pacing)
{
    switch (pacing.value()) {
    case CaptionPacing::Sentence:
        return 14400;
    case CaptionPacing::Conversational:
        return 8000;
    case CaptionPacing::Short:
        break;
    }
    return 0;
}

qint64 WindowBuilder::longest(CaptionPacing pacing)
{
    switch (pacing.value()) {
    case CaptionPacing::Sentence:
        return 208000;
    case CaptionPacing::Conversational:
        return 168000;
    case CaptionPacing::Short:
        break;
    }
    return shortLongest;
}

QString WindowBuilder::voiceModelFileName()
{
    return QStringLiteral("ggml-silero-v6.2.0.bin");
}

WindowBuilder::WindowBuilder(CaptionPacing pacing, Detector detect)
    : pacing_(pacing), detect_(std::move(detect))
{
}

WindowBuilder WindowBuilder::radio(CaptionPacing pacing, std::optional<QString> modelDirectory)
{
    WindowBuilder builder(pacing);
    if (pacing.value() == CaptionPacing::Short || !modelDirectory || modelDirectory->isEmpty())
        return builder;
    std::shared_ptr<RadioVoiceDetector> detector =
        RadioVoiceDetector::create(QDir(*modelDirectory).filePath(voiceModelFileName()));
    if (!detector)
        return builder;
    builder.detect_ = [detector](std::span<const float> slice) -> std::optional<std::vector<Range>> {
        const auto found = detector->speechRanges(slice.data(), qsizetype(slice.size()));
        if (!found)
            return std::nullopt;
        std::vector<Range> ranges;
        ranges.reserve(found->size());
        for (const SampleRange &r : *found)
            ranges.push_back({r.location, r.location + r.length});
        return ranges;
    };
    return builder;
}

std::vector<SpeechWindow> WindowBuilder::append(std::span<const float> samples, bool flush)
{
    waiting_.insert(waiting_.end(), samples.begin(), samples.end());
    if (pacing_.value() == CaptionPacing::Short)
        return cutShort(flush);
    return sentences(flush);
}

std::vector<SpeechWindow> WindowBuilder::cutShort(bool flush)
{
    std::vector<SpeechWindow> windows;
    while (waitingCount() >= shortLongest || (flush && !waiting_.empty())) {
        qint64 cut = waitingCount();
        if (cut >= shortLongest) {
            // The latest quiet 60 ms frame between 2.6 s and 3.9 s, cut in its middle.
            cut = shortLongest;
            for (qint64 c = shortLatestCut; c >= shortEarliestCut; c -= shortCutStep) {
                if (sumOfSquares(waiting_.data() + c, shortFrame) / float(shortFrame) < shortQuietEnergy) {
                    cut = c + shortFrame / 2;
                    break;
                }
            }
        }
        windows.push_back({offset_, std::vector<float>(waiting_.begin(), waiting_.begin() + cut)});
        consume(cut);
    }
    return windows;
}

std::vector<SpeechWindow> WindowBuilder::sentences(bool flush)
{
    if (pacing_.value() == CaptionPacing::Short)
        return cutShort(flush);

    const qint64 gapLength = gap(pacing_);
    const qint64 longestWindow = longest(pacing_);
    std::vector<SpeechWindow> windows;

    while (waitingCount() >= nextInspection_ || (flush && !waiting_.empty())) {
        const qint64 o = std::min(waitingCount(), nextInspection_);
        const bool last = flush && waitingCount() <= o;
        const std::vector<Range> ranges = speechIn(o);

        if (ranges.empty()) {
            // No speech: drop the span, but keep its last 0.18 s as the
            // leading pad of whatever follows.
            consume(last ? o : std::max<qint64>(0, o - pad));
            nextInspection_ = firstInspection;
            continue;
        }

        // Merge the ranges into utterances; an utterance closes at a silence
        // of at least one gap.
        qint64 start = std::max<qint64>(0, ranges.front().lower - pad);
        qint64 end = ranges.front().upper;
        std::optional<qint64> midGap;
        for (size_t i = 1; i < ranges.size(); ++i) {
            const Range &r = ranges[i];
            if (r.lower - end < gapLength) {
                midGap = (end + r.lower) / 2;
                end = std::max(end, r.upper);
            } else {
                cutWindow(windows, start, std::min(end + pad, o));
                start = std::max<qint64>(0, r.lower - pad);
                end = r.upper;
                midGap.reset();
            }
        }

        if (!last && o - end < gapLength) {
            // The last utterance may still be running.
            if (o < longestWindow || start > lateStartAllowance) {
                consume(start);
                nextInspection_ = std::clamp(o - start + inspectionGrowth, firstInspection, longestWindow);
                continue;
            }
            // It has reached the longest window: cut it at a recent pause.
            qint64 cut = o;
            if (midGap && *midGap >= o - recentGapHorizon)
                cut = *midGap;
            else if (pacing_.value() == CaptionPacing::Conversational)
                cut = quietBreak(o).value_or(o);
            cutWindow(windows, start, cut);
            consume(cut);
            nextInspection_ = firstInspection;
            continue;
        }

        cutWindow(windows, start, std::min(end + pad, o));
        consume(last ? o : o - pad);
        nextInspection_ = firstInspection;
    }
    return windows;
}

std::vector<SpeechWindow> WindowBuilder::flushDue(double playedSeconds)
{
    if (pacing_.value() == CaptionPacing::Short || waitingCount() < flushMinimum
        || !(double(offset_) / double(sampleRate) <= playedSeconds + flushLeadSeconds))
        return {};
    return sentences(true);
}

void WindowBuilder::reset()
{
    offset_ += waitingCount();
    waiting_.clear();
    nextInspection_ = firstInspection;
}

std::vector<WindowBuilder::Range> WindowBuilder::speechIn(qint64 count) const
{
    const std::vector<Range> whole{{0, count}};
    if (!detect_)
        return whole;
    std::optional<std::vector<Range>> found =
        detect_(recognitionSamples(std::span<const float>(waiting_.data(), size_t(count))));
    if (!found)
        return whole;
    // Keep every range inside the span and in order, so that no cut can
    // leave the inspected samples and windows never overlap.
    std::vector<Range> ranges;
    ranges.reserve(found->size());
    for (Range r : *found) {
        r.lower = std::max<qint64>(r.lower, 0);
        r.upper = std::min(r.upper, count);
        if (r.lower < r.upper)
            ranges.push_back(r);
    }
    std::stable_sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) { return a.lower < b.lower; });
    return ranges;
}

void WindowBuilder::cutWindow(std::vector<SpeechWindow> &windows, qint64 start, qint64 end) const
{
    if (start >= end)
        return;
    windows.push_back({offset_ + start, recognitionSamples(std::span<const float>(waiting_.data() + start, size_t(end - start)))});
}

void WindowBuilder::consume(qint64 count)
{
    count = std::clamp<qint64>(count, 0, waitingCount());
    waiting_.erase(waiting_.begin(), waiting_.begin() + count);
    offset_ += count;
}

std::vector<float> WindowBuilder::recognitionSamples(std::span<const float> slice) const
{
    std::vector<float> samples(slice.begin(), slice.end());
    if (pacing_.value() != CaptionPacing::Conversational)
        return samples;
    float peak = 0;
    for (float s : samples)
        peak = std::max(peak, std::fabs(s));
    // Quiet speech is raised towards a peak of 0.08, by at most 48 times.
    if (peak >= 0.0002f && peak < 0.08f) {
        const float gain = std::min(0.08f / peak, 48.0f);
        for (float &s : samples)
            s *= gain;
    }
    return samples;
}

std::optional<qint64> WindowBuilder::quietBreak(qint64 end) const
{
    const qint64 from = std::max<qint64>(0, end - inspectionGrowth);
    if (end <= from)
        return std::nullopt;
    const float meanEnergy = sumOfSquares(waiting_.data() + from, end - from) / float(end - from);
    const float threshold = 0.1f * meanEnergy * float(quietBreakFrame);
    for (qint64 s = end - quietBreakFrame; s >= from; s -= quietBreakStep) {
        if (sumOfSquares(waiting_.data() + s, quietBreakFrame) < threshold)
            return s + quietBreakFrame / 2;
    }
    return std::nullopt;
}

} // namespace vantuli
