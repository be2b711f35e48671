#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantuli {

// A symbol by the names the design uses ("star.fill", "archivebox", ...),
// taken from the desktop's icon theme (freedesktop symbolic names, Adwaita as
// the fallback theme) or from our own SVGs in resources/symbols/, recoloured
// to `tint`. An unknown name gives a null icon.
QIcon symbolIcon(const QString &symbolName, const QColor &tint, int pixelSize = 16);
QPixmap symbolPixmap(const QString &symbolName, const QColor &tint, int pixelSize, qreal devicePixelRatio = 1);

// One of our artworks ("RadioCover", "BroadcastHorizon", "MenuSignal",
// "AppIcon") from resources/artwork/<name>.svg, rendered at `size`.
QPixmap artwork(const QString &name, const QSize &size, qreal devicePixelRatio = 1);

} // namespace vantuli
