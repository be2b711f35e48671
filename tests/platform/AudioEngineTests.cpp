#include "platform/AudioEngine.h"
#include "platform/AudioRenderQueue.h"
#include "support/TestSupport.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

using namespace vantuli;
using namespace std::chrono_literals;

namespace {

std::vector<float> ramp(int frames, int channels, float first = 1.0f)
{
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = first + static_cast<float>(i);
    return samples;
}

std::vector<float> rendered(AudioRenderQueue &queue, int frames)
{
    std::vector<float> out(static_cast<std::size_t>(frames * queue.channels()), -99.0f);
    queue.render(out.data(), frames);
    return out;
}

// Records which completions ran, in order, and what the player's clock said then.
struct Journal {
    std::mutex m;
    std::vector<int> order;
    std::vector<std::int64_t> sampleTimes;
    std::vector<QThread *> threads;

    AudioEngine::Completion completion(AudioEngine &engine, int index)
    {
        return [this, &engine, index] {
            const auto time = engine.playerTime();
            std::lock_guard lock(m);
            order.push_back(index);
            sampleTimes.push_back(time ? time->sampleTime : -1);
            threads.push_back(QThread::currentThread());
        };
    }
    std::size_t count()
    {
        std::lock_guard lock(m);
        return order.size();
    }
};

// Waits a little for something that must not happen; true when it did not.
bool staysFalse(const std::function<bool()> &condition)
{
    return !test::waitUntil(condition, 300ms);
}

} // namespace

TEST(AudioRenderQueue, PlaysBuffersInOrderAndCountsOnlyScheduledAudio)
{
    AudioRenderQueue queue(2);
    int firstDone = 0;
    int thirdDone = 0;
    queue.enqueue(ramp(3, 2, 1), [&] { ++firstDone; });
    queue.enqueue(ramp(2, 2, 101), {});
    queue.enqueue(ramp(1, 2, 201), [&] { ++thirdDone; });
    EXPECT_EQ(queue.pendingFrames(), 6);

    // Not playing yet: silence, the audio waits and the clock stands.
    EXPECT_EQ(rendered(queue, 4), std::vector<float>(8, 0.0f));
    EXPECT_EQ(queue.sampleTime(), 0);
    EXPECT_EQ(queue.outputPosition(), 4);

    queue.setPlaying(true);
    EXPECT_EQ(rendered(queue, 4), (std::vector<float>{1, 2, 3, 4, 5, 6, 101, 102}));
    EXPECT_EQ(queue.sampleTime(), 4);
    // The first buffer ended at output frame 7: due only once that was presented.
    EXPECT_TRUE(queue.takePlayed(6).empty());
    auto due = queue.takePlayed(7);
    ASSERT_EQ(due.size(), 1u);
    due.front()();
    EXPECT_EQ(firstDone, 1);

    // The rest of the audio, then silence that the clock does not count.
    EXPECT_EQ(rendered(queue, 4), (std::vector<float>{103, 104, 201, 202, 0, 0, 0, 0}));
    EXPECT_EQ(queue.sampleTime(), 6);
    EXPECT_EQ(queue.pendingFrames(), 0);
    EXPECT_EQ(queue.outputPosition(), 12);
    EXPECT_TRUE(queue.takePlayed(9).empty());
    due = queue.takePlayed(12);
    ASSERT_EQ(due.size(), 1u);
    due.front()();
    EXPECT_EQ(thirdDone, 1);
    EXPECT_TRUE(queue.takePlayed(1000).empty());
}

TEST(AudioRenderQueue, VolumeScalesAndIsClamped)
{
    struct Case {
        float volume;
        float gain;
    };
    const Case cases[] = {{1.0f, 1.0f}, {0.5f, 0.5f}, {0.0f, 0.0f}, {2.5f, 1.0f}, {-1.0f, 0.0f}};
    for (const Case &c : cases) {
        AudioRenderQueue queue(1);
        queue.setVolume(0.25f);
        queue.setVolume(c.volume);
        queue.setPlaying(true);
        queue.enqueue({0.5f, -1.0f}, {});
        EXPECT_EQ(rendered(queue, 2), (std::vector<float>{0.5f * c.gain, -1.0f * c.gain})) << c.volume;
    }
    AudioRenderQueue queue(1);
    queue.setVolume(0.5f);
    queue.setVolume(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(queue.volume(), 0.5f);
}

TEST(AudioRenderQueue, ClearDropsUnplayedAudioButKeepsTheOutputPosition)
{
    AudioRenderQueue queue(1);
    queue.setPlaying(true);
    int ran = 0;
    queue.enqueue(ramp(2, 1), [&] { ++ran; }); // rendered, not yet presented
    queue.enqueue(ramp(4, 1), [&] { ++ran; }); // partly rendered
    queue.enqueue(ramp(4, 1), {});             // not rendered
    rendered(queue, 3);
    const auto dropped = queue.clear();
    EXPECT_EQ(dropped.size(), 2u);
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(queue.playing());
    EXPECT_EQ(queue.sampleTime(), 0);
    EXPECT_EQ(queue.pendingFrames(), 0);
    EXPECT_EQ(queue.outputPosition(), 3);
    EXPECT_TRUE(queue.takePlayed(1000).empty());
    EXPECT_EQ(rendered(queue, 2), std::vector<float>(2, 0.0f));
}

TEST(AudioFormat, StandardFormatAcceptsOnlyWhatTheOutputCanPlay)
{
    struct Case {
        double rate;
        std::uint32_t channels;
        bool valid;
    };
    const Case cases[] = {
        {44100, 2, true},   {48000, 1, true},     {7350, 1, true},  {384000, 8, true},
        {1000, 1, true},    {999, 1, false},      {384001, 2, false}, {44100.5, 2, false},
        {0, 2, false},      {-44100, 2, false},   {44100, 0, false},  {44100, 9, false},
        {std::numeric_limits<double>::quiet_NaN(), 2, false},
        {std::numeric_limits<double>::infinity(), 2, false},
        {44100, 0xFFFFFFFFu, false},
    };
    for (const Case &c : cases) {
        const auto format = AudioFormat::standard(c.rate, c.channels);
        EXPECT_EQ(format.has_value(), c.valid) << c.rate << " Hz, " << c.channels << " channels";
        if (format) {
            EXPECT_EQ(format->sampleRate, c.rate);
            EXPECT_EQ(format->channels, static_cast<int>(c.channels));
        }
    }
}

// The engine as the environment chooses its output, refusing what it cannot
// play and keeping its volume across starts.
TEST(AudioEngine, RefusesWhatItCannotPlayAndKeepsItsVolume)
{
    test::ScopedEnvironment audio("VANTULI_AUDIO", "null");
    AudioEngine engine;
    EXPECT_EQ(engine.volume(), 1.0f);
    engine.setVolume(0.65f);
    engine.setVolume(std::numeric_limits<float>::quiet_NaN());
    bool called = false;
    auto mark = [&] { called = true; };

    EXPECT_FALSE(engine.scheduleBuffer(ramp(4, 2), mark)) << "not started";
    EXPECT_FALSE(engine.play());
    QString error;
    EXPECT_FALSE(engine.start(AudioFormat{44100, 0}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(engine.start(AudioFormat{44100.5, 2}));
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(engine.format().has_value());

    ASSERT_TRUE(engine.start(AudioFormat{48000, 2}, &error)) << error.toStdString();
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(engine.outputKind(), AudioEngine::OutputKind::Null);
    EXPECT_EQ(engine.format(), (AudioFormat{48000, 2}));
    EXPECT_FALSE(engine.scheduleBuffer({}, mark));
    EXPECT_FALSE(engine.scheduleBuffer({0.1f, 0.2f, 0.3f}, mark)) << "half a frame";
    EXPECT_TRUE(engine.scheduleBuffer({0.1f, 0.2f, 0.3f, 0.4f}));

    engine.stop();
    EXPECT_FALSE(engine.scheduleBuffer(ramp(4, 2), mark)) << "stopped";
    EXPECT_FALSE(engine.play());
    EXPECT_FALSE(called);

    ASSERT_TRUE(engine.start(AudioFormat{44100, 2}));
    EXPECT_EQ(engine.volume(), 0.65f);
    engine.setVolume(3.0f);
    engine.stop();
    ASSERT_TRUE(engine.start(AudioFormat{44100, 2}));
    EXPECT_EQ(engine.volume(), 1.0f);
}

TEST(AudioEngine, CompletionsRunInOrderOnceTheirAudioWasPlayed)
{
    AudioEngine engine(AudioEngine::OutputChoice::Null);
    ASSERT_TRUE(engine.start(AudioFormat{48000, 2}));
    EXPECT_EQ(engine.outputLatency(), 0.0);
    Journal journal;
    constexpr int Buffers = 12;
    constexpr int Frames = 960; // 20 ms
    for (int i = 0; i < Buffers; ++i) {
        // Some buffers without a completion: the others still complete in order.
        if (i % 3 == 1)
            ASSERT_TRUE(engine.scheduleBuffer(ramp(Frames, 2)));
        else
            ASSERT_TRUE(engine.scheduleBuffer(ramp(Frames, 2), journal.completion(engine, i)));
    }
    // Nothing plays before the player starts, and the player has no time yet.
    EXPECT_FALSE(engine.playerTime().has_value());
    EXPECT_TRUE(staysFalse([&] { return journal.count() > 0; }));

    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return journal.count() == 8; }));
    std::lock_guard lock(journal.m);
    EXPECT_EQ(journal.order, (std::vector<int>{0, 2, 3, 5, 6, 8, 9, 11}));
    for (std::size_t k = 0; k < journal.order.size(); ++k) {
        // By the time a buffer's completion runs, its audio has all been played.
        EXPECT_GE(journal.sampleTimes[k], static_cast<std::int64_t>(journal.order[k] + 1) * Frames);
        EXPECT_LE(journal.sampleTimes[k], static_cast<std::int64_t>(Buffers) * Frames);
        EXPECT_NE(journal.threads[k], QThread::currentThread());
        EXPECT_EQ(journal.threads[k], journal.threads.front());
        if (k > 0) {
            EXPECT_GE(journal.sampleTimes[k], journal.sampleTimes[k - 1]);
        }
    }
}

TEST(AudioEngine, SampleTimeNeverRunsAheadOfScheduledAudio)
{
    AudioEngine engine(AudioEngine::OutputChoice::Null);
    ASSERT_TRUE(engine.start(AudioFormat{16000, 1}));
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(engine.playerTime().has_value());
    EXPECT_EQ(engine.playerTime()->sampleTime, 0);
    EXPECT_EQ(engine.playerTime()->sampleRate, 16000.0);

    std::int64_t scheduled = 0;
    for (int round = 0; round < 3; ++round) {
        std::atomic<bool> done{false};
        ASSERT_TRUE(engine.scheduleBuffer(ramp(800, 1), [&] { done = true; }));
        scheduled += 800;
        bool ahead = false;
        ASSERT_TRUE(test::waitUntil([&] {
            const auto time = engine.playerTime();
            ahead = ahead || !time || time->sampleTime > scheduled;
            return done.load();
        }));
        // The player ran dry: its clock stops at the end of the scheduled audio.
        EXPECT_TRUE(staysFalse([&] {
            const auto time = engine.playerTime();
            ahead = ahead || !time || time->sampleTime > scheduled;
            return ahead;
        }));
        EXPECT_FALSE(ahead);
        EXPECT_EQ(engine.playerTime()->sampleTime, scheduled);
        EXPECT_DOUBLE_EQ(engine.playerTime()->seconds(), static_cast<double>(scheduled) / 16000);
    }
}

TEST(AudioEngine, StopDropsPendingCompletionsAndWaitsForARunningOne)
{
    AudioEngine engine(AudioEngine::OutputChoice::Null);
    ASSERT_TRUE(engine.start(AudioFormat{48000, 1}));
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<int> later{0};
    ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 1), [&] {
        entered = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
    }));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 1), [&] { ++later; }));
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return entered.load(); }));

    // stop() must not return while the completion is still running.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        engine.stop();
        stopped = true;
    });
    EXPECT_TRUE(test::waitUntil([&] { return !engine.isRunning(); }));
    EXPECT_TRUE(staysFalse([&] { return stopped.load(); }));
    release = true;
    stopper.join();
    EXPECT_TRUE(stopped);

    // None of the audio that was still queued, or played but not yet reported, ever completes.
    const int seen = later.load();
    EXPECT_TRUE(staysFalse([&] { return later.load() != seen; }));
    EXPECT_EQ(later.load(), 0);
    EXPECT_FALSE(engine.isPlaying());
    EXPECT_FALSE(engine.playerTime().has_value());
    EXPECT_EQ(engine.outputKind(), AudioEngine::OutputKind::None);
}

TEST(AudioEngine, ACompletionMayStopOrRestartTheEngine)
{
    AudioEngine engine(AudioEngine::OutputChoice::Null);
    ASSERT_TRUE(engine.start(AudioFormat{48000, 2}));
    std::atomic<int> after{0};
    std::atomic<bool> stoppedInside{false};
    ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 2), [&] {
        engine.stop();
        stoppedInside = true;
    }));
    ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 2), [&] { ++after; }));
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return stoppedInside.load(); }));
    EXPECT_FALSE(engine.isRunning());
    EXPECT_TRUE(staysFalse([&] { return after.load() > 0; }));

    // And from a completion of the new run, a start afresh.
    ASSERT_TRUE(engine.start(AudioFormat{22050, 1}));
    std::atomic<bool> restarted{false};
    ASSERT_TRUE(engine.scheduleBuffer(ramp(220, 1), [&] {
        restarted = engine.start(AudioFormat{48000, 2});
    }));
    ASSERT_TRUE(engine.scheduleBuffer(ramp(220, 1), [&] { ++after; })); // dropped by the restart
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return restarted.load(); }));
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(engine.format(), (AudioFormat{48000, 2}));
    EXPECT_EQ(after.load(), 0);
}

TEST(AudioEngine, ResetDropsScheduledAudioAndKeepsTheOutputRunning)
{
    AudioEngine engine(AudioEngine::OutputChoice::Null);
    ASSERT_TRUE(engine.start(AudioFormat{48000, 1}));
    std::atomic<int> first{0};
    std::atomic<int> old{0};
    ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 1), [&] { ++first; }));
    for (int i = 0; i < 100; ++i) // two seconds
        ASSERT_TRUE(engine.scheduleBuffer(ramp(960, 1), [&] { ++old; }));
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return first.load() == 1; }));

    engine.reset();
    const int seen = old.load();
    EXPECT_TRUE(engine.isRunning());
    EXPECT_FALSE(engine.isPlaying());
    EXPECT_FALSE(engine.playerTime().has_value());

    // Fresh audio plays once the player starts again, with its clock from 0.
    std::atomic<bool> fresh{false};
    std::atomic<std::int64_t> freshTime{-1};
    ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 1), [&] {
        freshTime = engine.playerTime() ? engine.playerTime()->sampleTime : -1;
        fresh = true;
    }));
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return fresh.load(); }));
    EXPECT_EQ(freshTime, 480);
    EXPECT_EQ(old.load(), seen);
    EXPECT_LT(seen, 100);
}

TEST(AudioEngine, DestroyingAPlayingEngineRunsNoFurtherCompletion)
{
    std::atomic<int> ran{0};
    std::atomic<bool> first{false};
    {
        AudioEngine engine(AudioEngine::OutputChoice::Null);
        ASSERT_TRUE(engine.start(AudioFormat{48000, 1}));
        ASSERT_TRUE(engine.scheduleBuffer(ramp(480, 1), [&] { first = true; }));
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(engine.scheduleBuffer(ramp(960, 1), [&] { ++ran; }));
        ASSERT_TRUE(engine.play());
        ASSERT_TRUE(test::waitUntil([&] { return first.load(); }));
    }
    const int seen = ran.load();
    EXPECT_TRUE(staysFalse([&] { return ran.load() != seen; }));
    EXPECT_LT(seen, 100);
}

TEST(AudioEngine, PlaysThroughTheDefaultOutputDevice)
{
    if (QMediaDevices::defaultAudioOutput().isNull())
        GTEST_SKIP() << "no audio output device on this machine";
    AudioEngine engine(AudioEngine::OutputChoice::Device);
    QString error;
    ASSERT_TRUE(engine.start(AudioFormat{48000, 2}, &error)) << error.toStdString();
    EXPECT_EQ(engine.outputKind(), AudioEngine::OutputKind::Device);
    EXPECT_GT(engine.outputLatency(), 0.0);
    engine.setVolume(0.0f); // inaudible
    Journal journal;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(engine.scheduleBuffer(std::vector<float>(9600, 0.0f), journal.completion(engine, i)));
    ASSERT_TRUE(engine.play());
    ASSERT_TRUE(test::waitUntil([&] { return journal.count() == 5; }));
    {
        std::lock_guard lock(journal.m);
        EXPECT_EQ(journal.order, (std::vector<int>{0, 1, 2, 3, 4}));
        EXPECT_GE(journal.sampleTimes.back(), 5 * 4800);
    }
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
}
