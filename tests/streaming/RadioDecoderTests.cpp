#include "streaming/RadioDecoder.h"

#include "LiveStreamTesting.h"
#include "streaming/FFmpegLibraries.h"
#include "streaming/MonoResampler.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <cmath>
#include <functional>
#include <random>

using namespace vantuli;
using vantuli::test::Media;

namespace {

// Everything the handler was given.
struct Capture {
    std::vector<float> samples;
    qint64 frames = 0;
    int calls = 0;
    std::uint64_t largestCall = 0;
    double rate = 0;
    std::uint32_t channels = 0;
    bool formatChanged = false;

    RadioDecoder::Handler handler()
    {
        return [this](const float *data, std::uint64_t count, double sampleRate, std::uint32_t channelCount) {
            if (calls > 0 && (sampleRate != rate || channelCount != channels))
                formatChanged = true;
            rate = sampleRate;
            channels = channelCount;
            ++calls;
            frames += qint64(count);
            largestCall = std::max(largestCall, count);
            samples.insert(samples.end(), data, data + count * channelCount);
        };
    }
};

using ChunkSizes = std::function<qsizetype()>;

// Chunk sizes spread evenly over the orders of magnitude from 1 byte to 64 KiB.
ChunkSizes randomChunks(unsigned seed)
{
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine] {
        std::uniform_real_distribution<double> exponent(0.0, std::log(65536.0));
        return qsizetype(std::llround(std::exp(exponent(*engine))));
    };
}

ChunkSizes fixedChunks(qsizetype size)
{
    return [size] { return size; };
}

// Feeds all bytes; answers the status after the last chunk.
std::int32_t feed(RadioDecoder &decoder, const QByteArray &bytes, const ChunkSizes &sizes)
{
    std::int32_t status = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = std::min(sizes(), bytes.size() - at);
        status = decoder.appendData(bytes.constData() + at, n);
        at += n;
    }
    return status;
}

struct Decoded {
    std::int32_t status = 0;
    Capture pcm;
};

Decoded decodeAll(const QByteArray &bytes, const std::optional<QString> &contentType, const ChunkSizes &sizes)
{
    Decoded result;
    RadioDecoder decoder(contentType, result.pcm.handler());
    result.status = feed(decoder, bytes, sizes);
    return result;
}

QByteArray noise(qsizetype size, unsigned seed)
{
    std::mt19937 engine(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(engine() & 0xFF);
    return bytes;
}

// An ID3v2.3 tag of `size` bytes in all, its body zero (padding).
QByteArray id3Tag(qsizetype size)
{
    const qsizetype body = size - 10;
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (int shift : {21, 14, 7, 0})
        tag.append(char((body >> shift) & 0x7F));
    tag.append(QByteArray(body, '\0'));
    return tag;
}

// A WAV file of 16-bit PCM with the header fields as given (not checked).
QByteArray wavFile(int channels, quint32 rate, int blockAlign, int frames)
{
    const quint32 dataSize = quint32(frames) * quint32(channels) * 2;
    QByteArray wav;
    auto u32 = [&wav](quint32 v) { v = qToLittleEndian(v); wav.append(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&wav](quint16 v) { v = qToLittleEndian(v); wav.append(reinterpret_cast<const char *>(&v), 2); };
    wav.append("RIFF");
    u32(36 + dataSize);
    wav.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(quint16(channels));
    u32(rate);
    u32(rate * quint32(channels) * 2);
    u16(quint16(blockAlign));
    u16(16);
    wav.append("data");
    u32(dataSize);
    for (int i = 0; i < frames * channels; ++i)
        u16(quint16(qint16(8000 * std::sin(i * 0.01))));
    return wav;
}

// --- Real media, chunked at random -------------------------------------------------

struct MediaCase {
    const char *name;
    Media media;
    std::optional<QString> contentType;
    // Codec frames a parser may still hold when a finite file ends: a live
    // stream never ends, so they come out with the bytes that follow. FFmpeg's
    // FLAC parser confirms frames against the headers of the next ones.
    int heldBack = 0;
};

bool samePrefix(const std::vector<float> &a, const std::vector<float> &b)
{
    const size_t n = std::min(a.size(), b.size());
    return std::equal(a.begin(), a.begin() + std::ptrdiff_t(n), b.begin());
}

void PrintTo(const MediaCase &c, std::ostream *os)
{
    *os << c.name;
}

class DecodesMedia : public ::testing::TestWithParam<MediaCase> {};

TEST_P(DecodesMedia, matchesProbeWhateverTheChunking)
{
    const MediaCase &c = GetParam();
    const QString path = test::mediaFile(c.media);
    ASSERT_FALSE(path.isEmpty()) << "espeak-ng or ffmpeg could not make the file";
    const QByteArray bytes = test::readMedia(path);
    const test::MediaFacts facts = test::probeMedia(path);
    ASSERT_GT(facts.frames(), 0);

    const Decoded random = decodeAll(bytes, c.contentType, randomChunks(7));
    EXPECT_EQ(random.status, 0);
    EXPECT_EQ(random.pcm.rate, facts.sampleRate);
    EXPECT_EQ(random.pcm.channels, std::uint32_t(facts.channels));
    EXPECT_FALSE(random.pcm.formatChanged);
    EXPECT_LE(random.pcm.largestCall, std::uint64_t(RadioDecoder::maxFramesPerCall));
    EXPECT_LE(random.pcm.frames, facts.frames() + facts.codecFrame());
    EXPECT_GE(random.pcm.frames, facts.frames() - (c.heldBack + 1) * facts.codecFrame());

    // Another random chunking, and the whole file at once, give the same PCM.
    for (const ChunkSizes &sizes : {randomChunks(1234), fixedChunks(bytes.size())}) {
        const Decoded other = decodeAll(bytes, c.contentType, sizes);
        EXPECT_EQ(other.status, 0);
        if (c.heldBack == 0) {
            EXPECT_TRUE(other.pcm.samples == random.pcm.samples);
        } else {
            EXPECT_TRUE(samePrefix(other.pcm.samples, random.pcm.samples));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, DecodesMedia,
    ::testing::Values(MediaCase{"mp3", Media::mp3, std::nullopt},
                      MediaCase{"mp3_hinted", Media::mp3, QStringLiteral("audio/mpeg")},
                      MediaCase{"mp3_id3", Media::mp3WithId3, std::nullopt},
                      MediaCase{"mp3_joined_midway", Media::mp3Cut, std::nullopt},
                      MediaCase{"aac_44k", Media::aac44, std::nullopt},
                      MediaCase{"aac_48k_hinted", Media::aac48, QStringLiteral("audio/aacp")},
                      MediaCase{"aac_22k_mono", Media::aac22Mono, std::nullopt},
                      MediaCase{"ogg_opus", Media::opus, QStringLiteral("application/ogg")},
                      MediaCase{"flac", Media::flac, std::nullopt, 12}),
    [](const ::testing::TestParamInfo<MediaCase> &info) { return std::string(info.param.name); });

TEST(RadioDecoder, leadingTagAndHintChangeNothingInThePcm)
{
    const QByteArray plain = test::readMedia(test::mediaFile(Media::mp3));
    const QByteArray tagged = test::readMedia(test::mediaFile(Media::mp3WithId3));
    ASSERT_FALSE(plain.isEmpty());
    ASSERT_FALSE(tagged.isEmpty());
    const Decoded reference = decodeAll(plain, std::nullopt, fixedChunks(4096));
    ASSERT_GT(reference.pcm.frames, 0);
    EXPECT_TRUE(decodeAll(tagged, std::nullopt, randomChunks(3)).pcm.samples == reference.pcm.samples);
    EXPECT_TRUE(decodeAll(tagged, QStringLiteral("audio/mpeg"), randomChunks(4)).pcm.samples
                == reference.pcm.samples);
}

// --- Content-type hints -----------------------------------------------------------

TEST(RadioDecoder, hintComesFromTheWholeLowerCasedContentType)
{
    const struct {
        std::optional<QString> type;
        std::uint32_t hint;
    } cases[] = {
        {QStringLiteral("audio/mpeg"), RadioDecoder::mpegLayer3Hint},
        {QStringLiteral("Audio/MPEG"), RadioDecoder::mpegLayer3Hint},
        {QStringLiteral("audio/MP3"), RadioDecoder::mpegLayer3Hint},
        {QStringLiteral("audio/aac"), RadioDecoder::adtsHint},
        {QStringLiteral("AUDIO/AACP"), RadioDecoder::adtsHint},
        {QStringLiteral("audio/x-aac"), RadioDecoder::adtsHint},
        {QStringLiteral("audio/mpeg; charset=binary"), 0},
        {QStringLiteral(" audio/mpeg"), 0},
        {QStringLiteral("audio/mpegurl"), 0},
        {QStringLiteral("audio/ogg"), 0},
        {QString(), 0},
        {std::nullopt, 0},
    };
    for (const auto &c : cases) {
        const QString shown = c.type.value_or(QStringLiteral("<none>"));
        EXPECT_EQ(RadioDecoder::hintForContentType(c.type), c.hint) << shown.toStdString();
        RadioDecoder decoder(c.type, {});
        EXPECT_EQ(decoder.pendingHint(), c.hint) << shown.toStdString();
        EXPECT_EQ(decoder.status(), 0);
    }
    EXPECT_EQ(RadioDecoder::mpegLayer3Hint, 0x4D504733u);
    EXPECT_EQ(RadioDecoder::unsupportedFileType, 0x7479703F);
}

TEST(RadioDecoder, hintRescuesAStreamTheProbeCannotIdentify)
{
    // 36 KiB of noise ahead of MP3 frames: the probe sees only noise.
    const QByteArray mp3 = test::readMedia(test::mediaFile(Media::mp3));
    ASSERT_FALSE(mp3.isEmpty());
    const qint64 expected = test::probeMedia(test::mediaFile(Media::mp3)).frames();
    const QByteArray stream = noise(36 * 1024, 11) + mp3;

    const Decoded unhinted = decodeAll(stream, std::nullopt, fixedChunks(4096));
    EXPECT_EQ(unhinted.status, RadioDecoder::unsupportedFileType);
    EXPECT_EQ(unhinted.pcm.calls, 0);

    // With the hint, the first chunks (kept while the hint was pending) are
    // replayed into a parser that trusts the hint; the noise is skipped.
    Capture pcm;
    RadioDecoder decoder(QStringLiteral("audio/mpeg"), pcm.handler());
    EXPECT_EQ(decoder.appendData(stream.left(4096)), 0);
    EXPECT_EQ(decoder.pendingHint(), RadioDecoder::mpegLayer3Hint);
    EXPECT_EQ(feed(decoder, stream.mid(4096), fixedChunks(4096)), 0);
    EXPECT_EQ(decoder.pendingHint(), 0u);
    EXPECT_EQ(pcm.rate, 44100);
    EXPECT_NEAR(double(pcm.frames), double(expected), 3 * 1152.0);
}

TEST(RadioDecoder, prefixBeyond64KiBEndsTheHint)
{
    // A 40 KiB tag keeps the parser undecided; the kept prefix would pass
    // 65536 bytes inside the noise that follows, so the hint is given up and
    // the probe's failure is final.
    const QByteArray stream = id3Tag(40 * 1024) + noise(40 * 1024, 5)
        + test::readMedia(test::mediaFile(Media::mp3));
    Capture pcm;
    RadioDecoder decoder(QStringLiteral("audio/mpeg"), pcm.handler());
    qsizetype at = 0;
    for (; at + 4096 <= RadioDecoder::prefixLimit; at += 4096) {
        EXPECT_EQ(decoder.appendData(stream.mid(at, 4096)), 0);
        EXPECT_EQ(decoder.pendingHint(), RadioDecoder::mpegLayer3Hint);
    }
    EXPECT_EQ(decoder.appendData(stream.mid(at, 4096)), 0);
    EXPECT_EQ(decoder.pendingHint(), 0u);
    EXPECT_EQ(feed(decoder, stream.mid(at + 4096), fixedChunks(4096)), RadioDecoder::unsupportedFileType);
    EXPECT_EQ(pcm.calls, 0);
}

// --- Status rules -----------------------------------------------------------------

TEST(RadioDecoder, emptyChunksParseNothingAndReportTheStatus)
{
    Capture pcm;
    RadioDecoder decoder(std::nullopt, pcm.handler());
    EXPECT_EQ(decoder.appendData(nullptr, 0), 0);
    EXPECT_EQ(decoder.appendData(QByteArray()), 0);

    EXPECT_EQ(feed(decoder, noise(48 * 1024, 1), fixedChunks(1000)), RadioDecoder::unsupportedFileType);
    EXPECT_EQ(decoder.appendData(QByteArray()), RadioDecoder::unsupportedFileType);
    // Sticky: even valid audio is no longer looked at.
    EXPECT_EQ(decoder.appendData(test::readMedia(test::mediaFile(Media::mp3))), RadioDecoder::unsupportedFileType);
    EXPECT_EQ(pcm.calls, 0);
}

TEST(RadioDecoder, chunkAbove4GiBIsAParameterError)
{
    Capture pcm;
    RadioDecoder decoder(std::nullopt, pcm.handler());
    const char byte = 0;
    // The length is refused before a byte is read.
    EXPECT_EQ(decoder.appendData(&byte, qsizetype(0x100000000LL)), RadioDecoder::paramError);
    EXPECT_EQ(decoder.appendData(test::readMedia(test::mediaFile(Media::mp3))), RadioDecoder::paramError);
    EXPECT_EQ(pcm.calls, 0);
}

TEST(RadioDecoder, sourceFormatBoundsAreChecked)
{
    const struct {
        const char *name;
        QByteArray wav;
        bool decodes;
        std::int32_t status; // when it does not decode; 0 = any failure
    } cases[] = {
        {"8 channels", wavFile(8, 44100, 16, 40000), true, 0},
        {"384000 Hz", wavFile(1, 384000, 2, 40000), true, 0},
        {"9 channels", wavFile(9, 44100, 18, 40000), false, RadioDecoder::paramError},
        {"16 channels", wavFile(16, 44100, 32, 40000), false, RadioDecoder::paramError},
        {"400000 Hz", wavFile(1, 400000, 2, 40000), false, RadioDecoder::paramError},
        {"384001 Hz", wavFile(1, 384001, 2, 40000), false, RadioDecoder::paramError},
        {"0 Hz", wavFile(2, 0, 4, 40000), false, 0},
        {"packets of zero bytes", wavFile(2, 44100, 0, 40000), false, RadioDecoder::paramError},
    };
    for (const auto &c : cases) {
        const Decoded d = decodeAll(c.wav, std::nullopt, randomChunks(9));
        if (c.decodes) {
            EXPECT_EQ(d.status, 0) << c.name;
            EXPECT_EQ(d.pcm.frames, 40000) << c.name;
            EXPECT_LE(d.pcm.largestCall, std::uint64_t(RadioDecoder::maxFramesPerCall)) << c.name;
        } else {
            EXPECT_NE(d.status, 0) << c.name;
            if (c.status != 0) {
                EXPECT_EQ(d.status, c.status) << c.name;
            }
            EXPECT_EQ(d.pcm.calls, 0) << c.name;
        }
    }
}

TEST(RadioDecoder, garbageNeverReachesTheHandler)
{
    for (const std::optional<QString> &type :
         {std::optional<QString>(), std::optional<QString>(QStringLiteral("audio/mpeg")),
          std::optional<QString>(QStringLiteral("audio/aac"))}) {
        const Decoded d = decodeAll(noise(256 * 1024, 21), type, randomChunks(5));
        EXPECT_NE(d.status, 0) << type.value_or(QStringLiteral("<none>")).toStdString();
        EXPECT_EQ(d.pcm.calls, 0);
    }
}

// Only what stations send is decoded: a body that another of FFmpeg's
// demuxers would take (the game-music one takes gzip, then unpacks all it
// gathered when it is closed) fails at once, and leaves nothing to unpack.
TEST(RadioDecoder, otherFormatsFailAtOnceWithoutUnpacking)
{
    const QByteArray gzip = test::gzipOfZeros(1000 * 1000);
    const QByteArray adpcm = test::readMedia(test::makeMedia(
        QStringLiteral("adpcm.wav"), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050:duration=4", "-c:a",
                                      "adpcm_ms", "-f", "wav"}));
    ASSERT_FALSE(adpcm.isEmpty());
    const struct {
        const char *name;
        QByteArray body;
        std::optional<QString> type;
    } cases[] = {
        {"gzip", gzip, std::nullopt},
        {"ID3 then gzip", id3Tag(2000) + gzip, std::nullopt},
        {"gzip as MP3", gzip, QStringLiteral("audio/mpeg")},
        {"ID3 then gzip as Ogg", id3Tag(2000) + gzip, QStringLiteral("application/ogg")},
        {"another codec in WAV", adpcm, std::nullopt},
    };
    test::peakResidentBytes();
    const qint64 before = test::residentBytes();
    for (const auto &c : cases) {
        Capture pcm;
        std::int32_t status = 0;
        qsizetype fed = 0;
        {
            RadioDecoder decoder(c.type, pcm.handler());
            for (; fed < c.body.size() && status == 0; fed += 4096)
                status = decoder.appendData(c.body.mid(fed, 4096));
        }
        EXPECT_NE(status, 0) << c.name;
        EXPECT_LE(fed, 160 * 1024) << c.name;
        EXPECT_EQ(pcm.calls, 0) << c.name;
    }
    // Generously: decoding needs a few megabytes.
    if (const qint64 peak = test::peakResidentBytes(); peak > 0) {
        EXPECT_LT(peak - before, 150 * 1024 * 1024);
    }
}

// Without FFmpeg's libraries the decoder fails as it does for a stream it
// cannot decode, with the loader's reason on standard error once; nothing
// ends the process. (A child process: this one has loaded them already.)
TEST(RadioDecoder, missingLibrariesAreADecodingFailure)
{
    const QByteArray mp3 = test::readMedia(test::mediaFile(Media::mp3));
    ASSERT_FALSE(mp3.isEmpty());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ffmpeg::setLibraryFolder(test::temporaryFolder().toStdString() + "/no-ffmpeg");
            ::testing::internal::CaptureStderr();
            bool failed = !ffmpeg::loaded();
            Capture pcm;
            for (const char *type : {"", "audio/mpeg", "application/ogg"}) {
                RadioDecoder decoder(*type ? std::optional<QString>(QString::fromLatin1(type)) : std::nullopt,
                                     pcm.handler());
                failed = failed && decoder.status() != 0 && decoder.appendData(mp3) == decoder.status();
            }
            failed = failed && pcm.calls == 0 && !MonoResampler::make(44100, 2);
            const QByteArray printed = QByteArray::fromStdString(::testing::internal::GetCapturedStderr());
            std::fputs(printed.constData(), stderr);
            std::exit(failed && printed.count("could not be loaded") == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "FFmpeg could not be loaded: .*no-ffmpeg/libavutil");
}

TEST(RadioDecoder, isolatedJunkIsSkippedButALongRunFails)
{
    const QByteArray mp3 = test::readMedia(test::mediaFile(Media::mp3));
    ASSERT_GT(mp3.size(), 100000);
    const qint64 expected = test::probeMedia(test::mediaFile(Media::mp3)).frames();

    // A tag and some noise in the middle of the stream cost a few frames only.
    const QByteArray damaged = mp3.left(50000) + id3Tag(3000) + noise(2500, 8) + mp3.mid(50000);
    const Decoded skipped = decodeAll(damaged, std::nullopt, randomChunks(17));
    EXPECT_EQ(skipped.status, 0);
    EXPECT_NEAR(double(skipped.pcm.frames), double(expected), 4 * 1152.0);

    // Stations send tags (titles, artwork) between frames: one larger than
    // the run allowed without audio plays through, in MP3 and in ADTS, and
    // however the chunks cut its header.
    for (const auto &[media, type] : {std::pair{Media::mp3, QStringLiteral("audio/mpeg")},
                                      std::pair{Media::aac44, QStringLiteral("audio/aac")}}) {
        const QByteArray audio = test::readMedia(test::mediaFile(media));
        const qint64 frames = test::probeMedia(test::mediaFile(media)).frames();
        for (unsigned seed : {3u, 4u, 5u}) {
            const Decoded tagged = decodeAll(audio.left(40000) + id3Tag(100 * 1024) + audio.mid(40000), type,
                                             randomChunks(seed));
            EXPECT_EQ(tagged.status, 0) << type.toStdString();
            EXPECT_NEAR(double(tagged.pcm.frames), double(frames), 4 * 2048.0) << type.toStdString();
        }
    }

    // Noise after the audio: healthy until 64 KiB have passed without a frame.
    for (const QString &type : {QStringLiteral("audio/mpeg"), QStringLiteral("audio/aac")}) {
        const QByteArray audio = test::readMedia(test::mediaFile(type == u"audio/aac" ? Media::aac44 : Media::mp3));
        Capture pcm;
        RadioDecoder decoder(type, pcm.handler());
        ASSERT_EQ(decoder.appendData(audio), 0);
        const qint64 frames = pcm.frames;
        const int calls = pcm.calls;
        const QByteArray junk = noise(128 * 1024, 99);
        EXPECT_EQ(feed(decoder, junk.left(48 * 1024), fixedChunks(1024)), 0) << type.toStdString();
        EXPECT_EQ(feed(decoder, junk.mid(48 * 1024), fixedChunks(1024)), RadioDecoder::invalidData)
            << type.toStdString();
        // Sticky, and nothing more reaches the handler, not even good audio.
        EXPECT_EQ(decoder.appendData(audio), RadioDecoder::invalidData);
        EXPECT_LE(pcm.frames - frames, 2 * 1152);
        EXPECT_LE(pcm.calls - calls, 2);
    }
}

// An Ogg station starts a new logical stream at every track change: the
// decoder must go on through the new headers without a gap in the audio.
TEST(RadioDecoder, chainedOggStreamsPlayOnAcrossTrackChanges)
{
    const auto part = [](const QString &codec, int rate, int frequency) {
        const QString name = QStringLiteral("chain-%1-%2.ogg").arg(codec).arg(frequency);
        return test::readMedia(test::makeMedia(
            name, {"-f", "lavfi", "-i", QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=4").arg(frequency).arg(rate),
                   "-ac", "2", "-c:a", codec, "-f", "ogg"}));
    };
    for (const QString &codec : {QStringLiteral("libvorbis"), QStringLiteral("libopus")}) {
        SCOPED_TRACE(codec.toStdString());
        const int rate = codec == u"libopus" ? 48000 : 44100;
        const QByteArray first = part(codec, rate, 440);
        const QByteArray second = part(codec, rate, 660);
        ASSERT_FALSE(first.isEmpty());
        ASSERT_FALSE(second.isEmpty());

        const Decoded chained = decodeAll(first + second + first, std::nullopt, randomChunks(31));
        EXPECT_EQ(chained.status, 0);
        EXPECT_FALSE(chained.pcm.formatChanged);
        EXPECT_EQ(chained.pcm.rate, rate);
        // Three tracks of 4 s each; a codec frame may be held back at the end.
        EXPECT_NEAR(double(chained.pcm.frames), 12.0 * rate, 2048.0);
    }
}

TEST(RadioDecoder, containerStreamStopsCleanlyMidway)
{
    // The demuxer of a container waits for more bytes inside a packet when
    // the decoder goes away; nothing may hang or leak.
    for (Media media : {Media::opus, Media::flac}) {
        const QByteArray bytes = test::readMedia(test::mediaFile(media));
        ASSERT_FALSE(bytes.isEmpty());
        Capture pcm;
        {
            RadioDecoder decoder(std::nullopt, pcm.handler());
            EXPECT_EQ(feed(decoder, bytes.left(bytes.size() / 2 + 333), randomChunks(2)), 0);
        }
        EXPECT_GT(pcm.frames, 0);
    }
}

} // namespace
