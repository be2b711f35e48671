#include "StoreFixture.h"

namespace vantuli::test {
namespace {

using State = RadioStore::State;

class CaptionQueueTest : public StoreFixture {
protected:
    // Starts the Chinese station (short pacing, captions on).
    StreamScript &startRun()
    {
        if (!store)
            make();
        store->start(find(QStringLiteral("zh1")), 0, true);
        return farm.last();
    }

    std::vector<double> shownStarts() const
    {
        std::vector<double> starts;
        for (const Caption &caption : store->subtitles())
            starts.push_back(caption.start);
        return starts;
    }
};

TEST_F(CaptionQueueTest, CaptionsWaitUntilThePlaybackPositionReachesTheirStart)
{
    StreamScript &run = startRun();
    run.windows({speechWindow(3.0)});
    run.windows({speechWindow(1.0)}); // a later batch with an earlier start
    ASSERT_TRUE(waitUntil([&] { return probe->callCount() == 2; }));
    farm.settle();
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return !archivedCaptions().empty() && archivedCaptions().size() == 2;
    }));
    EXPECT_TRUE(store->subtitles().empty()); // connecting: they wait

    run.playing();
    run.position(0.5);
    farm.settle();
    EXPECT_TRUE(store->subtitles().empty());

    run.position(1.0); // a start equal to the position is due
    farm.settle();
    EXPECT_EQ(shownStarts(), std::vector<double>{1.0});

    run.position(3.5);
    farm.settle();
    EXPECT_EQ(shownStarts(), (std::vector<double>{1.0, 3.0}));

    store->stop(false);
    EXPECT_TRUE(store->subtitles().empty());
}

TEST_F(CaptionQueueTest, TheQueueKeepsTheLatest200AndTheListTheLast100)
{
    StreamScript &run = startRun();
    std::vector<SpeechWindow> windows;
    for (int i = 0; i < 250; ++i)
        windows.push_back(speechWindow(10.0 + i * 0.5, 0.25));
    run.windows(std::move(windows));
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return archivedCaptions().size() == 250;
    }));

    run.playing();
    run.position(1000);
    farm.settle();
    const std::vector<double> starts = shownStarts();
    ASSERT_EQ(starts.size(), 100u);
    // 250 recognised, the 50 earliest dropped from the queue, then the last 100 of the 200 shown.
    EXPECT_DOUBLE_EQ(starts.front(), 10.0 + 150 * 0.5);
    EXPECT_DOUBLE_EQ(starts.back(), 10.0 + 249 * 0.5);
}

TEST_F(CaptionQueueTest, AFullBacklogSkipsABatchWithANoticeThatDuePassesClear)
{
    StreamScript &run = startRun();
    run.playing();
    run.position(0.1);
    farm.settle();

    probe->hold();
    run.windows({speechWindow(1)});
    ASSERT_TRUE(waitUntil([&] { return probe->callCount() == 1; })); // one in recognition
    run.windows({speechWindow(2)});
    run.windows({speechWindow(3)});
    run.windows({speechWindow(4)}); // the fourth finds no slot
    farm.settle();
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return store->captionNoticeKey().has_value();
    }));
    EXPECT_EQ(*store->captionNoticeKey(), QStringLiteral("识别暂时落后，已跳过一段。"));
    EXPECT_EQ(store->captionNotice(), L10n::shared().text(QStringLiteral("识别暂时落后，已跳过一段。")));

    probe->release();
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return archivedCaptions().size() == 3;
    }));
    run.position(10);
    farm.settle();
    EXPECT_EQ(shownStarts(), (std::vector<double>{1, 2, 3}));
    EXPECT_FALSE(store->captionNoticeKey());
}

TEST_F(CaptionQueueTest, AModelThatDoesNotLoadShowsItsNotice)
{
    modelLoads = false;
    StreamScript &run = startRun();
    run.windows({speechWindow(1)});
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        return store->captionNoticeKey().has_value();
    }));
    EXPECT_EQ(*store->captionNoticeKey(), QStringLiteral("本机字幕模型载入失败。"));
    store->stop(false);
    EXPECT_FALSE(store->captionNoticeKey());
}

TEST_F(CaptionQueueTest, ResultsOfAnEndedRunAreDropped)
{
    StreamScript &first = startRun();
    first.playing();
    first.position(0.1);
    farm.settle();

    probe->hold();
    first.windows({speechWindow(0.0)});
    ASSERT_TRUE(waitUntil([&] { return probe->callCount() == 1; }));

    // A new run starts while the old window is being recognised.
    store->start(find(QStringLiteral("zh1")), 0, true);
    StreamScript &second = farm.last();
    second.playing();
    second.position(50);
    probe->release();
    first.windows({speechWindow(1.0)}); // a window of the old run after it ended
    farm.settle();
    // A window of the new run proves the recogniser has moved on.
    second.windows({speechWindow(49)});
    ASSERT_TRUE(waitUntil([&] {
        farm.settle();
        second.position(50);
        farm.settle();
        return !store->subtitles().empty();
    }));
    EXPECT_EQ(shownStarts(), std::vector<double>{49});
    EXPECT_EQ(probe->callCount(), 2);
    EXPECT_EQ(archivedCaptions().size(), 1u);
}

} // namespace
} // namespace vantuli::test
