#include "store/StoreTime.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace vantuli {

namespace {

class SystemClock final : public StoreClock {
public:
    Date now() const override { return Date::now(); }
    double uptime() const override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    }
};

// A one-shot wait on the boot-time clock, which keeps counting while the
// system is suspended. Falls back to a plain timer when the kernel has no
// timer descriptors.
class BootTimer final : public StoreTimer {
public:
    BootTimer(double seconds, std::function<void()> work) : work_(std::move(work))
    {
        fd_ = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ >= 0) {
            const double wait = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1.0e9) : 1.0e9;
            itimerspec deadline{};
            deadline.it_value.tv_sec = static_cast<time_t>(wait);
            deadline.it_value.tv_nsec = static_cast<long>((wait - std::floor(wait)) * 1e9);
            if (deadline.it_value.tv_sec == 0 && deadline.it_value.tv_nsec == 0)
                deadline.it_value.tv_nsec = 1; // zero would disarm the timer
            if (::timerfd_settime(fd_, 0, &deadline, nullptr) == 0) {
                notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
                QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { fire(); });
                return;
            }
            ::close(fd_);
            fd_ = -1;
        }
        fallback_ = new QTimer;
        fallback_->setSingleShot(true);
        fallback_->setTimerType(Qt::PreciseTimer);
        QObject::connect(fallback_, &QTimer::timeout, fallback_, [this] { fire(); });
        fallback_->start(static_cast<int>(std::clamp(seconds * 1000.0, 0.0, 2.0e9)));
    }

    ~BootTimer() override { cancel(); }

    void cancel() override
    {
        work_ = nullptr;
        if (notifier_) {
            // The timer may be cancelled from inside its own firing.
            notifier_->setEnabled(false);
            notifier_->deleteLater();
            notifier_ = nullptr;
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fallback_) {
            fallback_->stop();
            fallback_->deleteLater();
            fallback_ = nullptr;
        }
    }

private:
    void fire()
    {
        if (fd_ >= 0) {
            quint64 expirations = 0;
            [[maybe_unused]] const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
        }
        if (notifier_)
            notifier_->setEnabled(false);
        std::function<void()> work = std::move(work_);
        work_ = nullptr;
        if (work)
            work(); // may destroy this timer: nothing of it is touched afterwards
    }

    std::function<void()> work_;
    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    QTimer *fallback_ = nullptr;
};

class RepeatingTimer final : public StoreTimer {
public:
    RepeatingTimer(double seconds, std::function<void()> work)
    {
        timer_ = new QTimer;
        QObject::connect(timer_, &QTimer::timeout, timer_, std::move(work));
        timer_->start(static_cast<int>(std::clamp(seconds * 1000.0, 1.0, 2.0e9)));
    }
    ~RepeatingTimer() override { cancel(); }
    void cancel() override
    {
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
            timer_ = nullptr;
        }
    }

private:
    QTimer *timer_ = nullptr;
};

class SystemTimers final : public StoreTimers {
public:
    std::unique_ptr<StoreTimer> after(double seconds, std::function<void()> work) override
    {
        return std::make_unique<BootTimer>(seconds, std::move(work));
    }
    std::unique_ptr<StoreTimer> every(double seconds, std::function<void()> work) override
    {
        return std::make_unique<RepeatingTimer>(seconds, std::move(work));
    }
};

} // namespace

std::shared_ptr<StoreClock> StoreClock::system()
{
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}

std::shared_ptr<StoreTimers> StoreTimers::system()
{
    static const auto timers = std::make_shared<SystemTimers>();
    return timers;
}

} // namespace vantuli
