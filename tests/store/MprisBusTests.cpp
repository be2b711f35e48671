// The MPRIS player on a private session bus of its own, driven by playerctl
// as a real client.
#include "StoreFixture.h"

#include "store/MprisMediaSession.h"

#include <QDBusConnectionInterface>
#include "support/PrivateSessionBus.h"

#include <QProcess>
#include <QStandardPaths>

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
    ASSERT_TRUE(waitUntil([this] { return store->state() == State::Stopped; }));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));

    // Stop counts as pause.
    playerctl({QStringLiteral("play-pause")});
    ASSERT_TRUE(waitUntil([this] { return store->state() == State::Connecting; }));
    playerctl({QStringLiteral("stop")});
    ASSERT_TRUE(waitUntil([this] { return store->state() == State::Stopped; }));
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
