#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

namespace vantuli::test {

// Runs the calling thread's event loop until the condition holds or the
// timeout passes; answers the condition's last value. Timeouts are generous:
// tests wait for events, they never measure time.
bool waitUntil(const std::function<bool()> &condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A fresh temporary folder, removed at process exit.
QString temporaryFolder();

// Runs a command line tool; answers its exit code (-1 when it could not start).
int run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
        int timeoutMs = 120000);

// The application's resource folder in the source tree, where the real Silero
// voice-activity model ships.
QString resourceFolder();

// Sets an environment variable for its lifetime and then puts back what was
// there before (unset when it was unset), even when an assertion ends the test.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char *name, const QByteArray &value)
        : name_(name), saved_(qgetenv(name)), wasSet_(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnvironment()
    {
        if (wasSet_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    const char *name_;
    QByteArray saved_;
    bool wasSet_;
};

} // namespace vantuli::test
