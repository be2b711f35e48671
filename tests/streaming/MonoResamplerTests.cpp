#include "streaming/MonoResampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace vantuli;

namespace {

// The peak of the 16 kHz mono conversion of a 440 Hz tone of amplitude 0.5
// played identically on every channel, past the filter's first samples.
float monoPeak(MonoResampler &resampler, double rate, int channels)
{
    const qint64 frames = qint64(rate); // one second
    std::vector<float> interleaved(size_t(frames * channels));
    for (qint64 j = 0; j < frames; ++j) {
        const float v = 0.5f * float(std::sin(2 * std::numbers::pi * 440 * double(j) / rate));
        std::fill_n(interleaved.begin() + j * channels, channels, v);
    }
    const std::vector<float> mono = resampler.convert(interleaved.data(), frames);
    if (mono.size() < 8000)
        return 0;
    float peak = 0;
    for (size_t i = 1000; i < mono.size(); ++i)
        peak = std::max(peak, std::abs(mono[i]));
    return peak;
}

} // namespace

// Captioning audio keeps the source's level: mono is the mean of the
// channels, so identical channels neither gain (+3 dB for stereo, +10.7 dB
// for 5.1 with a room downmix) nor clip, also after a reset.
TEST(MonoResampler, IdenticalChannelsKeepTheirAmplitude)
{
    for (const auto &[rate, channels] : {std::pair{44100.0, 1}, std::pair{44100.0, 2}, std::pair{48000.0, 2},
                                         std::pair{48000.0, 6}}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
        auto resampler = MonoResampler::make(rate, channels);
        ASSERT_TRUE(resampler);
        EXPECT_NEAR(monoPeak(*resampler, rate, channels), 0.5f, 0.01f);
        resampler->reset();
        EXPECT_NEAR(monoPeak(*resampler, rate, channels), 0.5f, 0.01f);
    }
}
