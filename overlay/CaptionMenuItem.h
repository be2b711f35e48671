#pragma once

#include <QAction>

#include <functional>
#include <optional>

namespace vantuli {

// An entry of the overlay menu that runs its handler when chosen. A choice
// entry shows a check mark when `checked` is true; entries without a state
// (commands, corners) pass nothing.
class CaptionMenuItem : public QAction {
    Q_OBJECT

public:
    CaptionMenuItem(const QString &title, std::optional<bool> checked, std::function<void()> handler,
                    QObject *parent);

    void performSelection();

private:
    std::function<void()> handler_;
};

} // namespace vantuli
