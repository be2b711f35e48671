#include "platform/MainThread.h"

#include "platform/Handoff.h"

#include <QCoreApplication>
#include <QThread>

namespace vantuli::MainThread {

void post(std::function<void()> work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    Handoff::post(app, std::move(work));
}

bool isCurrent()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace vantuli::MainThread
