#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <stdexcept>

namespace vantuli {

// Thrown when JSON does not have the shape a record requires: a missing
// required key or a value of the wrong type. Records never substitute defaults.
class DecodingError : public std::runtime_error {
public:
    explicit DecodingError(const QString &description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString &description() const { return description_; }

private:
    QString description_;
};

namespace json {

// Strict readers: each throws DecodingError naming the key.
QString requiredString(const QJsonObject &o, const QString &key);
std::optional<QString> optionalString(const QJsonObject &o, const QString &key); // missing or null: absent
double requiredNumber(const QJsonObject &o, const QString &key);
qint64 requiredInteger(const QJsonObject &o, const QString &key);                // a whole JSON number
bool requiredBool(const QJsonObject &o, const QString &key);
QJsonObject requireObject(const QJsonValue &v, const QString &what);
QJsonArray requireArray(const QJsonValue &v, const QString &what);

// Parses JSON text; throws DecodingError when it is not JSON.
QJsonValue parse(const QByteArray &text);
// Compact JSON text of an object or array.
QByteArray compact(const QJsonValue &v);

} // namespace json
} // namespace vantuli
