#pragma once

#include <QObject>

#include <functional>

namespace vantuli {

// Coalesces change notifications: any number of schedule() calls within one
// turn of the event loop give one call of the refresh function.
class Refresher : public QObject {
    Q_OBJECT
public:
    Refresher(std::function<void()> refresh, QObject *parent);

    void schedule();
    bool pending() const { return pending_; }
    // Runs a pending refresh now.
    void flush();

private:
    std::function<void()> refresh_;
    bool pending_ = false;
};

} // namespace vantuli
