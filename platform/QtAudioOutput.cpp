#include "platform/QtAudioOutput.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantuli {

namespace {
// How much audio the sink keeps queued ahead of the speaker.
constexpr double SinkBufferSeconds = 0.2;
// The sink keeps itself fed; this timer only turns its processed time into
// presented positions (completions), twice per 0.1 s stream tick.
constexpr int PresentedIntervalMs = 50;

QString describe(QAudio::Error error)
{
    switch (error) {
    case QAudio::NoError:
        return QStringLiteral("no error");
    case QAudio::OpenError:
        return QStringLiteral("the device could not be opened");
    case QAudio::IOError:
        return QStringLiteral("the device failed while writing audio");
    case QAudio::UnderrunError:
        return QStringLiteral("the device ran out of audio");
    case QAudio::FatalError:
        return QStringLiteral("the audio system is not available");
    }
    return QStringLiteral("unknown error");
}
} // namespace

// The sink's source in pull mode: always answers as much audio as asked for
// (whole frames), rendered by the host, so the sink never goes idle.
class AudioPullDevice : public QIODevice {
public:
    AudioPullDevice(AudioOutputHost &host, int channels) : host_(host), channels_(channels) {}

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return std::numeric_limits<int>::max() + QIODevice::bytesAvailable();
    }
    std::int64_t renderedFrames() const { return rendered_; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 bytesPerFrame = static_cast<qint64>(sizeof(float)) * channels_;
        const qint64 frames = maxSize / bytesPerFrame;
        if (frames <= 0)
            return 0;
        // The sink's buffer comes from new[], so it is aligned for floats.
        host_.renderOutput(reinterpret_cast<float *>(data), frames);
        rendered_ += frames;
        return frames * bytesPerFrame;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    AudioOutputHost &host_;
    int channels_;
    std::int64_t rendered_ = 0;
};

QtAudioOutput::QtAudioOutput(AudioOutputHost &host, QAudioDevice device, double sampleRate, int channels)
    : host_(host), device_(std::move(device)), sampleRate_(sampleRate), channels_(channels)
{
}

QtAudioOutput::~QtAudioOutput()
{
    stop();
}

bool QtAudioOutput::start(QString *error)
{
    stop();
    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::Float);
    format.setSampleRate(static_cast<int>(sampleRate_));
    format.setChannelCount(channels_);
    const QString name = device_.description();
    if (!device_.isFormatSupported(format)) {
        if (error) {
            *error = QStringLiteral("The audio output \"%1\" does not play %2 Hz with %3 channels.")
                         .arg(name)
                         .arg(static_cast<int>(sampleRate_))
                         .arg(channels_);
        }
        return false;
    }

    source_ = std::make_unique<AudioPullDevice>(host_, channels_);
    source_->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    sink_ = std::make_unique<QAudioSink>(device_, format);
    sink_->setBufferSize(static_cast<qsizetype>(std::ceil(SinkBufferSeconds * sampleRate_)) * channels_
                         * static_cast<qsizetype>(sizeof(float)));
    sink_->start(source_.get());
    if (sink_->state() == QAudio::StoppedState || sink_->error() != QAudio::NoError) {
        if (error) {
            *error = QStringLiteral("The audio output \"%1\" could not be started: %2.")
                         .arg(name, describe(sink_->error()));
        }
        sink_.reset();
        source_.reset();
        return false;
    }
    const qsizetype bytes = sink_->bufferSize();
    latency_ = bytes > 0 ? static_cast<double>(bytes) / (sizeof(float) * channels_ * sampleRate_)
                         : SinkBufferSeconds;

    // A sink that stops with an error lost its device (or the audio system).
    QObject::connect(sink_.get(), &QAudioSink::stateChanged, sink_.get(), [this](QAudio::State state) {
        if (state == QAudio::StoppedState && sink_ && sink_->error() != QAudio::NoError)
            host_.outputLost();
    });

    presented_ = 0;
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(PresentedIntervalMs);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { reportPresented(); });
    timer_->start();
    return true;
}

void QtAudioOutput::stop()
{
    if (timer_) {
        timer_->stop();
        timer_.reset();
    }
    if (sink_) {
        QObject::disconnect(sink_.get(), nullptr, nullptr, nullptr);
        sink_->stop();
        sink_.reset();
    }
    source_.reset();
}

// The sink reports the time of audio it has processed: what the audio system
// has taken from its buffer, less the device's latency. That is the played-back
// position. It is bounded by what was rendered, and, should the report stall,
// it is assumed to lag the rendering by at most twice the latency and a margin.
void QtAudioOutput::reportPresented()
{
    if (!sink_ || !source_)
        return;
    const std::int64_t rendered = source_->renderedFrames();
    const auto processed = static_cast<std::int64_t>(
        static_cast<double>(sink_->processedUSecs()) * sampleRate_ / 1e6);
    const auto slowest = rendered - static_cast<std::int64_t>((2 * latency_ + 0.1) * sampleRate_);
    const std::int64_t presented = std::clamp(std::max(processed, slowest), presented_, rendered);
    if (presented == presented_)
        return;
    presented_ = presented;
    host_.outputPresented(presented);
}

} // namespace vantuli
