#include "captioning/RadioRecognizer.h"
#include "captioning/RecognitionParameters.h"
#include "support/TestSupport.h"

#include <whisper.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <random>

using namespace vantuli;

namespace {

const QString tinyModel = QStringLiteral(VANTULI_TINY_MODEL);

std::vector<float> noise(qsizetype count, float deviation, unsigned seed = 7)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> distribution(0.0f, deviation);
    std::vector<float> samples(static_cast<size_t>(count));
    for (float &s : samples)
        s = distribution(generator);
    return samples;
}

// One model for the whole suite: loading it is the slow part.
RadioRecognizer &sharedRecognizer()
{
    static std::unique_ptr<RadioRecognizer> recognizer = RadioRecognizer::create(tinyModel);
    if (!recognizer)
        throw std::runtime_error("the tiny test model does not load");
    return *recognizer;
}

} // namespace

TEST(RadioRecognizer, LoadsOnlyRealModelFiles)
{
    QFile full(tinyModel);
    ASSERT_TRUE(full.open(QIODevice::ReadOnly));
    const QByteArray model = full.readAll();
    const auto written = [](const QByteArray &bytes) {
        const QString path = test::temporaryFolder() + QStringLiteral("/model.bin");
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
    };
    const struct {
        const char *name;
        QString path;
        bool loads;
    } cases[] = {
        {"missing", test::temporaryFolder() + QStringLiteral("/missing.bin"), false},
        {"junk", written(QByteArray(4096, 'x')), false},
        // A model that is cut short fails to load instead of running on half its weights.
        {"half", written(model.left(model.size() / 2)), false},
        {"whole", tinyModel, true},
    };
    for (const auto &c : cases) {
        ASSERT_FALSE(c.path.isEmpty()) << c.name;
        EXPECT_EQ(RadioRecognizer::create(c.path) != nullptr, c.loads) << c.name;
    }
}

TEST(RadioRecognizer, ShortOrQuietWindowsNeverReachTheLibrary)
{
    RadioRecognizer &recognizer = sharedRecognizer();
    struct Case {
        const char *name;
        std::vector<float> samples;
        bool transcribed;
    };
    const Case cases[] = {
        {"empty", {}, false},
        {"1599 loud samples", noise(1599, 0.3f), false},
        {"1600 loud samples", noise(1600, 0.3f), true},
        {"RMS 0.0007", std::vector<float>(16000, 0.0007f), false},
        {"RMS 0.0009", std::vector<float>(16000, 0.0009f), true},
        {"quiet alternating signs", [] {
             std::vector<float> s(16000);
             for (size_t i = 0; i < s.size(); ++i)
                 s[i] = (i % 2 ? -1.0f : 1.0f) * 0.0007f;
             return s;
         }(), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int before = recognizer.transcriptions();
        const auto segments = recognizer.segmentsForSamples(c.samples.data(), qsizetype(c.samples.size()),
                                                            QStringLiteral("en"));
        EXPECT_EQ(recognizer.transcriptions() - before, c.transcribed ? 1 : 0);
        if (!c.transcribed) {
            EXPECT_TRUE(segments.empty());
        }
    }
}

TEST(RadioRecognizer, PassesKnownLanguagesAndDetectsTheRest)
{
    RadioRecognizer &recognizer = sharedRecognizer();
    const std::vector<float> samples = noise(8000, 0.1f);
    const std::pair<QString, QString> cases[] = {
        {QString(), QStringLiteral("auto")},
        {QStringLiteral("xx"), QStringLiteral("auto")},
        {QStringLiteral("station"), QStringLiteral("auto")},
        {QStringLiteral("en"), QStringLiteral("en")},
        {QStringLiteral("zh"), QStringLiteral("zh")},
    };
    for (const auto &[given, expected] : cases) {
        SCOPED_TRACE(given.toStdString());
        EXPECT_EQ(RadioRecognizer::libraryLanguage(given), expected);
        recognizer.segmentsForSamples(samples.data(), qsizetype(samples.size()), given);
        EXPECT_EQ(recognizer.lastLanguage(), expected);
    }
}

TEST(RadioRecognizer, RecognizedCaptionsStayInsideTheirWindow)
{
    RadioRecognizer &recognizer = sharedRecognizer();
    // The random model's segments run far past the audio it was given: the
    // captions must still end inside the window.
    for (const qsizetype count : {qsizetype(24000), qsizetype(48000), qsizetype(168000)}) {
        SpeechWindow window{160000, noise(count, 0.1f, unsigned(count))};
        for (const char *language : {"en", ""}) {
            SCOPED_TRACE(std::to_string(count) + " samples, language '" + language + "'");
            const auto segments =
                recognizer.segmentsForSamples(window.samples.data(), count, QString::fromLatin1(language));
            ASSERT_FALSE(segments.empty());
            for (const auto &segment : segments) {
                EXPECT_FALSE(segment.text.isEmpty());
                EXPECT_EQ(segment.text, segment.text.trimmed());
                EXPECT_FALSE(segment.text.contains(QChar::ReplacementCharacter));
                EXPECT_GE(segment.start, 0.0);
            }
            const auto captions = recognize(window, recognizer, QString::fromLatin1(language));
            ASSERT_EQ(captions.size(), segments.size());
            const double windowStart = 10.0;
            const double windowEnd = double(window.offset + count) / 16000.0;
            for (size_t i = 0; i < captions.size(); ++i) {
                EXPECT_EQ(captions[i].text, segments[i].text);
                EXPECT_GE(captions[i].start, windowStart);
                EXPECT_LE(captions[i].start, captions[i].end);
                EXPECT_LE(captions[i].end, windowEnd);
                EXPECT_FALSE(captions[i].id.isNull());
                if (i > 0) {
                    EXPECT_NE(captions[i].id, captions[i - 1].id);
                }
            }
        }
    }
    // Once its abort flag is set (at shutdown) the library gives the window up.
    std::atomic<bool> abort = true;
    recognizer.abortWhen(&abort);
    SpeechWindow window{0, noise(48000, 0.1f, 7)};
    EXPECT_TRUE(recognizer.segmentsForSamples(window.samples.data(), 48000, QStringLiteral("en")).empty());
    recognizer.abortWhen(nullptr);
    EXPECT_FALSE(recognizer.segmentsForSamples(window.samples.data(), 48000, QStringLiteral("en")).empty());
}

TEST(RadioRecognizer, MapsSegmentsOntoTheStreamClock)
{
    // Window at 10 s on the stream's clock, 5 s long (ends at 15 s).
    const qint64 offset = 160000;
    const qsizetype count = 80000;
    struct Case {
        const char *name;
        double segmentStart, segmentEnd;
        double start, end;
    };
    const Case cases[] = {
        {"ordinary", 1.0, 2.5, 11.0, 12.5},
        {"shorter than 0.15 s is stretched", 3.20, 3.25, 13.20, 13.35},
        {"end before start is stretched", 2.0, 1.0, 12.0, 12.15},
        {"end past the window is clipped", 4.0, 7.0, 14.0, 15.0},
        {"stretching is clipped too", 4.9, 4.9, 14.9, 15.0},
        {"start past the window", 6.0, 8.0, 15.0, 15.0},
    };
    std::vector<RecognizedSegment> segments;
    for (const Case &c : cases)
        segments.push_back({QString::fromLatin1(c.name), c.segmentStart, c.segmentEnd});
    const auto captions = captionsForSegments(segments, offset, count);
    ASSERT_EQ(captions.size(), std::size(cases));
    for (size_t i = 0; i < captions.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(captions[i].text, QString::fromLatin1(cases[i].name));
        EXPECT_NEAR(captions[i].start, cases[i].start, 1e-9);
        EXPECT_NEAR(captions[i].end, cases[i].end, 1e-9);
    }
}

TEST(RadioRecognizer, DropsBytesThatAreNotUtf8)
{
    const std::pair<std::string, QString> cases[] = {
        {"plain text", QStringLiteral("plain text")},
        {"caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x8e\xb5", QString::fromUtf8("café 中文 🎵")},
        {"stray \x80\xbf continuation", QStringLiteral("stray  continuation")},
        {"cut off \xe4\xb8", QStringLiteral("cut off ")},
        {"\xe4\xb8 cut then whole \xe4\xb8\xad", QString::fromUtf8(" cut then whole 中")},
        {"overlong \xc0\xaf and \xe0\x80\xaf", QStringLiteral("overlong  and ")},
        {"surrogate \xed\xa0\x80!", QStringLiteral("surrogate !")},
        {"beyond \xf4\x90\x80\x80 range", QStringLiteral("beyond  range")},
        {"latin-1 caf\xe9", QStringLiteral("latin-1 caf")},
        {"\xff\xfe", QString()},
    };
    for (const auto &[bytes, expected] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(decodeUtf8DroppingInvalid(bytes), expected);
    }
}

TEST(RadioRecognizer, ChoosesAHardwareGpuAndNeverASoftwareOne)
{
    const ComputeDevice cpu{QStringLiteral("CPU"), QStringLiteral("Some CPU"), false, false, false};
    const ComputeDevice lavapipe{QStringLiteral("Vulkan0"), QStringLiteral("llvmpipe"), true, false, true};
    const ComputeDevice igpu{QStringLiteral("Vulkan1"), QStringLiteral("Intel UHD"), true, true, false};
    const ComputeDevice dgpu{QStringLiteral("Vulkan2"), QStringLiteral("Radeon"), true, false, false};
    struct Case {
        const char *name;
        std::vector<ComputeDevice> devices;
        int gpuIndex;
        QString device;
    };
    const Case cases[] = {
        {"CPU only", {cpu}, -1, QStringLiteral("CPU")},
        {"nothing listed", {}, -1, QStringLiteral("CPU")},
        {"software Vulkan only", {lavapipe, cpu}, -1, QStringLiteral("CPU")},
        {"integrated after software", {lavapipe, igpu, cpu}, 1, QStringLiteral("Vulkan1")},
        {"discrete before integrated", {lavapipe, igpu, dgpu, cpu}, 2, QStringLiteral("Vulkan2")},
        {"first discrete wins", {dgpu, igpu, {QStringLiteral("Vulkan3"), {}, true, false, false}, cpu}, 0,
         QStringLiteral("Vulkan2")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ComputeChoice choice = chooseComputeDevice(c.devices);
        EXPECT_EQ(choice.gpuIndex, c.gpuIndex);
        EXPECT_EQ(choice.device.name, c.device);
        EXPECT_FALSE(choice.device.software);
    }
}

// Runs under ctest three times: as the machine is (Mesa's lavapipe installed
// but hidden by the library), with lavapipe shown to the library as its only
// Vulkan device (VANTULI_TEST_SOFTWARE_GPU=1), and with no Vulkan driver.
TEST(RadioRecognizer, RunsOnTheCpuUnlessAHardwareGpuExists)
{
    const std::vector<ComputeDevice> devices = computeDevices();
    if (qEnvironmentVariableIntValue("VANTULI_TEST_SOFTWARE_GPU")) {
        ASSERT_TRUE(std::any_of(devices.begin(), devices.end(), [](const ComputeDevice &d) { return d.software; }))
            << "lavapipe was not shown to the library";
    }
    const bool hardwareGpu = std::any_of(devices.begin(), devices.end(),
                                         [](const ComputeDevice &d) { return d.gpu && !d.software; });
    std::unique_ptr<RadioRecognizer> recognizer = RadioRecognizer::create(tinyModel);
    ASSERT_NE(recognizer, nullptr);
    EXPECT_FALSE(recognizer->compute().device.software);
    // Where no hardware GPU can exist and no driver was chosen, no Vulkan
    // driver (lavapipe and its LLVM) was loaded to find that out.
    if (QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty()
        && !qEnvironmentVariableIsSet("VK_ICD_FILENAMES") && !qEnvironmentVariableIsSet("VK_DRIVER_FILES")) {
        QFile maps(QStringLiteral("/proc/self/maps"));
        ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
        EXPECT_FALSE(maps.readAll().contains("libvulkan_"));
    }
    if (hardwareGpu)
        GTEST_SKIP() << "a hardware GPU runs the model here: " << recognizer->compute().device.description.toStdString();
    EXPECT_EQ(recognizer->compute().gpuIndex, -1);
    EXPECT_EQ(recognizer->compute().device.name, QStringLiteral("CPU"));

    // The same segments as the library gives with its GPU use off, as in a
    // build without any GPU backend.
    whisper_context_params cpuOnly = whisper_context_default_params();
    cpuOnly.use_gpu = false;
    whisper_context *reference = whisper_init_from_file_with_params(QFile::encodeName(tinyModel).constData(), cpuOnly);
    ASSERT_NE(reference, nullptr);
    for (const qsizetype count : {qsizetype(24000), qsizetype(64000)}) {
        SCOPED_TRACE(count);
        const std::vector<float> samples = noise(count, 0.1f, unsigned(count) + 1);
        const auto segments = recognizer->segmentsForSamples(samples.data(), count, QStringLiteral("en"));
        ASSERT_EQ(whisper_full(reference, recognitionParameters("en"), samples.data(), int(count)), 0);
        std::vector<RecognizedSegment> expected;
        for (int i = 0; i < whisper_full_n_segments(reference); ++i) {
            const QString text = decodeUtf8DroppingInvalid(whisper_full_get_segment_text(reference, i)).trimmed();
            if (!text.isEmpty())
                expected.push_back({text, whisper_full_get_segment_t0(reference, i) * 0.01,
                                    whisper_full_get_segment_t1(reference, i) * 0.01});
        }
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(segments.size(), expected.size());
        for (size_t i = 0; i < segments.size(); ++i) {
            EXPECT_EQ(segments[i].text, expected[i].text);
            EXPECT_DOUBLE_EQ(segments[i].start, expected[i].start);
            EXPECT_DOUBLE_EQ(segments[i].end, expected[i].end);
        }
    }
    whisper_free(reference);
}
