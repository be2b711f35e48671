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

// Keys that come while others wait fold into their net effect; after each run
// the next ones wait until a short hold passes without a key (or a few holds
// have passed), so a stream of keys costs a few state changes, not one each.
TEST_F(MediaKeysTest, KeysThatWaitFoldIntoTheirNetEffect)
{
    make();
    const auto presses = [&](std::initializer_list<Command> commands) {
        for (const Command command : commands)
            press(command, false);
    };
    presses({Command::TogglePlayPause, Command::TogglePlayPause, Command::TogglePlayPause});
    farm.settle();
    EXPECT_EQ(farm.scripts.size(), 1u);
    EXPECT_EQ(store->state(), State::Connecting);

    // During the hold: played on, stopped and played again is left playing.
    presses({Command::Pause, Command::Play, Command::TogglePlayPause, Command::TogglePlayPause});
    farm.settle();
    timers->advance(10);
    farm.settle();
    EXPECT_EQ(farm.scripts.size(), 1u);
    EXPECT_EQ(store->state(), State::Connecting);

    // A key, then more every tenth of a second: the first runs at once; the
    // others wait while they keep coming, but not for ever.
    presses({Command::Pause});
    farm.settle();
    EXPECT_EQ(store->state(), State::Stopped);
    for (int i = 0; i < 30; ++i) {
        presses({Command::Play});
        farm.settle();
        timers->advance(0.1);
        farm.settle();
    }
    EXPECT_EQ(store->state(), State::Connecting);
    EXPECT_EQ(farm.scripts.size(), 2u);
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
