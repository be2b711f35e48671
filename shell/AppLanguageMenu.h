#pragma once

#include <QMenu>

namespace vantuli {

// The interface-language menu: "跟随系统", then the fourteen languages, each
// in its own language, the one in effect checked. A choice goes to
// L10n::select; the menu follows every change of the selection or the table.
class AppLanguageMenu : public QMenu {
    Q_OBJECT

public:
    explicit AppLanguageMenu(QWidget *parent = nullptr);

    void rebuild();
};

} // namespace vantuli
