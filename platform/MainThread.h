#pragma once

#include <functional>

namespace vantuli::MainThread {

// Queues the work on the application's main thread (first in, first out).
// The application object outlives every caller, so nothing is lost when the
// poster goes away; work that needs its poster checks a QPointer or a generation.
void post(std::function<void()> work);

bool isCurrent();

} // namespace vantuli::MainThread
