#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

struct SwrContext;

namespace vantuli {

// Converts the scheduled audio (interleaved float at the source's rate and
// channel count) to 16 kHz mono float for the window cutter. Mono is the
// plain mean of the channels, with no gain: identical channels keep their
// amplitude, so the voice detector and the recogniser hear the source's level.
// It keeps its filter state from one buffer to the next, so the mono clock
// runs on without gaps; reset() forgets that state after dropped audio.
class MonoResampler {
public:
    static constexpr double monoRate = 16000;

    // Nothing when the conversion cannot be set up for this source.
    static std::unique_ptr<MonoResampler> make(double rate, int channels);
    ~MonoResampler();
    MonoResampler(const MonoResampler &) = delete;
    MonoResampler &operator=(const MonoResampler &) = delete;

    void reset();

    // The mono samples of `frames` interleaved frames; empty when the
    // conversion failed or produced nothing yet.
    std::vector<float> convert(const float *samples, qint64 frames);

private:
    explicit MonoResampler(double rate) : rate_(rate) {}

    SwrContext *context_ = nullptr;
    double rate_;
};

} // namespace vantuli
