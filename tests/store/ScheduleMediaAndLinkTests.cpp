#include "StoreFixture.h"

namespace vantuli::test {
namespace {

using State = RadioStore::State;
using Command = MediaSession::Command;

// ---- Media keys and now playing ----

class MediaKeysTest : public StoreFixture {
protected:
    // Presses a key as the desktop does; the action runs once the main thread
    // gets to it. Settled, the hold that follows a run is over as well.
    void press(Command command, bool settle = true)
    {
        for (const auto &target : media->targets)
            if (target.command == command)
                target.handler();
        if (settle) {
            farm.settle();
            timers->advance(10);
            farm.settle();
        }
    }
};

TEST_F(MediaKeysTest, PlayPauseAndToggleActOnTheStateWhenTheyRun)
{
    make();
    ASSERT_EQ(media->targets.size(), 3u);
    EXPECT_EQ(media->targets[0].command, Command::Play);
    EXPECT_EQ(media->targets[1].command, Command::Pause);
    EXPECT_EQ(media->targets[2].command, Command::TogglePlayPause);

    // Queued: nothing happens inside the handler.
    press(Command::Play, false);
    EXPECT_EQ(store->state(), State::Stopped);
    farm.settle();
    ASSERT_EQ(farm.scripts.size(), 1u);
    EXPECT_EQ(store->current(), store->selected());
    EXPECT_EQ(store->state(), State::Connecting);

    press(Command::Play); // already connecting: nothing
    EXPECT_EQ(farm.scripts.size(), 1u);
    press(Command::TogglePlayPause);
    EXPECT_EQ(store->state(), State::Stopped);
    press(Command::TogglePlayPause);
    EXPECT_EQ(farm.scripts.size(), 2u);
    farm.last().playing();
    farm.settle();
    press(Command::Play);
    EXPECT_EQ(farm.scripts.size(), 2u);
    EXPECT_EQ(store->state(), State::Playing);
    press(Command::Pause);
    EXPECT_EQ(store->state(), State::Stopped);
    press(Command::Pause);
    EXPECT_EQ(store->state(), State::Stopped);

    // A key pressed and the state changed before the action runs: it reads the new state.
    press(Command::TogglePlayPause, false);
    store->start(find(QStringLiteral("fr1")));
    farm.settle();
    EXPECT_EQ(store->state(), State::Stopped);
}

// Each key acts at once on the state it finds. Keys that wait for the main
// thread fold into their net effect, and a start that would follow another
// start within a short time waits for it to pass, dropped if it has become
// moot; so a stream of keys costs a few state changes, not one each.
TEST_F(MediaKeysTest, KeysThatWaitFoldIntoTheirNetEffect)
{
    using enum Command;
    // `keys` pressed together, `after` seconds past the step before (`times`
    // over); 50 ms later the store is in `state`. `windowStarts`: the window
    // starts the station before the keys.
    struct Step {
        double after;
        std::vector<Command> keys;
        State state;
        int times = 1;
        bool windowStarts = false;
    };
    struct Row {
        const char *what;
        bool playing; // a station plays before the first key
        std::vector<Step> steps;
        size_t starts; // streams started by keys and window
    };
    using enum State;
    const Row rows[] = {
        {"three toggles at once: one start", false,
         {{0, {TogglePlayPause, TogglePlayPause, TogglePlayPause}, Connecting}}, 1},
        {"stopped and played again at once: left playing", true,
         {{0, {Pause, Play, TogglePlayPause, TogglePlayPause}, Playing}}, 0},
        {"two toggles 0.1 s apart, playing", true,
         {{0, {TogglePlayPause}, Stopped}, {0.1, {TogglePlayPause}, Connecting}}, 1},
        {"two toggles 0.1 s apart, stopped", false,
         {{0, {TogglePlayPause}, Connecting}, {0.1, {TogglePlayPause}, Stopped}}, 1},
        {"pause, then play 0.1 s later", true, {{0, {Pause}, Stopped}, {0.1, {Play}, Connecting}}, 1},
        {"a start soon after a start waits", false,
         {{0, {TogglePlayPause}, Connecting}, {0.1, {TogglePlayPause}, Stopped}, {0.1, {TogglePlayPause}, Stopped},
          {1, {}, Connecting}}, 2},
        {"a waiting start that a stop makes moot", false,
         {{0, {Play}, Connecting}, {0.1, {Pause}, Stopped}, {0.1, {Play}, Stopped}, {0.1, {TogglePlayPause}, Stopped},
          {1, {}, Stopped}}, 1},
        {"a waiting start that the window makes moot", false,
         {{0, {Play}, Connecting}, {0.1, {Pause}, Stopped}, {0.1, {TogglePlayPause}, Stopped},
          {0.1, {}, Connecting, 1, true}, {1, {}, Connecting}}, 2},
        {"a pause, then play every 0.1 s", true, {{0, {Pause}, Stopped}, {0.1, {Play}, Connecting, 30}}, 1},
    };
    constexpr double look = 0.05;
    for (const Row &row : rows) {
        make();
        if (row.playing) {
            store->start(find(QStringLiteral("zh1")));
            farm.last().playing();
            farm.settle();
        }
        const size_t before = farm.scripts.size();
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const Step &step = row.steps[i];
            for (int time = 0; time < step.times; ++time) {
                timers->advance(i + time == 0 ? 0 : step.after - look);
                farm.settle();
                if (step.windowStarts)
                    store->start(find(QStringLiteral("zh1")));
                for (const Command key : step.keys)
                    press(key, false);
                farm.settle();
                timers->advance(look);
                farm.settle();
                EXPECT_EQ(store->state(), step.state) << row.what << ", step " << i << ", time " << time;
            }
        }
        EXPECT_EQ(farm.scripts.size() - before, row.starts) << row.what;
        store.reset();
    }
}

TEST_F(MediaKeysTest, PlayWithoutAStationDoesNothing)
{
    catalog.clear();
    make();
    ASSERT_FALSE(store->transportStation());
    press(Command::Play);
    press(Command::TogglePlayPause);
    EXPECT_TRUE(farm.scripts.empty());
}

TEST_F(MediaKeysTest, NowPlayingFollowsTheRunAndTheInterfaceLanguage)
{
    make();
    const Station fr = find(QStringLiteral("fr1"));
    store->start(fr);
    farm.last().playing();
    farm.settle();
    ASSERT_FALSE(media->nowPlaying.empty());
    ASSERT_TRUE(media->nowPlaying.back());
    EXPECT_EQ(media->nowPlaying.back()->title, fr.name);
    EXPECT_EQ(media->nowPlaying.back()->artist, QStringLiteral("China"));
    EXPECT_TRUE(media->nowPlaying.back()->liveStream);
    EXPECT_EQ(media->states.back(), MediaSession::PlaybackState::Playing);

    L10n::shared().select(QStringLiteral("de"));
    ASSERT_TRUE(media->nowPlaying.back());
    EXPECT_EQ(media->nowPlaying.back()->artist, QStringLiteral("China"));
    L10n::shared().select(QStringLiteral("fr"));
    EXPECT_EQ(media->nowPlaying.back()->artist, QStringLiteral("Chine"));

    store->stop(false);
    EXPECT_FALSE(media->nowPlaying.back());
    EXPECT_EQ(media->states.back(), MediaSession::PlaybackState::Stopped);
}

TEST_F(MediaKeysTest, AKeyPressedAfterTheStoreIsGoneDoesNothing)
{
    make();
    const auto handler = media->targets.at(0).handler;
    store.reset();
    EXPECT_EQ(media->removed.size(), 3u);
    handler();
    farm.settle();
    EXPECT_TRUE(farm.scripts.empty());
}

// ---- Station links ----

class StationLinkTest : public StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        catalog[1].featuredLabel = QStringLiteral("News");
        catalog[1].path = QStringLiteral("/stations/en1/");
        catalog[2].path = QStringLiteral("stations/fr1");
    }

    void open(const char *link) { store->openStationLink(QUrl(QString::fromUtf8(link))); }
    bool listed(const QString &id) const
    {
        return std::any_of(store->visible().begin(), store->visible().end(),
                           [&id](const Station &s) { return s.id == id; });
    }
};

TEST_F(StationLinkTest, BothKindsOfLinkSelectAndListTheStationWithoutPlaying)
{
    make();
    store->setFilter(LibraryFilter::Favorites);
    store->setCountryFilter(QStringLiteral("FR"));

    open("vantuli://station/fr1");
    EXPECT_EQ(store->selected()->id, QStringLiteral("fr1"));
    EXPECT_EQ(store->filter().value(), LibraryFilter::All);
    EXPECT_EQ(store->query(), QStringLiteral("Station fr1"));
    EXPECT_TRUE(store->countryFilter().isEmpty());
    EXPECT_TRUE(listed(QStringLiteral("fr1")));

    // Slashes at either end are trimmed on both sides; a featured station opens the featured tab.
    open("https://vantuli.app//stations/en1//");
    EXPECT_EQ(store->selected()->id, QStringLiteral("en1"));
    EXPECT_EQ(store->filter().value(), LibraryFilter::Featured);
    EXPECT_TRUE(listed(QStringLiteral("en1")));
    open("https://vantuli.app/stations/fr1");
    EXPECT_EQ(store->selected()->id, QStringLiteral("fr1"));

    EXPECT_TRUE(farm.scripts.empty());
    EXPECT_EQ(store->state(), State::Stopped);
}

TEST_F(StationLinkTest, ForeignAndMalformedLinksChangeNothing)
{
    make();
    store->setFilter(LibraryFilter::Recent);
    store->setQuery(QStringLiteral("keep"));
    const std::optional<Station> selected = store->selected();
    for (const char *link : {
             "vantuli://station/unknown",
             "vantuli://station",
             "vantuli://stations/fr1",
             "vantuli://other/fr1",
             "https://example.org/stations/fr1",
             "https://vantuli.app/",
             "https://vantuli.app/stations/unknown",
             "http://vantuli.app/stations/fr1",
             "ftp://vantuli.app/stations/fr1",
             "fr1",
         }) {
        SCOPED_TRACE(link);
        open(link);
        EXPECT_EQ(store->selected(), selected);
        EXPECT_EQ(store->filter().value(), LibraryFilter::Recent);
        EXPECT_EQ(store->query(), QStringLiteral("keep"));
    }
}

TEST_F(StationLinkTest, ALinkToAFailedStationOpensTheUnavailableTab)
{
    make();
    store->setUnavailable(true, find(QStringLiteral("en1")));
    open("vantuli://station/en1");
    EXPECT_EQ(store->filter().value(), LibraryFilter::Unavailable);
    EXPECT_EQ(store->selected()->id, QStringLiteral("en1"));
    EXPECT_TRUE(listed(QStringLiteral("en1")));
}

} // namespace
} // namespace vantuli::test
