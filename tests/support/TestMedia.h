#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vantuli::test {

// Audio files made at test time by espeak-ng and ffmpeg. Every file is made
// once per test process, in a temporary folder, and its path answered again
// on later calls; an empty path means a tool failed.
enum class Media {
    speech,          // espeak-ng's WAV of a few spoken sentences (22.05 kHz mono)
    mp3,             // 44.1 kHz stereo, 128 kb/s, no Xing frame, no tag (as a live stream sends it)
    mp3WithId3,      // the same behind a leading ID3v2 tag
    mp3Cut,          // mp3 joined mid-way: its first bytes cut off inside a frame
    aac44,           // AAC-LC in ADTS frames, 44.1 kHz stereo
    aac48,           // AAC-LC in ADTS frames, 48 kHz stereo
    aac22Mono,       // AAC-LC in ADTS frames, 22.05 kHz mono
    opus,            // Ogg Opus, 48 kHz stereo
    flac,            // native FLAC, 44.1 kHz stereo
};

QString mediaFile(Media media);

// Runs `ffmpeg -y <arguments> <folder>/<name>` once per process for each name;
// answers the output path, or an empty path when ffmpeg failed.
QString makeMedia(const QString &name, const QStringList &arguments);

// Writes bytes to <folder>/<name> (once per name); answers the path.
QString writeMedia(const QString &name, const QByteArray &bytes);

QByteArray readMedia(const QString &path);

// What ffprobe says about the first audio stream of a file.
struct MediaFacts {
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;   // seconds
    qint64 packets = 0;
    // The PCM frames the file decodes to: packets times the codec's frame
    // size for MP3 and AAC (whose durations ffprobe only estimates), the
    // duration times the rate otherwise.
    qint64 frames() const;
    // The frames in one packet of the codec (the tolerance of a frame count).
    qint64 codecFrame() const;
};

MediaFacts probeMedia(const QString &path);

} // namespace vantuli::test
