#pragma once

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace vantuli::test {

// Asks the main thread for an answer every few milliseconds from another
// thread and counts the asks it left waiting past a generous bound.
class Responsiveness {
public:
    explicit Responsiveness(std::chrono::milliseconds bound = std::chrono::seconds(2))
    {
        thread_ = std::thread([this, bound] {
            while (!done_) {
                auto answered = std::make_shared<std::promise<void>>();
                std::future<void> answer = answered->get_future();
                MainThread::post([answered] { answered->set_value(); });
                if (answer.wait_for(bound) != std::future_status::ready)
                    ++late_;
                answer.wait();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ended_ = true;
        });
    }
    // The asks answered late.
    int finish()
    {
        done_ = true;
        while (!ended_) // the last ask is answered by this loop
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        thread_.join();
        return late_;
    }

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> late_{0};
    std::thread thread_;
};

} // namespace vantuli::test
