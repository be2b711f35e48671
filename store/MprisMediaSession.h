#pragma once

#include "store/MediaSession.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <map>
#include <vector>

namespace vantuli {

// The media keys and the now-playing display on the desktop: an MPRIS 2
// player on the session bus under "org.mpris.MediaPlayer2.vantuli" at
// "/org/mpris/MediaPlayer2". Play, Pause and PlayPause run the registered
// handlers; Stop counts as Pause. The stream is live, so there is no length,
// no seeking and no track list. Without a bus (or when the name is taken) the
// session keeps its state and does nothing else.
//
// Lives on the main thread; bus calls arrive there.
class MprisMediaSession final : public QObject, public MediaSession {
    Q_OBJECT

public:
    static constexpr const char *serviceName = "org.mpris.MediaPlayer2.vantuli";
    static constexpr const char *objectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *playerInterface = "org.mpris.MediaPlayer2.Player";

    explicit MprisMediaSession(QDBusConnection connection = QDBusConnection::sessionBus(),
                               QObject *parent = nullptr);
    ~MprisMediaSession() override;

    // True while the player is on the bus.
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

    // The track id of a station title: a valid object path.
    static QString trackPath(const QString &title);

private:
    void announce(const QVariantMap &changed);

    QDBusConnection connection_;
    bool registered_ = false;
    qint64 lastToken_ = 0;
    std::vector<std::pair<qint64, std::pair<Command, Handler>>> handlers_;
    std::optional<NowPlaying> nowPlaying_;
    PlaybackState state_ = PlaybackState::Stopped;
};

} // namespace vantuli
