#pragma once

#include <QString>

#include <cstdint>

namespace vantuli {

// What an output asks of the engine. Every call comes on the engine's audio thread.
class AudioOutputHost {
public:
    virtual ~AudioOutputHost() = default;
    // Fills `frames` interleaved float frames at the engine's format.
    virtual void renderOutput(float *out, std::int64_t frames) = 0;
    // The output has presented every frame before `outputPosition`
    // (counted over everything rendered since the output started).
    virtual void outputPresented(std::int64_t outputPosition) = 0;
    // The output stopped by itself: its device went away or the system's
    // default output changed.
    virtual void outputLost() = 0;
};

// One way audio leaves the engine. Made, started, stopped and destroyed on the
// engine's audio thread, which runs a Qt event loop.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Starts pulling audio from the host; answers false with a description on failure.
    virtual bool start(QString *error) = 0;
    // Stops at once: after it returns the host is not called again.
    virtual void stop() = 0;
    // Seconds from the moment a frame is rendered until it is heard.
    virtual double latency() const = 0;
};

} // namespace vantuli
