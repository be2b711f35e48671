#pragma once

#include <QtGlobal>

#include <optional>

namespace vantuli {

// Connection figures of one listening run. Times are seconds of the uptime
// clock counted from the creation of the stream. The stream writes it under
// its transfer lock on every received block; the store reads a copy under it.
struct StreamTransfer {
    qint64 bytes = 0;
    std::optional<double> firstAudio; // set once, when the first bytes arrive
    double elapsed = 0;               // to the most recently received bytes
};

} // namespace vantuli
