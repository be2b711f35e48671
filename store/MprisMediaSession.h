#pragma once

#include "store/MediaSession.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <vector>

namespace vantuli {

// The media keys and the now-playing display on the desktop: an MPRIS 2
// player on the session bus under "org.mpris.MediaPlayer2.vantuli" at
// "/org/mpris/MediaPlayer2". Play, Pause and PlayPause run the registered
// handlers; Stop counts as Pause. The stream is live, so there is no length,
// no seeking and no track list. Without a bus the session keeps its state and
// does nothing else. While another process holds the name (an instance still
// quitting), the session waits in the bus's queue and takes over when it goes.
//
// Lives on the main thread; bus calls arrive there.
class MprisMediaSession final : public QObject, public MediaSession {
    Q_OBJECT

public:
    // What the application adds once it has a window: the desktop entry, raising
    // the main window, quitting, the volume and whether there is a station to
    // play. Every member may stay empty: then the player cannot raise or quit,
    // its volume reads 1 and cannot be set, and it can always play.
    struct ApplicationHooks {
        QString desktopEntry;
        std::function<void()> raise;
        std::function<void()> quit;
        std::function<double()> volume;
        std::function<void(double)> setVolume;
        std::function<bool()> canPlay;
    };

    static constexpr const char *serviceName = "org.mpris.MediaPlayer2.vantuli";
    static constexpr const char *objectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *playerInterface = "org.mpris.MediaPlayer2.Player";

    explicit MprisMediaSession(QDBusConnection connection = QDBusConnection::sessionBus(),
                               QObject *parent = nullptr);
    ~MprisMediaSession() override;

    // True while the player is on the bus, or queued for its name.
    bool registered() const { return registered_; }

    qint64 addTarget(Command command, Handler handler) override;
    void removeTarget(Command command, qint64 token) override;
    void setNowPlaying(const std::optional<NowPlaying> &info) override;
    void setPlaybackState(PlaybackState state) override;

    // What the bus reads.
    QString playbackStatus() const;
    QVariantMap metadata() const;

    // A command from the bus: runs its handlers in the order they were added.
    void perform(Command command);

    void setApplicationHooks(ApplicationHooks hooks);
    const ApplicationHooks &applicationHooks() const { return hooks_; }
    // The bus's view of the hooks; a volume set from the bus is clamped to
    // 0...1 and a value that is not a number is ignored.
    double volume() const;
    void setVolume(double volume);
    bool canPlay() const;
    // Announce a change of the hooked values to the bus's clients.
    void volumeChanged();
    void canPlayChanged();

    // The track id of a station title: a valid object path.
    static QString trackPath(const QString &title);

private:
    void announce(const QVariantMap &changed, const char *interface = playerInterface);

    QDBusConnection connection_;
    bool registered_ = false;
    qint64 lastToken_ = 0;
    std::vector<std::pair<qint64, std::pair<Command, Handler>>> handlers_;
    std::optional<NowPlaying> nowPlaying_;
    PlaybackState state_ = PlaybackState::Stopped;
    ApplicationHooks hooks_;
};

} // namespace vantuli
