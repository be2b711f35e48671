#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vantuli {

// The engine's standard format: interleaved 32-bit float samples at a whole
// sample rate, with the channel count of the stream.
struct AudioFormat {
    double sampleRate = 0;
    int channels = 0;

    // Answers the standard format for a rate and channel count, or nothing when
    // the engine cannot play it: rates must be whole numbers from 1000 to
    // 384000 Hz, channel counts 1 to 8.
    static std::optional<AudioFormat> standard(double sampleRate, std::uint32_t channels);

    bool operator==(const AudioFormat &) const = default;
};

// The player's clock: `sampleTime` frames of scheduled audio rendered since the
// player started, at `sampleRate`.
struct AudioPlayerTime {
    std::int64_t sampleTime = 0;
    double sampleRate = 0;
    double seconds() const { return sampleRate > 0 ? static_cast<double>(sampleTime) / sampleRate : 0; }
};

// An audio output with one player. The engine runs its output on a thread of
// its own (with a Qt event loop) and calls completions on a second thread, its
// completion thread. Every public member may be called from any thread, except
// that the engine must not be destroyed on either of its own threads.
//
// Output: chosen at start(). With OutputChoice::Automatic, the environment
// variable VANTULI_AUDIO=null, or a system without an audio output device,
// gives the null output (audio is consumed at real time and discarded);
// otherwise the system's default output device plays through a Qt Multimedia
// sink. OutputChoice::Null and OutputChoice::Device force one of them.
//
// Player: buffers play in the order they were scheduled, once play() was
// called; while nothing is scheduled the output receives silence and keeps
// running, and the player's sample time stands still: it counts only frames of
// scheduled audio, never silence, so it never runs ahead of the audio scheduled.
// The sample time counts frames as they are rendered into the output; the
// listener hears them `outputLatency()` seconds later.
//
// Completions: a buffer's completion runs on the completion thread once the
// output reports the buffer's last frame as played back (for the device output,
// by the sink's processed time, which accounts for the device's latency; for the
// null output, once it consumed the frame). They run one at a time, in the order
// the buffers were scheduled. A completion never runs for audio dropped by
// stop() or reset(), nor for audio that was played but whose completion had not
// run yet when stop() or reset() was called: such completions are discarded
// without being called. stop() and reset() are synchronous: once they return no
// completion of earlier audio runs or is running (when called from inside a
// completion, the calling completion is the only one still running). As they
// wait for a running completion, a completion must never wait for a thread that
// may be calling stop(), reset() or start().
class AudioEngine {
public:
    using Completion = std::function<void()>;

    enum class OutputChoice { Automatic, Null, Device };
    enum class OutputKind { None, Null, Device };

    explicit AudioEngine(OutputChoice choice = OutputChoice::Automatic);
    ~AudioEngine(); // stops the engine
    AudioEngine(const AudioEngine &) = delete;
    AudioEngine &operator=(const AudioEngine &) = delete;

    // Connects the player with `format` and starts the output. Answers false,
    // with a description in `error`, when the format is not a standard format or
    // the output cannot be opened. An engine that is running is stopped first
    // (its audio is dropped), so each start begins afresh with the new format.
    bool start(const AudioFormat &format, QString *error = nullptr);
    // Stops the player and the output and drops all scheduled audio. After it
    // returns no audio is played, no completion runs and no output change is reported.
    void stop();
    // Drops all scheduled audio and stops the player (its sample time returns to
    // 0 and play() starts it again); the output keeps running.
    void reset();
    bool isRunning() const;
    // The format of the last successful start.
    std::optional<AudioFormat> format() const;
    // The output in use while running.
    OutputKind outputKind() const;
    // Seconds from the rendering of a frame until it is heard (0 when stopped).
    double outputLatency() const;

    // Starts the player. Answers false when the engine is not running.
    bool play();
    bool isPlaying() const;
    // Player volume from 0 to 1 (clamped; a value that is not a number is
    // ignored). Kept across starts; it applies to audio rendered from now on.
    void setVolume(float volume);
    float volume() const;

    // Schedules interleaved samples at the engine's format after everything
    // scheduled before. Answers false, and never calls the completion, when the
    // engine is not running or the sample count is not a positive multiple of
    // the channel count.
    bool scheduleBuffer(std::vector<float> samples, Completion completion = {});
    // The player's time; nothing while the player is not playing.
    std::optional<AudioPlayerTime> playerTime() const;

    // Called on the completion thread when the running output stops by itself
    // because its device went away or the system's default output device
    // changed (the engine is then no longer running and its audio is dropped).
    void setOutputChangedHandler(std::function<void()> handler);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace vantuli
