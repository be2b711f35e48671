#pragma once

#include <QObject>
#include <QRect>

#include <memory>
#include <optional>
#include <vector>

namespace vantuli {

// The screens the caption panel can stand on: each one's available area
// (without panels and docks) in the window system's order, and the primary
// one. Announces any change of the set or of an area.
class CaptionScreens : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual std::vector<QRect> areas() const = 0;
    virtual std::optional<QRect> primaryArea() const = 0;

    // The screens of the running application.
    static std::shared_ptr<CaptionScreens> system();

signals:
    void changed();
};

} // namespace vantuli
