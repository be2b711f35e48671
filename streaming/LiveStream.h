#pragma once

#include "streaming/PlaybackStream.h"

#include <QString>

#include <memory>
#include <optional>

namespace vantuli {

class SerialQueue;

// One listening run's connection to one station: fetches the station's bytes
// (a plain HTTPS audio stream, or an HLS playlist through PackedAudioHLS),
// counts them, decodes them, plays the audio through its own audio engine
// behind a start-up buffer, and, when captions are on, cuts speech windows
// from the same audio at 16 kHz mono.
//
// All state lives on the stream's own queue "app.vantuli.stream"; window
// building for the sentence pacings runs on "app.vantuli.sentences". The
// event and window handlers are called on the stream queue, the timing hook
// on the audio engine's completion thread. A run starts once and ends once:
// by a failure (one `failed` event), by stop() or by dropping the stream
// (both silent). Once stop() returns, or the stream is gone, no handler is
// called again.
//
// The stream may be dropped on any thread, also from inside its own handlers;
// the destructor ends the network transfer and stops the audio output before
// it returns (when dropped from a handler, as soon as that handler returns).
class LiveStream final : public PlaybackStream {
public:
    // The start-up buffer is max(delay, minimumStartup) seconds of audio.
    static constexpr double minimumStartup = 0.4;
    // An HLS run with a sentence pacing starts once this much audio is scheduled.
    static constexpr double hlsJoinSeconds = 10.5;
    // A run fails when no audio was decoded for this long (for HLS: at least
    // twice the playlist's target duration, at most longestSilence).
    static constexpr double silenceTimeout = 18;
    // The longest wait for audio, whatever the playlist announces.
    static constexpr double longestSilence = 60;
    // Idle time-out of the plain stream request.
    static constexpr double requestTimeout = 60;
    // Tick of the stream queue: the first after firstTick, then every tickInterval.
    static constexpr double firstTick = 0.15;
    static constexpr double tickInterval = 0.1;
    // The recognition format.
    static constexpr double monoRate = 16000;

    explicit LiveStream(Parameters parameters);
    ~LiveStream() override;
    LiveStream(const LiveStream &) = delete;
    LiveStream &operator=(const LiveStream &) = delete;

    void start(const QUrl &url, float volume, const StreamConfiguration &configuration) override;
    void stop() override;
    void setVolume(float volume) override;
    StreamTransfer transfer() const override;
    // Seconds of decoded audio dropped so far because more was pending than
    // the pending cap allows.
    double droppedSeconds() const;

    // The MIME type of a Content-Type value: the part before any ";",
    // trimmed; nothing when that is empty.
    static std::optional<QString> mimeType(const QString &contentType);
    // Whether a URL is fetched as an HLS playlist: its path extension is
    // "m3u8" in any letter case.
    static bool isPlaylist(const QUrl &url);

    class Run;
    struct Gate;

private:
    std::unique_ptr<SerialQueue> io_;
    std::unique_ptr<SerialQueue> sentences_;
    std::shared_ptr<Gate> gate_;
    std::shared_ptr<Run> run_;
};

} // namespace vantuli
