#include "support/TestSupport.h"

#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <vector>

namespace vantuli::test {

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QString temporaryFolder()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    folders.push_back(std::make_unique<QTemporaryDir>());
    return folders.back()->path();
}

int run(const QString &program, const QStringList &arguments, QByteArray *output, int timeoutMs)
{
    ChildProcess p;
    p.setMergedChannels(true);
    if (!p.start(program, arguments))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(-1);
        return -1;
    }
    if (output)
        *output = p.readAllStandardOutput();
    return p.exitCode();
}

QString resourceFolder()
{
    return QDir::cleanPath(QStringLiteral(VANTULI_RESOURCE_DIR));
}

} // namespace vantuli::test
