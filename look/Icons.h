#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantuli {

// A symbol by the names the design uses ("star.fill", "archivebox", ...),
// drawn from the icon set shipped in resources/symbols/ (never the desktop's
// icon theme) with its shape recoloured to `tint`. An unknown name gives a
// null icon.
QIcon symbolIcon(const QString &symbolName, const QColor &tint, int pixelSize = 16);
QPixmap symbolPixmap(const QString &symbolName, const QColor &tint, int pixelSize, qreal devicePixelRatio = 1);

// One of our artworks ("RadioCover", "BroadcastHorizon", "MenuSignal",
// "AppIcon") from resources/artwork/<name>.svg, rendered at `size`.
QPixmap artwork(const QString &name, const QSize &size, qreal devicePixelRatio = 1);

} // namespace vantuli
