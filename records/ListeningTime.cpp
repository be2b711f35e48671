#include "records/ListeningTime.h"

#include "records/Json.h"
#include "records/L10n.h"

namespace vantuli {

namespace {

bool isHex(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// The canonical text form only: 36 characters, hyphens after 8, 13, 18 and
// 23 hex digits, no braces.
std::optional<QUuid> parseUuid(const QString &text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != QLatin1Char('-') : !isHex(text[i]))
            return std::nullopt;
    }
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

int boundedInteger(const QJsonObject &o, const QString &key, int highest)
{
    const qint64 v = json::requiredInteger(o, key);
    if (v < 0 || v > highest)
        throw DecodingError(QStringLiteral("The data couldn't be read because \"%1\" is out of range (0-%2).")
                                .arg(key)
                                .arg(highest));
    return static_cast<int>(v);
}

} // namespace

QJsonObject ListeningTime::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("stationID"), stationID},
        {QStringLiteral("hour"), hour},
        {QStringLiteral("minute"), minute},
        {QStringLiteral("workdaysOnly"), workdaysOnly},
    };
}

ListeningTime ListeningTime::fromJson(const QJsonValue &value)
{
    const QJsonObject o = json::requireObject(value, QStringLiteral("listening time"));
    ListeningTime t;
    const QString idText = json::requiredString(o, QStringLiteral("id"));
    const std::optional<QUuid> id = parseUuid(idText);
    if (!id)
        throw DecodingError(QStringLiteral("The data couldn't be read because \"id\" is not a UUID."));
    t.id = *id;
    t.stationID = json::requiredString(o, QStringLiteral("stationID"));
    t.hour = boundedInteger(o, QStringLiteral("hour"), 23);
    t.minute = boundedInteger(o, QStringLiteral("minute"), 59);
    t.workdaysOnly = json::requiredBool(o, QStringLiteral("workdaysOnly"));
    return t;
}

QString ListeningTime::label() const
{
    const QString when = L10n::shared().text(workdaysOnly ? QStringLiteral("工作日") : QStringLiteral("每天"));
    return QString::asprintf("%02d:%02d", hour, minute) + QStringLiteral(" · ") + when;
}

} // namespace vantuli
