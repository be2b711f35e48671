#include "captioning/RadioRecognizer.h"
#include "captioning/RecognitionParameters.h"

#include <whisper.h>

#include <QFile>

#include <algorithm>
#include <climits>
#include <cmath>

namespace vantuli {

std::unique_ptr<RadioRecognizer> RadioRecognizer::create(const QString &modelPath)
{
    const QByteArray path = QFile::encodeName(modelPath);
    whisper_context *context = whisper_init_from_file_with_params(path.constData(), whisper_context_default_params());
    if (!context)
        return nullptr;
    return std::unique_ptr<RadioRecognizer>(new RadioRecognizer(context));
}

RadioRecognizer::~RadioRecognizer()
{
    whisper_free(context_);
}

QString RadioRecognizer::libraryLanguage(const QString &language)
{
    if (language.isEmpty())
        return QStringLiteral("auto");
    const QByteArray code = language.toUtf8();
    return whisper_lang_id(code.constData()) >= 0 ? language : QStringLiteral("auto");
}

bool RadioRecognizer::worthRecognizing(const float *samples, qsizetype count)
{
    if (!samples || count < minimumSamples || count > INT_MAX)
        return false;
    double sum = 0;
    for (qsizetype i = 0; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return std::sqrt(sum / double(count)) >= minimumLoudness;
}

std::vector<RecognizedSegment> RadioRecognizer::segmentsForSamples(const float *samples, qsizetype count,
                                                                   const QString &language)
{
    if (!worthRecognizing(samples, count))
        return {};

    lastLanguage_ = libraryLanguage(language);
    const QByteArray code = lastLanguage_.toUtf8(); // outlives the call below
    const whisper_full_params params = recognitionParameters(code.constData());

    ++transcriptions_;
    if (whisper_full(context_, params, samples, int(count)) != 0)
        return {};

    std::vector<RecognizedSegment> segments;
    const int n = whisper_full_n_segments(context_);
    for (int i = 0; i < n; ++i) {
        const char *raw = whisper_full_get_segment_text(context_, i);
        if (!raw || !*raw)
            continue;
        const QString text = decodeUtf8DroppingInvalid(raw).trimmed();
        if (text.isEmpty())
            continue;
        segments.push_back({text, double(whisper_full_get_segment_t0(context_, i)) * 0.01,
                            double(whisper_full_get_segment_t1(context_, i)) * 0.01});
    }
    return segments;
}

QString decodeUtf8DroppingInvalid(std::string_view bytes)
{
    std::string kept;
    kept.reserve(bytes.size());
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        size_t length = 0;
        unsigned char low = 0x80, high = 0xbf; // allowed range of the second byte
        if (b < 0x80) {
            length = 1;
        } else if (b >= 0xc2 && b <= 0xdf) {
            length = 2;
        } else if (b >= 0xe0 && b <= 0xef) {
            length = 3;
            if (b == 0xe0)
                low = 0xa0; // overlong
            else if (b == 0xed)
                high = 0x9f; // surrogates
        } else if (b >= 0xf0 && b <= 0xf4) {
            length = 4;
            if (b == 0xf0)
                low = 0x90; // overlong
            else if (b == 0xf4)
                high = 0x8f; // past U+10FFFF
        }
        bool valid = length > 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char c = s[i + k];
            valid = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xbf);
        }
        if (valid) {
            kept.append(bytes.data() + i, length);
            i += length;
        } else {
            ++i; // drop the offending byte and resynchronise on the next one
        }
    }
    return QString::fromUtf8(kept.data(), qsizetype(kept.size()));
}

std::vector<Caption> captionsForSegments(const std::vector<RecognizedSegment> &segments, qint64 windowOffset,
                                         qsizetype sampleCount)
{
    const double base = double(windowOffset) / 16000.0;
    const double windowEnd = double(windowOffset + sampleCount) / 16000.0;
    std::vector<Caption> captions;
    captions.reserve(segments.size());
    for (const RecognizedSegment &segment : segments) {
        const double start = std::min(segment.start + base, windowEnd);
        const double end = std::min(std::max(start + 0.15, segment.end + base), windowEnd);
        captions.push_back({QUuid::createUuid(), segment.text, start, end});
    }
    return captions;
}

std::vector<Caption> recognize(const SpeechWindow &window, SpeechRecognizer &recognizer, const QString &language)
{
    const qsizetype count = qsizetype(window.samples.size());
    return captionsForSegments(recognizer.segmentsForSamples(window.samples.data(), count, language), window.offset,
                               count);
}

} // namespace vantuli
