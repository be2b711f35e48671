#pragma once

#include <QFont>

namespace vantuli {

// The text styles of the windows, in pixels (a point of the design is one
// logical pixel).
enum class TextStyle {
    LargeTitle, // 26
    Title2,     // 17
    Title3,     // 15
    Headline,   // 13 bold
    Body,       // 13
    Callout,    // 12
    Caption,    // 10
    Caption2,   // 10
};

int pixelSize(TextStyle style);
QFont textFont(TextStyle style, QFont::Weight weight = QFont::Normal);
// The fontconfig "serif" family (Noto Serif, DejaVu Serif; CJK through Noto Serif CJK).
QFont serifFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// Digits of equal width, for counters.
QFont monoDigitFont(int pixelSize, QFont::Weight weight = QFont::Normal);

} // namespace vantuli
