// Feeds arbitrary bytes to the stream decoder. The first bytes of the input
// choose the content type and the sizes of the chunks the rest arrives in, so
// the fuzzer explores chunk boundaries as well as the stream itself.
//
// Checked beyond memory safety: every handler call carries 1 to 4096 frames
// of 1 to 8 channels at a rate within 1...384000 Hz, the status is sticky
// once it is not 0, and no audio follows a failure.

#include "streaming/RadioDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int headerSize = 5;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < headerSize)
        return 0;

    std::optional<QString> contentType;
    switch (data[0] % 4) {
    case 1:
        contentType = QStringLiteral("audio/mpeg");
        break;
    case 2:
        contentType = QStringLiteral("audio/aac");
        break;
    case 3:
        contentType = QStringLiteral("application/ogg");
        break;
    default:
        break;
    }
    // Four chunk sizes of 1 to 65536 bytes, used in turn.
    qsizetype sizes[headerSize - 1];
    for (int i = 1; i < headerSize; ++i)
        sizes[i - 1] = 1 + qsizetype(data[i]) * qsizetype(data[i]);

    bool failed = false;
    vantuli::RadioDecoder decoder(contentType,
                                  [&failed](const float *samples, std::uint64_t frames, double rate,
                                            std::uint32_t channels) {
                                      check(!failed);
                                      check(samples != nullptr);
                                      check(frames >= 1 && frames <= vantuli::RadioDecoder::maxFramesPerCall);
                                      check(channels >= 1 && channels <= vantuli::RadioDecoder::maxChannels);
                                      check(rate >= 1 && rate <= vantuli::RadioDecoder::maxSampleRate);
                                      // Touch every sample so AddressSanitizer sees the whole block.
                                      volatile float sum = 0;
                                      for (std::uint64_t i = 0; i < frames * channels; ++i)
                                          sum = sum + samples[i];
                                  });

    const auto *bytes = reinterpret_cast<const char *>(data + headerSize);
    const qsizetype length = qsizetype(size - headerSize);
    std::int32_t status = 0;
    int turn = 0;
    for (qsizetype at = 0; at < length; ++turn) {
        const qsizetype n = std::min(sizes[turn % (headerSize - 1)], length - at);
        const std::int32_t now = decoder.appendData(bytes + at, n);
        check(status == 0 || now == status);
        status = now;
        failed = status != 0;
        at += n;
    }
    check(decoder.appendData(bytes, 0) == status);
    return 0;
}
