#pragma once

#include "records/Date.h"

#include <functional>
#include <memory>

namespace vantuli {

// The store's sense of time: the wall clock for dates it records and the
// uptime clock. Tests inject a clock they move by hand.
class StoreClock {
public:
    virtual ~StoreClock() = default;
    virtual Date now() const = 0;
    // Seconds of the system's uptime clock.
    virtual double uptime() const = 0;

    static std::shared_ptr<StoreClock> system();
};

// A pending timer; cancelling (or dropping the handle) keeps it from firing again.
class StoreTimer {
public:
    virtual ~StoreTimer() = default;
    virtual void cancel() = 0;
};

// The store's waits: reconnects, the sleep timer and the schedule tick. All
// work runs on the main thread. The system timers count their waits on the
// boot-time clock, so a wait that spans a system suspend ends on time.
// Tests inject timers they fire by hand.
class StoreTimers {
public:
    virtual ~StoreTimers() = default;
    // Runs `work` once, `seconds` from now.
    virtual std::unique_ptr<StoreTimer> after(double seconds, std::function<void()> work) = 0;
    // Runs `work` every `seconds`, the first time one interval from now.
    virtual std::unique_ptr<StoreTimer> every(double seconds, std::function<void()> work) = 0;

    static std::shared_ptr<StoreTimers> system();
};

} // namespace vantuli
