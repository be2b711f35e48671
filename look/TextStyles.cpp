#include "look/TextStyles.h"

#include "records/L10n.h"

#include <QFontDatabase>
#include <QFontInfo>
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

QFont withTextLanguage(const QFont &font, const QString &language, const QString &text)
{
    if (!needsCjkFace(language, text))
        return font; // fontconfig's fallback, as for any other text
    const QString forms = cjkForms(language, text);
    // The font's own family resolved (an alias such as "Sans Serif" would
    // match nothing in a list) stays behind the CJK family for what it lacks.
    const QString family = QFontInfo(font).family();
    QFont result = font;
    result.setFamilies(cjkFamilyFirst({family}, (family.contains(QLatin1String("Serif")) ? QStringLiteral("Noto Serif CJK ")
                                                                                     : QStringLiteral("Noto Sans CJK ")) +
                                                  forms));
    return result;
}

QFont textFont(TextStyle style, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize(style));
    font.setWeight(style == TextStyle::Headline && weight == QFont::Normal ? QFont::Bold : weight);
    // A Chinese, Japanese or Korean interface draws Han characters in its own forms.
    return withTextLanguage(font, L10n::shared().code());
}

QFont serifFont(int pixelSize, QFont::Weight weight, const QString &language, const QString &text)
{
    QFont font(QStringLiteral("serif"));
    font.setStyleHint(QFont::Serif);
    QStringList families;
    const QString cjk = QStringLiteral("Noto Serif CJK ") + cjkForms(language, text);
    families << QStringLiteral("Noto Serif") << QStringLiteral("DejaVu Serif") << cjk << QStringLiteral("serif");
    font.setFamilies(needsCjkFace(language, text) ? cjkFamilyFirst(families, cjk) : families);
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
