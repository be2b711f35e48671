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

    // Too few bytes for one float, or no samples at all: no speech, not a failure.
    const auto threeBytes = detector->speechRanges(QByteArrayView("\x01\x02\x03", 3));
    ASSERT_TRUE(threeBytes.has_value());
    EXPECT_TRUE(threeBytes->empty());
    const auto none = detector->speechRanges(nullptr, 0);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());

    const std::vector<float> silence = test::silenceSamples(5);
    const auto quiet = detector->speechRanges(silence.data(), qsizetype(silence.size()));
    ASSERT_TRUE(quiet.has_value());
    EXPECT_TRUE(quiet->empty());

    std::mt19937 random(7);
    std::uniform_real_distribution<float> hiss(-0.002f, 0.002f);
    std::vector<float> noise(5 * 16000);
    for (float &s : noise)
        s = hiss(random);
    const auto lowNoise = detector->speechRanges(noise.data(), qsizetype(noise.size()));
    ASSERT_TRUE(lowNoise.has_value());
    EXPECT_TRUE(lowNoise->empty());
}

TEST(RadioVoiceDetector, FindsSpeechWhereTheWordsAre)
{
    auto detector = loadSilero();
    ASSERT_TRUE(detector);
    const std::vector<float> first = test::speechSamples(QStringLiteral("The weather tomorrow will be sunny and warm."));
    const std::vector<float> second = test::speechSamples(QStringLiteral("Now here is the news from the capital."));
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());

    std::vector<float> audio = test::silenceSamples(1.5);
    const qsizetype firstAt = test::appendSamples(audio, first);
    test::appendSamples(audio, test::silenceSamples(2.5));
    const qsizetype secondAt = test::appendSamples(audio, second);
    test::appendSamples(audio, test::silenceSamples(1.5));

    const auto [a0, a1] = test::audibleExtent(first);
    const auto [b0, b1] = test::audibleExtent(second);
    const std::pair<qsizetype, qsizetype> words[] = {{firstAt + a0, firstAt + a1}, {secondAt + b0, secondAt + b1}};

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
