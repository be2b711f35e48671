#pragma once

#include "records/CjkForms.h"

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
// The interface font; Chinese, Japanese and Korean characters take the glyph
// forms of the interface language.
QFont textFont(TextStyle style, QFont::Weight weight = QFont::Normal);
// The fontconfig "serif" family (Noto Serif, DejaVu Serif; CJK through Noto
// Serif CJK in the forms of `language`, see cjkForms).
QFont serifFont(int pixelSize, QFont::Weight weight = QFont::Normal, const QString &language = {},
                const QString &text = {});

// `font` for text in `language`: when the language is Chinese, Japanese or
// Korean, or the text holds CJK characters, they take the forms cjkForms gives
// (Noto Sans or Serif CJK after the font's own family). Other text keeps `font`.
QFont withTextLanguage(const QFont &font, const QString &language, const QString &text = {});
// Digits of equal width, for counters.
QFont monoDigitFont(int pixelSize, QFont::Weight weight = QFont::Normal);

} // namespace vantuli
