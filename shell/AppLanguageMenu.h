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

signals:
    // After every rebuild (the title is set anew: a menu bar that marks a
    // mnemonic in it marks it again).
    void rebuilt();
};

} // namespace vantuli
