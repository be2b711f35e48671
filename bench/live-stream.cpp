// The live stream against the tests' local HTTPS server, with the null audio
// output:
//  - time from start() to `playing` without captions, median of 10 runs, on
//    an MP3 station paced at real time; and, where ffplay is installed, its
//    first-audio time on the same station in the same run as reference
//    (`ffplay -nodisp -autoexit`: launch until its audio clock first runs);
//  - the same start-up time on a server that sends as fast as the socket
//    takes, and the process's peak resident memory while such a server
//    feeds a run for the given seconds (it must stay bounded: TCP holds the
//    server back to the pace of playback);
//  - CPU time per minute of playback with captions off and on (resampling
//    and window cutting with the short pacing; no recogniser). Only the
//    process's own threads count; the in-process server's thread does not;
//  - on the server as fast as the socket takes, with captions on in the
//    conversational (12 s) and sentence (14 s) pacings: bytes read and CPU
//    time per minute from the start, and the audio dropped at the cap.
//
//   build/bench/bench_live-stream [seconds of playback per CPU figure]

#include "BenchSupport.h"
#include "streaming/LiveStream.h"
#include "support/HttpsTestServer.h"
#include "tests/streaming/LiveStreamTesting.h"
#include "support/TestMedia.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace vantuli;
using test::HttpsTestServer;
using Clock = std::chrono::steady_clock;

using bench::median;

namespace {

double since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

StreamConfiguration trusting()
{
    StreamConfiguration c;
    c.caCertificates = {HttpsTestServer::caCertificate()};
    return c;
}

// Seconds from start() to `playing`; negative when the run failed.
double startToPlaying(const QUrl &url)
{
    std::atomic<int> state{0}; // 1 playing, 2 failed
    PlaybackStream::Parameters p;
    p.event = [&](const StreamEvent &e) {
        if (e.kind == StreamEvent::Kind::Playing)
            state = 1;
        else if (e.kind == StreamEvent::Kind::Failed)
            state = 2;
    };
    LiveStream stream(std::move(p));
    const auto begun = Clock::now();
    stream.start(url, 1, trusting());
    test::waitUntil([&] { return state != 0; }, std::chrono::seconds(30));
    const double seconds = since(begun);
    stream.stop();
    return state == 1 ? seconds : -1;
}

// Seconds from launching ffplay until its status line first shows an audio
// clock, i.e. until it plays audio; negative when it never does.
double ffplayOnce(const QUrl &url, const QString &caFile)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    p.setProcessEnvironment(env);
    const auto begun = Clock::now();
    p.start(QStringLiteral("ffplay"), {"-hide_banner", "-nodisp", "-autoexit", "-stats", "-ca_file", caFile,
                                       "-tls_verify", "1", url.toString()});
    if (!p.waitForStarted(10000))
        return -1;
    const QRegularExpression clock(QStringLiteral("(-?\\d+\\.\\d+) M-A:"));
    QByteArray seen;
    double answer = -1;
    while (since(begun) < 20 && p.state() == QProcess::Running) {
        p.waitForReadyRead(20);
        seen += p.readAllStandardError();
        if (clock.match(QString::fromLatin1(seen)).hasMatch()) {
            answer = since(begun);
            break;
        }
    }
    p.kill();
    p.waitForFinished(5000);
    return answer;
}

// Peak resident memory (bytes) of the process while a run with captions off
// plays `seconds` from the server.
qint64 peakResident(const QUrl &url, double seconds)
{
    std::atomic<bool> playing{false};
    PlaybackStream::Parameters p;
    p.event = [&](const StreamEvent &e) {
        if (e.kind == StreamEvent::Kind::Playing)
            playing = true;
    };
    LiveStream stream(std::move(p));
    stream.start(url, 1, trusting());
    qint64 peak = test::residentBytes();
    const auto begun = Clock::now();
    while (since(begun) < seconds) {
        peak = std::max(peak, test::residentBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stream.stop();
    return playing ? peak : -1;
}

// CPU seconds per minute of playback.
double cpuPerMinute(const QUrl &url, double delay, double seconds)
{
    std::atomic<bool> playing{false};
    std::atomic<qint64> windows{0};
    PlaybackStream::Parameters p;
    p.delay = delay;
    p.event = [&](const StreamEvent &e) {
        if (e.kind == StreamEvent::Kind::Playing)
            playing = true;
    };
    p.window = [&](std::vector<SpeechWindow> w) { windows += qint64(w.size()); };
    LiveStream stream(std::move(p));
    stream.start(url, 1, trusting());
    test::waitUntil([&] { return playing.load(); }, std::chrono::seconds(30));
    const double cpu = test::runCpuSeconds(true);
    const auto begun = Clock::now();
    // The stream needs nothing of the main thread: it sleeps, costing nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
    const double used = test::runCpuSeconds(true) - cpu;
    const double wall = since(begun);
    stream.stop();
    if (delay > 0)
        std::printf("  (%lld speech windows cut)\n", static_cast<long long>(windows.load()));
    return used / wall * 60;
}

// A run with captions on against a server as fast as the socket takes, for
// `seconds` from its start: bytes and CPU seconds per minute, seconds dropped.
void fastWithCaptions(const QUrl &url, double delay, CaptionPacing pacing, double seconds)
{
    std::atomic<bool> failed{false};
    PlaybackStream::Parameters p;
    p.delay = delay;
    p.pacing = pacing;
    p.event = [&](const StreamEvent &e) {
        if (e.kind == StreamEvent::Kind::Failed)
            failed = true;
    };
    p.window = [](std::vector<SpeechWindow>) {};
    LiveStream stream(std::move(p));
    const double cpu = test::runCpuSeconds(true);
    const auto begun = Clock::now();
    stream.start(url, 1, trusting());
    std::this_thread::sleep_for(std::chrono::milliseconds(qint64(seconds * 1000)));
    const double used = test::runCpuSeconds(true) - cpu;
    const double wall = since(begun);
    const double bytes = double(stream.transfer().bytes);
    const double dropped = stream.droppedSeconds();
    stream.stop();
    std::printf("fast server, captions on, %s pacing (%.0f s): %.2f MB a minute (%.2f MB at real rate), "
                "%.1f s of audio dropped, CPU %.3f s a minute%s\n",
                qPrintable(pacing.rawValue()), delay, bytes / wall * 60 / 1e6, 16000.0 * 60 / 1e6, dropped,
                used / wall * 60, failed ? " -- the run failed" : "");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("VANTULI_AUDIO", "null");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(5.0, QByteArray(argv[1]).toDouble()) : 30.0;

    HttpsTestServer server;
    if (!server.isListening()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QByteArray audio = test::readMedia(test::makeMedia(
        QStringLiteral("bench-live.mp3"), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=120",
                                           "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0",
                                           "-id3v2_version", "0"}));
    if (audio.isEmpty()) {
        std::fprintf(stderr, "ffmpeg could not make the station audio\n");
        return 1;
    }
    server.serve(QStringLiteral("/live.mp3"), test::liveStream(audio, 1.0, "audio/mpeg"));
    const QUrl url = server.url(QStringLiteral("/live.mp3"));

    std::vector<double> starts;
    for (int i = 0; i < 10; ++i) {
        const double s = startToPlaying(url);
        if (s >= 0)
            starts.push_back(s);
    }
    std::printf("start to playing, captions off: median %.3f s of %zu runs (buffer %.1f s)\n", median(starts),
                starts.size(), LiveStream::minimumStartup);

    if (!QStandardPaths::findExecutable(QStringLiteral("ffplay")).isEmpty()) {
        const QString caFile = QDir(test::temporaryFolder()).filePath(QStringLiteral("ca.pem"));
        QFile ca(caFile);
        if (ca.open(QIODevice::WriteOnly))
            ca.write(HttpsTestServer::caCertificate().toPem());
        ca.close();
        std::vector<double> ffplay;
        for (int i = 0; i < 10; ++i) {
            const double s = ffplayOnce(url, caFile);
            if (s >= 0)
                ffplay.push_back(s);
        }
        std::printf("ffplay -nodisp -autoexit, launch to first audio: median %.3f s of %zu runs\n",
                    median(ffplay), ffplay.size());
    } else {
        std::printf("ffplay not installed: no reference figure\n");
    }

    server.serve(QStringLiteral("/fast.mp3"), test::floodStream(audio, "audio/mpeg"));
    const QUrl fast = server.url(QStringLiteral("/fast.mp3"));
    std::vector<double> fastStarts;
    for (int i = 0; i < 10; ++i) {
        const double s = startToPlaying(fast);
        if (s >= 0)
            fastStarts.push_back(s);
    }
    std::printf("start to playing on a server as fast as the socket takes: median %.3f s of %zu runs\n",
                median(fastStarts), fastStarts.size());
    const qint64 resident = test::residentBytes();
    const qint64 peak = peakResident(fast, seconds);
    std::printf("resident memory while that server feeds a run for %.0f s: peak %.1f MB (%.1f MB before the run)%s\n",
                seconds, double(peak) / 1e6, double(resident) / 1e6, peak < 0 ? " -- the run never played" : "");

    const double off = cpuPerMinute(url, 0, seconds);
    std::printf("CPU per minute of playback, captions off: %.3f s (%.2f%% of one core)\n", off, off / 60 * 100);
    const double on = cpuPerMinute(url, 5, seconds);
    std::printf("CPU per minute of playback, captions on (short pacing): %.3f s (%.2f%% of one core)\n", on,
                on / 60 * 100);
    fastWithCaptions(fast, 12, CaptionPacing::Conversational, seconds);
    fastWithCaptions(fast, 14, CaptionPacing::Sentence, seconds);
    return 0;
}
