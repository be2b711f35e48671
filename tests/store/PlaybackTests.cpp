#include "StoreFixture.h"

namespace vantuli::test {
namespace {

using State = RadioStore::State;

class PlaybackTest : public StoreFixture {};

TEST_F(PlaybackTest, RefusesEveryStreamAddressThatIsNotExactlyHttps)
{
    const QStringList refused = {
        QStringLiteral("http://radio.example.org/live"),
        QStringLiteral("HTTPS://radio.example.org/live"),
        QStringLiteral("Https://radio.example.org/live"),
        QStringLiteral("https://[::1/live"),
        QStringLiteral("radio.example.org/live"),
        QStringLiteral(" https://radio.example.org/live"),
        QStringLiteral("ftp://radio.example.org/live"),
    };
    make();
    for (const QString &address : refused) {
        SCOPED_TRACE(address.toStdString());
        const Station s = station(QStringLiteral("x"), QStringLiteral("zh"), address);
        store->start(s, 0, true);
        EXPECT_EQ(store->state(), State::Failed);
        ASSERT_TRUE(store->playbackMessage());
        EXPECT_EQ(store->playbackMessage()->content(), QStringLiteral("这家电台目前提供官网收听入口。"));
        EXPECT_EQ(store->current(), s);
        EXPECT_EQ(store->selected(), s);
        EXPECT_FALSE(store->active());
    }
    EXPECT_TRUE(farm.scripts.empty());
    EXPECT_TRUE(sessions().empty());
    EXPECT_TRUE(store->failures().empty()); // refused, not failed
}

TEST_F(PlaybackTest, StartsAnHttpsStationWithTheVolumeAndARow)
{
    settings->setValue(QStringLiteral("volume"), 0.3);
    make();
    store->start(find(QStringLiteral("fr1")), 0, true);
    EXPECT_EQ(store->state(), State::Connecting);
    ASSERT_EQ(farm.scripts.size(), 1u);
    EXPECT_TRUE(farm.last().started);
    EXPECT_EQ(farm.last().url, QUrl(QStringLiteral("https://radio.example.org/fr1")));
    EXPECT_FLOAT_EQ(farm.last().volumes.at(0), 0.3f);
    ASSERT_EQ(sessions().size(), 1u);
    EXPECT_EQ(sessions()[0].retry, 0);
}

struct CaptionCase {
    const char *name;
    bool captionsOn;
    const char *language;        // the recognition-language setting
    const char *stationLanguage; // of the station started
    double delay;
    CaptionPacing pacing;
    const char *recognitionCode; // empty: nothing recognised
    const char *status;
};

class CaptionDecisionTest : public StoreFixture, public ::testing::WithParamInterface<CaptionCase> {};

TEST_P(CaptionDecisionTest, ChoosesDelayPacingAndRecognitionLanguage)
{
    const CaptionCase &c = GetParam();
    settings->setValue(QStringLiteral("captions"), c.captionsOn);
    settings->setValue(QStringLiteral("language"), QString::fromUtf8(c.language));
    catalog = {station(QStringLiteral("s"), QString::fromUtf8(c.stationLanguage))};
    make();

    store->start(find(QStringLiteral("s")), 0, true);
    ASSERT_EQ(farm.scripts.size(), 1u);
    const StreamScript &script = farm.last();
    EXPECT_EQ(script.parameters.delay, c.delay);
    EXPECT_EQ(script.parameters.pacing.value(), c.pacing.value());
    EXPECT_EQ(store->status(), QString::fromUtf8(c.status));

    farm.last().windows({speechWindow(1)});
    farm.settle();
    const QString code = QString::fromUtf8(c.recognitionCode);
    if (code.isEmpty()) {
        EXPECT_EQ(probe->callCount(), 0); // the recogniser was never asked
    } else {
        ASSERT_TRUE(waitUntil([&] { return probe->callCount() == 1; }));
        std::lock_guard lock(probe->mutex);
        EXPECT_EQ(probe->languages.at(0), code);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, CaptionDecisionTest,
    ::testing::Values(
        CaptionCase{"EnglishByStation", true, "station", "en-GB", 12, CaptionPacing::Conversational, "en",
                    "Preparing synced captions (buffering 12 seconds)…"},
        CaptionCase{"EnglishAuto", true, "auto", "en", 12, CaptionPacing::Conversational, "auto",
                    "Preparing synced captions (buffering 12 seconds)…"},
        CaptionCase{"GermanOnFrench", true, "de", "fr", 14, CaptionPacing::Sentence, "de",
                    "Preparing synced captions (buffering 14 seconds)…"},
        CaptionCase{"ChineseShort", true, "station", "zh-CN", 5, CaptionPacing::Short, "zh",
                    "Connecting and preparing synced captions…"},
        CaptionCase{"UnknownLanguageIsAuto", true, "station", "", 5, CaptionPacing::Short, "auto",
                    "Connecting and preparing synced captions…"},
        CaptionCase{"BengaliDeferred", true, "station", "bn-IN", 0, CaptionPacing::Short, "", "Connecting…"},
        CaptionCase{"CaptionsOff", false, "station", "en", 0, CaptionPacing::Short, "", "Connecting…"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PlaybackTest, ReconnectsTwiceThenFailsWithTheStreamsMessage)
{
    make();
    const Station s = find(QStringLiteral("fr1"));
    store->setSelected(find(QStringLiteral("zh1")));
    store->start(s, 0, true);

    farm.last().fail(QStringLiteral("first"));
    farm.settle();
    EXPECT_EQ(store->state(), State::Connecting);
    ASSERT_TRUE(store->playbackMessage());
    EXPECT_EQ(store->playbackMessage()->text(), QStringLiteral("Reconnecting (attempt 1)…"));
    EXPECT_EQ(timers->pendingWaits(), std::vector<double>{2});
    EXPECT_TRUE(farm.last().stopped);

    timers->advance(2);
    ASSERT_EQ(farm.scripts.size(), 2u);
    EXPECT_EQ(store->state(), State::Connecting);
    EXPECT_EQ(store->status(), QStringLiteral("Reconnecting (attempt 1)…")); // while the retry connects
    EXPECT_EQ(store->selected(), s); // the first start selected it; reconnects leave it
    // The station answers: the status tells the buffering from then on.
    farm.last().answered();
    farm.settle();
    EXPECT_EQ(store->state(), State::Connecting);
    EXPECT_FALSE(store->playbackMessage());
    EXPECT_EQ(store->status(), QStringLiteral("Connecting and preparing synced captions…"));

    farm.last().fail(QStringLiteral("second"));
    farm.settle();
    EXPECT_EQ(store->playbackMessage()->text(), QStringLiteral("Reconnecting (attempt 2)…"));
    EXPECT_EQ(timers->pendingWaits(), std::vector<double>{3});

    timers->advance(3);
    ASSERT_EQ(farm.scripts.size(), 3u);
    farm.last().fail(QStringLiteral("the stream's own words"));
    farm.settle();
    EXPECT_EQ(store->state(), State::Failed);
    EXPECT_EQ(store->playbackMessage()->text(), QStringLiteral("the stream's own words"));
    EXPECT_TRUE(timers->pendingWaits().empty());
    EXPECT_EQ(store->transportStation(), s);

    // One row per attempt, each closed as interrupted.
    const auto rows = sessions();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].retry, 2);
    EXPECT_EQ(rows[1].retry, 1);
    EXPECT_EQ(rows[2].retry, 0);
    for (const auto &row : rows) {
        EXPECT_TRUE(row.interrupted);
        EXPECT_EQ(row.played, 0);
        EXPECT_FALSE(row.startedPlayback);
    }
    EXPECT_TRUE(store->failures().contains(s.id));

    // A failure no reconnect can mend (the system lacks what every run
    // needs) ends the chain at once, and is not the station's.
    const Station other = find(QStringLiteral("zh1"));
    store->start(other, 0, true);
    farm.last().fail(QStringLiteral("no network library"), false);
    farm.settle();
    EXPECT_EQ(store->state(), State::Failed);
    EXPECT_EQ(store->playbackMessage()->text(), QStringLiteral("no network library"));
    EXPECT_TRUE(timers->pendingWaits().empty());
    EXPECT_FALSE(store->failures().contains(other.id));
}

TEST_F(PlaybackTest, AChainThatPlaysInBetweenStillEndsAfterTheSecondReconnectWithOneVisit)
{
    make();
    const Station s = find(QStringLiteral("fr1"));
    store->start(s, 0, true);
    farm.last().fail(QStringLiteral("x"));
    farm.settle();
    timers->advance(2);
    farm.last().playing();
    farm.settle();
    EXPECT_EQ(store->state(), State::Playing);
    farm.last().fail(QStringLiteral("x"));
    farm.settle();
    timers->advance(3);
    farm.last().playing();
    farm.settle();
    farm.last().fail(QStringLiteral("final"));
    farm.settle();
    EXPECT_EQ(store->state(), State::Failed);
    ASSERT_EQ(store->history().size(), 1u);
    EXPECT_EQ(store->history()[0].visits, 1);
}

TEST_F(PlaybackTest, StoppingDuringTheReconnectWaitCancelsIt)
{
    make();
    store->start(find(QStringLiteral("fr1")), 0, true);
    farm.last().fail(QStringLiteral("x"));
    farm.settle();
    ASSERT_EQ(timers->pendingWaits().size(), 1u);

    store->stop(false);
    EXPECT_EQ(store->state(), State::Stopped);
    EXPECT_FALSE(store->playbackMessage());
    timers->advance(60);
    EXPECT_EQ(farm.scripts.size(), 1u);
    EXPECT_EQ(store->state(), State::Stopped);
}

TEST_F(PlaybackTest, EventsOfAnEndedRunChangeNothing)
{
    make();
    store->start(find(QStringLiteral("fr1")), 0, true);
    StreamScript &old = farm.last();
    store->start(find(QStringLiteral("zh1")), 0, true);
    StreamScript &fresh = farm.last();
    EXPECT_TRUE(old.stopped);

    old.playing();
    old.position(30, 4);
    old.fail(QStringLiteral("late"));
    farm.settle();
    EXPECT_EQ(store->state(), State::Connecting);
    EXPECT_EQ(store->current()->id, QStringLiteral("zh1"));
    EXPECT_EQ(store->bufferSeconds(), 0);
    EXPECT_FALSE(store->playbackMessage());
    EXPECT_TRUE(timers->pendingWaits().empty());

    fresh.playing();
    farm.settle();
    EXPECT_EQ(store->state(), State::Playing);
}

TEST_F(PlaybackTest, PlayingAndPositionsDriveStateBufferAndNowPlaying)
{
    make();
    const Station s = find(QStringLiteral("fr1"));
    int bufferAnnouncements = 0;
    QObject::connect(store.get(), &RadioStore::bufferSecondsChanged, [&] { ++bufferAnnouncements; });
    store->start(s, 0, true);
    bufferAnnouncements = 0;

    farm.last().playing();
    farm.last().position(0.1, 2.4);
    farm.last().position(0.2, 2.5); // rounds away from zero
    farm.last().position(0.3, 2.6);
    farm.last().position(0.4, -1);
    farm.settle();
    EXPECT_EQ(store->state(), State::Playing);
    EXPECT_EQ(store->bufferSeconds(), 0);
    EXPECT_EQ(bufferAnnouncements, 3); // 2, 3, 0: only changes are published
    EXPECT_DOUBLE_EQ(store->position(), 0.4);
    ASSERT_FALSE(media->states.empty());
    EXPECT_EQ(store->history().size(), 1u);

    store->stop(false);
    EXPECT_EQ(media->states.back(), MediaSession::PlaybackState::Stopped);
    EXPECT_FALSE(media->nowPlaying.back());
    EXPECT_EQ(store->position(), 0);
    EXPECT_EQ(store->transportStation(), store->selected());
}

TEST_F(PlaybackTest, ToggleStopsTheActiveStationAndRestartsAFailedOne)
{
    make();
    const Station s = find(QStringLiteral("fr1"));
    store->toggle(s);
    EXPECT_EQ(store->state(), State::Connecting);
    store->toggle(s);
    EXPECT_EQ(store->state(), State::Stopped);

    store->start(station(QStringLiteral("fr1"), QStringLiteral("fr"), QStringLiteral("http://plain")), 0, true);
    EXPECT_EQ(store->state(), State::Failed);
    store->toggle(s); // not active: starts again
    EXPECT_EQ(store->state(), State::Connecting);
}

TEST_F(PlaybackTest, ANullStreamIsAFailedStart)
{
    RadioStore::Dependencies d = dependencies();
    d.streamFactory = [](PlaybackStream::Parameters) { return std::unique_ptr<PlaybackStream>(); };
    store = std::make_unique<RadioStore>(std::move(d));
    store->start(find(QStringLiteral("fr1")), 0, true);
    ASSERT_TRUE(waitUntil([&] { return !timers->pendingWaits().empty(); }));
    EXPECT_EQ(store->state(), State::Connecting);
    ASSERT_EQ(sessions().size(), 1u);
    EXPECT_TRUE(sessions()[0].interrupted);
}

TEST_F(PlaybackTest, SettingsChangesRestartAnActiveRun)
{
    make();
    store->start(find(QStringLiteral("en1")), 0, true);
    farm.last().playing();
    farm.settle();
    int captionWrites = 0;
    QObject::connect(store.get(), &RadioStore::captionsOnChanged, [&] { ++captionWrites; });

    store->setCaptionsOn(true); // unchanged: announced, but nothing restarts
    EXPECT_EQ(captionWrites, 1);
    EXPECT_EQ(farm.scripts.size(), 1u);

    store->setCaptionsOn(false);
    ASSERT_EQ(farm.scripts.size(), 2u);
    EXPECT_EQ(farm.last().parameters.delay, 0);
    EXPECT_EQ(settings->boolean(QStringLiteral("captions")), false);

    store->setLanguage(QStringLiteral("de")); // captions off: written, no restart
    EXPECT_EQ(farm.scripts.size(), 2u);
    EXPECT_EQ(settings->string(QStringLiteral("language")), QStringLiteral("de"));
    store->setCaptionsOn(true);
    ASSERT_EQ(farm.scripts.size(), 3u);
    EXPECT_EQ(farm.last().parameters.pacing.value(), CaptionPacing::Sentence);
    ASSERT_EQ(store->history().size(), 1u);
    EXPECT_EQ(store->history()[0].visits, 1); // restarting a playing run records no visit
}

TEST_F(PlaybackTest, VolumeIsWrittenOnEveryAssignmentAndKeptWithinRange)
{
    make();
    store->start(find(QStringLiteral("fr1")), 0, true);
    settings->remove(QStringLiteral("volume"));
    store->setVolume(store->volume());
    EXPECT_EQ(settings->number(QStringLiteral("volume")), 0.65);

    store->setVolume(1.7);
    EXPECT_EQ(store->volume(), 1.0);
    store->setVolume(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(store->volume(), 0.65);
    store->setVolume(-0.2);
    EXPECT_EQ(store->volume(), 0.0);
    EXPECT_EQ(farm.last().volumes, (std::vector<float>{0.65f, 0.65f, 1.0f, 0.65f, 0.0f}));
}

} // namespace
} // namespace vantuli::test
