#include "captioning/RadioVoiceDetector.h"

#include "support/SpeechAudio.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace vantuli;

namespace {

QString sileroPath()
{
    return QDir(test::resourceFolder()).filePath(QStringLiteral("ggml-silero-v6.2.0.bin"));
}

std::unique_ptr<RadioVoiceDetector> loadSilero()
{
    auto detector = RadioVoiceDetector::create(sileroPath());
    EXPECT_TRUE(detector) << "cannot load " << sileroPath().toStdString();
    return detector;
}

bool overlaps(const SampleRange &r, qsizetype begin, qsizetype end)
{
    return r.location < end && begin < r.location + r.length;
}

} // namespace

TEST(VoiceSegmentConversion, ScalesRoundsAndClipsLibraryTimes)
{
    struct Row {
        const char *what;
        std::vector<VoiceSegment> segments;
        qint64 count;
        std::vector<SampleRange> expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Row> rows = {
        {"a second and a bit", {{100.5f, 200.0f}}, 48000, {{16080, 15920}}},
        {"end beyond the input", {{250.0f, 400.0f}}, 48000, {{40000, 8000}}},
        // 2.5 and 12.5 samples: halves go away from zero, not to even.
        {"halves", {{0.015625f, 0.078125f}}, 1000, {{3, 10}}},
        {"negative start", {{-2.0f, 10.0f}}, 48000, {{0, 1600}}},
        {"inverted, empty and wholly outside dropped",
         {{50.0f, 40.0f}, {60.0f, 60.0f}, {400.0f, 500.0f}, {-9.0f, -1.0f}, {nan, 10.0f}},
         48000,
         {}},
        {"order kept", {{10.0f, 20.0f}, {30.0f, 40.0f}}, 48000, {{1600, 1600}, {4800, 1600}}},
        {"nothing to cover", {{0.0f, 10.0f}}, 0, {}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(sampleRangesFromSegments(row.segments, row.count), row.expected) << row.what;
}

TEST(RadioVoiceDetector, RefusesMissingOrUnusableModels)
{
    const QString folder = test::temporaryFolder();
    EXPECT_FALSE(RadioVoiceDetector::create(QString()));
    EXPECT_FALSE(RadioVoiceDetector::create(QDir(folder).filePath(QStringLiteral("absent.bin"))));
    EXPECT_FALSE(RadioVoiceDetector::create(folder));

    QFile garbage(QDir(folder).filePath(QStringLiteral("garbage.bin")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x5a'));
    garbage.close();
    EXPECT_FALSE(RadioVoiceDetector::create(garbage.fileName()));
}

TEST(RadioVoiceDetector, AnswersAnEmptyListWhenThereIsNothingToHear)
{
    auto detector = loadSilero();
    ASSERT_TRUE(detector);

    // Too few bytes for one float, no samples at all, silence or a low hiss:
    // no speech, and not a failure.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> hiss(-0.002f, 0.002f);
    std::vector<float> noise(5 * 16000);
    for (float &s : noise)
        s = hiss(random);
    const std::vector<float> silence = test::silenceSamples(5);
    const std::pair<const char *, std::optional<std::vector<SampleRange>>> answers[] = {
        {"three bytes", detector->speechRanges(QByteArrayView("\x01\x02\x03", 3))},
        {"nothing", detector->speechRanges(nullptr, 0)},
        {"silence", detector->speechRanges(silence.data(), qsizetype(silence.size()))},
        {"low noise", detector->speechRanges(noise.data(), qsizetype(noise.size()))},
    };
    for (const auto &[what, ranges] : answers)
        EXPECT_EQ(ranges, std::optional(std::vector<SampleRange>{})) << what;
}

TEST(RadioVoiceDetector, FindsSpeechWhereTheWordsAre)
{
    auto detector = loadSilero();
    ASSERT_TRUE(detector);
    const auto [audio, words] = test::speakLines({QStringLiteral("The weather tomorrow will be sunny and warm."),
                                                   QStringLiteral("Now here is the news from the capital.")},
                                                  1.5, 2.5);
    ASSERT_EQ(words.size(), 2u) << "espeak-ng or ffmpeg failed";

    const auto ranges = detector->speechRanges(audio.data(), qsizetype(audio.size()));
    ASSERT_TRUE(ranges.has_value());
    ASSERT_FALSE(ranges->empty());
    for (const SampleRange &r : *ranges) {
        EXPECT_GT(r.length, 0);
        EXPECT_GE(r.location, 0);
        EXPECT_LE(r.location + r.length, qint64(audio.size()));
        // Every range lies on one of the spoken phrases, none in the silences alone.
        EXPECT_TRUE(overlaps(r, words[0].first, words[0].second) || overlaps(r, words[1].first, words[1].second))
            << r.location << " + " << r.length;
    }
    for (const auto &[begin, end] : words) {
        bool heard = false;
        for (const SampleRange &r : *ranges)
            heard = heard || overlaps(r, begin, end);
        EXPECT_TRUE(heard) << "phrase at " << begin;
    }
    // The middle of the long pause is not speech.
    const qsizetype pause = (words[0].second + words[1].first) / 2;
    for (const SampleRange &r : *ranges)
        EXPECT_FALSE(overlaps(r, pause, pause + 1));

    // The byte interface answers the same as the float one.
    const QByteArrayView bytes(reinterpret_cast<const char *>(audio.data()), qsizetype(audio.size() * sizeof(float)));
    EXPECT_EQ(detector->speechRanges(bytes), ranges);
}
