#pragma once

// Fakes for driving RadioStore without a network, a model or real waits: a
// scripted stream that talks from its own thread, timers fired by hand, a
// settable clock, a recording media session and a recogniser that answers
// with canned captions.

#include "captioning/LocalASR.h"
#include "captioning/RadioRecognizer.h"
#include "platform/MainThread.h"
#include "platform/SerialQueue.h"
#include "platform/SettingsStore.h"
#include "store/MediaSession.h"
#include "store/RadioStore.h"
#include "store/StoreTime.h"
#include "streaming/PlaybackStream.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <ostream>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// Readable QString values in test failures.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace vantuli::test {

class FakeClock final : public StoreClock {
public:
    Date now() const override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }
    double uptime() const override
    {
        std::lock_guard lock(mutex_);
        return uptime_;
    }
    void set(Date date)
    {
        std::lock_guard lock(mutex_);
        now_ = date;
    }
    void advance(double seconds)
    {
        std::lock_guard lock(mutex_);
        now_.secondsSince1970 += seconds;
        uptime_ += seconds;
    }

private:
    mutable std::mutex mutex_;
    Date now_{1'800'000'000.0};
    double uptime_ = 1000;
};

// Timers on a fake time line: nothing fires until advance() passes its due time.
class FakeTimers final : public StoreTimers {
public:
    struct Entry {
        double due = 0;
        double interval = 0; // 0: one-shot
        double asked = 0;
        std::function<void()> work;
        bool cancelled = false;
    };

    std::unique_ptr<StoreTimer> after(double seconds, std::function<void()> work) override
    {
        return add(seconds, 0, std::move(work));
    }
    std::unique_ptr<StoreTimer> every(double seconds, std::function<void()> work) override
    {
        return add(seconds, seconds, std::move(work));
    }

    // Moves the time line forward, firing what falls due, earliest first.
    void advance(double seconds)
    {
        const double end = now_ + seconds;
        for (;;) {
            std::shared_ptr<Entry> next;
            for (const auto &entry : entries_)
                if (!entry->cancelled && entry->due <= end && (!next || entry->due < next->due))
                    next = entry;
            if (!next)
                break;
            now_ = next->due;
            if (next->interval > 0)
                next->due += next->interval;
            else
                next->cancelled = true;
            auto work = next->work;
            work();
        }
        now_ = end;
        std::erase_if(entries_, [](const auto &entry) { return entry->cancelled; });
    }

    // The waits asked for by one-shot timers still pending.
    std::vector<double> pendingWaits() const
    {
        std::vector<double> waits;
        for (const auto &entry : entries_)
            if (!entry->cancelled && entry->interval == 0)
                waits.push_back(entry->asked);
        return waits;
    }
    size_t pendingRepeating() const
    {
        size_t count = 0;
        for (const auto &entry : entries_)
            count += !entry->cancelled && entry->interval > 0;
        return count;
    }
    // Every one-shot wait ever asked for, in order.
    const std::vector<double> &askedWaits() const { return asked_; }

private:
    class Handle final : public StoreTimer {
    public:
        explicit Handle(std::weak_ptr<Entry> entry) : entry_(std::move(entry)) {}
        ~Handle() override { cancel(); }
        void cancel() override
        {
            if (auto entry = entry_.lock())
                entry->cancelled = true;
        }

    private:
        std::weak_ptr<Entry> entry_;
    };

    std::unique_ptr<StoreTimer> add(double seconds, double interval, std::function<void()> work)
    {
        auto entry = std::make_shared<Entry>();
        entry->due = now_ + seconds;
        entry->interval = interval;
        entry->asked = seconds;
        entry->work = std::move(work);
        entries_.push_back(entry);
        if (interval == 0)
            asked_.push_back(seconds);
        return std::make_unique<Handle>(entry);
    }

    double now_ = 0;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<double> asked_;
};

class RecordingMediaSession final : public MediaSession {
public:
    qint64 addTarget(Command command, Handler handler) override
    {
        const qint64 token = ++lastToken;
        targets.push_back({command, token, std::move(handler)});
        return token;
    }
    void removeTarget(Command command, qint64 token) override
    {
        removed.push_back({command, token});
        std::erase_if(targets, [&](const Target &t) { return t.command == command && t.token == token; });
    }
    void setNowPlaying(const std::optional<NowPlaying> &info) override { nowPlaying.push_back(info); }
    void setPlaybackState(PlaybackState state) override { states.push_back(state); }

    struct Target {
        Command command;
        qint64 token;
        Handler handler;
    };
    qint64 lastToken = 0;
    std::vector<Target> targets;
    std::vector<std::pair<Command, qint64>> removed;
    std::vector<std::optional<NowPlaying>> nowPlaying;
    std::vector<PlaybackState> states;
};

// One run's stream as the test drives it. It outlives the stream object the
// store owns, so a test can still send events of a run the store has ended.
class StreamScript {
public:
    StreamScript(PlaybackStream::Parameters parameters, SerialQueue &queue)
        : parameters(std::move(parameters)), queue_(queue) {}

    const PlaybackStream::Parameters parameters;

    // Sends an event from the stream's queue, as the live stream does.
    void send(const StreamEvent &event)
    {
        queue_.async([handler = parameters.event, event] { handler(event); });
    }
    void position(double played, double buffered = 0) { send(StreamEvent::position(played, buffered)); }
    void answered() { send(StreamEvent::answered()); }
    void playing() { send(StreamEvent::playing()); }
    void fail(const QString &text, bool worthRetrying = true)
    {
        send(StreamEvent::failed(DisplayMessage::verbatim(text), worthRetrying));
    }
    // Hands speech windows over from the stream's queue.
    void windows(std::vector<SpeechWindow> windows)
    {
        queue_.async([handler = parameters.window, windows = std::move(windows)] { handler(windows); });
    }

    void setTransfer(const StreamTransfer &transfer)
    {
        std::lock_guard lock(mutex_);
        transfer_ = transfer;
    }
    StreamTransfer transfer() const
    {
        std::lock_guard lock(mutex_);
        return transfer_;
    }

    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    QUrl url;
    std::vector<float> volumes; // the start volume, then every change

private:
    SerialQueue &queue_;
    mutable std::mutex mutex_;
    StreamTransfer transfer_;
};

class ScriptedStream final : public PlaybackStream {
public:
    explicit ScriptedStream(std::shared_ptr<StreamScript> script) : script_(std::move(script)) {}
    void start(const QUrl &url, float volume, const StreamConfiguration &) override
    {
        script_->url = url;
        script_->volumes.push_back(volume);
        script_->started = true;
    }
    void stop() override { script_->stopped = true; }
    void setVolume(float volume) override { script_->volumes.push_back(volume); }
    StreamTransfer transfer() const override { return script_->transfer(); }

private:
    std::shared_ptr<StreamScript> script_;
};

// Makes scripted streams and keeps every script, in order of creation.
class StreamFarm {
public:
    StreamFactory factory()
    {
        return [this](PlaybackStream::Parameters parameters) -> std::unique_ptr<PlaybackStream> {
            auto script = std::make_shared<StreamScript>(std::move(parameters), queue_);
            scripts.push_back(script);
            return std::make_unique<ScriptedStream>(script);
        };
    }
    StreamScript &last() { return *scripts.back(); }
    // Waits until everything sent so far has reached the main thread and ran there.
    void settle()
    {
        queue_.sync([] {});
        bool done = false;
        MainThread::post([&done] { done = true; });
        waitUntil([&done] { return done; });
    }

    std::vector<std::shared_ptr<StreamScript>> scripts;

private:
    SerialQueue queue_{QStringLiteral("test.stream")};
};

// A recogniser that answers one segment per window (the whole window) with
// the language it was asked for, and can be held to build a backlog.
class CannedRecognizer final : public SpeechRecognizer {
public:
    struct Probe {
        std::mutex mutex;
        std::condition_variable changed;
        bool held = false;
        int calls = 0;
        std::vector<QString> languages;

        void hold()
        {
            std::lock_guard lock(mutex);
            held = true;
        }
        void release()
        {
            {
                std::lock_guard lock(mutex);
                held = false;
            }
            changed.notify_all();
        }
        int callCount()
        {
            std::lock_guard lock(mutex);
            return calls;
        }
    };

    explicit CannedRecognizer(std::shared_ptr<Probe> probe) : probe_(std::move(probe)) {}

    std::vector<RecognizedSegment> segmentsForSamples(const float *, qsizetype count, const QString &language) override
    {
        std::unique_lock lock(probe_->mutex);
        probe_->calls++;
        probe_->languages.push_back(language);
        probe_->changed.wait(lock, [this] { return !probe_->held; });
        return {RecognizedSegment{QStringLiteral("words"), 0, double(count) / 16000.0}};
    }

private:
    std::shared_ptr<Probe> probe_;
};

// A recognition service over the canned recogniser; `modelLoads` false makes
// every model load fail.
inline std::shared_ptr<LocalASR> makeCannedASR(const std::shared_ptr<CannedRecognizer::Probe> &probe,
                                               bool modelLoads = true)
{
    const QString modelPath = temporaryFolder() + QStringLiteral("/model.bin");
    QFile file(modelPath);
    if (file.open(QIODevice::WriteOnly))
        file.write("model");
    return LocalASR::create(60, modelPath, [probe, modelLoads](const QString &) -> std::unique_ptr<SpeechRecognizer> {
        if (!modelLoads)
            return nullptr;
        return std::make_unique<CannedRecognizer>(probe);
    });
}

// A window of `seconds` of audio starting at `start` seconds of the run's clock.
inline SpeechWindow speechWindow(double start, double seconds = 1)
{
    return SpeechWindow{qint64(start * 16000), std::vector<float>(size_t(seconds * 16000), 0.1f)};
}

inline Station station(const QString &id, const QString &language = QStringLiteral("zh"),
                       const QString &streamUrl = {})
{
    Station s;
    s.id = id;
    s.name = QStringLiteral("Station ") + id;
    s.country = QStringLiteral("CN");
    s.frequency = QStringLiteral("FM 100");
    s.language = language;
    s.website = QStringLiteral("https://example.org/") + id;
    s.path = QStringLiteral("/") + id;
    s.streamUrl = streamUrl.isEmpty() ? QStringLiteral("https://radio.example.org/") + id : streamUrl;
    return s;
}

// Writes a catalog file of the given stations; answers its path.
inline QString writeCatalog(const std::vector<Station> &stations)
{
    QJsonArray array;
    for (const Station &s : stations)
        array.append(s.toJson());
    static int counter = 0;
    const QString path = temporaryFolder() + QStringLiteral("/catalog-%1.json").arg(++counter);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(array).toJson());
    return path;
}

} // namespace vantuli::test
