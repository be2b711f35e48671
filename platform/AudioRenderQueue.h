#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace vantuli {

// The player's queue of scheduled audio and the bookkeeping of rendering it
// into an output. Positions are counted in frames:
// - the output position counts every frame handed to the output (scheduled
//   audio and the silence written when none is scheduled or the player is not
//   playing), from the creation of the queue; clear() does not rewind it;
// - the sample time counts only frames of scheduled audio rendered since the
//   player started, so it never runs ahead of the audio that was scheduled.
// A buffer's completion becomes due once the output reports that its last frame
// has been presented (takePlayed). Not thread-safe: the engine guards it.
class AudioRenderQueue {
public:
    using Completion = std::function<void()>;

    explicit AudioRenderQueue(int channels);

    int channels() const { return channels_; }

    // Appends interleaved samples (a positive multiple of the channel count;
    // the caller checks) to be played after everything scheduled before.
    void enqueue(std::vector<float> samples, Completion completion);

    // While not playing, the output receives silence and scheduled audio waits.
    void setPlaying(bool playing) { playing_ = playing; }
    bool playing() const { return playing_; }

    // Gain applied while rendering, between 0 and 1; other values are clamped,
    // and a value that is not a number is ignored.
    void setVolume(float volume);
    float volume() const { return volume_; }

    // Writes `frames` interleaved frames into `out`.
    void render(float *out, std::int64_t frames);

    // Completions whose buffer ended at or before `outputPosition`, in the
    // order the buffers were scheduled. Buffers without a completion are skipped.
    std::vector<Completion> takePlayed(std::int64_t outputPosition);

    // Drops every scheduled buffer and every rendered buffer whose completion
    // was not yet taken; the player stops and its sample time returns to 0.
    // Answers the dropped completions, so the caller can release them outside its lock.
    std::vector<Completion> clear();

    std::int64_t sampleTime() const { return sampleTime_; }
    std::int64_t outputPosition() const { return outputPosition_; }
    // Frames scheduled and not yet rendered.
    std::int64_t pendingFrames() const { return pendingFrames_; }

private:
    struct Scheduled {
        std::vector<float> samples;
        std::int64_t frames = 0;
        std::int64_t consumed = 0;
        Completion completion;
    };
    struct Rendered {
        std::int64_t end = 0; // output position just after the buffer's last frame
        Completion completion;
    };

    int channels_;
    bool playing_ = false;
    float volume_ = 1.0f;
    std::int64_t sampleTime_ = 0;
    std::int64_t outputPosition_ = 0;
    std::int64_t pendingFrames_ = 0;
    std::deque<Scheduled> scheduled_;
    std::deque<Rendered> rendered_;
};

} // namespace vantuli
