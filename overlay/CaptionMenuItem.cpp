#include "overlay/CaptionMenuItem.h"

namespace vantuli {

CaptionMenuItem::CaptionMenuItem(const QString &title, std::optional<bool> checked, std::function<void()> handler,
                                 QObject *parent)
    : QAction(parent), handler_(std::move(handler))
{
    // Titles are plain text: no mnemonics.
    setText(QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
    if (checked) {
        setCheckable(true);
        setChecked(*checked);
    }
    connect(this, &QAction::triggered, this, &CaptionMenuItem::performSelection);
}

void CaptionMenuItem::performSelection()
{
    if (handler_)
        handler_();
}

} // namespace vantuli
