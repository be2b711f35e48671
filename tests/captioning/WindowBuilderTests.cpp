#include "captioning/WindowBuilder.h"

#include "support/SpeechAudio.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

using namespace vantuli;
using Range = WindowBuilder::Range;

namespace {

constexpr float loud = 0.5f;

std::vector<float> constant(qint64 count, float value)
{
    return std::vector<float>(size_t(count), value);
}

// Alternating +-loud: never a quiet frame.
std::vector<float> noise(qint64 count)
{
    std::vector<float> samples(static_cast<size_t>(count));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2) ? loud : -loud;
    return samples;
}

// A detector that always answers the same ranges and counts its calls.
struct Script {
    std::optional<std::vector<Range>> answer;
    int calls = 0;
    std::vector<qint64> lengths;
    std::vector<float> lastPeak;
};

WindowBuilder scripted(CaptionPacing pacing, std::shared_ptr<Script> script)
{
    return WindowBuilder(pacing, [script](std::span<const float> slice) {
        ++script->calls;
        script->lengths.push_back(qint64(slice.size()));
        float peak = 0;
        for (float s : slice)
            peak = std::max(peak, std::fabs(s));
        script->lastPeak.push_back(peak);
        return script->answer;
    });
}

WindowBuilder scripted(CaptionPacing pacing, std::optional<std::vector<Range>> answer)
{
    auto script = std::make_shared<Script>();
    script->answer = std::move(answer);
    return scripted(pacing, script);
}

// A detector that hears every run of non-zero samples as speech.
std::optional<std::vector<Range>> hearNonZero(std::span<const float> slice)
{
    std::vector<Range> ranges;
    qint64 i = 0;
    const qint64 n = qint64(slice.size());
    while (i < n) {
        while (i < n && slice[size_t(i)] == 0.0f)
            ++i;
        const qint64 begin = i;
        while (i < n && slice[size_t(i)] != 0.0f)
            ++i;
        if (begin < i)
            ranges.push_back({begin, i});
    }
    return ranges;
}

struct Cut {
    qint64 offset;
    qint64 length;
    friend bool operator==(const Cut &, const Cut &) = default;
    friend std::ostream &operator<<(std::ostream &out, const Cut &c)
    {
        return out << "[" << c.offset << " +" << c.length << "]";
    }
};

std::vector<Cut> cuts(const std::vector<SpeechWindow> &windows)
{
    std::vector<Cut> result;
    for (const SpeechWindow &w : windows)
        result.push_back({w.offset, qint64(w.samples.size())});
    return result;
}

} // namespace

TEST(WindowBuilder, ShortPacingCutsAtTheLatestQuietFrame)
{
    struct Row {
        const char *what;
        std::vector<float> audio;
        bool flush;
        std::vector<Cut> expected;
        qint64 waiting;
    };
    std::vector<float> oneQuietFrame = noise(64000);
    std::fill(oneQuietFrame.begin() + 49920, oneQuietFrame.begin() + 49920 + 960, 0.0f);
    std::vector<float> twoQuietFrames = oneQuietFrame;
    std::fill(twoQuietFrames.begin() + 43520, twoQuietFrames.begin() + 43520 + 960, 0.0f);
    std::vector<float> quietTooEarly = noise(64000);
    std::fill(quietTooEarly.begin() + 20000, quietTooEarly.begin() + 41000, 0.0f);
    std::vector<float> quietTooLate = noise(64000);
    std::fill(quietTooLate.begin() + 62401, quietTooLate.end(), 0.0f);

    const std::vector<Row> rows = {
        {"almost 4 s", noise(63999), false, {}, 63999},
        {"silence cuts at the first candidate", constant(64000, 0), false, {{0, 62880}}, 64000 - 62880},
        {"loud noise cuts at 4 s", noise(64000), false, {{0, 64000}}, 0},
        {"one quiet frame", oneQuietFrame, false, {{0, 50400}}, 64000 - 50400},
        {"two quiet frames, the later one wins", twoQuietFrames, false, {{0, 50400}}, 64000 - 50400},
        {"quiet only before the search", quietTooEarly, false, {{0, 64000}}, 0},
        {"quiet only after the search", quietTooLate, false, {{0, 64000}}, 0},
        {"a flush of ten samples", noise(10), true, {{0, 10}}, 0},
        {"two 4 s windows of noise and a flushed rest", noise(130000), true, {{0, 64000}, {64000, 64000}, {128000, 2000}}, 0},
    };
    for (const Row &row : rows) {
        WindowBuilder builder(CaptionPacing::Short);
        EXPECT_EQ(cuts(builder.append(row.audio, row.flush)), row.expected) << row.what;
        EXPECT_EQ(builder.waitingCount(), row.waiting) << row.what;
        EXPECT_EQ(builder.offset() + builder.waitingCount(), qint64(row.audio.size())) << row.what;
    }

    // The sample that completes 4 s brings the window.
    const std::vector<float> audio = noise(64000);
    WindowBuilder builder(CaptionPacing::Short);
    EXPECT_TRUE(builder.append(std::span<const float>(audio).first(63999), false).empty());
    const auto windows = builder.append(std::span<const float>(audio).last(1), false);
    EXPECT_EQ(cuts(windows), (std::vector<Cut>{{0, 64000}}));
    EXPECT_EQ(builder.offset(), 64000);
    // Short windows are handed over raw.
    EXPECT_EQ(windows.front().samples, audio);
}

// One append of loud audio (left alone by the conversational gain) to a
// builder whose detector answers fixed ranges.
TEST(WindowBuilder, SentencePacingsCutUtterancesWithPads)
{
    constexpr auto S = CaptionPacing::Sentence;
    constexpr auto C = CaptionPacing::Conversational;
    struct Row {
        const char *what;
        CaptionPacing pacing;
        std::vector<Range> speech;
        qint64 appended;
        std::vector<Cut> expected;
        qint64 offset;
        qint64 nextInspection;
    };
    const std::vector<Row> rows = {
        {"under 8 s: no inspection", S, {{20000, 40000}}, 127999, {}, 0, 128000},
        {"one padded utterance", S, {{20000, 40000}}, 128000, {{17120, 25760}}, 128000 - 2880, 128000},
        {"running from 10000: waits", S, {{10000, 128000}}, 128000, {}, 7120, 128000 - 7120 + 40000},
        {"running from 50000: floor", S, {{50000, 128000}}, 128000, {}, 47120, 128000},
        {"ends under a gap before the end", S, {{1000, 128000 - 14399}}, 128000, {}, 0, 168000},
        {"ends a gap before the end", S, {{1000, 113600}}, 128000, {{0, 116480}}, 125120, 128000},
        {"gap 14399 merges", S, {{10000, 20000}, {34399, 46399}}, 128000, {{7120, 42159}}, 125120, 128000},
        {"gap 14400 splits", S, {{10000, 20000}, {34400, 46400}}, 128000, {{7120, 15760}, {31520, 17760}}, 125120, 128000},
        {"gap 7999 merges", C, {{10000, 20000}, {27999, 39999}}, 128000, {{7120, 35759}}, 125120, 128000},
        {"gap 8000 splits", C, {{10000, 20000}, {28000, 40000}}, 128000, {{7120, 15760}, {25120, 17760}}, 125120, 128000},
        {"no speech keeps 0.18 s", S, {}, 300000, {}, 2 * (128000 - 2880), 128000},
        // Ranges outside the span or out of order must not move a cut out of
        // the waiting samples or make windows overlap.
        {"odd ranges are clipped and ordered", S, {{90000, 100000}, {-500, 10000}, {200000, 300000}, {50, 40}},
         128000, {{0, 12880}, {87120, 15760}}, 125120, 128000},
    };
    for (const Row &row : rows) {
        auto script = std::make_shared<Script>();
        script->answer = row.speech;
        WindowBuilder builder = scripted(row.pacing, script);
        EXPECT_EQ(cuts(builder.append(noise(row.appended), false)), row.expected) << row.what;
        EXPECT_EQ(builder.offset(), row.offset) << row.what;
        EXPECT_EQ(builder.nextInspection(), row.nextInspection) << row.what;
        EXPECT_EQ(script->calls, row.appended < 128000 ? 0 : row.appended / 128000) << row.what;
    }
}

TEST(WindowBuilder, AmplifiesQuietConversationalWindows)
{
    struct Row {
        CaptionPacing pacing;
        float peak;
        float gain;
    };
    const Row rows[] = {
        {CaptionPacing::Conversational, 0.001f, 48.0f},  {CaptionPacing::Conversational, 0.05f, 1.6f},
        {CaptionPacing::Conversational, 0.08f, 1.0f},    {CaptionPacing::Conversational, 0.0001f, 1.0f},
        {CaptionPacing::Conversational, 0.0002f, 48.0f}, {CaptionPacing::Sentence, 0.001f, 1.0f},
    };
    for (const Row &row : rows) {
        auto script = std::make_shared<Script>();
        script->answer = std::vector<Range>{{20000, 40000}};
        WindowBuilder builder = scripted(row.pacing, script);
        std::vector<float> audio = constant(128000, row.peak);
        audio[30000] = -row.peak;
        const auto windows = builder.append(audio, false);
        ASSERT_EQ(windows.size(), 1u);
        // The detector and the recogniser both hear the raised audio.
        EXPECT_NEAR(script->lastPeak.front(), row.peak * row.gain, row.peak * row.gain * 1e-5f) << row.peak;
        const SpeechWindow &w = windows.front();
        EXPECT_NEAR(w.samples.front(), row.peak * row.gain, row.peak * row.gain * 1e-5f) << row.peak;
        EXPECT_NEAR(w.samples[size_t(30000 - w.offset)], -row.peak * row.gain, row.peak * row.gain * 1e-5f);
    }
}

TEST(WindowBuilder, FailedDetectionCountsAsSpeech)
{
    // Detection failing or no detector at all: fixed windows of the longest
    // length after inspections of 8 s, 10.5 s and then 13 s.
    for (bool withFailingDetector : {false, true}) {
        auto script = std::make_shared<Script>();
        WindowBuilder builder = withFailingDetector ? scripted(CaptionPacing::Sentence, script)
                                                    : WindowBuilder(CaptionPacing::Sentence);
        EXPECT_TRUE(builder.append(noise(207999), false).empty());
        EXPECT_EQ(builder.nextInspection(), 208000);
        const auto windows = builder.append(noise(208001), false);
        EXPECT_EQ(cuts(windows), (std::vector<Cut>{{0, 208000}, {208000, 208000}}));
        if (withFailingDetector) {
            EXPECT_EQ(script->lengths, (std::vector<qint64>{128000, 168000, 208000, 128000, 168000, 208000}));
        }
        EXPECT_EQ(builder.waitingCount(), 0);
    }

    // An empty answer is silence: a flush cuts nothing and drops it all.
    WindowBuilder silent = scripted(CaptionPacing::Sentence, std::vector<Range>{});
    EXPECT_TRUE(silent.append(noise(300000), true).empty());
    EXPECT_EQ(silent.waitingCount(), 0);
}

TEST(WindowBuilder, LongUtterancesAreCutAtARecentPause)
{
    // A pause shorter than the gap within the last 3 s is the cut; the
    // window then has no end pad and the next one starts at the cut.
    WindowBuilder paused = scripted(CaptionPacing::Sentence, std::vector<Range>{{0, 180000}, {190000, 208000}});
    auto windows = paused.append(noise(208000), false);
    EXPECT_EQ(cuts(windows), (std::vector<Cut>{{0, 185000}}));
    EXPECT_EQ(paused.offset(), 185000);

    // An older pause is ignored: the sentence pacing cuts at the longest window.
    WindowBuilder older = scripted(CaptionPacing::Sentence, std::vector<Range>{{0, 100000}, {110000, 208000}});
    EXPECT_EQ(cuts(older.append(noise(208000), false)), (std::vector<Cut>{{0, 208000}}));

    // The conversational pacing looks for a quiet 120 ms frame in the last 2.5 s.
    std::vector<float> audio = noise(168000);
    std::fill(audio.begin() + 150080, audio.begin() + 150080 + 1920, 0.001f);
    WindowBuilder quiet = scripted(CaptionPacing::Conversational, std::nullopt);
    EXPECT_TRUE(quiet.append(std::span<const float>(audio).first(167999), false).empty());
    windows = quiet.append(std::span<const float>(audio).last(1), false);
    EXPECT_EQ(cuts(windows), (std::vector<Cut>{{0, 151040}}));
    EXPECT_EQ(quiet.waitingCount(), 168000 - 151040);

    // Without a quiet frame it cuts at the longest window.
    WindowBuilder loudOnly = scripted(CaptionPacing::Conversational, std::nullopt);
    EXPECT_EQ(cuts(loudOnly.append(noise(168000), false)), (std::vector<Cut>{{0, 168000}}));

    // At the longest span an utterance that began more than 1 s in waits for
    // the next inspection; one that began earlier is cut.
    struct Row {
        qint64 speechStart;
        std::vector<Cut> expected;
        qint64 offset;
    };
    const std::vector<Row> rows = {
        {20000, {}, 20000 - 2880},
        {16001 + 2880, {}, 16001},
        {16000 + 2880, {{16000, 168000 - 16000}}, 168000},
    };
    for (const Row &row : rows) {
        auto script = std::make_shared<Script>();
        script->answer = std::vector<Range>{{0, 128000}};
        WindowBuilder late = scripted(CaptionPacing::Conversational, script);
        EXPECT_TRUE(late.append(noise(128000), false).empty());
        ASSERT_EQ(late.nextInspection(), 168000);
        script->answer = std::vector<Range>{{row.speechStart, 168000}};
        EXPECT_EQ(cuts(late.append(noise(40000), false)), row.expected) << row.speechStart;
        EXPECT_EQ(late.offset(), row.offset) << row.speechStart;
    }
}

TEST(WindowBuilder, FlushDueCutsOnlyAudioAboutToBeHeard)
{
    struct Row {
        const char *what;
        CaptionPacing pacing;
        qint64 dropped;
        qint64 waiting;
        double played;
        bool flushes;
    };
    const Row rows[] = {
        {"short pacing never", CaptionPacing::Short, 0, 60000, 100, false},
        {"under 3 s waiting", CaptionPacing::Sentence, 0, 47999, 100, false},
        {"3 s waiting", CaptionPacing::Sentence, 0, 48000, 0, true},
        {"backlog starts 2.5 s ahead", CaptionPacing::Conversational, 80000, 50000, 2.5, true},
        {"backlog starts further ahead", CaptionPacing::Conversational, 80001, 50000, 2.5, false},
    };
    for (const Row &row : rows) {
        WindowBuilder builder(row.pacing);
        builder.append(noise(row.dropped), false);
        builder.reset();
        builder.append(noise(row.waiting), false);
        const auto windows = builder.flushDue(row.played);
        EXPECT_EQ(!windows.empty(), row.flushes) << row.what;
        if (row.flushes) {
            EXPECT_EQ(cuts(windows), (std::vector<Cut>{{row.dropped, row.waiting}})) << row.what;
            EXPECT_EQ(builder.waitingCount(), 0) << row.what;
        } else {
            EXPECT_EQ(builder.waitingCount(), row.waiting) << row.what;
        }
    }
}

TEST(WindowBuilder, ResetDropsTheBacklogAndKeepsTheClock)
{
    auto script = std::make_shared<Script>();
    script->answer = std::vector<Range>{{20000, 128000}};
    WindowBuilder builder = scripted(CaptionPacing::Sentence, script);
    builder.append(noise(128000), false);
    ASSERT_GT(builder.nextInspection(), 128000);
    const qint64 clock = builder.offset() + builder.waitingCount();
    builder.reset();
    EXPECT_EQ(builder.offset(), clock);
    EXPECT_EQ(builder.waitingCount(), 0);
    EXPECT_EQ(builder.nextInspection(), 128000);
    EXPECT_EQ(builder.pacing(), CaptionPacing(CaptionPacing::Sentence));

    // Copies share the detector.
    WindowBuilder copy = builder;
    script->answer = std::vector<Range>{{20000, 40000}};
    EXPECT_EQ(cuts(copy.append(noise(128000), false)), (std::vector<Cut>{{clock + 17120, 25760}}));
    EXPECT_EQ(script->calls, 2);
}

TEST(WindowBuilder, RadioLoadsTheVoiceDetectorOnlyForSentencePacings)
{
    const QString models = test::resourceFolder();
    EXPECT_TRUE(WindowBuilder::radio(CaptionPacing::Sentence, models).hasDetector());
    EXPECT_TRUE(WindowBuilder::radio(CaptionPacing::Conversational, models).hasDetector());
    EXPECT_FALSE(WindowBuilder::radio(CaptionPacing::Short, models).hasDetector());
    EXPECT_FALSE(WindowBuilder::radio(CaptionPacing::Sentence, std::nullopt).hasDetector());
    EXPECT_FALSE(WindowBuilder::radio(CaptionPacing::Sentence, test::temporaryFolder()).hasDetector());

    // Without its model the builder still cuts, in fixed maximal windows.
    WindowBuilder fallback = WindowBuilder::radio(CaptionPacing::Conversational, test::temporaryFolder());
    EXPECT_EQ(cuts(fallback.append(noise(168000), false)), (std::vector<Cut>{{0, 168000}}));
}

// Random speech and silence in random blocks, with forced flushes and resets
// on the way: the windows always keep their clock and their bounds.
TEST(WindowBuilder, RandomFeedingKeepsWindowsInOrderAndInBounds)
{
    for (CaptionPacing pacing : {CaptionPacing(CaptionPacing::Short), CaptionPacing(CaptionPacing::Sentence),
                                 CaptionPacing(CaptionPacing::Conversational)}) {
        for (unsigned seed = 1; seed <= 12; ++seed) {
            std::mt19937 random(seed * 7919u + unsigned(pacing.value()));
            std::vector<float> source;
            while (source.size() < 2'000'000) {
                const qint64 speech = std::uniform_int_distribution<qint64>(800, 260000)(random);
                for (qint64 i = 0; i < speech; ++i)
                    source.push_back((i % 2) ? loud : -loud);
                const qint64 silence = std::uniform_int_distribution<qint64>(0, 30000)(random);
                source.insert(source.end(), size_t(silence), 0.0f);
            }
            WindowBuilder builder(pacing, hearNonZero);
            std::vector<SpeechWindow> windows;
            auto take = [&](std::vector<SpeechWindow> more) {
                for (SpeechWindow &w : more)
                    windows.push_back(std::move(w));
            };
            size_t fed = 0;
            while (fed < source.size()) {
                const size_t block =
                    std::min(source.size() - fed, size_t(std::uniform_int_distribution<int>(1, 40000)(random)));
                const int roll = std::uniform_int_distribution<int>(0, 99)(random);
                take(builder.append(std::span<const float>(source).subspan(fed, block), roll == 0));
                fed += block;
                if (roll == 1)
                    builder.reset();
                if (roll >= 90)
                    take(builder.flushDue(double(fed) / 16000.0 - 5.0));
                ASSERT_EQ(builder.offset() + builder.waitingCount(), qint64(fed));
                if (pacing.value() != CaptionPacing::Short) {
                    ASSERT_GE(builder.nextInspection(), 128000);
                    ASSERT_LE(builder.nextInspection(), WindowBuilder::longest(pacing));
                }
            }
            take(builder.append({}, true));
            EXPECT_EQ(builder.waitingCount(), 0);
            EXPECT_EQ(builder.offset(), qint64(source.size()));

            ASSERT_FALSE(windows.empty());
            qint64 previousEnd = 0;
            for (const SpeechWindow &w : windows) {
                const qint64 length = qint64(w.samples.size());
                ASSERT_GT(length, 0) << "seed " << seed;
                ASSERT_LE(length, WindowBuilder::longest(pacing)) << "seed " << seed;
                ASSERT_GE(w.offset, previousEnd) << "seed " << seed;
                previousEnd = w.offset + length;
                ASSERT_LE(previousEnd, qint64(source.size()));
                // Loud or silent audio is never amplified: the window is the source.
                ASSERT_TRUE(std::equal(w.samples.begin(), w.samples.end(), source.begin() + w.offset))
                    << "seed " << seed << " offset " << w.offset;
            }
        }
    }
}

TEST(WindowBuilder, SentenceWindowsFallOnSpokenUtterances)
{
    const QStringList lines = {
        QStringLiteral("Good evening, and welcome to the late news."),
        QStringLiteral("Heavy rain is expected across the north tonight."),
        QStringLiteral("The city council met this afternoon to discuss the new bridge."),
        QStringLiteral("And finally, the local team won the cup."),
    };
    const auto [audio, spoken] = test::speakLines(lines, 1.2, 2.0);
    ASSERT_FALSE(audio.empty()) << "espeak-ng or ffmpeg failed";

    WindowBuilder builder = WindowBuilder::radio(CaptionPacing::Sentence, test::resourceFolder());
    ASSERT_TRUE(builder.hasDetector());
    std::vector<SpeechWindow> windows;
    for (size_t at = 0; at < audio.size(); at += 1600) {
        for (SpeechWindow &w : builder.append(std::span<const float>(audio).subspan(at, std::min<size_t>(1600, audio.size() - at)), false))
            windows.push_back(std::move(w));
    }
    for (SpeechWindow &w : builder.append({}, true))
        windows.push_back(std::move(w));

    // One window per utterance, each holding the whole of it and nothing of the others.
    ASSERT_EQ(windows.size(), spoken.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const qint64 begin = windows[i].offset;
        const qint64 end = begin + qint64(windows[i].samples.size());
        const qint64 slack = 1600;  // the detector's boundaries are coarser than the audible extent
        EXPECT_LE(begin, spoken[i].first + slack) << "utterance " << i;
        EXPECT_GE(end, spoken[i].second - slack) << "utterance " << i;
        if (i > 0) {
            EXPECT_GE(begin, spoken[i - 1].second) << "utterance " << i;
        }
        if (i + 1 < spoken.size()) {
            EXPECT_LE(end, spoken[i + 1].first) << "utterance " << i;
        }
    }
}
