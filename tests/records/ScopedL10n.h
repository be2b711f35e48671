#pragma once

#include "platform/SettingsStore.h"
#include "records/L10n.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <memory>

namespace vantuli::test {

// Writes <folder>/<code>.lproj/Localizable.json for each table.
inline QString writeTables(const QMap<QString, QMap<QString, QString>> &tables)
{
    const QString folder = temporaryFolder();
    for (auto t = tables.constBegin(); t != tables.constEnd(); ++t) {
        QDir(folder).mkpath(t.key() + QStringLiteral(".lproj"));
        QJsonObject o;
        for (auto e = t.value().constBegin(); e != t.value().constEnd(); ++e)
            o.insert(e.key(), e.value());
        QFile f(folder + QLatin1Char('/') + t.key() + QStringLiteral(".lproj/Localizable.json"));
        if (f.open(QIODevice::WriteOnly))
            f.write(QJsonDocument(o).toJson());
    }
    return folder;
}

// An interface language of its own, installed as the shared one for the
// lifetime of the object; never touches the user's settings.
class ScopedL10n {
public:
    ScopedL10n(const QString &code, const QString &region, const QMap<QString, QMap<QString, QString>> &tables = {})
        : store_(std::make_shared<MemorySettingsStore>()),
          l10n_(store_, [] { return QStringList(); }, [region] { return region; }, writeTables(tables))
    {
        l10n_.select(code);
        L10n::setShared(&l10n_);
    }
    ~ScopedL10n() { L10n::setShared(nullptr); }
    ScopedL10n(const ScopedL10n &) = delete;
    ScopedL10n &operator=(const ScopedL10n &) = delete;

    L10n &l10n() { return l10n_; }

private:
    std::shared_ptr<MemorySettingsStore> store_;
    L10n l10n_;
};

} // namespace vantuli::test
