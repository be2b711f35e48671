#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace vantuli {

// A four-character code as a 32-bit status or type value ("typ?" -> 0x7479703F).
constexpr std::int32_t fourCharCode(const char (&code)[5])
{
    return std::int32_t((std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16)
                        | (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3])));
}

// Turns the compressed bytes of a live station stream, handed over in
// arbitrary chunks as they arrive, into interleaved 32-bit float PCM at the
// source's own sample rate and channel count.
//
// It works as a push model over FFmpeg: appendData() never waits for more
// bytes; whatever the bytes so far decode to is handed to the handler before
// appendData() returns, the rest waits for the next chunk. MP3 and AAC in ADTS
// frames are split with the codec parsers; Ogg (Opus, Vorbis), FLAC and WAV
// (linear PCM) run through their demuxer. Any other format, or another codec
// inside these containers, cannot be decoded.
//
// Failures are sticky: once appendData() answers a non-zero status it answers
// that status for good and the handler is never called again.
//
// Not thread-safe: all calls come from one queue, and the handler is called
// synchronously, on that queue, from inside appendData().
class RadioDecoder {
public:
    // Interleaved samples (sample of channel c in frame j at j * channels + c),
    // valid only during the call; at most maxFramesPerCall frames.
    using Handler = std::function<void(const float *samples, std::uint64_t frames, double sampleRate,
                                       std::uint32_t channels)>;

    // Status codes the decoder produces itself. Every other non-zero status is
    // FFmpeg's own error code, stored as it came.
    static constexpr std::int32_t paramError = -50;                               // a validation failure
    static constexpr std::int32_t unsupportedFileType = fourCharCode("typ?");     // nothing identifies the stream
    static constexpr std::int32_t invalidData = -0x41444E49;                      // FFmpeg's AVERROR_INVALIDDATA
    static constexpr std::int32_t librariesMissing = fourCharCode("lib?");        // FFmpeg could not be loaded

    // File-type hints taken from the response's content type.
    static constexpr std::uint32_t mpegLayer3Hint = std::uint32_t(fourCharCode("MPG3"));
    static constexpr std::uint32_t adtsHint = std::uint32_t(fourCharCode("adts"));

    static constexpr int maxFramesPerCall = 4096;
    // Bytes kept for a replay while a hint is pending.
    static constexpr qsizetype prefixLimit = 65536;
    // A stream joined mid-way, or a tag between audio frames, gives a few
    // packets that do not decode; they are skipped. This many bytes without a
    // single decoded frame make the failure sticky.
    static constexpr qint64 invalidRunLimit = 65536;
    // Channel count and sample-rate bounds of a decodable source.
    static constexpr int maxChannels = 8;
    static constexpr double maxSampleRate = 384000;

    RadioDecoder(const std::optional<QString> &contentType, Handler handler);
    ~RadioDecoder();
    RadioDecoder(const RadioDecoder &) = delete;
    RadioDecoder &operator=(const RadioDecoder &) = delete;

    // Parses one chunk; answers the status after the call (0 while healthy).
    std::int32_t appendData(const char *bytes, qsizetype length);
    std::int32_t appendData(const QByteArray &bytes) { return appendData(bytes.constData(), bytes.size()); }

    std::int32_t status() const { return error; }
    // The hint still pending (0 once it was used or given up).
    std::uint32_t pendingHint() const { return hint; }

    // The hint for a content type: the lower-cased type compared as a whole string.
    static std::uint32_t hintForContentType(const std::optional<QString> &contentType);

private:
    class StreamParser;
    class ContainerReader;
    friend class StreamParser;

    // Decodes one packet and hands its audio to the handler. A packet that
    // does not decode is skipped; the parser bounds how many bytes may pass
    // without a decoded frame.
    void decode(const AVCodecParameters *parameters, int codecId, AVPacket *packet);
    bool openCodec(const AVCodecParameters *parameters, int codecId, const AVPacket *packet);
    void deliver(const AVFrame *frame);

    std::unique_ptr<StreamParser> stream;   // the open stream parser
    AVCodecContext *converter = nullptr;    // created at the first packets
    SwrContext *resampler = nullptr;        // format conversion to interleaved float
    int resamplerFormat = -1;               // the source sample format the resampler was set up for
    int resamplerRate = 0;
    int resamplerChannels = 0;
    AVFrame *frame = nullptr;
    Handler handler;
    std::int32_t error = 0;                 // sticky status
    std::uint32_t hint = 0;                 // file-type hint; 0 = none
    std::optional<QByteArray> prefix;       // the first bytes, kept while a hint is pending
    std::vector<float> pcm;                 // output buffer of channels x maxFramesPerCall floats
    qint64 bytesWithoutAudio = 0;           // bytes consumed since the last decoded frame
};

} // namespace vantuli
