#include "StoreFixture.h"

namespace vantuli::test {
namespace {

using State = RadioStore::State;

class ArchiveSessionTest : public StoreFixture {
protected:
    StreamScript &startRun(const QString &id = QStringLiteral("fr1"))
    {
        if (!store)
            make();
        store->start(find(id), 0, true);
        return farm.last();
    }
};

TEST_F(ArchiveSessionTest, CheckpointsAtPlayingEveryFiveSecondsAndAtStop)
{
    StreamScript &run = startRun();
    const double attempted = clock->now().secondsSince1970;
    ASSERT_EQ(sessions().size(), 1u);
    EXPECT_FALSE(sessions()[0].startedPlayback);
    EXPECT_DOUBLE_EQ(sessions()[0].date.secondsSince1970, attempted);

    clock->advance(2);
    run.setTransfer({4000, 0.25, 2.0});
    run.playing();
    farm.settle();
    auto row = sessions().at(0);
    EXPECT_TRUE(row.startedPlayback);
    EXPECT_DOUBLE_EQ(row.date.secondsSince1970, attempted + 2); // playback start
    EXPECT_EQ(row.bytes, 4000);
    ASSERT_TRUE(row.firstAudio);
    EXPECT_DOUBLE_EQ(*row.firstAudio, 0.25);

    run.setTransfer({9000, 0.25, 6.0});
    for (double played = 0.1; played < 4.95; played += 0.1)
        run.position(played, 5);
    farm.settle();
    EXPECT_EQ(sessions().at(0).played, 0); // under 5 s: no checkpoint yet
    EXPECT_EQ(sessions().at(0).bytes, 4000);

    run.position(5.0, 5);
    farm.settle();
    row = sessions().at(0);
    EXPECT_DOUBLE_EQ(row.played, 5.0);
    EXPECT_EQ(row.bytes, 9000);
    EXPECT_DOUBLE_EQ(row.elapsed, 6.0);

    run.position(9.9, 5);
    farm.settle();
    EXPECT_DOUBLE_EQ(sessions().at(0).played, 5.0);

    run.position(10.2, 5);
    run.setTransfer({12000, 0.25, 11.0});
    farm.settle();
    store->stop(false);
    row = sessions().at(0);
    EXPECT_DOUBLE_EQ(row.played, 10.2);
    EXPECT_EQ(row.bytes, 12000);
    EXPECT_FALSE(row.interrupted);
    EXPECT_EQ(sessions().size(), 1u);
}

TEST_F(ArchiveSessionTest, AFailedRunIsClosedAsInterrupted)
{
    StreamScript &run = startRun();
    run.playing();
    run.position(3);
    run.fail(QStringLiteral("gone"));
    farm.settle();
    const auto row = sessions().at(0);
    EXPECT_TRUE(row.interrupted);
    EXPECT_DOUBLE_EQ(row.played, 3);
    EXPECT_EQ(row.retry, 0);
}

TEST_F(ArchiveSessionTest, ClearingMidRunStartsANewRowFromTheClear)
{
    StreamScript &run = startRun(QStringLiteral("zh1"));
    run.setTransfer({1000, 0.5, 30});
    run.playing();
    run.position(30, 5);
    farm.settle();
    run.windows({speechWindow(29)});
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return archivedCaptions().size() == 1;
    }));
    run.position(31, 5);
    farm.settle();
    ASSERT_FALSE(store->subtitles().empty());

    store->clearLocalArchive();
    EXPECT_TRUE(sessions().empty());
    EXPECT_TRUE(archivedCaptions().empty());
    EXPECT_TRUE(store->subtitles().empty());
    EXPECT_TRUE(store->history().empty());
    EXPECT_FALSE(store->archiveFailed());

    // The next report begins the new row.
    clock->advance(1);
    run.setTransfer({1500, 0.5, 32});
    run.position(32, 5);
    farm.settle();
    ASSERT_EQ(sessions().size(), 1u);
    EXPECT_DOUBLE_EQ(sessions()[0].date.secondsSince1970, clock->now().secondsSince1970);

    // A caption of audio heard before the clear is shown but not archived.
    run.windows({speechWindow(30.5), speechWindow(33)});
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return archivedCaptions().size() == 1;
    }));
    farm.settle();

    run.setTransfer({2500, 0.5, 40});
    run.position(36, 5); // 5 s past the last checkpoint at 31
    farm.settle();
    const auto row = sessions().at(0);
    EXPECT_DOUBLE_EQ(row.played, 5); // counted from the clear at 31
    EXPECT_EQ(row.bytes, 1500);      // received since the clear
    EXPECT_DOUBLE_EQ(row.elapsed, 10);
    EXPECT_FALSE(row.firstAudio);
    EXPECT_TRUE(row.startedPlayback);
    EXPECT_EQ(store->subtitles().size(), 2u);
}

TEST_F(ArchiveSessionTest, ClearingBeforeAnyByteAppliesNoCorrection)
{
    StreamScript &run = startRun();
    store->clearLocalArchive();
    run.setTransfer({800, 0.75, 1.5});
    run.playing();
    farm.settle();
    ASSERT_EQ(sessions().size(), 1u);
    const auto row = sessions()[0];
    EXPECT_EQ(row.bytes, 800);
    ASSERT_TRUE(row.firstAudio);
    EXPECT_DOUBLE_EQ(*row.firstAudio, 0.75);
}

TEST_F(ArchiveSessionTest, ClearingWhileStoppedBeginsNoRowUntilTheNextStart)
{
    StreamScript &run = startRun();
    store->stop(false);
    store->clearLocalArchive();
    run.position(10);
    farm.settle();
    EXPECT_TRUE(sessions().empty());
    startRun();
    EXPECT_EQ(sessions().size(), 1u);
}

TEST_F(ArchiveSessionTest, WithoutAnArchivePlaybackGoesOnAndClearingThrows)
{
    archivePath = test::temporaryFolder() + QStringLiteral("/missing/folder/archive.sqlite3");
    make();
    EXPECT_FALSE(store->archive());
    EXPECT_TRUE(store->archiveFailed());
    StreamScript &run = startRun();
    run.playing();
    run.position(6);
    farm.settle();
    EXPECT_EQ(store->state(), State::Playing);
    store->stop(false);
    EXPECT_THROW(store->clearLocalArchive(), FileWriteError);
}

TEST_F(ArchiveSessionTest, AFailingWriteSetsTheFlagAndPlaybackGoesOn)
{
    archivePath = test::temporaryFolder() + QStringLiteral("/archive.sqlite3");
    StreamScript &run = startRun();
    run.playing();
    farm.settle();
    EXPECT_FALSE(store->archiveFailed());
    // The captions table goes away under the store.
    store->archive()->write(QStringLiteral("DROP TABLE captions"), {});
    run.windows({speechWindow(0)});
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return store->archiveFailed();
    }));
    run.position(1);
    farm.settle();
    EXPECT_EQ(store->subtitles().size(), 1u); // shown all the same
    EXPECT_EQ(store->state(), State::Playing);
}

} // namespace
} // namespace vantuli::test
