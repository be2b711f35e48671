#include "platform/SerialQueue.h"

#include "platform/Handoff.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <cassert>
#include <semaphore>

namespace vantuli {

void SerialQueue::Token::cancel() const
{
    if (flag_)
        flag_->store(true);
}

bool SerialQueue::Token::cancelled() const
{
    return flag_ && flag_->load();
}

namespace {

// The queue's thread: its event loop, then the end of the queue's objects.
class QueueThread final : public QThread {
public:
    explicit QueueThread(QObject *context) : context_(context) {}

protected:
    void run() override
    {
        exec();
        delete context_; // and its children, on the thread they live on
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // For the waiter, whose wait() may return without a hand-off the
        // thread sanitizer sees.
        Handoff::release(this);
    }

private:
    QObject *context_;
};

} // namespace

SerialQueue::SerialQueue(QString label) : label_(std::move(label))
{
    context_ = new QObject;
    thread_ = new QueueThread(context_);
    thread_->setObjectName(label_);
    context_->moveToThread(thread_);
    thread_->start();
}

SerialQueue::~SerialQueue()
{
    assert(!isCurrent());
    // Queued items run before the quit request, which is queued last.
    Handoff::post(context_, [t = thread_] { t->quit(); });
    thread_->wait(); // the context object (and its children) went with the thread
    Handoff::acquire(thread_);
    delete thread_;
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == thread_;
}

void SerialQueue::async(std::function<void()> work)
{
    Handoff::post(context_, std::move(work));
}

SerialQueue::Token SerialQueue::asyncAfter(double seconds, std::function<void()> work)
{
    auto flag = std::make_shared<std::atomic<bool>>(false);
    const int ms = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000.0 + 0.5);
    QObject *ctx = context_;
    async([ctx, ms, flag, work = std::move(work)]() mutable {
        if (flag->load())
            return;
        QTimer::singleShot(ms, Qt::PreciseTimer, ctx, [flag, work = std::move(work)] {
            if (!flag->load())
                work();
        });
    });
    return Token(flag);
}

void SerialQueue::sync(const std::function<void()> &work)
{
    assert(!isCurrent() && "SerialQueue::sync called on its own queue");
    std::binary_semaphore done(0);
    async([&] {
        work();
        done.release();
    });
    done.acquire();
}

} // namespace vantuli
