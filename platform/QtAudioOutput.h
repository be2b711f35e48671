#pragma once

#include "platform/AudioOutput.h"

#include <QAudioDevice>

#include <memory>

class QAudioSink;
class QTimer;

namespace vantuli {

class AudioPullDevice;

// Plays through a Qt Multimedia audio sink in pull mode: the sink reads from a
// device of ours that renders the host's audio, and silence when nothing is
// scheduled, so the sink never runs dry and stays active. A timer turns the
// sink's processed time into presented positions for the host.
class QtAudioOutput : public AudioOutput {
public:
    QtAudioOutput(AudioOutputHost &host, QAudioDevice device, double sampleRate, int channels);
    ~QtAudioOutput() override;

    bool start(QString *error) override;
    void stop() override;
    double latency() const override { return latency_; }

private:
    void reportPresented();

    AudioOutputHost &host_;
    QAudioDevice device_;
    double sampleRate_;
    int channels_;
    double latency_ = 0;
    std::int64_t presented_ = 0;
    std::unique_ptr<AudioPullDevice> source_;
    std::unique_ptr<QAudioSink> sink_;
    std::unique_ptr<QTimer> timer_;
};

} // namespace vantuli
