#include "platform/AudioEngine.h"

#include "platform/AudioOutput.h"
#include "platform/AudioRenderQueue.h"
#include "platform/MainThread.h"
#include "platform/NullAudioOutput.h"
#include "platform/QtAudioOutput.h"
#include "platform/SerialQueue.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

namespace vantuli {

namespace {
constexpr int DevicePollIntervalMs = 1000;

// The null output is forced by the choice, or by VANTULI_AUDIO=null for the
// automatic choice; otherwise the system's devices decide.
bool consultsSystemDevices(AudioEngine::OutputChoice choice)
{
    if (choice == AudioEngine::OutputChoice::Null)
        return false;
    return choice == AudioEngine::OutputChoice::Device || qgetenv("VANTULI_AUDIO") != "null";
}
} // namespace

std::optional<AudioFormat> AudioFormat::standard(double sampleRate, std::uint32_t channels)
{
    if (!std::isfinite(sampleRate) || sampleRate < 1000 || sampleRate > 384000
        || sampleRate != std::floor(sampleRate))
        return std::nullopt;
    if (channels < 1 || channels > 8)
        return std::nullopt;
    return AudioFormat{sampleRate, static_cast<int>(channels)};
}

// Locks, in the order they may nest: control (start, stop, reset one at a time)
// is taken before lock; lock is only ever held for short bookkeeping and never
// while waiting for a thread. completionGate is held by the completion thread
// while it runs a completion or an output report; stop and reset take it after
// releasing control, to wait for a completion that is running.
struct AudioEngine::Private final : AudioOutputHost {
    explicit Private(OutputChoice choice) : choice(choice) {}

    // AudioOutputHost, on the audio thread.
    void renderOutput(float *out, std::int64_t frames) override;
    void outputPresented(std::int64_t outputPosition) override;
    void outputLost() override;

    void onAudioThread(const std::function<void()> &work);
    // Ends the current run: drops its audio, stops the output. Under control.
    std::vector<Completion> halt();
    bool open(const AudioFormat &format, QString *error); // audio thread
    void close();                                         // audio thread
    void deliver(std::uint64_t generationOfAudio, std::vector<Completion> due);
    void reportOutputChange(std::uint64_t ofRun);
    void waitForCompletions();

    const OutputChoice choice;
    std::unique_ptr<SerialQueue> audio = std::make_unique<SerialQueue>(QStringLiteral("app.vantuli.audio"));
    std::unique_ptr<SerialQueue> completions =
        std::make_unique<SerialQueue>(QStringLiteral("app.vantuli.audio.completions"));

    std::mutex control;
    std::mutex completionGate;
    mutable std::mutex lock;
    // Guarded by lock:
    std::unique_ptr<AudioRenderQueue> queue;
    std::optional<AudioFormat> format;
    OutputKind kind = OutputKind::None;
    double latency = 0;
    float volume = 1.0f;
    bool running = false;
    std::uint64_t generation = 0; // advances whenever scheduled audio is dropped
    std::uint64_t run = 0;        // advances with every start and stop
    std::function<void()> outputChanged;

    // Audio thread only:
    std::unique_ptr<AudioOutput> output;
    std::unique_ptr<QMediaDevices> devices;
    std::unique_ptr<QTimer> devicePoll;
    QByteArray defaultOutputId;
};

void AudioEngine::Private::renderOutput(float *out, std::int64_t frames)
{
    std::lock_guard guard(lock);
    // An output only runs while the queue of its run exists, made with the same format.
    if (queue)
        queue->render(out, frames);
}

void AudioEngine::Private::outputPresented(std::int64_t outputPosition)
{
    std::vector<Completion> due;
    std::uint64_t ofGeneration = 0;
    {
        std::lock_guard guard(lock);
        if (!queue)
            return;
        due = queue->takePlayed(outputPosition);
        ofGeneration = generation;
    }
    if (!due.empty())
        deliver(ofGeneration, std::move(due));
}

void AudioEngine::Private::outputLost()
{
    std::vector<Completion> dropped;
    std::uint64_t ofRun = 0;
    {
        std::lock_guard guard(lock);
        if (!running)
            return;
        running = false;
        kind = OutputKind::None;
        latency = 0;
        ++generation;
        if (queue)
            dropped = queue->clear();
        ofRun = run;
    }
    dropped.clear();
    // The output may be inside one of its own signals: close it from the event loop,
    // unless a stop or a new start has dealt with it by then.
    audio->async([this, ofRun] {
        bool same = false;
        {
            std::lock_guard guard(lock);
            same = run == ofRun;
        }
        if (same)
            close();
    });
    reportOutputChange(ofRun);
}

void AudioEngine::Private::onAudioThread(const std::function<void()> &work)
{
    if (audio->isCurrent())
        work();
    else
        audio->sync(work);
}

std::vector<AudioEngine::Completion> AudioEngine::Private::halt()
{
    std::vector<Completion> dropped;
    {
        std::lock_guard guard(lock);
        ++run;
        ++generation;
        running = false;
        kind = OutputKind::None;
        latency = 0;
        if (queue)
            dropped = queue->clear();
    }
    onAudioThread([this] { close(); });
    return dropped;
}

bool AudioEngine::Private::open(const AudioFormat &fmt, QString *error)
{
    OutputKind chosen = OutputKind::Null;
    QAudioDevice device;
    const bool consultSystem = consultsSystemDevices(choice);
    if (consultSystem) {
        device = QMediaDevices::defaultAudioOutput();
        if (!device.isNull()) {
            chosen = OutputKind::Device;
        } else if (choice == OutputChoice::Device) {
            if (error)
                *error = QStringLiteral("No audio output device is available.");
            return false;
        }
    }

    std::unique_ptr<AudioOutput> made;
    if (chosen == OutputKind::Device)
        made = std::make_unique<QtAudioOutput>(*this, device, fmt.sampleRate, fmt.channels);
    else
        made = std::make_unique<NullAudioOutput>(*this, fmt.sampleRate, fmt.channels);
    if (!made->start(error))
        return false;
    output = std::move(made);

    if (consultSystem) {
        // A different default output (or one appearing where there was none)
        // ends the run, as the audio keeps going to the device it started on.
        // Some Qt versions do not signal every change of the device list, so
        // the default is also compared once a second.
        defaultOutputId = device.id();
        const auto compare = [this] {
            if (QMediaDevices::defaultAudioOutput().id() != defaultOutputId)
                outputLost();
        };
        devices = std::make_unique<QMediaDevices>();
        QObject::connect(devices.get(), &QMediaDevices::audioOutputsChanged, devices.get(), compare);
        devicePoll = std::make_unique<QTimer>();
        devicePoll->setInterval(DevicePollIntervalMs);
        QObject::connect(devicePoll.get(), &QTimer::timeout, devicePoll.get(), compare);
        devicePoll->start();
    }

    std::lock_guard guard(lock);
    running = true;
    kind = chosen;
    latency = output->latency();
    return true;
}

void AudioEngine::Private::close()
{
    devicePoll.reset();
    devices.reset();
    if (output) {
        output->stop();
        output.reset();
    }
}

void AudioEngine::Private::deliver(std::uint64_t ofGeneration, std::vector<Completion> due)
{
    completions->async([this, ofGeneration, due = std::move(due)] {
        std::lock_guard gate(completionGate);
        for (const Completion &completion : due) {
            {
                std::lock_guard guard(lock);
                if (generation != ofGeneration)
                    return;
            }
            completion();
        }
    });
}

void AudioEngine::Private::reportOutputChange(std::uint64_t ofRun)
{
    completions->async([this, ofRun] {
        std::lock_guard gate(completionGate);
        std::function<void()> handler;
        {
            std::lock_guard guard(lock);
            if (run != ofRun)
                return;
            handler = outputChanged;
        }
        if (handler)
            handler();
    });
}

void AudioEngine::Private::waitForCompletions()
{
    // From inside a completion the caller is the completion that runs; the
    // generation check keeps every later one from running.
    if (completions->isCurrent())
        return;
    std::lock_guard gate(completionGate);
}

AudioEngine::AudioEngine(OutputChoice choice) : d(std::make_unique<Private>(choice))
{
    // Qt's registry of audio devices belongs to the thread that first asks for
    // it; let that be the main thread rather than this engine's audio thread,
    // which ends with the engine.
    if (consultsSystemDevices(choice) && MainThread::isCurrent())
        QMediaDevices::audioOutputs();
}

AudioEngine::~AudioEngine()
{
    stop();
    // Both threads run what is still queued (all of it stale now) and end.
    d->completions.reset();
    d->audio.reset();
}

bool AudioEngine::start(const AudioFormat &requested, QString *error)
{
    const auto fmt = AudioFormat::standard(requested.sampleRate,
                                           requested.channels < 0 ? 0u : static_cast<std::uint32_t>(requested.channels));
    if (!fmt) {
        if (error) {
            *error = QStringLiteral("Unsupported audio format: %1 Hz with %2 channels.")
                         .arg(requested.sampleRate)
                         .arg(requested.channels);
        }
        return false;
    }
    std::vector<Completion> dropped;
    bool ok = false;
    {
        std::lock_guard control(d->control);
        dropped = d->halt();
        {
            std::lock_guard guard(d->lock);
            d->queue = std::make_unique<AudioRenderQueue>(fmt->channels);
            d->queue->setVolume(d->volume);
            d->format = *fmt;
        }
        QString failure;
        d->onAudioThread([&] { ok = d->open(*fmt, &failure); });
        if (!ok && error)
            *error = failure;
    }
    dropped.clear();
    d->waitForCompletions();
    return ok;
}

void AudioEngine::stop()
{
    std::vector<Completion> dropped;
    {
        std::lock_guard control(d->control);
        dropped = d->halt();
    }
    dropped.clear();
    d->waitForCompletions();
}

void AudioEngine::reset()
{
    std::vector<Completion> dropped;
    {
        std::lock_guard control(d->control);
        std::lock_guard guard(d->lock);
        ++d->generation;
        if (d->queue)
            dropped = d->queue->clear();
    }
    dropped.clear();
    d->waitForCompletions();
}

bool AudioEngine::isRunning() const
{
    std::lock_guard guard(d->lock);
    return d->running;
}

std::optional<AudioFormat> AudioEngine::format() const
{
    std::lock_guard guard(d->lock);
    return d->format;
}

AudioEngine::OutputKind AudioEngine::outputKind() const
{
    std::lock_guard guard(d->lock);
    return d->kind;
}

double AudioEngine::outputLatency() const
{
    std::lock_guard guard(d->lock);
    return d->latency;
}

bool AudioEngine::play()
{
    std::lock_guard guard(d->lock);
    if (!d->running || !d->queue)
        return false;
    d->queue->setPlaying(true);
    return true;
}

bool AudioEngine::isPlaying() const
{
    std::lock_guard guard(d->lock);
    return d->running && d->queue && d->queue->playing();
}

void AudioEngine::setVolume(float volume)
{
    if (std::isnan(volume))
        return;
    std::lock_guard guard(d->lock);
    d->volume = std::clamp(volume, 0.0f, 1.0f);
    if (d->queue)
        d->queue->setVolume(d->volume);
}

float AudioEngine::volume() const
{
    std::lock_guard guard(d->lock);
    return d->volume;
}

bool AudioEngine::scheduleBuffer(std::vector<float> samples, Completion completion)
{
    {
        std::lock_guard guard(d->lock);
        if (d->running && d->queue && !samples.empty()
            && samples.size() % static_cast<std::size_t>(d->queue->channels()) == 0) {
            d->queue->enqueue(std::move(samples), std::move(completion));
            return true;
        }
    }
    return false; // the completion is released here, outside the lock
}

std::optional<AudioPlayerTime> AudioEngine::playerTime() const
{
    std::lock_guard guard(d->lock);
    if (!d->running || !d->queue || !d->queue->playing() || !d->format)
        return std::nullopt;
    return AudioPlayerTime{d->queue->sampleTime(), d->format->sampleRate};
}

void AudioEngine::setOutputChangedHandler(std::function<void()> handler)
{
    std::function<void()> previous;
    {
        std::lock_guard guard(d->lock);
        previous = std::exchange(d->outputChanged, std::move(handler));
    }
}

} // namespace vantuli
