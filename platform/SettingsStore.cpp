#include "platform/SettingsStore.h"

#include <QSettings>

#include <cmath>

namespace vantuli {

std::optional<QString> SettingsStore::string(const QString &key) const
{
    auto v = value(key);
    if (!v)
        return std::nullopt;
    switch (v->typeId()) {
    case QMetaType::QString:
        return v->toString();
    case QMetaType::QByteArray:
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
        return std::nullopt;
    default:
        if (v->canConvert<QString>())
            return v->toString();
        return std::nullopt;
    }
}

std::optional<QByteArray> SettingsStore::data(const QString &key) const
{
    auto v = value(key);
    if (!v || v->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v->toByteArray();
}

std::optional<bool> SettingsStore::boolean(const QString &key) const
{
    auto v = value(key);
    if (!v)
        return std::nullopt;
    switch (v->typeId()) {
    case QMetaType::Bool:
        return v->toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v->toLongLong() != 0;
    case QMetaType::QString: {
        const QString s = v->toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("yes") || s == QLatin1String("1"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("no") || s == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> SettingsStore::number(const QString &key) const
{
    auto v = value(key);
    if (!v)
        return std::nullopt;
    switch (v->typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v->toDouble();
    case QMetaType::QString: {
        bool ok = false;
        const double d = v->toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return d;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> SettingsStore::stringList(const QString &key) const
{
    auto v = value(key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::QStringList)
        return v->toStringList();
    if (v->typeId() == QMetaType::QVariantList) {
        QStringList out;
        for (const QVariant &e : v->toList()) {
            if (e.typeId() != QMetaType::QString)
                return std::nullopt;
            out << e.toString();
        }
        return out;
    }
    // QSettings reads a one-element list back as a plain string.
    if (v->typeId() == QMetaType::QString)
        return QStringList{v->toString()};
    return std::nullopt;
}

std::shared_ptr<SettingsStore> SettingsStore::standard()
{
    static std::shared_ptr<SettingsStore> store = std::make_shared<QSettingsStore>();
    return store;
}

QSettingsStore::QSettingsStore(const QString &fileName)
{
    if (fileName.isEmpty()) {
        settings_ = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                QStringLiteral("Vantuli"), QStringLiteral("Vantuli"));
    } else {
        settings_ = std::make_unique<QSettings>(fileName, QSettings::IniFormat);
        standard_ = false;
    }
}

QSettingsStore::~QSettingsStore()
{
    std::lock_guard lock(mutex_);
    settings_->sync();
}

std::optional<QVariant> QSettingsStore::value(const QString &key) const
{
    std::lock_guard lock(mutex_);
    if (!settings_->contains(key))
        return std::nullopt;
    return settings_->value(key);
}

void QSettingsStore::setValue(const QString &key, const QVariant &value)
{
    std::lock_guard lock(mutex_);
    settings_->setValue(key, value);
}

void QSettingsStore::remove(const QString &key)
{
    std::lock_guard lock(mutex_);
    settings_->remove(key);
}

void QSettingsStore::sync()
{
    std::lock_guard lock(mutex_);
    settings_->sync();
}

std::optional<QVariant> MemorySettingsStore::value(const QString &key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.constFind(key);
    if (it == values_.constEnd())
        return std::nullopt;
    return *it;
}

void MemorySettingsStore::setValue(const QString &key, const QVariant &value)
{
    std::lock_guard lock(mutex_);
    values_.insert(key, value);
}

void MemorySettingsStore::remove(const QString &key)
{
    std::lock_guard lock(mutex_);
    values_.remove(key);
}

} // namespace vantuli
