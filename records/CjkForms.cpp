#include "records/CjkForms.h"

#include <QFontDatabase>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace vantuli {

namespace {

QStringList subtags(const QString &language)
{
    static const QRegularExpression separator(QStringLiteral("[-_]"));
    return language.toLower().split(separator);
}

bool isCjkLanguage(const QString &primary)
{
    return primary == QLatin1String("ja") || primary == QLatin1String("ko") || primary == QLatin1String("zh") ||
           primary == QLatin1String("yue");
}

bool holdsCjk(const QString &text)
{
    return std::any_of(text.begin(), text.end(), isCjkCharacter);
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

bool isCjkCharacter(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0x1100 && u <= 0x11FF) || (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7AF) ||
           (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF);
}

QStringList cjkFamilyFirst(QStringList families, const QString &cjk)
{
    if (!QFontDatabase::hasFamily(cjk))
        return families;
    families.removeAll(cjk);
    families.prepend(cjk);
    return families;
}

bool needsCjkFace(const QString &language, const QString &text)
{
    return isCjkLanguage(subtags(language).value(0)) || holdsCjk(text);
}

} // namespace vantuli
