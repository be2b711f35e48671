#pragma once

#include "streaming/HlsPlaylist.h"
#include "streaming/StreamConfiguration.h"

#include <QByteArray>
#include <QUrl>

#include <functional>
#include <memory>

namespace vantuli::PackedAudioHLS {

// Largest playlist and segment bodies accepted, in bytes (a body of exactly
// the limit is accepted).
constexpr qint64 playlistLimit = 1048576;
constexpr qint64 segmentLimit = 16777216;
// Time-out of every playlist and segment request, in seconds without data.
constexpr double requestTimeout = 14;
// Seconds the warm start's second connection has to answer before its
// segment goes over the run's own connection instead.
constexpr double secondConnectionWait = 2;

// The packed-audio payload of one segment: a single leading ID3 tag (with its
// footer, when a version 4 tag announces one) is skipped, and what remains
// must begin with an ADTS frame header. Throws UrlError cannotDecodeContentData.
QByteArray audio(const QByteArray &data);

// Seconds between playlist reloads: half the target duration, at most 2 with
// a warm start, never below 0.5.
double reloadDelay(double target, bool warmStart);

// One running live loop. Dropping it, or calling cancel(), stops it at once:
// open requests are aborted, the pending wait is dropped, and neither output
// nor failure is reported afterwards. Use it on the thread that started it only.
class Task {
public:
    class Loop;
    explicit Task(std::shared_ptr<Loop> loop);
    ~Task();
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;

    void cancel();
    // Goes on fetching segments after the loop held back for want of room
    // (see `Wanted`); nothing otherwise.
    void resume();
    // True until the loop has failed or was cancelled.
    bool running() const;
    // The target duration of the latest media playlist, in seconds (0 until
    // the first one arrived).
    double targetDuration() const;

private:
    std::shared_ptr<Loop> loop_;
};

using Output = std::function<void(const QByteArray &audio)>;
using Failure = std::function<void(const UrlError &error)>;
// Whether the owner takes more audio now. While it answers false the loop
// fetches no further segment, until Task::resume().
using Wanted = std::function<bool()>;

// Plays a live HLS station: fetches the playlist (following a master playlist
// to its first variant once), starts at the live edge (or, with warmStart,
// about two segments behind it), fetches each new segment, and hands its ADTS
// bytes to `output` in segment order, reloading the playlist at the pace of
// reloadDelay(). The loop ends only by cancellation or by one call of
// `failed`; it never retries. With `wanted`, a segment is fetched only while
// it answers true, so a fast server cannot fill memory.
//
// The requests of a run share one session, whose kept-alive connection (one
// per host) carries the playlist reloads and the segments; only a warm start
// fetches its earlier segment over a second connection, at the same time as
// the last one, and closes it then. Where that connection fails before it
// answers, or has not answered within secondConnectionWait, the earlier
// segment follows the last one over the run's own connection.
//
// Must be called on an event-loop thread (the stream's queue); every request,
// wait and callback happens there, and nothing blocks that thread.
std::unique_ptr<Task> play(const QUrl &url, const StreamConfiguration &configuration, bool warmStart, Output output,
                           Failure failed, Wanted wanted = {});

} // namespace vantuli::PackedAudioHLS
