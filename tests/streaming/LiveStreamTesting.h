#pragma once

// Shared pieces of the live stream tests: a recorder of what a run reports,
// station media made by ffmpeg, and the local stations served to the stream.

#include "streaming/LiveStream.h"
#include "support/HttpsTestServer.h"
#include "support/TestMedia.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace vantuli::test {

// Everything a run reports, in order, from whichever thread it comes.
class Recorder {
public:
    PlaybackStream::Parameters parameters(double delay = 0, CaptionPacing pacing = CaptionPacing::Short,
                                          bool timing = false)
    {
        PlaybackStream::Parameters p;
        p.delay = delay;
        p.pacing = pacing;
        p.event = [this](const StreamEvent &e) {
            std::lock_guard guard(lock);
            events.push_back(e);
        };
        p.window = [this](std::vector<SpeechWindow> w) {
            std::lock_guard guard(lock);
            for (auto &one : w)
                windows.push_back(std::move(one));
        };
        if (timing) {
            p.timing = [this](const PlaybackSample &s) {
                std::lock_guard guard(lock);
                samples.push_back(s);
            };
        }
        return p;
    }

    int count(StreamEvent::Kind kind) const
    {
        std::lock_guard guard(lock);
        int n = 0;
        for (const auto &e : events)
            n += e.kind == kind ? 1 : 0;
        return n;
    }
    int positions() const { return count(StreamEvent::Kind::Position); }
    bool playing() const { return count(StreamEvent::Kind::Playing) > 0; }
    bool failed() const { return count(StreamEvent::Kind::Failed) > 0; }
    size_t eventCount() const
    {
        std::lock_guard guard(lock);
        return events.size();
    }
    std::vector<StreamEvent> allEvents() const
    {
        std::lock_guard guard(lock);
        return events;
    }
    std::vector<SpeechWindow> allWindows() const
    {
        std::lock_guard guard(lock);
        return windows;
    }
    std::vector<PlaybackSample> allSamples() const
    {
        std::lock_guard guard(lock);
        return samples;
    }
    // The message of the first failure (empty content when there is none).
    QString failure() const
    {
        std::lock_guard guard(lock);
        for (const auto &e : events) {
            if (e.kind == StreamEvent::Kind::Failed && e.message)
                return e.message->content();
        }
        return {};
    }

private:
    mutable std::mutex lock;
    std::vector<StreamEvent> events;
    std::vector<SpeechWindow> windows;
    std::vector<PlaybackSample> samples;
};

// A configuration that trusts the test server; the silence watchdog takes
// `watchdog` seconds instead of its own, and what was asked is recorded.
struct TestConfiguration {
    std::shared_ptr<std::mutex> lock = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<double>> asked = std::make_shared<std::vector<double>>();

    StreamConfiguration make(double watchdog = LiveStream::silenceTimeout, bool fastReloads = false) const
    {
        StreamConfiguration c;
        c.caCertificates = {HttpsTestServer::caCertificate()};
        c.timeout = [lock = lock, asked = asked, watchdog](double seconds) {
            {
                std::lock_guard guard(*lock);
                asked->push_back(seconds);
            }
            if (seconds == LiveStream::requestTimeout)
                return seconds;
            return seconds >= LiveStream::silenceTimeout ? watchdog : seconds;
        };
        if (fastReloads)
            c.wait = [](double) { return 0.1; };
        return c;
    }

    bool wasAsked(double seconds) const
    {
        std::lock_guard guard(*lock);
        return std::find(asked->begin(), asked->end(), seconds) != asked->end();
    }
};

// Station audio. MP3s are 44.1 kHz stereo at 128 kb/s (16000 bytes a second).
inline QByteArray mp3Tone()
{
    return readMedia(makeMedia(QStringLiteral("live-tone.mp3"),
                               {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=40", "-ac", "2",
                                "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0"}));
}

// Digital silence: decodable audio of zeros.
inline QByteArray mp3Silence()
{
    return readMedia(makeMedia(QStringLiteral("live-silence.mp3"),
                               {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t", "20", "-c:a", "libmp3lame",
                                "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0"}));
}

// One second of tone, one second of silence, and so on.
inline QByteArray mp3Pattern()
{
    return readMedia(makeMedia(QStringLiteral("live-pattern.mp3"),
                               {"-f", "lavfi", "-i",
                                "aevalsrc=0.5*sin(2*PI*440*t)*lt(mod(t\\,2)\\,1):s=44100:d=40", "-ac", "2", "-c:a",
                                "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0"}));
}

inline QByteArray adtsTone(int rate, int channels)
{
    return readMedia(makeMedia(QStringLiteral("live-tone-%1-%2.aac").arg(rate).arg(channels),
                               {"-f", "lavfi", "-i", QStringLiteral("sine=frequency=330:sample_rate=%1:duration=6").arg(rate),
                                "-ac", QString::number(channels), "-c:a", "aac", "-b:a", "64k", "-f", "adts"}));
}

constexpr double mp3BytesPerSecond = 16000;

// Chunk `index` of `chunk` bytes of `bytes` repeated without end.
inline QByteArray loopedChunk(const QByteArray &bytes, qint64 chunk, qint64 index)
{
    QByteArray out;
    qint64 at = (index * chunk) % bytes.size();
    while (out.size() < chunk) {
        const qint64 n = std::min(chunk - out.size(), bytes.size() - at);
        out += bytes.mid(at, n);
        at = (at + n) % bytes.size();
    }
    return out;
}

// An endless stream of `bytes` (looped), `speed` times faster than real time,
// in chunks every 50 ms. `pulls`, when given, counts the chunks taken.
inline HttpsTestServer::Response liveStream(const QByteArray &bytes, double speed, const QByteArray &contentType,
                                            std::shared_ptr<std::atomic<qint64>> pulls = {})
{
    const qint64 chunk = qint64(mp3BytesPerSecond * speed / 20);
    return HttpsTestServer::Response::streamed(
        contentType,
        [bytes, chunk, pulls](qint64 index) {
            if (pulls)
                ++*pulls;
            return loopedChunk(bytes, chunk, index);
        },
        50);
}

// An endless stream of `bytes` (looped), written as fast as the client takes it.
inline HttpsTestServer::Response floodStream(const QByteArray &bytes, const QByteArray &contentType)
{
    constexpr qint64 chunk = 64 * 1024;
    auto response = HttpsTestServer::Response::streamed(
        contentType,
        [bytes](qint64 index) {
            return loopedChunk(bytes, chunk, index);
        },
        0);
    response.asFastAsTaken = true;
    return response;
}

// Resident memory of this process, in bytes; always 0 under AddressSanitizer,
// which holds freed memory back for a while (hundreds of megabytes under a
// flood of reads), so that the figure says nothing about what the code keeps.
inline qint64 residentBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return 0;
#endif
#endif
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * qint64(::sysconf(_SC_PAGESIZE)) : 0;
}

// The highest resident memory of this process since the last call, in bytes
// (the kernel's high-water mark, reset by each call): it catches a peak that
// comes and goes inside one call, where sampling residentBytes() cannot. 0
// under AddressSanitizer, and where the kernel cannot reset the mark.
inline qint64 peakResidentBytes()
{
    if (residentBytes() == 0)
        return 0;
    qint64 peak = 0;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    if (!reset.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || reset.write("5") != 1)
        return 0;
    return peak;
}

// ThreadSanitizer's instrumentation makes the run's own work (decoding,
// resampling, the speech detector) many times dearer: a bound on processor
// time is this many times looser in such a build, which keeps it well under
// what a thread kept busy for the run would spend.
#if defined(__SANITIZE_THREAD__)
inline constexpr double cpuLeeway = 5;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr double cpuLeeway = 5;
#else
inline constexpr double cpuLeeway = 1;
#endif
#else
inline constexpr double cpuLeeway = 1;
#endif

// Processor seconds of this process's threads but the test server's and,
// unless `withMainThread`, the test's own (which spins the event loop while
// it waits).
inline double runCpuSeconds(bool withMainThread = false)
{
    const double tick = double(::sysconf(_SC_CLK_TCK));
    const QString self = QString::number(::getpid());
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if ((tid == self && !withMainThread) || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < 0 || line.mid(open + 1, close - open - 1) == "test.https")
            continue;
        // utime and stime, fields 14 and 15 of the line, are 12 and 13 after the name.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 13)
            total += (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    return total;
}

// The first `size` bytes of a gzip member that unpacks to 258 zero bytes for
// every two bits (a gigabyte for a megabyte), cut off as a live stream is:
// one block of its own codes, in which "258 bytes from 1 byte back" is "00".
inline QByteArray gzipOfZeros(qsizetype size)
{
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](quint32 value, int n) { // fields go least significant bit first
        bits |= value << count;
        for (count += n; count >= 8; count -= 8, bits >>= 8)
            out.append(char(bits & 0xFF));
    };
    const auto code = [&](quint32 value, int n) { // codes go most significant bit first
        for (int i = n - 1; i >= 0; --i)
            put((value >> i) & 1, 1);
    };
    put(1, 1);      // the last block,
    put(2, 2);      // with codes of its own:
    put(29, 5);     // 286 literal/length codes,
    put(0, 5);      // one distance code,
    put(14, 4);     // 18 code length codes, in their order 16, 17, 18, 0, 8, ..., 2, 14, 1:
    for (int length : {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2})
        put(quint32(length), 3); // "zeros" 0, "1" 10, "2" 11
    const auto zeros = [&](int n) { code(0, 1); put(quint32(n - 11), 7); };
    code(3, 2);     // literal 0: 2 bits
    zeros(138);
    zeros(117);
    code(3, 2);     // end of block: 2 bits
    zeros(28);
    code(2, 2);     // length 258: 1 bit
    code(2, 2);     // distance 1: 1 bit
    code(2, 2);     // literal 0; from here on every "00" repeats 258 of them
    if (count > 0)
        put(0, 8 - count);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

// A live HLS station of one-second ADTS segments under `folder`: the
// playlist's newest segment moves on `speed` segments per second of real
// time, with a five-segment window.
class HlsStation {
public:
    HlsStation(HttpsTestServer &server, const QString &folder, double speed, int target = 1)
    {
        const std::vector<QByteArray> &segments = source();
        for (int n = 0; n < 600; ++n) {
            server.serve(QStringLiteral("%1/seg%2.aac").arg(folder).arg(n),
                         HttpsTestServer::Response::ok(segments.empty() ? QByteArray() : segments[n % segments.size()],
                                                       "audio/aac"));
        }
        const auto begun = std::chrono::steady_clock::now();
        server.serve(folder + QStringLiteral("/live.m3u8"), [begun, speed, target](const HttpsTestServer::Request &) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
            const qint64 last = 10 + qint64(elapsed * speed);
            QByteArray text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + QByteArray::number(target)
                + "\n#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(last - 4) + "\n";
            for (qint64 n = last - 4; n <= last; ++n)
                text += "#EXTINF:1.0,\nseg" + QByteArray::number(n) + ".aac\n";
            return HttpsTestServer::Response::ok(text, "application/vnd.apple.mpegurl");
        });
    }

    static const std::vector<QByteArray> &source()
    {
        static const std::vector<QByteArray> segments = [] {
            std::vector<QByteArray> out;
            const QDir dir(temporaryFolder());
            const int rc = run(QStringLiteral("ffmpeg"),
                               {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                "sine=frequency=440:sample_rate=44100:duration=9", "-ac", "2", "-c:a", "aac", "-b:a",
                                "64k", "-f", "segment", "-segment_time", "1", "-segment_format", "adts",
                                dir.filePath("live%d.aac")});
            for (int i = 0; rc == 0 && i < 8; ++i) {
                QFile f(dir.filePath(QStringLiteral("live%1.aac").arg(i)));
                if (f.open(QIODevice::ReadOnly))
                    out.push_back(f.readAll());
            }
            return out;
        }();
        return segments;
    }
};

// Spins the event loop for a while, for checks that something does NOT happen.
inline void settle(std::chrono::milliseconds span = std::chrono::milliseconds(800))
{
    waitUntil([] { return false; }, span);
}

} // namespace vantuli::test
