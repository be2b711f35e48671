#include "store/MprisMediaSession.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>

#include <memory>

namespace vantuli {

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString noTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// org.mpris.MediaPlayer2: the application itself. It cannot be raised or
// quit from outside.
class RootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit RootAdaptor(MprisMediaSession *session) : QDBusAbstractAdaptor(session) {}

    bool canQuit() const { return false; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Vantuli"); }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise() {}
    void Quit() {}
};

// org.mpris.MediaPlayer2.Player: play, pause and what is on air. A live
// stream has no position, length, rate or neighbours.
class PlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit PlayerAdaptor(MprisMediaSession *session) : QDBusAbstractAdaptor(session), session_(session) {}

    QString playbackStatus() const { return session_->playbackStatus(); }
    QVariantMap metadata() const { return session_->metadata(); }
    double rate() const { return 1.0; }
    double volume() const { return 1.0; }
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
    if (!connection_.registerService(QString::fromLatin1(serviceName))) {
        connection_.unregisterObject(QString::fromLatin1(objectPath));
        return;
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

void MprisMediaSession::announce(const QVariantMap &changed)
{
    // Qt's adaptors do not announce property changes: the signal is sent by hand.
    if (!registered_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(objectPath), propertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(playerInterface) << changed << QStringList();
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
