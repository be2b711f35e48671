#include "streaming/LiveStream.h"

#include "captioning/WindowBuilder.h"
#include "platform/AudioEngine.h"
#include "platform/Resources.h"
#include "platform/SerialQueue.h"
#include "streaming/CurlLibrary.h"
#include "streaming/HlsPlaylist.h"
#include "streaming/MonoResampler.h"
#include "streaming/PackedAudioHLS.h"
#include "streaming/RadioDecoder.h"
#include "streaming/StreamRequest.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>

namespace vantuli {

namespace {

// Messages of the end of a run (localisation keys).
const QString refusedKey = QStringLiteral("电台未接受连接，请重试或前往官网。");
const QString connectionEndedKey = QStringLiteral("直播连接已结束，可以重新连接。");
const QString unsupportedFormatKey = QStringLiteral("不支持此音频格式。");
const QString undecodableKey = QStringLiteral("当前音源无法解码。可重试或使用台方官网。");
const QString silentKey = QStringLiteral("电台暂未传回可播放的声音。请重试或前往台方官网。");
const QString formatChangedKey = QStringLiteral("音频格式已变化，请重新连接。");
const QString outputChangedKey = QStringLiteral("系统音频输出已变化，正在重新连接。");
const QString networkLibraryKey = QStringLiteral("系统的网络库（libcurl）缺失或版本过旧，无法连接电台。");
const QString outputFailedFormat = QStringLiteral("无法打开音频输出。%@");

// Pending audio held before the first scheduling and afterwards, in seconds.
constexpr double pendingCap = 15;
constexpr double hlsPendingCap = 10.7;
constexpr double pendingMargin = 0.2; // the player is fed this far beyond the target
constexpr double shortPrimeWait = 0.4;
constexpr double sentencePrimeWait = 0.45;
constexpr double sentenceFirstSchedule = 0.7;
constexpr double flushInterval = 0.4;
constexpr double timingInterval = 0.25;

// What is held undecoded is bounded whatever the server's speed: the request
// buffers at most StreamRequest::bufferLimit bytes (then it pauses, and TCP's
// flow control slows the server down), and bytes are taken from it in slices
// of at most this size, only while the pending audio is under the read limit.
constexpr qint64 readSlice = 16 * 1024;
// A server that sends faster than real time is held back by TCP instead of
// having its oldest audio dropped at the cap, which would let reading go on
// at once: before the first scheduling the plain stream reads only until the
// start-up buffer is full, afterwards until this much less than the pending
// cap is pending. A slice decodes to about readSliceSeconds of audio at most,
// or to what is missing up to that limit when less is, so what one read adds
// fits under the cap: the start-up buffer of a sentence pacing has but
// pendingMargin of room under its cap.
constexpr double readRoom = 5;
constexpr double readSliceSeconds = 1;

// Seconds of the monotonic clock.
double uptime()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Set while this thread runs the owner's timing hook.
thread_local int timingHookDepth = 0;

} // namespace

// Guards the calls of the owner's handlers: once closed, no handler is called
// again, and close() waits for a call that is running on another thread.
struct LiveStream::Gate {
    std::recursive_mutex lock;
    bool open = true;

    template <typename Call>
    void call(Call &&work)
    {
        std::lock_guard guard(lock);
        if (open)
            work();
    }

    void close()
    {
        std::lock_guard guard(lock);
        open = false;
    }
};

// The state of a run. Everything but the transfer figures lives on the
// stream queue `io`; the window builder of a sentence pacing on `sentences`.
// The queues belong to the LiveStream, which ends both before the run goes,
// so work on them may use the run freely.
class LiveStream::Run {
public:
    Run(Parameters parameters, SerialQueue *io, SerialQueue *sentences, std::shared_ptr<Gate> gate)
        : io_(io), sentences_(sentences), gate_(std::move(gate)), requestedAt_(uptime()), lastPCM_(requestedAt_),
          pacing_(parameters.pacing), timing_(std::move(parameters.timing)), delay_(parameters.delay),
          window_(std::move(parameters.window)), event_(std::move(parameters.event))
    {
    }

    void begin(const QUrl &url, float volume, const StreamConfiguration &configuration);
    void finish(const std::optional<DisplayMessage> &message, bool worthRetrying = true);
    // Ends the run on a failure of the network; without the system's libcurl
    // every request fails, and the listener is told that instead.
    void failNetwork(const DisplayMessage &message);
    void setVolume(float volume) { engine_.setVolume(volume); }

    StreamTransfer transfer() const
    {
        std::lock_guard guard(transferLock_);
        return transfer_;
    }

    double droppedSeconds() const
    {
        std::lock_guard guard(transferLock_);
        return droppedSeconds_;
    }

private:
    struct ReceivedBuffer {
        std::vector<float> samples; // interleaved, in `format_`
        qint64 frames = 0;
        double receivedAt = 0;
    };

    bool sentencePacing() const { return pacing_.value() != CaptionPacing::Short; }
    double silenceLimit() const;

    // Plain stream.
    void openPlain(const QUrl &url);
    void responded(int status, const QUrl &url, const QByteArray &contentType);
    // Reads the body up to the read limit, or, once the response is
    // complete, `whole` of what is left.
    void readBody(bool whole = false);
    void completed(std::optional<StreamRequest::Failure> failure);
    // The pending audio's cap now, in seconds (receive() drops beyond it).
    double currentCap() const;
    // Whether the HLS loop fetches another segment now: nothing is pending,
    // or one segment of the playlist's target duration still fits under the
    // cap.
    bool wantsSegment() const;
    // Seconds of pending audio up to which the plain stream's body is read:
    // the start-up buffer before the first scheduling, afterwards readRoom
    // below the cap.
    double readLimit() const;
    // Whether more of the plain stream's body is read now: the pending audio
    // is under the read limit, and before the first scheduling none was
    // dropped at the cap.
    bool wantsBody() const;
    // Bytes of the plain stream's body taken at once: readSliceSeconds of
    // audio, or what is missing up to the read limit when that is less, at
    // the rate the stream decodes to so far; at most readSlice.
    qint64 bodySlice() const;
    // Takes up reading again once the pending audio went under its limit.
    void pullAudio();

    // Bytes and audio.
    void receivedAudioBytes(qint64 count);
    void decode(const QByteArray &bytes);
    RadioDecoder &decoder();
    void receive(const float *samples, std::uint64_t frames, double rate, std::uint32_t channels);

    // Playback.
    void tick();
    void schedule(ReceivedBuffer buffer);
    WindowBuilder &builder();
    void deliver(std::vector<SpeechWindow> windows);

    void report(const StreamEvent &event);
    void handOver(std::vector<SpeechWindow> windows);

    SerialQueue *const io_;
    SerialQueue *const sentences_;
    const std::shared_ptr<Gate> gate_;

    // Connection.
    StreamConfiguration configuration_;
    bool started_ = false;
    QPointer<StreamRequest> request_; // plain stream only; lives on io
    bool accepted_ = false;
    std::unique_ptr<PackedAudioHLS::Task> playlistTask_;
    QTimer *clock_ = nullptr;

    mutable std::mutex transferLock_;
    StreamTransfer transfer_;
    double droppedSeconds_ = 0; // under transferLock_
    const double requestedAt_;

    // Audio.
    AudioEngine engine_;
    std::optional<AudioFormat> format_;
    std::unique_ptr<MonoResampler> resampler_;
    qint64 frames_ = 0;
    double stalledSeconds_ = 0;
    double scheduledEnd_ = 0;
    std::deque<ReceivedBuffer> pending_;
    double nextTimingSample_ = 0;
    qint64 pendingFrames_ = 0;
    bool droppedPending_ = false;
    qint64 decodedFrames_ = 0; // all frames decoded, dropped ones included
    std::optional<double> primedAt_;
    bool segmentedSentences_ = false;
    double lastDeadlineCheck_ = 0;
    bool playing_ = false;
    std::atomic<bool> ended_ = false;
    std::optional<double> firstPCMAt_;
    double lastPCM_;
    std::optional<WindowBuilder> builder_; // used on one queue only (see above)
    const CaptionPacing pacing_;
    std::optional<QString> contentType_;
    std::unique_ptr<RadioDecoder> decoder_;
    bool decoding_ = false; // inside the decoder's appendData()
    const TimingHook timing_;
    const double delay_;
    const WindowHandler window_;
    const EventHandler event_;

    friend class LiveStream;
};

// --- Start and end of a run ---------------------------------------------------

void LiveStream::Run::begin(const QUrl &url, float volume, const StreamConfiguration &configuration)
{
    if (ended_ || started_)
        return;
    started_ = true;
    configuration_ = configuration;
    engine_.setVolume(volume);

    if (isPlaylist(url)) {
        segmentedSentences_ = sentencePacing();
        contentType_ = QStringLiteral("audio/aac");
        playlistTask_ = PackedAudioHLS::play(
            url, configuration_, segmentedSentences_,
            [this](const QByteArray &audio) {
                if (ended_)
                    return;
                receivedAudioBytes(audio.size());
                decode(audio);
            },
            [this](const UrlError &error) {
                // The proxy's refusal of the tunnel reads as a plain stream's.
                if (error.code == UrlError::proxyRefused)
                    finish(DisplayMessage::key(refusedKey));
                else
                    failNetwork(DisplayMessage::verbatim(error.description));
            },
            [this] { return !ended_ && wantsSegment(); });
    } else {
        openPlain(url);
    }
    if (ended_)
        return;

    clock_ = new QTimer(io_->context());
    clock_->setTimerType(Qt::PreciseTimer);
    QObject::connect(clock_, &QTimer::timeout, clock_, [this] {
        if (clock_ && clock_->interval() != StreamConfiguration::milliseconds(tickInterval))
            clock_->setInterval(StreamConfiguration::milliseconds(tickInterval));
        tick();
    });
    clock_->start(StreamConfiguration::milliseconds(firstTick));
}

void LiveStream::Run::failNetwork(const DisplayMessage &message)
{
    if (!curl::loaded())
        finish(DisplayMessage::key(networkLibraryKey), false);
    else
        finish(message);
}

void LiveStream::Run::finish(const std::optional<DisplayMessage> &message, bool worthRetrying)
{
    if (ended_)
        return;
    ended_ = true;

    // This may run inside a signal of the timer, the request or the HLS loop:
    // the objects are stopped now and deleted once control is back in the
    // event loop.
    if (clock_) {
        clock_->stop();
        clock_->deleteLater();
        clock_ = nullptr;
    }
    playlistTask_.reset();
    if (request_) {
        request_->cancel();
        request_->deleteLater();
        request_ = nullptr;
    }

    pending_.clear();
    pendingFrames_ = 0;
    resampler_.reset();
    format_.reset();
    engine_.stop();
    // The decoder, and the demuxer it may run, are closed here on the stream
    // queue, never by the thread that drops the stream; when the run ends
    // inside the decoder's own handler, as soon as that returns (decode()).
    if (!decoding_)
        decoder_.reset();

    if (message)
        report(StreamEvent::failed(*message, worthRetrying));
}

double LiveStream::Run::silenceLimit() const
{
    double limit = silenceTimeout;
    // A healthy HLS station may deliver a whole segment at a time; the
    // playlist may not switch the watchdog off with a huge target duration.
    if (playlistTask_)
        limit = std::clamp(2 * playlistTask_->targetDuration(), silenceTimeout, longestSilence);
    return configuration_.timeoutFor(limit);
}

// --- Plain stream --------------------------------------------------------------

void LiveStream::Run::openPlain(const QUrl &url)
{
    // Only https is fetched: nothing is ever sent in plain text.
    if (url.scheme() != QLatin1String("https")) {
        finish(DisplayMessage::key(refusedKey));
        return;
    }
    // The body is taken only as fast as the audio is: the request holds the
    // server back meanwhile.
    StreamRequest::Handlers handlers;
    handlers.responded = [this](int status, const QUrl &at, const QByteArray &type) { responded(status, at, type); };
    handlers.readable = [this] { readBody(); };
    handlers.finished = [this](std::optional<StreamRequest::Failure> failure) { completed(failure); };
    const int idleTimeout = StreamConfiguration::milliseconds(configuration_.timeoutFor(requestTimeout));
    request_ = new StreamRequest(configuration_, idleTimeout, std::move(handlers), io_->context());
    request_->get(url, {{"Icy-MetaData", "0"}});
}

// The final response must have a status of 200 to 299 and come from an https
// URL; its MIME type becomes the decoder's hint.
void LiveStream::Run::responded(int status, const QUrl &url, const QByteArray &contentType)
{
    if (ended_ || accepted_)
        return;
    if (status < 200 || status > 299 || url.scheme() != QLatin1String("https")) {
        finish(DisplayMessage::key(refusedKey));
        return;
    }
    contentType_ = mimeType(QString::fromLatin1(contentType));
    accepted_ = true;
}

void LiveStream::Run::readBody(bool whole)
{
    if (ended_ || !request_ || !accepted_)
        return;
    // Slice by slice, so the read limit is checked between them; what stays
    // in the request is taken up by the tick (pullAudio).
    while (whole || wantsBody()) {
        const QByteArray chunk = request_->read(whole ? readSlice : bodySlice());
        if (chunk.isEmpty())
            return;
        receivedAudioBytes(chunk.size());
        decode(chunk);
        if (ended_ || !request_)
            return;
    }
}

double LiveStream::Run::currentCap() const
{
    // Until the first scheduling a sentence pacing keeps only the newest
    // audio it will start with.
    if (sentencePacing() && frames_ == 0)
        return segmentedSentences_ ? hlsPendingCap : delay_ + pendingMargin;
    return pendingCap;
}

bool LiveStream::Run::wantsSegment() const
{
    if (!format_ || pending_.empty())
        return true;
    // A segment is decoded whole: fetched at the cap, it would only have
    // older audio dropped for it.
    const double segment = std::max(playlistTask_ ? playlistTask_->targetDuration() : 0.0, readSliceSeconds);
    return pendingFrames_ < qint64((currentCap() - segment) * format_->sampleRate);
}

double LiveStream::Run::readLimit() const
{
    return frames_ == 0 ? std::max(delay_, minimumStartup) : pendingCap - readRoom;
}

bool LiveStream::Run::wantsBody() const
{
    if (!format_)
        return true;
    // Before the first scheduling, a drop at the cap means the start-up buffer
    // holds all it can.
    if (frames_ == 0 && droppedPending_)
        return false;
    return pendingFrames_ < qint64(readLimit() * format_->sampleRate);
}

qint64 LiveStream::Run::bodySlice() const
{
    if (!format_ || decodedFrames_ == 0)
        return readSlice;
    const double rate = format_->sampleRate;
    const double seconds = std::min(readSliceSeconds, readLimit() - double(pendingFrames_) / rate);
    // The bytes handed to the decoder so far (written on this thread only).
    const double bytesPerSecond = double(transfer_.bytes) * rate / double(decodedFrames_);
    return std::clamp(qint64(bytesPerSecond * seconds), qint64(256), readSlice);
}

void LiveStream::Run::pullAudio()
{
    if (ended_)
        return;
    if (request_ && accepted_ && request_->hasBody() && wantsBody())
        readBody();
    if (!ended_ && playlistTask_ && wantsSegment())
        playlistTask_->resume();
}

void LiveStream::Run::completed(std::optional<StreamRequest::Failure> failure)
{
    if (ended_ || !request_)
        return;
    if (accepted_) {
        // What the server sent before the end is all decoded: how the run
        // ends may depend on it.
        readBody(true);
        if (ended_)
            return;
    }
    if (!failure) {
        // A text response (an HTML page, say) that ended without a sound was
        // not audio: that is what the listener is told, not that a live
        // connection ended.
        const bool text = contentType_ && contentType_->startsWith(QLatin1String("text/"), Qt::CaseInsensitive);
        if (!firstPCMAt_ && transfer().bytes > 0 && text)
            finish(DisplayMessage::key(undecodableKey));
        else
            finish(DisplayMessage::key(connectionEndedKey));
        return;
    }
    switch (*failure) {
    case StreamRequest::Failure::refused:
    case StreamRequest::Failure::proxyRefused:
        finish(DisplayMessage::key(refusedKey));
        return;
    case StreamRequest::Failure::badResponse:
        finish(DisplayMessage::verbatim(UrlError::describe(UrlError::badServerResponse)));
        return;
    case StreamRequest::Failure::tooManyRedirects:
        finish(DisplayMessage::verbatim(UrlError::describe(UrlError::httpTooManyRedirects)));
        return;
    case StreamRequest::Failure::tooLarge:
        finish(DisplayMessage::verbatim(UrlError::describe(UrlError::dataLengthExceedsMaximum)));
        return;
    case StreamRequest::Failure::transport:
        failNetwork(DisplayMessage::verbatim(UrlError::describe(request_->transportError())));
        return;
    }
}

// --- Bytes and decoding ----------------------------------------------------------

void LiveStream::Run::receivedAudioBytes(qint64 count)
{
    const double now = uptime();
    bool first = false;
    {
        std::lock_guard guard(transferLock_);
        transfer_.bytes += count;
        if (!transfer_.firstAudio) {
            transfer_.firstAudio = now - requestedAt_;
            first = true;
        }
        transfer_.elapsed = now - requestedAt_;
    }
    if (first)
        report(StreamEvent::answered());
}

void LiveStream::Run::decode(const QByteArray &bytes)
{
    if (ended_)
        return;
    decoding_ = true;
    const std::int32_t status = decoder().appendData(bytes);
    decoding_ = false;
    if (status != 0)
        finish(DisplayMessage::key(undecodableKey));
    if (ended_)
        decoder_.reset(); // ended from inside the decoder's handler: closed now that it has returned
}

RadioDecoder &LiveStream::Run::decoder()
{
    if (!decoder_) {
        decoder_ = std::make_unique<RadioDecoder>(
            contentType_, [this](const float *samples, std::uint64_t frames, double rate, std::uint32_t channels) {
                receive(samples, frames, rate, channels);
            });
    }
    return *decoder_;
}

void LiveStream::Run::receive(const float *samples, std::uint64_t frames, double rate, std::uint32_t channels)
{
    if (ended_ || frames == 0)
        return;
    if (!format_) {
        const std::optional<AudioFormat> standard = AudioFormat::standard(rate, channels);
        if (!standard) {
            finish(DisplayMessage::key(unsupportedFormatKey));
            return;
        }
        format_ = standard;
        if (delay_ > 0)
            resampler_ = MonoResampler::make(rate, int(channels));
        QString error;
        if (!engine_.start(*standard, &error)) {
            finish(DisplayMessage::format(outputFailedFormat, error));
            return;
        }
    }
    if (rate != format_->sampleRate || int(channels) != format_->channels) {
        finish(DisplayMessage::key(formatChangedKey));
        return;
    }

    ReceivedBuffer buffer;
    buffer.samples.assign(samples, samples + frames * channels);
    buffer.frames = qint64(frames);
    const double now = uptime();
    buffer.receivedAt = now;
    lastPCM_ = now;
    if (!firstPCMAt_)
        firstPCMAt_ = now;
    pending_.push_back(std::move(buffer));
    pendingFrames_ += qint64(frames);
    decodedFrames_ += qint64(frames);

    // The newest buffer is always kept.
    const auto capFrames = qint64(currentCap() * rate);
    qint64 dropped = 0;
    while (pendingFrames_ > capFrames && pending_.size() >= 2) {
        dropped += pending_.front().frames;
        pendingFrames_ -= pending_.front().frames;
        pending_.pop_front();
        droppedPending_ = true;
    }
    if (dropped > 0) {
        std::lock_guard guard(transferLock_);
        droppedSeconds_ += double(dropped) / rate;
    }
}

// --- Playback ---------------------------------------------------------------------

void LiveStream::Run::tick()
{
    if (ended_)
        return;
    const double now = uptime();
    if (format_ && !engine_.isRunning()) {
        finish(DisplayMessage::key(outputChangedKey));
        return;
    }
    if (now - lastPCM_ > silenceLimit()) {
        // A station that never completed the secure connection has not
        // accepted it; one that did has sent nothing playable.
        finish(DisplayMessage::key(request_ && !request_->connected() ? refusedKey : silentKey));
        return;
    }
    if (!format_)
        return;

    const double rate = format_->sampleRate;
    const double target = std::max(delay_, minimumStartup);
    const bool sentence = sentencePacing();

    if (sentence && !segmentedSentences_ && frames_ == 0 && firstPCMAt_ && now - *firstPCMAt_ < sentenceFirstSchedule)
        return;
    if (!playing_ && !sentence) {
        if (double(pendingFrames_) / rate < target)
            return;
        if (!primedAt_)
            primedAt_ = now;
        if (now - *primedAt_ < shortPrimeWait)
            return;
    }

    const std::optional<AudioPlayerTime> time = engine_.playerTime();
    const double played = time ? time->seconds() : 0;

    if (!pending_.empty()) {
        if (playing_ && played > scheduledEnd_) {
            // The player ran dry: the gap does not count as played audio.
            stalledSeconds_ += played - scheduledEnd_;
            scheduledEnd_ = played;
        }
        while (target + pendingMargin > scheduledEnd_ - played) {
            if (droppedPending_) {
                // Captioning audio continues after a gap: the cutter and the
                // resampler forget what was waiting before it.
                if (resampler_) {
                    if (sentence)
                        sentences_->async([this] { builder().reset(); });
                    else
                        builder().reset();
                    resampler_->reset();
                }
                droppedPending_ = false;
            }
            ReceivedBuffer buffer = std::move(pending_.front());
            pending_.pop_front();
            pendingFrames_ -= buffer.frames;
            schedule(std::move(buffer));
            if (ended_ || pending_.empty())
                break;
        }
        if (ended_)
            return;
    }
    // Also when all that was pending went to the player: a paused request
    // says nothing more until it is read.
    pullAudio();
    if (ended_)
        return;

    if (!playing_) {
        if (sentence) {
            const bool ready = segmentedSentences_ ? scheduledEnd_ >= hlsJoinSeconds : scheduledEnd_ >= target;
            if (!ready)
                return;
            if (!primedAt_)
                primedAt_ = now;
            if (now - *primedAt_ < sentencePrimeWait)
                return;
        }
        engine_.play();
        playing_ = true;
        report(StreamEvent::playing());
        if (ended_)
            return;
    }

    if (!time)
        return;
    const double scheduled = double(frames_) / rate;
    const double position =
        std::max(0.0, std::min(played - engine_.outputLatency() - stalledSeconds_, scheduled));
    const double buffered = (scheduled - position) + double(pendingFrames_) / rate;
    report(StreamEvent::position(position, buffered));
    if (ended_)
        return;

    if ((segmentedSentences_ || pacing_.value() == CaptionPacing::Conversational) && now - lastDeadlineCheck_ >= flushInterval) {
        lastDeadlineCheck_ = now;
        sentences_->async([this, position] {
            if (ended_)
                return;
            deliver(builder().flushDue(position));
        });
    }
}

void LiveStream::Run::schedule(ReceivedBuffer buffer)
{
    const double rate = format_->sampleRate;
    scheduledEnd_ += double(buffer.frames) / rate;
    frames_ += buffer.frames;
    const double mediaEnd = double(frames_) / rate;

    AudioEngine::Completion played;
    if (timing_ && nextTimingSample_ <= mediaEnd) {
        nextTimingSample_ = mediaEnd + timingInterval;
        played = [gate = gate_, hook = timing_, mediaEnd, decodedAt = buffer.receivedAt] {
            const PlaybackSample sample{mediaEnd, decodedAt, uptime()};
            ++timingHookDepth;
            gate->call([&] { hook(sample); });
            --timingHookDepth;
        };
    }

    std::vector<float> mono;
    if (resampler_)
        mono = resampler_->convert(buffer.samples.data(), buffer.frames);
    engine_.scheduleBuffer(std::move(buffer.samples), std::move(played));
    if (mono.empty())
        return;

    if (sentencePacing()) {
        sentences_->async([this, mono = std::move(mono)] {
            if (ended_)
                return;
            deliver(builder().append(mono, false));
        });
    } else {
        std::vector<SpeechWindow> windows = builder().append(mono, false);
        if (!windows.empty())
            handOver(std::move(windows));
    }
}

WindowBuilder &LiveStream::Run::builder()
{
    if (!builder_) {
        const QString folder = Resources::directory();
        std::optional<QString> models;
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            models = folder;
        builder_ = WindowBuilder::radio(pacing_, models);
    }
    return *builder_;
}

// On the sentence queue: windows go back to the stream queue, and are dropped
// there when the run has ended.
void LiveStream::Run::deliver(std::vector<SpeechWindow> windows)
{
    if (windows.empty())
        return;
    io_->async([this, windows = std::move(windows)]() mutable {
        if (!ended_)
            handOver(std::move(windows));
    });
}

void LiveStream::Run::report(const StreamEvent &event)
{
    gate_->call([&] {
        if (event_)
            event_(event);
    });
}

void LiveStream::Run::handOver(std::vector<SpeechWindow> windows)
{
    gate_->call([&] {
        if (window_)
            window_(std::move(windows));
    });
}

// --- The stream -------------------------------------------------------------------

LiveStream::LiveStream(Parameters parameters)
    : io_(std::make_unique<SerialQueue>(QStringLiteral("app.vantuli.stream"))),
      sentences_(std::make_unique<SerialQueue>(QStringLiteral("app.vantuli.sentences"))),
      gate_(std::make_shared<Gate>()),
      run_(std::make_shared<Run>(std::move(parameters), io_.get(), sentences_.get(), gate_))
{
}

LiveStream::~LiveStream()
{
    gate_->close();
    if (!io_->isCurrent() && !sentences_->isCurrent() && timingHookDepth == 0) {
        // The usual case: end the run on its queue and wait for it, then let
        // both queues run out before the run's state goes.
        io_->sync([run = run_.get()] { run->finish(std::nullopt); });
        sentences_.reset();
        io_.reset();
        run_.reset();
        return;
    }

    // Dropped from inside a handler: the queue (or the audio completion) that
    // called it cannot wait for itself, and the handler may hold up a timing
    // sample that stopping the output would wait for. The run ends on its
    // queue as soon as the handler returns, and the queues and the state go
    // on a thread of their own.
    io_->async([run = run_.get()] { run->finish(std::nullopt); });
    struct Remains {
        std::unique_ptr<SerialQueue> sentences;
        std::unique_ptr<SerialQueue> io;
        std::shared_ptr<Run> run;
    };
    auto remains = std::make_unique<Remains>(Remains{std::move(sentences_), std::move(io_), std::move(run_)});
    std::thread([remains = std::move(remains)]() mutable {
        remains->sentences.reset();
        remains->io.reset();
        remains->run.reset();
    }).detach();
}

void LiveStream::start(const QUrl &url, float volume, const StreamConfiguration &configuration)
{
    io_->async([run = run_, url, volume, configuration] { run->begin(url, volume, configuration); });
}

void LiveStream::stop()
{
    gate_->close();
    io_->async([run = run_] { run->finish(std::nullopt); });
}

void LiveStream::setVolume(float volume)
{
    io_->async([run = run_, volume] { run->setVolume(volume); });
}

StreamTransfer LiveStream::transfer() const
{
    return run_->transfer();
}

double LiveStream::droppedSeconds() const
{
    return run_->droppedSeconds();
}

std::optional<QString> LiveStream::mimeType(const QString &contentType)
{
    const QString type = contentType.section(QLatin1Char(';'), 0, 0).trimmed();
    if (type.isEmpty())
        return std::nullopt;
    return type;
}

bool LiveStream::isPlaylist(const QUrl &url)
{
    return QFileInfo(url.path()).suffix().toLower() == QLatin1String("m3u8");
}

std::unique_ptr<PlaybackStream> makeLiveStream(PlaybackStream::Parameters parameters)
{
    return std::make_unique<LiveStream>(std::move(parameters));
}

} // namespace vantuli
