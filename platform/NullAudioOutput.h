#pragma once

#include "platform/AudioOutput.h"

#include <QElapsedTimer>

#include <memory>
#include <vector>

class QTimer;

namespace vantuli {

// An output without a device: it takes audio from the host at real time, on
// the thread that started it, and throws it away. Every rendered frame counts
// as presented at once, so its latency is 0.
class NullAudioOutput : public AudioOutput {
public:
    NullAudioOutput(AudioOutputHost &host, double sampleRate, int channels);
    ~NullAudioOutput() override;

    bool start(QString *error) override;
    void stop() override;
    double latency() const override { return 0; }

private:
    void pump();

    AudioOutputHost &host_;
    double sampleRate_;
    int channels_;
    std::unique_ptr<QTimer> timer_;
    QElapsedTimer clock_;
    // Real time is measured from an anchor; when the thread falls far behind,
    // the anchor moves so that the output does not race to catch up.
    qint64 anchorNanos_ = 0;
    std::int64_t anchorFrames_ = 0;
    std::int64_t rendered_ = 0;
    std::vector<float> scratch_;
};

} // namespace vantuli
