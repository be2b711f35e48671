#include "platform/SerialQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
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

SerialQueue::SerialQueue(QString label) : label_(std::move(label))
{
    thread_ = new QThread;
    thread_->setObjectName(label_);
    context_ = new QObject;
    context_->moveToThread(thread_);
    QObject::connect(thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_->start();
}

SerialQueue::~SerialQueue()
{
    assert(!isCurrent());
    // Queued items run before the quit request, which is queued last.
    QMetaObject::invokeMethod(context_, [t = thread_] { t->quit(); }, Qt::QueuedConnection);
    thread_->wait(); // the context object (and its children) went with the thread
    delete thread_;
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == thread_;
}

void SerialQueue::async(std::function<void()> work)
{
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
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
