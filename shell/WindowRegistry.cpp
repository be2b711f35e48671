#include "shell/WindowRegistry.h"

namespace vantuli {

WindowRegistry::WindowRegistry(QObject *parent) : QObject(parent) {}

WindowRegistry::~WindowRegistry()
{
    for (const QPointer<QWidget> &window : std::as_const(windows_))
        delete window.data();
}

void WindowRegistry::add(const QString &id, Factory make)
{
    factories_.insert(id, std::move(make));
}

QWidget *WindowRegistry::open(const QString &id)
{
    QWidget *window = this->window(id);
    if (!window) {
        const auto factory = factories_.constFind(id);
        if (factory == factories_.cend() || !*factory)
            return nullptr;
        window = (*factory)();
        if (!window)
            return nullptr;
        windows_.insert(id, window);
    }
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return window;
}

QWidget *WindowRegistry::window(const QString &id) const
{
    return windows_.value(id).data();
}

} // namespace vantuli
