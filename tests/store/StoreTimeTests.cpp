// The system's timers, which drive reconnects, the sleep timer and the
// schedule tick in the application.
#include "store/StoreTime.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace vantuli::test {
namespace {

TEST(SystemTimersTest, AOneShotFiresOnceAndACancelledOneNever)
{
    const auto timers = StoreTimers::system();
    int fired = 0;
    int cancelledFired = 0;
    bool later = false;
    auto cancelled = timers->after(0.01, [&] { cancelledFired++; });
    auto once = timers->after(0, [&] { fired++; });
    cancelled->cancel();
    // Fires after both: by then the cancelled one would have fired too.
    auto marker = timers->after(0.2, [&] { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later && fired > 0; }));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(cancelledFired, 0);

    // Dropping the handle cancels as well.
    int dropped = 0;
    timers->after(0.01, [&] { dropped++; }).reset();
    later = false;
    marker = timers->after(0.2, [&] { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later; }));
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(fired, 1);
}

TEST(SystemTimersTest, WorkMayReplaceItsOwnTimer)
{
    // A reconnect that fires starts a run, and the run's stop drops the
    // handle of the very timer that is firing; a new wait takes its place.
    const auto timers = StoreTimers::system();
    std::unique_ptr<StoreTimer> pending;
    int rounds = 0;
    std::function<void()> work = [&] {
        rounds++;
        pending.reset();
        if (rounds < 3)
            pending = timers->after(0, work);
    };
    pending = timers->after(0, work);
    ASSERT_TRUE(waitUntil([&] { return rounds == 3; }));
    bool later = false;
    auto marker = timers->after(0.2, [&] { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later; }));
    EXPECT_EQ(rounds, 3);
    EXPECT_FALSE(pending);
}

TEST(SystemTimersTest, ARepeatingTimerRepeatsUntilCancelled)
{
    const auto timers = StoreTimers::system();
    int ticks = 0;
    auto repeating = timers->every(0.01, [&] { ticks++; });
    ASSERT_TRUE(waitUntil([&] { return ticks >= 3; }));
    repeating.reset();
    const int atCancel = ticks;
    bool later = false;
    auto marker = timers->after(0.2, [&] { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later; }));
    EXPECT_EQ(ticks, atCancel);
}

} // namespace
} // namespace vantuli::test
