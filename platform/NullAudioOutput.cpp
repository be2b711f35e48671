#include "platform/NullAudioOutput.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace vantuli {

namespace {
// Twice per 0.1 s stream tick: the player's time (and so the position the
// stream reports) is never more than one step behind, without waking the
// thread a hundred times a second.
constexpr int PumpIntervalMs = 50;
// At most this much audio is taken in one step; a longer gap (a suspended
// machine, a starved thread) is skipped rather than played back in a rush.
constexpr double LongestStepSeconds = 0.1;
} // namespace

NullAudioOutput::NullAudioOutput(AudioOutputHost &host, double sampleRate, int channels)
    : host_(host), sampleRate_(sampleRate), channels_(channels)
{
}

NullAudioOutput::~NullAudioOutput()
{
    stop();
}

bool NullAudioOutput::start(QString *)
{
    stop();
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(PumpIntervalMs);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { pump(); });
    clock_.start();
    anchorNanos_ = 0;
    anchorFrames_ = 0;
    rendered_ = 0;
    timer_->start();
    return true;
}

void NullAudioOutput::stop()
{
    if (timer_) {
        timer_->stop();
        timer_.reset();
    }
}

void NullAudioOutput::pump()
{
    const qint64 now = clock_.nsecsElapsed();
    const double seconds = static_cast<double>(now - anchorNanos_) / 1e9;
    const auto longest = static_cast<std::int64_t>(std::ceil(LongestStepSeconds * sampleRate_));
    std::int64_t due = anchorFrames_ + static_cast<std::int64_t>(seconds * sampleRate_) - rendered_;
    if (due <= 0)
        return;
    if (due > longest) {
        due = longest;
        anchorNanos_ = now;
        anchorFrames_ = rendered_ + due;
    }
    scratch_.resize(static_cast<std::size_t>(due * channels_));
    host_.renderOutput(scratch_.data(), due);
    rendered_ += due;
    host_.outputPresented(rendered_);
}

} // namespace vantuli
