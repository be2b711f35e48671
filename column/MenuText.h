#pragma once

#include <QString>

namespace vantuli {

// A text shown as a menu item or button label as it stands: "&" would
// otherwise mark a shortcut letter.
inline QString menuText(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace vantuli
