#pragma once

#include "overlay/CaptionScreens.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <optional>
#include <vector>

namespace vantuli::test {

// Screens set by the test: their available areas in order and the primary one.
class FakeScreens final : public CaptionScreens {
public:
    std::vector<QRect> areas() const override { return list; }
    std::optional<QRect> primaryArea() const override
    {
        return list.empty() ? std::nullopt : std::optional<QRect>(list[primary]);
    }
    void set(std::vector<QRect> areas, std::size_t primaryIndex = 0)
    {
        list = std::move(areas);
        primary = primaryIndex;
        emit changed();
    }

    std::vector<QRect> list;
    std::size_t primary = 0;
};

// Waits (generously) until `condition` holds, letting the application run.
inline bool eventually(const std::function<bool()> &condition, int milliseconds = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

} // namespace vantuli::test
