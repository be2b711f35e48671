#include "look/Refresher.h"

#include <QMetaObject>

namespace vantuli {

Refresher::Refresher(std::function<void()> refresh, QObject *parent)
    : QObject(parent), refresh_(std::move(refresh))
{
}

void Refresher::schedule()
{
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(this, &Refresher::flush, Qt::QueuedConnection);
}

void Refresher::flush()
{
    if (!pending_)
        return;
    pending_ = false;
    if (refresh_)
        refresh_();
}

} // namespace vantuli
