#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace vantuli::test {

// A program a test runs, started with posix_spawn. QProcess starts its child
// with clone(CLONE_VM) running Qt's code in the parent's memory until exec,
// which a ThreadSanitizer build cannot follow; posix_spawn runs only the C
// library's own code there. Standard input reads nothing; standard output and
// error are collected while the test waits on the program.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess(); // kills and reaps a program still running
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Before start: this process's environment and folder unless set.
    void setProcessEnvironment(const QProcessEnvironment &environment) { environment_ = environment; }
    void setWorkingDirectory(const QString &folder) { folder_ = folder; }
    // Standard error into standard output.
    void setMergedChannels(bool merged) { merged_ = merged; }

    // False when the program could not be started.
    bool start(const QString &program, const QStringList &arguments);

    // Collects what it wrote; false once it has ended (or never started).
    bool running();
    // True once it has ended within the time.
    bool waitForFinished(int msecs);
    // True when standard output grew within the time.
    bool waitForReadyRead(int msecs);
    // What it wrote since the last call.
    QByteArray readAllStandardOutput();
    QByteArray readAllStandardError();

    // The exit code of a program that ended by itself; -1 otherwise.
    int exitCode() const;
    qint64 processId() const { return pid_; }
    void terminate();
    void kill();

private:
    void collect(int msecs);
    void closeChannels();

    QProcessEnvironment environment_;
    QString folder_;
    bool merged_ = false;
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
    int out_ = -1;
    int err_ = -1;
    QByteArray output_;
    QByteArray errors_;
};

} // namespace vantuli::test
