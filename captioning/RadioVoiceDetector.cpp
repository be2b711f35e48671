#include "captioning/RadioVoiceDetector.h"
#include "captioning/RadioRecognizer.h"

#include <whisper.h>

#include <QFile>

#include <climits>
#include <cmath>
#include <cstring>

namespace vantuli {

namespace {

// One library unit (10 ms) in samples at 16 kHz.
constexpr double samplesPerUnit = 160.0;

} // namespace

std::vector<SampleRange> sampleRangesFromSegments(std::span<const VoiceSegment> segments, qint64 count)
{
    std::vector<SampleRange> ranges;
    ranges.reserve(segments.size());
    for (const VoiceSegment &segment : segments) {
        // std::round rounds halves away from zero; NaN times never make a range.
        const double first = std::round(double(segment.start) * samplesPerUnit);
        const double last = std::round(double(segment.end) * samplesPerUnit);
        if (!(first < last))
            continue;
        const qint64 start = first < 0 ? 0 : first >= double(count) ? count : qint64(first);
        const qint64 end = last > double(count) ? count : last < 0 ? 0 : qint64(last);
        if (start < end)
            ranges.push_back({start, end - start});
    }
    return ranges;
}

std::unique_ptr<RadioVoiceDetector> RadioVoiceDetector::create(const QString &modelPath)
{
    if (modelPath.isEmpty())
        return nullptr;
    keepVulkanAwayWithoutGpu();
    whisper_vad_context_params params = whisper_vad_default_context_params();
    params.n_threads = 1;
    params.use_gpu = false;
    const QByteArray path = QFile::encodeName(modelPath);
    whisper_vad_context *context = nullptr;
    {
        const std::lock_guard lock(speechModelLoads());
        context = whisper_vad_init_from_file_with_params(path.constData(), params);
    }
    if (!context)
        return nullptr;
    return std::unique_ptr<RadioVoiceDetector>(new RadioVoiceDetector(context));
}

RadioVoiceDetector::~RadioVoiceDetector()
{
    whisper_vad_free(context_);
}

std::optional<std::vector<SampleRange>> RadioVoiceDetector::speechRanges(const float *samples, qsizetype count)
{
    if (!samples || count <= 0)
        return std::vector<SampleRange>{};
    // The library counts samples in an int; a longer block cannot be handed
    // over whole, and cutting it short would report a wrong picture.
    if (count > INT_MAX)
        return std::nullopt;
    const int n = int(count);

    whisper_vad_params params = whisper_vad_default_params();
    params.min_speech_duration_ms = 160;
    params.min_silence_duration_ms = 200;
    params.speech_pad_ms = 0;

    whisper_vad_segments *set = whisper_vad_segments_from_samples(context_, params, samples, n);
    if (!set)
        return std::nullopt;
    const int segmentCount = whisper_vad_segments_n_segments(set);
    std::vector<VoiceSegment> segments;
    segments.reserve(segmentCount > 0 ? segmentCount : 0);
    for (int i = 0; i < segmentCount; ++i)
        segments.push_back({whisper_vad_segments_get_segment_t0(set, i), whisper_vad_segments_get_segment_t1(set, i)});
    whisper_vad_free_segments(set);
    return sampleRangesFromSegments(segments, n);
}

std::optional<std::vector<SampleRange>> RadioVoiceDetector::speechRanges(QByteArrayView data)
{
    const qsizetype n = data.size() / qsizetype(sizeof(float));
    if (n <= 0)
        return std::vector<SampleRange>{};
    // The bytes need not be aligned for floats: copy them out.
    std::vector<float> samples(size_t(n), 0.0f);
    std::memcpy(samples.data(), data.data(), size_t(n) * sizeof(float));
    return speechRanges(samples.data(), n);
}

} // namespace vantuli
