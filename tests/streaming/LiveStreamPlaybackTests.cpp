#include "LiveStreamTesting.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vantuli;
using namespace vantuli::test;

namespace {

class LiveStreamPlayback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isListening()) << server.error().toStdString();
        ASSERT_FALSE(mp3Tone().isEmpty());
        ASSERT_FALSE(mp3Pattern().isEmpty());
        ASSERT_FALSE(HlsStation::source().empty());
    }

    HttpsTestServer server;
    TestConfiguration configuration;
};

// Windows follow one another on the run's 16 kHz clock without gaps.
void expectContiguous(const std::vector<SpeechWindow> &windows)
{
    for (size_t i = 1; i < windows.size(); ++i)
        EXPECT_EQ(windows[i].offset, windows[i - 1].offset + qint64(windows[i - 1].samples.size())) << i;
}

// `playing` comes once the run's start-up buffer is there: 0.4 s without
// captions, the caption delay with them, 10.5 s for HLS with a sentence pacing.
TEST_F(LiveStreamPlayback, PlayingWaitsForTheStartupBuffer)
{
    server.serve("/live.mp3", liveStream(mp3Tone(), 8, "audio/mpeg"));
    HlsStation station(server, "/hls", 3);
    struct Case {
        QString path;
        double delay;
        CaptionPacing pacing;
        double buffer;
    };
    const std::vector<Case> cases = {
        {"/live.mp3", 0, CaptionPacing::Short, 0.4},
        {"/live.mp3", 5, CaptionPacing::Short, 5},
        {"/live.mp3", 14, CaptionPacing::Sentence, 14},
        {"/hls/live.m3u8", 14, CaptionPacing::Sentence, LiveStream::hlsJoinSeconds},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString() + " delay " + std::to_string(c.delay));
        Recorder recorder;
        LiveStream stream(recorder.parameters(c.delay, c.pacing));
        stream.start(server.url(c.path), 1, configuration.make(LiveStream::silenceTimeout, true));
        ASSERT_TRUE(waitUntil([&] { return recorder.positions() > 0 || recorder.failed(); }, std::chrono::seconds(40)));
        ASSERT_FALSE(recorder.failed()) << recorder.failure().toStdString();
        const auto events = recorder.allEvents();
        ASSERT_GE(events.size(), 3u);
        ASSERT_EQ(events[1].kind, StreamEvent::Kind::Playing);
        const StreamEvent &first = events[2];
        EXPECT_GE(first.played + first.buffered, c.buffer - 0.05);
        stream.stop();
        const auto windows = recorder.allWindows();
        if (c.delay == 0) {
            EXPECT_TRUE(windows.empty());
        }
        expectContiguous(windows);
    }
}

// The captioning audio is the played audio: a window's samples at offset k
// are what the listener hears k / 16000 seconds into the run.
TEST_F(LiveStreamPlayback, SpeechWindowsMatchThePlayedAudio)
{
    server.serve("/pattern.mp3", liveStream(mp3Pattern(), 2, "audio/mpeg"));
    Recorder recorder;
    LiveStream stream(recorder.parameters(5, CaptionPacing::Short));
    stream.start(server.url("/pattern.mp3"), 1, configuration.make());
    const auto covered = [&] {
        const auto windows = recorder.allWindows();
        return windows.empty() ? 0.0 : double(windows.back().offset + qint64(windows.back().samples.size())) / 16000;
    };
    ASSERT_TRUE(waitUntil([&] { return covered() >= 8 || recorder.failed(); }, std::chrono::seconds(40)));
    stream.stop();
    ASSERT_FALSE(recorder.failed()) << recorder.failure().toStdString();

    const auto windows = recorder.allWindows();
    ASSERT_EQ(windows.front().offset, 0);
    expectContiguous(windows);
    std::vector<float> mono;
    for (const auto &w : windows)
        mono.insert(mono.end(), w.samples.begin(), w.samples.end());

    // Loudness of 0.1 s around each tone and each pause of the pattern.
    const auto rms = [&](double at) {
        const auto begin = size_t(at * 16000);
        double sum = 0;
        for (size_t i = begin; i < begin + 1600; ++i)
            sum += double(mono[i]) * mono[i];
        return std::sqrt(sum / 1600);
    };
    int checked = 0;
    for (double second = 0; second + 2 <= double(mono.size()) / 16000; second += 2) {
        EXPECT_GT(rms(second + 0.45), 0.1) << "tone at " << second;
        EXPECT_LT(rms(second + 1.45), 0.01) << "pause at " << second + 1;
        ++checked;
    }
    EXPECT_GE(checked, 3);

    // Nothing is cut from audio that was not scheduled.
    const auto events = recorder.allEvents();
    const StreamEvent &last = events.back();
    EXPECT_LE(covered(), last.played + last.buffered + 0.1);
}

TEST_F(LiveStreamPlayback, TimingSamplesMarkPlayedAudio)
{
    server.serve("/live.mp3", liveStream(mp3Tone(), 2, "audio/mpeg"));
    Recorder recorder;
    LiveStream stream(recorder.parameters(0, CaptionPacing::Short, true));
    stream.start(server.url("/live.mp3"), 1, configuration.make());
    ASSERT_TRUE(waitUntil([&] { return recorder.allSamples().size() >= 6 || recorder.failed(); }));
    stream.stop();
    const auto samples = recorder.allSamples();
    ASSERT_GE(samples.size(), 6u);
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_GE(samples[i].playedAt, samples[i].decodedAt);
        if (i == 0)
            continue;
        // One sample marks at most every quarter second of audio.
        EXPECT_GE(samples[i].mediaEnd, samples[i - 1].mediaEnd + 0.25);
        EXPECT_GE(samples[i].decodedAt, samples[i - 1].decodedAt);
        EXPECT_GE(samples[i].playedAt, samples[i - 1].playedAt);
    }
}

} // namespace
