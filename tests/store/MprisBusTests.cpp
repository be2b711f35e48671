// The MPRIS player on a private session bus of its own, driven by playerctl
// as a real client.
#include "StoreFixture.h"

#include "store/MprisMediaSession.h"

#include <QDBusConnectionInterface>
#include "support/PrivateSessionBus.h"
#include "support/Responsiveness.h"

#include <QDBusPendingCall>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <thread>

namespace vantuli::test {
namespace {

using State = RadioStore::State;

// A playerctl process; the event loop keeps running while it talks to the player.
class Playerctl {
public:
    explicit Playerctl(const QStringList &arguments)
    {
        process_.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), QStringLiteral("vantuli")} + arguments);
        process_.waitForStarted(10000);
    }
    ~Playerctl()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    // Waits for the end; answers the trimmed standard output.
    QString finish()
    {
        waitUntil([this] { return process_.state() == QProcess::NotRunning; }, std::chrono::seconds(30));
        return output().trimmed();
    }
    // Everything written so far.
    QString output()
    {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_;
    }

private:
    QProcess process_;
    QString output_;
};

QString playerctl(const QStringList &arguments)
{
    return Playerctl(arguments).finish();
}

// Counts the PlaybackStatus changes the player announces.
class Announcements : public QObject {
    Q_OBJECT
public:
    int playbackStatus = 0;
public slots:
    void changed(const QString &, const QVariantMap &changed, const QStringList &)
    {
        playbackStatus += changed.contains(QStringLiteral("PlaybackStatus"));
    }
};

class MprisTest : public StoreFixture {
protected:
    void SetUp() override
    {
        if (!PrivateSessionBus::available)
            GTEST_SKIP() << "no dbus-daemon for a private session bus";
        if (QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
            GTEST_SKIP() << "playerctl is not installed";
        StoreFixture::SetUp();
    }

    // Whether the store is in `state`; a start that follows another soon
    // waits a short time, which passes with each look.
    bool heldFor(State state)
    {
        timers->advance(1);
        return store->state() == state;
    }

    RadioStore &makeOnBus()
    {
        RadioStore::Dependencies d = dependencies();
        d.mediaSession = MediaSession::makeDefault();
        store = std::make_unique<RadioStore>(std::move(d));
        return *store;
    }
};

TEST_F(MprisTest, PlayerctlPlaysShowsTheStationAndStops)
{
    makeOnBus();
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

    playerctl({QStringLiteral("play")});
    ASSERT_TRUE(waitUntil([this] { return !farm.scripts.empty(); }));
    const Station station = *store->current();
    EXPECT_EQ(station, *store->selected());
    farm.last().playing();
    farm.settle();
    ASSERT_EQ(store->state(), State::Playing);

    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:title")}), station.name);
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:artist")}), QStringLiteral("China"));
    // playerctl quotes object paths.
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:trackid")}),
              QStringLiteral("'/app/vantuli/track/Station_20zh1'"));
    EXPECT_TRUE(playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:length")}).isEmpty());

    playerctl({QStringLiteral("play-pause")});
    ASSERT_TRUE(waitUntil([this] { return heldFor(State::Stopped); }));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

    // Stop counts as pause.
    playerctl({QStringLiteral("play-pause")});
    ASSERT_TRUE(waitUntil([this] { return heldFor(State::Connecting); }));
    playerctl({QStringLiteral("stop")});
    ASSERT_TRUE(waitUntil([this] { return heldFor(State::Stopped); }));
}

// A client on the bus that sends media commands by the ten thousand without
// waiting for answers: the main thread keeps answering, and the commands fold
// into a few state changes, announced on the bus a few times, with at most
// two starts.
TEST_F(MprisTest, AFloodOfCommandsCostsAFewChanges)
{
    makeOnBus();
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("flood"));
    ASSERT_TRUE(client.isConnected());
    Announcements announcements;
    ASSERT_TRUE(client.connect(QString::fromLatin1(MprisMediaSession::serviceName),
                               QString::fromLatin1(MprisMediaSession::objectPath),
                               QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                               &announcements, SLOT(changed(QString, QVariantMap, QStringList))));
    const auto call = [](const char *method) {
        return QDBusMessage::createMethodCall(QString::fromLatin1(MprisMediaSession::serviceName),
                                              QString::fromLatin1(MprisMediaSession::objectPath),
                                              QString::fromLatin1(MprisMediaSession::playerInterface),
                                              QString::fromLatin1(method));
    };
    struct Flood {
        const char *what;
        std::vector<const char *> methods;
        int repeats;
        State end;
    };
    const Flood floods[] = {
        {"PlayPause, an even number of times", {"PlayPause"}, 10000, State::Stopped},
        {"PlayPause, an odd number of times", {"PlayPause"}, 10001, State::Connecting},
        {"Pause then Play", {"Pause", "Play"}, 5000, State::Connecting},
        {"Play then Stop", {"Play", "Stop"}, 5000, State::Stopped},
    };
    for (const Flood &flood : floods) {
        const size_t before = farm.scripts.size();
        announcements.playbackStatus = 0;
        Responsiveness responsiveness(std::chrono::seconds(1));
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            for (int i = 0; i < flood.repeats; ++i)
                for (const char *method : flood.methods)
                    client.send(call(method));
            sent = true;
        });
        EXPECT_TRUE(waitUntil([&] { return sent.load(); }, std::chrono::seconds(60))) << flood.what;
        sender.join();
        // Calls from one connection are answered in order: once this one is,
        // every command has reached the store.
        QDBusMessage status = QDBusMessage::createMethodCall(
            QString::fromLatin1(MprisMediaSession::serviceName), QString::fromLatin1(MprisMediaSession::objectPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        status << QString::fromLatin1(MprisMediaSession::playerInterface) << QStringLiteral("PlaybackStatus");
        const QDBusPendingCall answered = client.asyncCall(status, 60000);
        EXPECT_TRUE(waitUntil([&] { return answered.isFinished(); }, std::chrono::seconds(60))) << flood.what;
        EXPECT_FALSE(answered.isError()) << flood.what;
        EXPECT_EQ(responsiveness.finish(), 0) << flood.what;
        farm.settle();
        timers->advance(10);
        farm.settle();
        EXPECT_EQ(store->state(), flood.end) << flood.what;
        EXPECT_LE(farm.scripts.size() - before, 2u) << flood.what;
        EXPECT_LE(announcements.playbackStatus, 6) << flood.what;
        store->stop(false);
        timers->advance(10);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("flood"));
}

TEST_F(MprisTest, EveryChangeIsAnnouncedToAFollowingClient)
{
    auto session = std::make_shared<MprisMediaSession>();
    ASSERT_TRUE(session->registered());
    Playerctl status({QStringLiteral("--follow"), QStringLiteral("status")});
    ASSERT_TRUE(waitUntil([&] { return status.output().contains(QStringLiteral("Stopped")); }));

    session->setNowPlaying(MediaSession::NowPlaying{QStringLiteral("Radio Zürich"), QStringLiteral("Zürich"), true,
                                                    1.0, std::nullopt});
    session->setPlaybackState(MediaSession::PlaybackState::Playing);
    EXPECT_TRUE(waitUntil([&] { return status.output().contains(QStringLiteral("Playing")); }));

    Playerctl title({QStringLiteral("--follow"), QStringLiteral("metadata"), QStringLiteral("xesam:title")});
    EXPECT_TRUE(waitUntil([&] { return title.output().contains(QStringLiteral("Radio Zürich")); }));
    session->setNowPlaying(MediaSession::NowPlaying{QStringLiteral("FIP"), QStringLiteral("Paris"), true, 1.0,
                                                    QStringLiteral("file:///tmp/cover.png")});
    EXPECT_TRUE(waitUntil([&] { return title.output().contains(QStringLiteral("FIP")); }));
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:artUrl")}),
              QStringLiteral("file:///tmp/cover.png"));
}

TEST_F(MprisTest, APlayerStartedWhileTheNameIsHeldTakesItOverWhenItIsFreed)
{
    // Another connection holds the name, as an instance that is still quitting does.
    QDBusConnection holder = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("holder"));
    const QString name = QString::fromLatin1(MprisMediaSession::serviceName);
    ASSERT_TRUE(holder.registerService(name));

    auto session = std::make_shared<MprisMediaSession>();
    ASSERT_TRUE(session->registered());
    session->setPlaybackState(MediaSession::PlaybackState::Playing);
    EXPECT_EQ(QDBusConnection::sessionBus().interface()->serviceOwner(name).value(), holder.baseService());

    holder.unregisterService(name);
    QDBusConnection::disconnectFromBus(QStringLiteral("holder"));
    ASSERT_TRUE(waitUntil([&] {
        return QDBusConnection::sessionBus().interface()->serviceOwner(name).value() ==
               QDBusConnection::sessionBus().baseService();
    }));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
}

TEST_F(MprisTest, WithoutABusThereIsNoPlayerAndNoError)
{
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/vantuli-bus"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    MprisMediaSession session(nowhere);
    EXPECT_FALSE(session.registered());
    int plays = 0;
    session.addTarget(MediaSession::Command::Play, [&plays] { ++plays; });
    session.setNowPlaying(MediaSession::NowPlaying{QStringLiteral("FIP"), QString(), true, 1.0, std::nullopt});
    session.setPlaybackState(MediaSession::PlaybackState::Playing);
    session.perform(MediaSession::Command::Play);
    EXPECT_EQ(plays, 1);
    EXPECT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QString::fromLatin1(MprisMediaSession::serviceName)));
}

TEST(MprisTrackPath, IsAValidObjectPathForAnyTitle)
{
    for (const QString &title : {QStringLiteral("BBC World Service"), QStringLiteral("Radio Zürich"),
                                 QStringLiteral("电台"), QString(), QStringLiteral("a/b_c.d")}) {
        const QString path = MprisMediaSession::trackPath(title);
        EXPECT_TRUE(QDBusObjectPath(path).path() == path) << path.toStdString();
        const QString element = path.section(QLatin1Char('/'), -1);
        EXPECT_FALSE(element.isEmpty());
        for (QChar c : element)
            EXPECT_TRUE((c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('_')) << path.toStdString();
    }
    EXPECT_NE(MprisMediaSession::trackPath(QStringLiteral("a b")), MprisMediaSession::trackPath(QStringLiteral("a_b")));
}

} // namespace
} // namespace vantuli::test

#include "MprisBusTests.moc"
