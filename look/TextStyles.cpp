#include "look/TextStyles.h"

#include "records/L10n.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QRegularExpression>
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

QString cjkForms(const QString &language, const QString &text)
{
    const QStringList parts = language.toLower().split(QRegularExpression(QStringLiteral("[-_]")));
    const QString primary = parts.value(0);
    if (primary == QLatin1String("ja"))
        return QStringLiteral("JP");
    if (primary == QLatin1String("ko"))
        return QStringLiteral("KR");
    if (primary == QLatin1String("zh") || primary == QLatin1String("yue")) {
        for (const QString &part : parts.mid(1)) {
            if (part == QLatin1String("hant") || part == QLatin1String("tw") || part == QLatin1String("hk") ||
                part == QLatin1String("mo"))
                return QStringLiteral("TC");
        }
        return QStringLiteral("SC");
    }
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x31F0 && u <= 0x31FF)) // hiragana, katakana
            return QStringLiteral("JP");
        if ((u >= 0xAC00 && u <= 0xD7AF) || (u >= 0x1100 && u <= 0x11FF) || (u >= 0x3130 && u <= 0x318F))
            return QStringLiteral("KR");
    }
    return QStringLiteral("SC");
}

QFont textFont(TextStyle style, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // A Chinese, Japanese or Korean interface draws Han characters in its own
    // forms: the system family (resolved, as an alias such as "Sans Serif"
    // would not match) first, its CJK family next. Other interfaces keep
    // fontconfig's fallback.
    const QString language = L10n::shared().code();
    const QString primary = language.section(QLatin1Char('-'), 0, 0);
    if (primary == QLatin1String("ja") || primary == QLatin1String("ko") || primary == QLatin1String("zh"))
        font.setFamilies({QFontInfo(font).family(), QStringLiteral("Noto Sans CJK ") + cjkForms(language)});
    font.setPixelSize(pixelSize(style));
    font.setWeight(style == TextStyle::Headline && weight == QFont::Normal ? QFont::Bold : weight);
    return font;
}

QFont serifFont(int pixelSize, QFont::Weight weight, const QString &language, const QString &text)
{
    QFont font(QStringLiteral("serif"));
    font.setStyleHint(QFont::Serif);
    QStringList families;
    families << QStringLiteral("Noto Serif") << QStringLiteral("DejaVu Serif") << QStringLiteral("Noto Serif CJK ") + cjkForms(language, text)
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
