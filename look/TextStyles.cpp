#include "look/TextStyles.h"

#include <QFontDatabase>
#include <QStringList>

namespace vantuli {

int pixelSize(TextStyle style)
{
    switch (style) {
    case TextStyle::LargeTitle:
        return 26;
    case TextStyle::Title2:
        return 17;
    case TextStyle::Title3:
        return 15;
    case TextStyle::Headline:
    case TextStyle::Body:
        return 13;
    case TextStyle::Callout:
        return 12;
    case TextStyle::Caption:
    case TextStyle::Caption2:
        return 10;
    }
    return 13;
}

QFont textFont(TextStyle style, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize(style));
    font.setWeight(style == TextStyle::Headline && weight == QFont::Normal ? QFont::Bold : weight);
    return font;
}

QFont serifFont(int pixelSize, QFont::Weight weight)
{
    QFont font(QStringLiteral("serif"));
    font.setStyleHint(QFont::Serif);
    QStringList families;
    families << QStringLiteral("Noto Serif") << QStringLiteral("DejaVu Serif") << QStringLiteral("Noto Serif CJK SC")
             << QStringLiteral("serif");
    font.setFamilies(families);
    font.setPixelSize(qMax(1, pixelSize));
    font.setWeight(weight);
    return font;
}

QFont monoDigitFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(qMax(1, pixelSize));
    font.setWeight(weight);
    return font;
}

} // namespace vantuli
