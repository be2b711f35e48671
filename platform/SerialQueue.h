#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace vantuli {

// A labelled serial queue: one thread running a Qt event loop, work items run
// one after another in the order they were queued. Network replies and timers
// created by work on the queue live on its thread and are delivered there.
class SerialQueue {
public:
    // Cancels a delayed work item that has not started yet.
    class Token {
    public:
        Token() = default;
        void cancel() const;
        bool cancelled() const;
        explicit operator bool() const { return static_cast<bool>(flag_); }

    private:
        friend class SerialQueue;
        explicit Token(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}
        std::shared_ptr<std::atomic<bool>> flag_;
    };

    explicit SerialQueue(QString label);
    ~SerialQueue(); // runs what is queued, then ends the thread
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    const QString &label() const { return label_; }
    bool isCurrent() const;

    void async(std::function<void()> work);
    Token asyncAfter(double seconds, std::function<void()> work);
    // Runs the work on the queue and waits for it. Never call it from the queue itself.
    void sync(const std::function<void()> &work);

    // An object living on the queue's thread: parent or context for Qt objects of the queue.
    QObject *context() const { return context_; }

private:
    QString label_;
    QThread *thread_ = nullptr;
    QObject *context_ = nullptr;
};

} // namespace vantuli
