#pragma once

#include <QColor>
#include <QPalette>

class QAbstractScrollArea;

namespace vantuli::Studio {

// The four colours every window draws with (sRGB, opaque).
QColor pine();  // transport bar, heading tiles, labels of primary buttons
QColor side();  // the directory side panel
QColor gold();  // the accent
QColor mist();  // secondary text, labels of plain buttons

// The opaque background of the sheets and the tip jar, by the current colour scheme.
QColor sheetBackground();
QColor sheetBackground(bool dark);

// The dark palette the transport and the directory panel use whatever the
// system's appearance: white text on `base`, `mist` for secondary text.
QPalette darkPalette(const QColor &base);

// Gives the area slim scroll bars laid over its content, without arrow
// buttons, shown while it scrolls or the pointer is over them.
void useOverlayScrollBars(QAbstractScrollArea *area);

} // namespace vantuli::Studio
