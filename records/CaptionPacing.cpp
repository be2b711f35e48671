#include "records/CaptionPacing.h"
#include "records/Caption.h"

#include <QRegularExpression>
#include <QStringList>

namespace vantuli {

namespace {

QString firstPiece(const QString &tag)
{
    static const QRegularExpression separators(QStringLiteral("[-_]"));
    const QStringList pieces = tag.toLower().split(separators, Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.front();
}

} // namespace

QString CaptionPacing::languageCode(const QString &tag)
{
    const QString first = firstPiece(tag);
    if (first == QLatin1String("eng"))
        return QStringLiteral("en");
    if (first == QLatin1String("spa"))
        return QStringLiteral("es");
    if (first == QLatin1String("deu") || first == QLatin1String("ger"))
        return QStringLiteral("de");
    if (first == QLatin1String("fra") || first == QLatin1String("fre"))
        return QStringLiteral("fr");
    if (first == QLatin1String("por"))
        return QStringLiteral("pt");
    if (first == QLatin1String("ara"))
        return QStringLiteral("ar");
    if (first == QLatin1String("ben"))
        return QStringLiteral("bn");
    return first;
}

CaptionPacing CaptionPacing::forLanguage(const QString &language)
{
    const QString code = languageCode(language);
    if (code == QLatin1String("en"))
        return Conversational;
    if (code == QLatin1String("de") || code == QLatin1String("es") || code == QLatin1String("ja")
        || code == QLatin1String("vi") || code == QLatin1String("th"))
        return Sentence;
    return Short;
}

std::optional<CaptionPacing> CaptionPacing::fromRawValue(const QString &raw)
{
    if (raw == QLatin1String("short"))
        return CaptionPacing(Short);
    if (raw == QLatin1String("sentence"))
        return CaptionPacing(Sentence);
    if (raw == QLatin1String("conversational"))
        return CaptionPacing(Conversational);
    return std::nullopt;
}

QString CaptionPacing::rawValue() const
{
    switch (value_) {
    case Short:
        return QStringLiteral("short");
    case Sentence:
        return QStringLiteral("sentence");
    case Conversational:
        return QStringLiteral("conversational");
    }
    return QString();
}

bool Caption::isDeferred(const QString &language)
{
    const QString first = firstPiece(language);
    return first == QLatin1String("bn") || first == QLatin1String("ben");
}

} // namespace vantuli
