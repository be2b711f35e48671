#include "support/SpeechAudio.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <cstring>

namespace vantuli::test {

std::vector<float> speechSamples(const QString &text, const QStringList &options)
{
    const QDir folder(temporaryFolder());
    const QString wav = folder.filePath(QStringLiteral("speech.wav"));
    const QString raw = folder.filePath(QStringLiteral("speech.raw"));
    if (run(QStringLiteral("espeak-ng"), QStringList(options) << QStringLiteral("-w") << wav << text) != 0)
        return {};
    const QStringList convert{QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-loglevel"),
                              QStringLiteral("error"), QStringLiteral("-i"), wav, QStringLiteral("-ar"),
                              QStringLiteral("16000"), QStringLiteral("-ac"), QStringLiteral("1"),
                              QStringLiteral("-f"), QStringLiteral("f32le"), raw};
    if (run(QStringLiteral("ffmpeg"), convert) != 0)
        return {};
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

std::vector<float> silenceSamples(double seconds)
{
    return std::vector<float>(size_t(std::llround(seconds * 16000)), 0.0f);
}

qsizetype appendSamples(std::vector<float> &samples, const std::vector<float> &more)
{
    const qsizetype at = qsizetype(samples.size());
    samples.insert(samples.end(), more.begin(), more.end());
    return at;
}

std::pair<qsizetype, qsizetype> audibleExtent(const std::vector<float> &samples, float threshold)
{
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < qsizetype(samples.size()); ++i) {
        if (std::fabs(samples[size_t(i)]) >= threshold) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return first < 0 ? std::pair<qsizetype, qsizetype>{0, 0} : std::pair<qsizetype, qsizetype>{first, last + 1};
}

SpokenLines speakLines(const QStringList &lines, double lead, double gap)
{
    SpokenLines out{silenceSamples(lead), {}};
    for (const QString &line : lines) {
        const std::vector<float> speech = speechSamples(line);
        if (speech.empty())
            return {};
        const qsizetype at = appendSamples(out.audio, speech);
        const auto [begin, end] = audibleExtent(speech);
        out.spoken.push_back({at + begin, at + end});
        appendSamples(out.audio, silenceSamples(gap));
    }
    return out;
}

QByteArray liveMp3(const std::vector<float> &samples)
{
    const QDir folder(temporaryFolder());
    static int counter = 0;
    const QString stem = folder.filePath(QStringLiteral("live-%1").arg(++counter));
    const QString raw = stem + QStringLiteral(".raw");
    const QString mp3 = stem + QStringLiteral(".mp3");
    QFile out(raw);
    if (!out.open(QIODevice::WriteOnly))
        return {};
    out.write(reinterpret_cast<const char *>(samples.data()), qint64(samples.size() * sizeof(float)));
    out.close();
    const int code = run(QStringLiteral("ffmpeg"),
                         {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-loglevel"),
                          QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-ar"),
                          QStringLiteral("16000"), QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-i"), raw,
                          QStringLiteral("-ar"), QStringLiteral("44100"), QStringLiteral("-ac"), QStringLiteral("2"),
                          QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                          QStringLiteral("128k"), QStringLiteral("-write_xing"), QStringLiteral("0"), mp3});
    QFile in(mp3);
    return code == 0 && in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace vantuli::test
