// libFuzzer target for the HLS playlist parser and the packed-audio segment
// check: any input is either refused with a URL error or gives a result that
// keeps the promised invariants.
#include "streaming/PackedAudioHLS.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace vantuli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    static const QUrl base(QStringLiteral("https://radio.example/live/list.m3u8"));

    try {
        const PackedAudioHLS::Playlist list = PackedAudioHLS::playlist(bytes, base);
        if (const auto *variant = std::get_if<PackedAudioHLS::Variant>(&list)) {
            if (variant->url.scheme() != QLatin1String("https") || !variant->url.isValid())
                std::abort();
        } else {
            const auto &media = std::get<PackedAudioHLS::Media>(list);
            if (media.segments.empty() || media.target < 1 || media.first < 0)
                std::abort();
            if (media.first > std::numeric_limits<qint64>::max() - static_cast<qint64>(media.segments.size()))
                std::abort();
            for (const QUrl &url : media.segments) {
                if (url.scheme() != QLatin1String("https") || !url.isValid())
                    std::abort();
            }
        }
    } catch (const UrlError &) {
    }

    try {
        const QByteArray audio = PackedAudioHLS::audio(bytes);
        if (audio.size() < 7 || audio.size() > bytes.size() || !bytes.endsWith(audio))
            std::abort();
    } catch (const UrlError &) {
    }
    return 0;
}
