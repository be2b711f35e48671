#include "StoreFixture.h"

#include <QJsonDocument>

#include <cstdlib>
#include <ctime>

namespace vantuli::test {
namespace {

using State = RadioStore::State;

// Local dates in a zone without daylight saving, so that the numbers below hold.
constexpr double mondayMidnight = 1'740'931'200; // 2025-03-03 00:00 in Asia/Shanghai (UTC+8)

Date at(int dayAfterMonday, int hour, int minute, int second = 0)
{
    return Date{mondayMidnight + dayAfterMonday * 86400.0 + hour * 3600.0 + minute * 60.0 + second};
}

class ScheduleTest : public StoreFixture {
protected:
    void SetUp() override
    {
        savedTZ_ = qgetenv("TZ");
        hadTZ_ = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "Asia/Shanghai");
        tzset();
        StoreFixture::SetUp();
    }
    void TearDown() override
    {
        StoreFixture::TearDown();
        if (hadTZ_)
            qputenv("TZ", savedTZ_);
        else
            qunsetenv("TZ");
        tzset();
    }

    QString mark(const ListeningTime &time) const
    {
        return QStringLiteral("lastSlot.") + time.id.toString(QUuid::WithoutBraces).toUpper();
    }

    std::vector<ListeningTime> savedSchedule() const
    {
        const auto data = settings->data(QStringLiteral("schedule"));
        if (!data)
            return {};
        return JsonCoding<std::vector<ListeningTime>>::decode(QJsonDocument::fromJson(*data).array());
    }

private:
    QByteArray savedTZ_;
    bool hadTZ_ = false;
};

TEST_F(ScheduleTest, AddingATimeReplacesItsMinuteAndKeepsTheListSorted)
{
    make();
    EXPECT_EQ(timers->pendingRepeating(), 0u);
    store->addTime(find(QStringLiteral("en1")), at(0, 7, 30, 42), true);
    const ListeningTime replaced = store->schedule().at(0);
    store->addTime(find(QStringLiteral("fr1")), at(0, 6, 5), false);
    store->addTime(find(QStringLiteral("zh1")), at(0, 7, 30), false);
    store->addTime(find(QStringLiteral("en1")), at(0, 7, 2), false);

    const auto &schedule = store->schedule();
    ASSERT_EQ(schedule.size(), 3u);
    EXPECT_EQ(schedule[0].stationID, QStringLiteral("fr1"));
    EXPECT_EQ(std::pair(schedule[0].hour, schedule[0].minute), std::pair(6, 5));
    EXPECT_EQ(std::pair(schedule[1].hour, schedule[1].minute), std::pair(7, 2));
    EXPECT_EQ(schedule[2].stationID, QStringLiteral("zh1"));
    EXPECT_EQ(std::pair(schedule[2].hour, schedule[2].minute), std::pair(7, 30));
    EXPECT_FALSE(schedule[2].workdaysOnly);
    EXPECT_NE(schedule[2].id, replaced.id);
    EXPECT_EQ(savedSchedule(), schedule);
    EXPECT_EQ(timers->pendingRepeating(), 1u); // one tick, re-armed by every save

    // A new store reads the schedule back.
    const std::vector<ListeningTime> expected = schedule;
    store.reset();
    make();
    EXPECT_EQ(store->schedule(), expected);

    store->checkSchedule(at(0, 7, 30));
    ASSERT_TRUE(settings->contains(mark(expected[2])));
    for (const ListeningTime &time : expected)
        store->removeTime(time);
    EXPECT_TRUE(store->schedule().empty());
    EXPECT_TRUE(savedSchedule().empty());
    EXPECT_FALSE(settings->contains(mark(expected[2])));
    EXPECT_EQ(timers->pendingRepeating(), 0u); // no tick without a schedule
}

TEST_F(ScheduleTest, WorkdayEntriesSkipTheWeekend)
{
    const struct {
        int day; // 0 = Monday
        bool workdaysOnly;
        bool fires;
    } cases[] = {
        {0, true, true}, {4, true, true}, {5, true, false}, {6, true, false}, {5, false, true}, {6, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "day " << c.day << " workdays " << c.workdaysOnly);
        settings = std::make_shared<MemorySettingsStore>();
        farm.scripts.clear();
        make();
        store->addTime(find(QStringLiteral("en1")), at(c.day, 8, 0), c.workdaysOnly);
        store->checkSchedule(at(c.day, 8, 0, 3));
        EXPECT_EQ(farm.scripts.size(), c.fires ? 1u : 0u);
        EXPECT_EQ(store->active(), c.fires);
    }
}

TEST_F(ScheduleTest, AnEntryFiresOncePerLocalDay)
{
    make();
    store->addTime(find(QStringLiteral("en1")), at(0, 7, 30), false);
    store->addTime(find(QStringLiteral("en1")), at(0, 7, 31), false);
    const ListeningTime first = store->schedule().at(0);

    store->checkSchedule(at(0, 7, 29, 59));
    EXPECT_TRUE(farm.scripts.empty());
    for (int second = 0; second < 60; second += 10) {
        store->checkSchedule(at(0, 7, 30, second));
        store->stop(false); // even when the listener stops it at once
    }
    EXPECT_EQ(farm.scripts.size(), 1u);
    EXPECT_EQ(store->current()->id, QStringLiteral("en1"));
    // The mark is the start of the local day, in seconds since 1970.
    EXPECT_EQ(settings->number(mark(first)), mondayMidnight);

    // A store started again within the minute does not fire it again.
    store.reset();
    make();
    store->checkSchedule(at(0, 7, 30, 50));
    EXPECT_EQ(farm.scripts.size(), 1u);

    // The same station's later entry has its own mark.
    store->checkSchedule(at(0, 7, 31, 5));
    EXPECT_EQ(farm.scripts.size(), 2u);

    // And the next day it fires again.
    store->stop(false);
    store->checkSchedule(at(1, 7, 30, 0));
    EXPECT_EQ(farm.scripts.size(), 3u);
    EXPECT_EQ(settings->number(mark(first)), mondayMidnight + 86400);
}

TEST_F(ScheduleTest, StartRulesForTheSameAnotherAndAnUnknownStation)
{
    make();
    const Station en = find(QStringLiteral("en1"));
    const Station fr = find(QStringLiteral("fr1"));

    // The scheduled station already plays: marked, left alone.
    store->addTime(en, at(0, 9, 0), false);
    store->start(en);
    farm.last().playing();
    farm.settle();
    ASSERT_EQ(store->state(), State::Playing);
    store->checkSchedule(at(0, 9, 0));
    EXPECT_EQ(farm.scripts.size(), 1u);
    EXPECT_EQ(store->state(), State::Playing);
    EXPECT_TRUE(settings->contains(mark(store->schedule().at(0))));

    // Another station plays: the scheduled one replaces it.
    store->addTime(fr, at(0, 9, 1), false);
    store->checkSchedule(at(0, 9, 1));
    ASSERT_EQ(farm.scripts.size(), 2u);
    EXPECT_EQ(store->current()->id, QStringLiteral("fr1"));
    EXPECT_EQ(store->selected()->id, QStringLiteral("fr1"));

    // The same station, stopped: started again.
    store->stop(false);
    store->addTime(fr, at(0, 9, 2), false);
    store->checkSchedule(at(0, 9, 2));
    EXPECT_EQ(farm.scripts.size(), 3u);
    EXPECT_EQ(store->state(), State::Connecting);

    // A station that left the catalog: never fires, never marked, kept.
    store->addTime(station(QStringLiteral("gone")), at(0, 9, 3), false);
    store->checkSchedule(at(0, 9, 3));
    EXPECT_EQ(farm.scripts.size(), 3u);
    const ListeningTime gone = store->schedule().back();
    EXPECT_EQ(gone.stationID, QStringLiteral("gone"));
    EXPECT_FALSE(settings->contains(mark(gone)));
}

TEST_F(ScheduleTest, TheTickChecksTheClockEveryTenSeconds)
{
    clock->set(at(0, 7, 29, 55));
    make();
    store->addTime(find(QStringLiteral("zh1")), at(0, 7, 30), false);
    timers->advance(5); // no tick yet
    EXPECT_TRUE(farm.scripts.empty());
    clock->set(at(0, 7, 30, 5));
    timers->advance(5);
    EXPECT_EQ(farm.scripts.size(), 1u);
}

// ---- Sleep timer ----

TEST_F(ScheduleTest, OnlyTheLatestSleepTimerFires)
{
    make();
    store->start(find(QStringLiteral("en1")));
    store->sleep(30);
    EXPECT_EQ(store->sleepUntil(), (Date{clock->now().secondsSince1970 + 1800}));
    store->sleep(10);
    EXPECT_EQ(store->sleepUntil(), (Date{clock->now().secondsSince1970 + 600}));
    EXPECT_EQ(timers->pendingWaits(), std::vector<double>{600});

    timers->advance(599);
    EXPECT_EQ(store->state(), State::Connecting);
    timers->advance(1);
    EXPECT_EQ(store->state(), State::Stopped);
    EXPECT_FALSE(store->sleepUntil());
    EXPECT_FALSE(store->sleepPending());

    // The replaced 30-minute timer never fires.
    store->start(find(QStringLiteral("en1")));
    timers->advance(3600);
    EXPECT_EQ(store->state(), State::Connecting);
}

TEST_F(ScheduleTest, CancellingLeavesPlaybackAndPlaybackLeavesTheTimer)
{
    make();
    store->start(find(QStringLiteral("en1")));
    store->sleep(5);
    store->sleep(0);
    EXPECT_FALSE(store->sleepUntil());
    EXPECT_FALSE(store->sleepPending());
    EXPECT_EQ(store->state(), State::Connecting);
    timers->advance(3600);
    EXPECT_EQ(store->state(), State::Connecting);

    store->sleep(5);
    store->stop(false);
    store->start(find(QStringLiteral("fr1")));
    EXPECT_TRUE(store->sleepPending());
    store->cancelSleep();
    EXPECT_FALSE(store->sleepUntil());
    timers->advance(3600);
    EXPECT_EQ(store->state(), State::Connecting);
}

TEST_F(ScheduleTest, ASleepTimerFiringWhileFailedClearsTheFailure)
{
    make();
    store->start(station(QStringLiteral("plain"), QStringLiteral("en"), QStringLiteral("http://radio.example.org/x")));
    ASSERT_EQ(store->state(), State::Failed);
    ASSERT_TRUE(store->playbackMessage());
    store->sleep(1);
    timers->advance(60);
    EXPECT_EQ(store->state(), State::Stopped);
    EXPECT_FALSE(store->playbackMessage());
    EXPECT_FALSE(store->sleepUntil());
}

} // namespace
} // namespace vantuli::test
