#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace vantuli::test {

// Speaks `text` with espeak-ng and answers it as 16 kHz mono 32-bit float
// samples (converted by ffmpeg). Extra espeak-ng options (voice, speed) go in
// `options`. Empty when either tool is missing or fails.
std::vector<float> speechSamples(const QString &text, const QStringList &options = {});

// `seconds` of digital silence at 16 kHz.
std::vector<float> silenceSamples(double seconds);

// Appends `more` at the end of `samples`; answers the index where it begins.
qsizetype appendSamples(std::vector<float> &samples, const std::vector<float> &more);

// The first and one-past-last sample whose magnitude reaches `threshold`
// (the audible extent of a clip); {0, 0} when none does.
std::pair<qsizetype, qsizetype> audibleExtent(const std::vector<float> &samples, float threshold = 0.01f);

// Lines spoken one after another at 16 kHz: `lead` seconds of silence, then
// each line followed by `gap` seconds of silence. `spoken` holds each line's
// audible extent (first and one-past-last sample) within `audio`; both are
// empty when a line could not be spoken.
struct SpokenLines {
    std::vector<float> audio;
    std::vector<std::pair<qsizetype, qsizetype>> spoken;
};
SpokenLines speakLines(const QStringList &lines, double lead, double gap);

// Encodes 16 kHz mono samples as a live MP3 stream sends them (44.1 kHz
// stereo, 128 kbit/s, no Xing header); empty when ffmpeg fails.
QByteArray liveMp3(const std::vector<float> &samples);

} // namespace vantuli::test
