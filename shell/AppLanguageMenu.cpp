#include "shell/AppLanguageMenu.h"

#include "shell/AppMenus.h"

#include "look/Icons.h"
#include "look/Refresher.h"
#include "records/L10n.h"

#include <QActionGroup>

#include <optional>

namespace vantuli {

AppLanguageMenu::AppLanguageMenu(QWidget *parent) : QMenu(parent)
{
    setObjectName(QStringLiteral("appLanguageMenu"));
    // Rebuilt on the next turn: a choice changes the selection from inside
    // the handler of the action that the rebuild would delete.
    auto *refresher = new Refresher([this] { rebuild(); }, this);
    for (auto signal : {&L10n::selectionChanged, &L10n::stringsChanged, &L10n::didChange})
        connect(&L10n::shared(), signal, refresher, &Refresher::schedule);
    rebuild();
}

void AppLanguageMenu::rebuild()
{
    L10n &l10n = L10n::shared();
    setTitle(actionText(l10n.text(QStringLiteral("界面语言"))));
    setIcon(symbolIcon(QStringLiteral("globe"), palette().color(QPalette::WindowText)));
    clear();
    auto *group = new QActionGroup(this);
    group->setExclusive(true);
    const std::optional<QString> selection = l10n.selection();
    auto add = [&](const QString &text, const std::optional<QString> &code) {
        QAction *action = addAction(actionText(text));
        action->setCheckable(true);
        action->setChecked(selection == code);
        action->setData(code ? QVariant(*code) : QVariant());
        group->addAction(action);
        connect(action, &QAction::triggered, this, [code] { L10n::shared().select(code); });
    };
    add(l10n.text(QStringLiteral("跟随系统")), std::nullopt);
    addSeparator();
    for (const L10n::Language &language : L10n::languages())
        add(language.name, language.code);
    emit rebuilt();
}

} // namespace vantuli
