#include "records/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace vantuli::json {

namespace {
[[noreturn]] void missing(const QString &key)
{
    throw DecodingError(QStringLiteral("The data couldn't be read because the key \"%1\" is missing.").arg(key));
}
[[noreturn]] void mismatch(const QString &key, const char *expected)
{
    throw DecodingError(QStringLiteral("The data couldn't be read because \"%1\" is not %2.")
                            .arg(key, QString::fromLatin1(expected)));
}
} // namespace

QString requiredString(const QJsonObject &o, const QString &key)
{
    auto it = o.constFind(key);
    if (it == o.constEnd() || it->isNull())
        missing(key);
    if (!it->isString())
        mismatch(key, "a string");
    return it->toString();
}

std::optional<QString> optionalString(const QJsonObject &o, const QString &key)
{
    auto it = o.constFind(key);
    if (it == o.constEnd() || it->isNull())
        return std::nullopt;
    if (!it->isString())
        mismatch(key, "a string");
    return it->toString();
}

double requiredNumber(const QJsonObject &o, const QString &key)
{
    auto it = o.constFind(key);
    if (it == o.constEnd() || it->isNull())
        missing(key);
    if (!it->isDouble())
        mismatch(key, "a number");
    return it->toDouble();
}

qint64 requiredInteger(const QJsonObject &o, const QString &key)
{
    const double d = requiredNumber(o, key);
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9007199254740992.0)
        mismatch(key, "an integer");
    return static_cast<qint64>(d);
}

bool requiredBool(const QJsonObject &o, const QString &key)
{
    auto it = o.constFind(key);
    if (it == o.constEnd() || it->isNull())
        missing(key);
    if (!it->isBool())
        mismatch(key, "a boolean");
    return it->toBool();
}

QJsonObject requireObject(const QJsonValue &v, const QString &what)
{
    if (!v.isObject())
        mismatch(what, "an object");
    return v.toObject();
}

QJsonArray requireArray(const QJsonValue &v, const QString &what)
{
    if (!v.isArray())
        mismatch(what, "an array");
    return v.toArray();
}

QJsonValue parse(const QByteArray &text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(QStringLiteral("The data couldn't be read because it isn't in the correct format."));
    if (doc.isArray())
        return doc.array();
    if (doc.isObject())
        return doc.object();
    throw DecodingError(QStringLiteral("The data couldn't be read because it isn't in the correct format."));
}

QByteArray compact(const QJsonValue &v)
{
    if (v.isArray())
        return QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact);
    if (v.isObject())
        return QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
    return QByteArray();
}

} // namespace vantuli::json
