#pragma once

#include "captioning/SpeechWindow.h"
#include "records/CaptionPacing.h"
#include "records/DisplayMessage.h"
#include "records/StreamTransfer.h"
#include "streaming/StreamConfiguration.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vantuli {

// A timing point of a run: how far the scheduled audio reached with a buffer,
// when that buffer was decoded and when the output reported it played back.
// `mediaEnd` is seconds of audio; the other two are seconds of the uptime clock.
struct PlaybackSample {
    double mediaEnd = 0;
    double decodedAt = 0;
    double playedAt = 0;
};

// What a run reports to its owner. `Answered` comes once, when the first
// bytes of the station's audio arrive, before `Playing`.
struct StreamEvent {
    enum class Kind { Position, Failed, Playing, Answered };

    Kind kind = Kind::Playing;
    double played = 0;   // Position: seconds of audio played
    double buffered = 0; // Position: seconds of audio buffered ahead of the listener
    std::optional<DisplayMessage> message; // Failed
    // Failed: whether a reconnect may fare better; not when this system
    // lacks what every run needs.
    bool worthRetrying = true;

    static StreamEvent position(double played, double buffered)
    {
        StreamEvent e;
        e.kind = Kind::Position;
        e.played = played;
        e.buffered = buffered;
        return e;
    }
    static StreamEvent failed(DisplayMessage message, bool worthRetrying = true)
    {
        StreamEvent e;
        e.kind = Kind::Failed;
        e.message = std::move(message);
        e.worthRetrying = worthRetrying;
        return e;
    }
    static StreamEvent playing() { return StreamEvent{}; }
    static StreamEvent answered()
    {
        StreamEvent e;
        e.kind = Kind::Answered;
        return e;
    }
};

// One listening run's connection as its owner sees it. `LiveStream` is the
// real one; the store takes a factory so tests can run it on a scripted one.
// The window and event handlers are called on the stream's own queue; the
// timing hook on the audio output's completion thread.
class PlaybackStream {
public:
    using TimingHook = std::function<void(const PlaybackSample &)>;
    using WindowHandler = std::function<void(std::vector<SpeechWindow>)>;
    using EventHandler = std::function<void(const StreamEvent &)>;

    // What a run is created with.
    struct Parameters {
        double delay = 0; // caption delay in seconds; 0 when captions are off
        CaptionPacing pacing;
        TimingHook timing;
        WindowHandler window;
        EventHandler event;
    };

    virtual ~PlaybackStream() = default;

    // Starts the run once; later calls do nothing. Returns at once.
    virtual void start(const QUrl &url, float volume, const StreamConfiguration &configuration) = 0;
    // Ends the run without any event.
    virtual void stop() = 0;
    virtual void setVolume(float volume) = 0;
    // A copy of the connection figures, taken under the stream's transfer lock.
    virtual StreamTransfer transfer() const = 0;
};

using StreamFactory = std::function<std::unique_ptr<PlaybackStream>(PlaybackStream::Parameters)>;

} // namespace vantuli

namespace vantuli {

// The real stream of a run (defined with `LiveStream`).
std::unique_ptr<PlaybackStream> makeLiveStream(PlaybackStream::Parameters parameters);

} // namespace vantuli
