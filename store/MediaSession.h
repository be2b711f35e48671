#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vantuli {

// The desktop's media keys and now-playing display as the store sees them.
// The implementation on the session bus is MPRIS; tests use a recorder.
class MediaSession {
public:
    enum class Command { Play, Pause, TogglePlayPause };
    enum class PlaybackState { Stopped, Playing };

    // What the now-playing display shows for a station.
    struct NowPlaying {
        QString title;  // the station's name
        QString artist; // where the station is
        bool liveStream = true;
        double playbackRate = 1.0;
        std::optional<QString> artworkUrl; // the broadcast artwork, when there is one
    };

    using Handler = std::function<void()>;

    virtual ~MediaSession() = default;

    // Registers a handler for a command (called on the main thread); answers
    // a token for removing it again.
    virtual qint64 addTarget(Command command, Handler handler) = 0;
    virtual void removeTarget(Command command, qint64 token) = 0;

    // Absent clears the display.
    virtual void setNowPlaying(const std::optional<NowPlaying> &info) = 0;
    virtual void setPlaybackState(PlaybackState state) = 0;

    // The application's session on the user's session bus; a session that
    // does nothing when there is no bus.
    static std::shared_ptr<MediaSession> makeDefault();
};

} // namespace vantuli
