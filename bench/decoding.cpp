// Decoding speed of the stream decoder: 10-minute MP3, AAC (ADTS), Ogg Vorbis
// and Ogg Opus streams, fed in 16 KiB chunks, in seconds of audio decoded per
// second of CPU and per second of wall time; and, as the reference, the same
// figures for `ffmpeg -i file -f null -` on the same file in the same run.
// Each figure is the best of three runs.
//
//   build/bench/bench_decoding [minutes]

#include "streaming/RadioDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace vantuli;

namespace {

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval &v) { return double(v.tv_sec) + double(v.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, arguments);
    return p.waitForStarted(10000) && p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit
        && p.exitCode() == 0;
}

double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Figures {
    double audioSeconds = 0;
    double cpuSeconds = 0;
    double wall = 0;
    double speed() const { return cpuSeconds > 0 ? audioSeconds / cpuSeconds : 0; }
};

Figures decodeOnce(const QByteArray &bytes, const QString &contentType)
{
    constexpr qsizetype chunk = 16 * 1024;
    std::uint64_t frames = 0;
    double rate = 0;
    const double start = processCpuSeconds();
    const double startWall = wallSeconds();
    {
        RadioDecoder decoder(contentType, [&](const float *, std::uint64_t n, double r, std::uint32_t) {
            frames += n;
            rate = r;
        });
        for (qsizetype at = 0; at < bytes.size(); at += chunk) {
            if (decoder.appendData(bytes.constData() + at, std::min(chunk, bytes.size() - at)) != 0) {
                std::fprintf(stderr, "decoding failed with status %d\n", decoder.status());
                return {};
            }
        }
    }
    Figures f;
    f.cpuSeconds = processCpuSeconds() - start;
    f.wall = wallSeconds() - startWall;
    f.audioSeconds = rate > 0 ? double(frames) / rate : 0;
    return f;
}

// ffmpeg's CPU and wall seconds for the file.
std::pair<double, double> ffmpegOnce(const QString &path)
{
    const double start = childrenCpuSeconds();
    const double startWall = wallSeconds();
    if (!runTool(QStringLiteral("ffmpeg"), {"-v", "error", "-nostdin", "-i", path, "-f", "null", "-"}))
        return {0, 0};
    return {childrenCpuSeconds() - start, wallSeconds() - startWall};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString seconds = QString::number(minutes * 60);

    QTemporaryDir folder;
    const QString mp3 = QDir(folder.path()).filePath(QStringLiteral("noise.mp3"));
    const QString aac = QDir(folder.path()).filePath(QStringLiteral("noise.aac"));
    const QString vorbis = QDir(folder.path()).filePath(QStringLiteral("noise.ogg"));
    const QString opus = QDir(folder.path()).filePath(QStringLiteral("noise.opus"));
    // Pink noise under a tone: every band busy, as in music.
    const QStringList source = {"-v", "error", "-y", "-f", "lavfi", "-i",
                                "anoisesrc=c=pink:r=44100:a=0.3:d=" + seconds, "-f", "lavfi", "-i",
                                "sine=f=330:r=44100:d=" + seconds, "-filter_complex", "amix=inputs=2", "-ac", "2"};
    std::printf("making %d-minute test streams...\n", minutes);
    if (!runTool(QStringLiteral("ffmpeg"),
                 source + QStringList{"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", mp3})
        || !runTool(QStringLiteral("ffmpeg"), source + QStringList{"-c:a", "aac", "-b:a", "128k", "-f", "adts", aac})
        || !runTool(QStringLiteral("ffmpeg"), source + QStringList{"-c:a", "libvorbis", "-b:a", "128k", vorbis})
        || !runTool(QStringLiteral("ffmpeg"),
                    source + QStringList{"-ar", "48000", "-c:a", "libopus", "-b:a", "128k", opus})) {
        std::fprintf(stderr, "ffmpeg could not make the test streams\n");
        return 1;
    }

    std::printf("%-6s %10s %12s %11s %11s %8s %11s %11s %8s\n", "stream", "audio s", "decoder CPU", "decoder x",
                "ffmpeg x", "ratio", "wall s", "ffmpeg wall", "ratio");
    int failures = 0;
    for (const auto &[name, path, type] :
         {std::tuple{"MP3", mp3, QStringLiteral("audio/mpeg")}, std::tuple{"AAC", aac, QStringLiteral("audio/aac")},
          std::tuple{"Vorbis", vorbis, QStringLiteral("application/ogg")},
          std::tuple{"Opus", opus, QStringLiteral("audio/ogg")}}) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = file.readAll();

        Figures best;
        double bestWall = 0;
        double ffmpegBest = 0;
        double ffmpegWall = 0;
        for (int run = 0; run < 3; ++run) {
            const Figures f = decodeOnce(bytes, type);
            if (f.audioSeconds <= 0)
                return 1;
            if (best.cpuSeconds == 0 || f.cpuSeconds < best.cpuSeconds)
                best = f;
            if (bestWall == 0 || f.wall < bestWall)
                bestWall = f.wall;
            const auto [cpu, wall] = ffmpegOnce(path);
            if (cpu > 0 && (ffmpegBest == 0 || cpu < ffmpegBest))
                ffmpegBest = cpu;
            if (wall > 0 && (ffmpegWall == 0 || wall < ffmpegWall))
                ffmpegWall = wall;
        }
        const double ffmpegSpeed = ffmpegBest > 0 ? best.audioSeconds / ffmpegBest : 0;
        const double ratio = best.speed() > 0 ? ffmpegSpeed / best.speed() : 0;
        const double wallRatio = ffmpegWall > 0 ? bestWall / ffmpegWall : 0;
        std::printf("%-6s %10.1f %12.3f %10.0fx %10.0fx %8.2f %11.3f %11.3f %8.2f%s\n", name, best.audioSeconds,
                    best.cpuSeconds, best.speed(), ffmpegSpeed, ratio, bestWall, ffmpegWall, wallRatio,
                    ratio > 1.2 ? "  (CPU over 1.2x ffmpeg)" : "");
        if (ratio > 1.2)
            ++failures;
    }
    std::printf("ratio = ffmpeg's speed / decoder's speed (target: at most 1.2); wall ratio = decoder / ffmpeg\n");
    return failures == 0 ? 0 : 2;
}
