#pragma once

#include <QObject>

#include <functional>

namespace vantuli::Handoff {

// Queues the work for the receiver's thread through Qt's event queue: it runs
// there after everything queued for that thread before it.
//
// Qt's queue locks with futexes of its own, which ThreadSanitizer does not
// see: what the poster wrote before queueing the work (the work itself among
// it) would read as racing with the work. Built with ThreadSanitizer, the post
// is told to it as a release by the poster and an acquire by the work; the
// queueing itself (Qt's event and slot object around the work, written by the
// poster and read and freed by the receiver) is left out of its view.
void post(QObject *receiver, std::function<void()> work);

// Any other hand-off Qt makes out of the sanitizer's sight, such as a
// QThread::wait() that returns at once for a thread already ended: what the
// releasing thread did before release(tag) is seen by the acquiring thread
// after acquire(tag). Nothing without the sanitizer.
void release(const void *tag);
void acquire(const void *tag);

} // namespace vantuli::Handoff
