#include "platform/AudioRenderQueue.h"

#include <algorithm>
#include <cmath>

namespace vantuli {

AudioRenderQueue::AudioRenderQueue(int channels) : channels_(std::max(1, channels)) {}

void AudioRenderQueue::enqueue(std::vector<float> samples, Completion completion)
{
    const auto frames = static_cast<std::int64_t>(samples.size()) / channels_;
    if (frames <= 0)
        return;
    pendingFrames_ += frames;
    scheduled_.push_back(Scheduled{std::move(samples), frames, 0, std::move(completion)});
}

void AudioRenderQueue::setVolume(float volume)
{
    if (std::isnan(volume))
        return;
    volume_ = std::clamp(volume, 0.0f, 1.0f);
}

void AudioRenderQueue::render(float *out, std::int64_t frames)
{
    if (frames <= 0)
        return;
    std::int64_t written = 0;
    while (playing_ && written < frames && !scheduled_.empty()) {
        Scheduled &front = scheduled_.front();
        const std::int64_t n = std::min(frames - written, front.frames - front.consumed);
        const float *from = front.samples.data() + front.consumed * channels_;
        float *to = out + written * channels_;
        const std::int64_t count = n * channels_;
        if (volume_ == 1.0f) {
            std::copy(from, from + count, to);
        } else {
            for (std::int64_t i = 0; i < count; ++i)
                to[i] = from[i] * volume_;
        }
        front.consumed += n;
        written += n;
        sampleTime_ += n;
        pendingFrames_ -= n;
        if (front.consumed == front.frames) {
            if (front.completion)
                rendered_.push_back(Rendered{outputPosition_ + written, std::move(front.completion)});
            scheduled_.pop_front();
        }
    }
    std::fill(out + written * channels_, out + frames * channels_, 0.0f);
    outputPosition_ += frames;
}

std::vector<AudioRenderQueue::Completion> AudioRenderQueue::takePlayed(std::int64_t outputPosition)
{
    std::vector<Completion> due;
    while (!rendered_.empty() && rendered_.front().end <= outputPosition) {
        due.push_back(std::move(rendered_.front().completion));
        rendered_.pop_front();
    }
    return due;
}

std::vector<AudioRenderQueue::Completion> AudioRenderQueue::clear()
{
    std::vector<Completion> dropped;
    for (Rendered &r : rendered_)
        dropped.push_back(std::move(r.completion));
    for (Scheduled &s : scheduled_) {
        if (s.completion)
            dropped.push_back(std::move(s.completion));
    }
    rendered_.clear();
    scheduled_.clear();
    pendingFrames_ = 0;
    sampleTime_ = 0;
    playing_ = false;
    return dropped;
}

} // namespace vantuli
