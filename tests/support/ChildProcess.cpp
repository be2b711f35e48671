#include "support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace vantuli::test {
namespace {

// NUL-terminated copies of the strings and the array of pointers to them.
class CStrings {
public:
    explicit CStrings(const QStringList &strings)
    {
        for (const QString &s : strings)
            bytes_.push_back(QFile::encodeName(s));
        for (QByteArray &b : bytes_)
            pointers_.push_back(b.data());
        pointers_.push_back(nullptr);
    }
    char **data() { return pointers_.data(); }

private:
    std::vector<QByteArray> bytes_;
    std::vector<char *> pointers_;
};

// A short look at the pipes, never past the deadline (which may be forever).
int slice(const QDeadlineTimer &deadline)
{
    const qint64 left = deadline.remainingTime();
    return static_cast<int>(left < 0 ? 10 : std::min<qint64>(left, 10));
}

} // namespace

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    closeChannels();
}

bool ChildProcess::start(const QString &program, const QStringList &arguments)
{
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    if (!merged_ && ::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, merged_ ? out[1] : err[1], 2);
    const QByteArray folder = QFile::encodeName(folder_);
    if (!folder_.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    // Signals as a fresh program has them, whatever this thread blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    CStrings argv(QStringList{program} + arguments);
    CStrings envp(environment_.isEmpty() ? QStringList() : environment_.toStringList());
    const QByteArray file = QFile::encodeName(program);
    const int failed = ::posix_spawnp(&pid_, file.constData(), &actions, &attributes, argv.data(),
                                      environment_.isEmpty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    if (!merged_)
        ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (failed) {
        pid_ = -1;
        closeChannels();
        return false;
    }
    for (int fd : {out_, err_}) {
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void ChildProcess::collect(int msecs)
{
    pollfd fds[2];
    QByteArray *into[2];
    nfds_t n = 0;
    for (auto [fd, buffer] : {std::pair{out_, &output_}, std::pair{err_, &errors_}}) {
        if (fd >= 0) {
            fds[n] = {fd, POLLIN, 0};
            into[n++] = buffer;
        }
    }
    if (n == 0) {
        if (msecs > 0)
            ::usleep(static_cast<useconds_t>(msecs) * 1000);
        return;
    }
    if (::poll(fds, n, msecs) <= 0)
        return;
    for (nfds_t i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char chunk[65536];
        for (;;) {
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                into[i]->append(chunk, got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0) { // the program and everything it started closed it
                ::close(fds[i].fd);
                (fds[i].fd == out_ ? out_ : err_) = -1;
            }
            break;
        }
    }
}

bool ChildProcess::running()
{
    if (pid_ <= 0 || ended_)
        return false;
    collect(0);
    if (::waitpid(pid_, &status_, WNOHANG) != pid_)
        return true;
    ended_ = true;
    // What is still in the pipes; a grandchild holding them open is not waited for.
    collect(0);
    return false;
}

bool ChildProcess::waitForFinished(int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (running()) {
        if (deadline.hasExpired())
            return false;
        collect(slice(deadline));
    }
    return pid_ > 0;
}

bool ChildProcess::waitForReadyRead(int msecs)
{
    const qsizetype had = output_.size();
    const QDeadlineTimer deadline(msecs);
    while (output_.size() == had) {
        if (!running() && out_ < 0)
            return output_.size() != had;
        if (deadline.hasExpired())
            return false;
        collect(slice(deadline));
    }
    return true;
}

QByteArray ChildProcess::readAllStandardOutput()
{
    running();
    return std::exchange(output_, {});
}

QByteArray ChildProcess::readAllStandardError()
{
    running();
    return std::exchange(errors_, {});
}

int ChildProcess::exitCode() const
{
    return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void ChildProcess::terminate()
{
    if (pid_ > 0 && !ended_)
        ::kill(pid_, SIGTERM);
}

void ChildProcess::kill()
{
    if (pid_ > 0 && !ended_)
        ::kill(pid_, SIGKILL);
}

void ChildProcess::closeChannels()
{
    for (int *fd : {&out_, &err_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

} // namespace vantuli::test
