#include "store/MprisMediaSession.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <memory>

namespace vantuli {

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString noTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// org.mpris.MediaPlayer2: the application itself; raising and quitting go
// through the application's hooks.
class RootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit RootAdaptor(MprisMediaSession *session) : QDBusAbstractAdaptor(session), session_(session) {}

    bool canQuit() const { return static_cast<bool>(session_->applicationHooks().quit); }
    bool canRaise() const { return static_cast<bool>(session_->applicationHooks().raise); }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Vantuli"); }
    QString desktopEntry() const { return session_->applicationHooks().desktopEntry; }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise()
    {
        if (session_->applicationHooks().raise)
            session_->applicationHooks().raise();
    }
    // The reply goes out first; the application then ends as it always does.
    void Quit()
    {
        if (auto quit = session_->applicationHooks().quit)
            QMetaObject::invokeMethod(session_, std::move(quit), Qt::QueuedConnection);
    }

private:
    MprisMediaSession *session_;
};

// org.mpris.MediaPlayer2.Player: play, pause and what is on air. A live
// stream has no position, length, rate or neighbours.
class PlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit PlayerAdaptor(MprisMediaSession *session) : QDBusAbstractAdaptor(session), session_(session) {}

    QString playbackStatus() const { return session_->playbackStatus(); }
    QVariantMap metadata() const { return session_->metadata(); }
    double rate() const { return 1.0; }
    double volume() const { return session_->volume(); }
    void setVolume(double volume) { session_->setVolume(volume); }
    bool canPlay() const { return session_->canPlay(); }
    qlonglong position() const { return 0; }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Play() { session_->perform(MediaSession::Command::Play); }
    void Pause() { session_->perform(MediaSession::Command::Pause); }
    void PlayPause() { session_->perform(MediaSession::Command::TogglePlayPause); }
    // A live station cannot be held at a position: stopping is pausing.
    void Stop() { session_->perform(MediaSession::Command::Pause); }
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath &, qlonglong) {}
    void OpenUri(const QString &) {}

signals:
    void Seeked(qlonglong position);

private:
    MprisMediaSession *session_;
};

} // namespace

MprisMediaSession::MprisMediaSession(QDBusConnection connection, QObject *parent)
    : QObject(parent), connection_(std::move(connection))
{
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    if (!connection_.isConnected())
        return;
    if (!connection_.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors))
        return;
    // When the name is held (by an instance still quitting after a quick
    // relaunch), wait in the bus's queue for it rather than give up: the bus
    // hands it over the moment that process lets go. The plain claim comes
    // first, so that calls this process makes to its own player are answered
    // directly rather than through the bus.
    if (!connection_.registerService(QString::fromLatin1(serviceName))) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> queued =
            connection_.interface()->registerService(QString::fromLatin1(serviceName),
                                                     QDBusConnectionInterface::QueueService,
                                                     QDBusConnectionInterface::DontAllowReplacement);
        if (!queued.isValid() || queued.value() == QDBusConnectionInterface::ServiceNotRegistered) {
            connection_.unregisterObject(QString::fromLatin1(objectPath));
            return;
        }
    }
    registered_ = true;
}

MprisMediaSession::~MprisMediaSession()
{
    if (registered_) {
        connection_.unregisterService(QString::fromLatin1(serviceName));
        connection_.unregisterObject(QString::fromLatin1(objectPath));
    }
}

qint64 MprisMediaSession::addTarget(Command command, Handler handler)
{
    const qint64 token = ++lastToken_;
    handlers_.emplace_back(token, std::make_pair(command, std::move(handler)));
    return token;
}

void MprisMediaSession::removeTarget(Command command, qint64 token)
{
    std::erase_if(handlers_, [command, token](const auto &entry) {
        return entry.first == token && entry.second.first == command;
    });
}

void MprisMediaSession::perform(Command command)
{
    const auto handlers = handlers_; // a handler may remove targets
    for (const auto &entry : handlers) {
        if (entry.second.first == command && entry.second.second)
            entry.second.second();
    }
}

void MprisMediaSession::setNowPlaying(const std::optional<NowPlaying> &info)
{
    nowPlaying_ = info;
    announce({{QStringLiteral("Metadata"), metadata()}});
}

void MprisMediaSession::setPlaybackState(PlaybackState state)
{
    state_ = state;
    announce({{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void MprisMediaSession::setApplicationHooks(ApplicationHooks hooks)
{
    hooks_ = std::move(hooks);
    announce({{QStringLiteral("CanRaise"), static_cast<bool>(hooks_.raise)},
              {QStringLiteral("CanQuit"), static_cast<bool>(hooks_.quit)},
              {QStringLiteral("DesktopEntry"), hooks_.desktopEntry}},
             "org.mpris.MediaPlayer2");
    announce({{QStringLiteral("Volume"), volume()}, {QStringLiteral("CanPlay"), canPlay()}});
}

double MprisMediaSession::volume() const
{
    return hooks_.volume ? hooks_.volume() : 1.0;
}

void MprisMediaSession::setVolume(double volume)
{
    if (!hooks_.setVolume || !std::isfinite(volume))
        return;
    hooks_.setVolume(std::clamp(volume, 0.0, 1.0));
}

bool MprisMediaSession::canPlay() const
{
    return hooks_.canPlay ? hooks_.canPlay() : true;
}

void MprisMediaSession::volumeChanged()
{
    announce({{QStringLiteral("Volume"), volume()}});
}

void MprisMediaSession::canPlayChanged()
{
    announce({{QStringLiteral("CanPlay"), canPlay()}});
}

QString MprisMediaSession::playbackStatus() const
{
    return state_ == PlaybackState::Playing ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap MprisMediaSession::metadata() const
{
    if (!nowPlaying_)
        return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(noTrack))}};
    QVariantMap map{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackPath(nowPlaying_->title)))},
        {QStringLiteral("xesam:title"), nowPlaying_->title},
        {QStringLiteral("xesam:artist"), QStringList{nowPlaying_->artist}},
    };
    if (nowPlaying_->artworkUrl)
        map.insert(QStringLiteral("mpris:artUrl"), *nowPlaying_->artworkUrl);
    return map;
}

QString MprisMediaSession::trackPath(const QString &title)
{
    // Object path elements allow only [A-Za-z0-9_]: everything else is
    // written as "_" and two hex digits of each UTF-8 byte.
    QString element;
    for (const char byte : title.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            element.append(QLatin1Char(static_cast<char>(c)));
        else
            element.append(QStringLiteral("_%1").arg(c, 2, 16, QLatin1Char('0')));
    }
    if (element.isEmpty())
        element = QStringLiteral("_");
    return QStringLiteral("/app/vantuli/track/") + element;
}

void MprisMediaSession::announce(const QVariantMap &changed, const char *interface)
{
    // Qt's adaptors do not announce property changes: the signal is sent by hand.
    if (!registered_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(objectPath), propertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(interface) << changed << QStringList();
    connection_.send(signal);
}

std::shared_ptr<MediaSession> MediaSession::makeDefault()
{
    // One player per process: the bus name and path are the process's own.
    static std::weak_ptr<MprisMediaSession> shared;
    if (auto session = shared.lock())
        return session;
    auto session = std::make_shared<MprisMediaSession>();
    shared = session;
    return session;
}

} // namespace vantuli

#include "MprisMediaSession.moc"
