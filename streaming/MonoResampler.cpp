#include "streaming/MonoResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <cmath>

namespace vantuli {

std::unique_ptr<MonoResampler> MonoResampler::make(double rate, int channels)
{
    if (channels < 1 || !(rate >= 1))
        return nullptr;
    auto made = std::unique_ptr<MonoResampler>(new MonoResampler(rate));
    AVChannelLayout in{};
    AVChannelLayout out{};
    av_channel_layout_default(&in, channels);
    av_channel_layout_default(&out, 1);
    int status = swr_alloc_set_opts2(&made->context_, &out, AV_SAMPLE_FMT_FLT, int(monoRate), &in,
                                     AV_SAMPLE_FMT_FLT, int(rate), 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    // The library's own downmix keeps the loudness of a room, not of the
    // signal (+3 dB for identical stereo, more for surround, with peaks
    // past full scale): every channel weighs the same instead.
    if (status >= 0) {
        const std::vector<double> mean(static_cast<size_t>(channels), 1.0 / channels);
        status = swr_set_matrix(made->context_, mean.data(), channels);
    }
    if (status >= 0)
        status = swr_init(made->context_);
    if (status < 0)
        return nullptr;
    return made;
}

MonoResampler::~MonoResampler()
{
    swr_free(&context_);
}

void MonoResampler::reset()
{
    // The matrix set at creation stays with the context.
    swr_close(context_);
    swr_init(context_);
}

std::vector<float> MonoResampler::convert(const float *samples, qint64 frames)
{
    if (!swr_is_initialized(context_) || frames <= 0)
        return {};
    const qint64 capacity = qint64(std::ceil(double(frames) * monoRate / rate_)) + 64;
    std::vector<float> mono(static_cast<size_t>(capacity));
    auto *out = reinterpret_cast<uint8_t *>(mono.data());
    const auto *in = reinterpret_cast<const uint8_t *>(samples);
    const int produced = swr_convert(context_, &out, int(capacity), &in, int(frames));
    if (produced <= 0)
        return {};
    mono.resize(static_cast<size_t>(produced));
    return mono;
}

} // namespace vantuli
