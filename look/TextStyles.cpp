#include "look/TextStyles.h"

#include "records/L10n.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

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

namespace {

QStringList subtags(const QString &language)
{
    return language.toLower().split(QRegularExpression(QStringLiteral("[-_]")));
}

bool isCjkLanguage(const QString &primary)
{
    return primary == QLatin1String("ja") || primary == QLatin1String("ko") || primary == QLatin1String("zh") ||
           primary == QLatin1String("yue");
}

// Han, kana, hangul, CJK punctuation or full-width forms.
bool holdsCjk(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const ushort u = c.unicode();
        return (u >= 0x1100 && u <= 0x11FF) || (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7AF) ||
               (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF);
    });
}

} // namespace

QString cjkForms(const QString &language, const QString &text)
{
    const QStringList parts = subtags(language);
    const QString primary = parts.value(0);
    if (primary == QLatin1String("ja"))
        return QStringLiteral("JP");
    if (primary == QLatin1String("ko"))
        return QStringLiteral("KR");
    if (isCjkLanguage(primary)) { // Chinese
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

QFont withTextLanguage(const QFont &font, const QString &language, const QString &text)
{
    if (!isCjkLanguage(subtags(language).value(0)) && !holdsCjk(text))
        return font; // fontconfig's fallback, as for any other text
    const QString forms = cjkForms(language, text);
    // The font's own family resolved (an alias such as "Sans Serif" would
    // match nothing in a list) keeps Latin and punctuation; CJK comes next.
    const QString family = QFontInfo(font).family();
    QFont result = font;
    result.setFamilies({family, (family.contains(QLatin1String("Serif")) ? QStringLiteral("Noto Serif CJK ")
                                                                         : QStringLiteral("Noto Sans CJK ")) +
                                    forms});
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
