#include "platform/Handoff.h"

#include <QMetaObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#define VANTULI_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VANTULI_THREAD_SANITIZER 1
#endif
#endif

#ifdef VANTULI_THREAD_SANITIZER
#include <csignal>
#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
void __tsan_acquire(void *address);
void __tsan_release(void *address);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}

namespace {

// The work in a box of its own: what the poster wrote is released on the box,
// and whoever runs or drops the work acquires it first.
class Boxed {
public:
    explicit Boxed(std::function<void()> work) : box_(new std::function<void()>(std::move(work)))
    {
        __tsan_release(box_);
    }
    Boxed(Boxed &&other) noexcept : box_(std::exchange(other.box_, nullptr)) {}
    Boxed(const Boxed &) = delete;
    Boxed &operator=(const Boxed &) = delete;
    Boxed &operator=(Boxed &&) = delete;
    ~Boxed()
    {
        if (box_) {
            __tsan_acquire(box_);
            delete box_;
        }
    }
    void operator()()
    {
        __tsan_acquire(box_);
        (*box_)();
    }

private:
    std::function<void()> *box_;
};

} // namespace

// QProcess starts a program with clone(CLONE_VM | CLONE_VFORK), running Qt's
// code in this process's memory until exec. The thread sanitizer takes every
// clone for a fork and resets its own state for the child, which here is the
// parent's: the process then dies at its next thread start or reports races
// that are not there. In this build such a clone is made a real fork, which
// the sanitizer follows; any other clone goes on as asked. It lives beside the
// hand-offs, which every program that starts threads links.
extern "C" int clone(int (*function)(void *), void *stack, int flags, void *argument, ...)
{
    va_list more;
    va_start(more, argument);
    auto *parentTid = va_arg(more, pid_t *);
    void *tls = va_arg(more, void *);
    auto *childTid = va_arg(more, pid_t *);
    va_end(more);
    constexpr int vforkLike = CLONE_VM | CLONE_VFORK;
    if ((flags & vforkLike) == vforkLike && !(flags & (CLONE_THREAD | CLONE_SETTLS | CLONE_CHILD_SETTID))) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(function(argument));
        if (pid > 0 && (flags & CLONE_PIDFD)) {
            const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
            if (pidfd < 0) {
                ::kill(pid, SIGKILL);
                return -1;
            }
            *parentTid = pidfd;
        } else if (pid > 0 && (flags & CLONE_PARENT_SETTID)) {
            *parentTid = pid;
        }
        return pid;
    }
    using Clone = int (*)(int (*)(void *), void *, int, void *, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return next(function, stack, flags, argument, parentTid, tls, childTid);
}
#endif

namespace vantuli::Handoff {

void post(QObject *receiver, std::function<void()> work)
{
#ifdef VANTULI_THREAD_SANITIZER
    // The closure Qt queues carries only the box's address. Its memory, like
    // Qt's event around it, is written here out of the sanitizer's view, so
    // the receiver's reading and freeing it has no history to race with.
    Boxed boxed(std::move(work));
    __tsan_ignore_thread_begin();
    QMetaObject::invokeMethod(receiver, std::move(boxed), Qt::QueuedConnection);
    __tsan_ignore_thread_end();
#else
    QMetaObject::invokeMethod(receiver, std::move(work), Qt::QueuedConnection);
#endif
}

void release(const void *tag)
{
#ifdef VANTULI_THREAD_SANITIZER
    __tsan_release(const_cast<void *>(tag));
#else
    Q_UNUSED(tag);
#endif
}

void acquire(const void *tag)
{
#ifdef VANTULI_THREAD_SANITIZER
    __tsan_acquire(const_cast<void *>(tag));
#else
    Q_UNUSED(tag);
#endif
}

} // namespace vantuli::Handoff
