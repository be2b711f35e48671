#pragma once

#include <QtGlobal>

#include <vector>

namespace vantuli {

// One stretch of recognition audio (16 kHz mono) and its place on the run's
// sample clock. `offset` is the absolute index of the first sample.
struct SpeechWindow { qint64 offset = 0; std::vector<float> samples; };

} // namespace vantuli
