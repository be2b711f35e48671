#include "overlay/CaptionScreens.h"

#include <QGuiApplication>
#include <QScreen>

#include <memory>

namespace vantuli {

namespace {

class SystemScreens final : public CaptionScreens {
public:
    SystemScreens()
    {
        connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
            watch(screen);
            emit changed();
        });
        connect(qGuiApp, &QGuiApplication::screenRemoved, this, &CaptionScreens::changed);
        connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &CaptionScreens::changed);
        for (QScreen *screen : QGuiApplication::screens())
            watch(screen);
    }

    std::vector<QRect> areas() const override
    {
        std::vector<QRect> result;
        for (QScreen *screen : QGuiApplication::screens())
            result.push_back(screen->availableGeometry());
        return result;
    }

    std::optional<QRect> primaryArea() const override
    {
        if (QScreen *screen = QGuiApplication::primaryScreen())
            return screen->availableGeometry();
        return std::nullopt;
    }

private:
    void watch(QScreen *screen)
    {
        connect(screen, &QScreen::availableGeometryChanged, this, &CaptionScreens::changed);
    }
};

} // namespace

std::shared_ptr<CaptionScreens> CaptionScreens::system()
{
    return std::make_shared<SystemScreens>();
}

} // namespace vantuli
