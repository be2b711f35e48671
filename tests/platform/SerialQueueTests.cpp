#include "platform/MainThread.h"
#include "platform/SerialQueue.h"
#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace vantuli;

TEST(SerialQueue, RunsWorkInOrderOnOneThreadThatSeesTheQueueAsCurrent)
{
    SerialQueue queue(QStringLiteral("test.queue"));
    EXPECT_EQ(queue.label(), QStringLiteral("test.queue"));
    std::mutex m;
    std::vector<int> seen;
    std::vector<QThread *> threads;
    for (int i = 0; i < 500; ++i) {
        queue.async([&, i] {
            std::lock_guard lock(m);
            seen.push_back(i);
            threads.push_back(QThread::currentThread());
        });
    }
    // sync waits for the work queued before it, and runs as the queue's own.
    bool inside = false;
    queue.sync([&] { inside = queue.isCurrent(); });
    EXPECT_TRUE(inside);
    EXPECT_FALSE(queue.isCurrent());
    std::lock_guard lock(m);
    ASSERT_EQ(seen.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(seen[i], i);
    for (QThread *t : threads) {
        EXPECT_EQ(t, threads.front());
        EXPECT_NE(t, QThread::currentThread());
    }
}

TEST(SerialQueue, DelayedWorkRunsUnlessCancelled)
{
    SerialQueue queue(QStringLiteral("test.after"));
    std::atomic<int> ran{0};
    std::atomic<int> cancelledRan{0};
    auto keep = queue.asyncAfter(0.05, [&] { ran++; });
    auto drop = queue.asyncAfter(0.05, [&] { cancelledRan++; });
    drop.cancel();
    EXPECT_TRUE(drop.cancelled());
    EXPECT_FALSE(keep.cancelled());
    ASSERT_TRUE(test::waitUntil([&] { return ran.load() == 1; }));
    // A later item queued after the delay has surely passed: the cancelled one never ran.
    std::atomic<bool> later{false};
    queue.asyncAfter(0.1, [&] { later = true; });
    ASSERT_TRUE(test::waitUntil([&] { return later.load(); }));
    EXPECT_EQ(cancelledRan.load(), 0);
}

TEST(SerialQueue, DestructionRunsQueuedWork)
{
    std::atomic<int> count{0};
    {
        SerialQueue queue(QStringLiteral("test.drain"));
        for (int i = 0; i < 100; ++i)
            queue.async([&] { count++; });
    }
    EXPECT_EQ(count.load(), 100);
}

TEST(MainThread, PostRunsOnMainThreadInOrder)
{
    SerialQueue queue(QStringLiteral("test.main"));
    std::vector<int> seen;
    std::vector<bool> onMain;
    queue.sync([&] {
        for (int i = 0; i < 10; ++i)
            MainThread::post([&, i] {
                seen.push_back(i);
                onMain.push_back(MainThread::isCurrent());
            });
    });
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 10; }));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(seen[i], i);
        EXPECT_TRUE(onMain[i]);
    }
}
