#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <mutex>
#include <optional>

class QSettings;

namespace vantuli {

// The per-user settings store under plain keys. Values come back as stored by
// the backing store; the typed readers are tolerant (the INI file reads every
// scalar back as text) and give nothing for a value of the wrong type, so a
// caller falls back to its default.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The standard store decides where the listening archive lives.
    virtual bool isStandard() const = 0;
    virtual std::optional<QVariant> value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QVariant &value) = 0;
    virtual void remove(const QString &key) = 0;
    // Writes what is still held in memory to permanent storage (at exit).
    virtual void sync() {}
    bool contains(const QString &key) const { return value(key).has_value(); }

    std::optional<QString> string(const QString &key) const;
    std::optional<QByteArray> data(const QString &key) const;
    std::optional<bool> boolean(const QString &key) const;
    std::optional<double> number(const QString &key) const;
    std::optional<QStringList> stringList(const QString &key) const;

    // The application's standard store: QSettings, INI format, "Vantuli"/"Vantuli".
    static std::shared_ptr<SettingsStore> standard();
};

// The standard store over QSettings, in a file only its owner may read. A
// file QSettings would not read completely is moved aside first (next to it,
// "<name>.unreadable-<date>"), so that saving loses nothing of it; the store
// starts from the defaults then. A path that is not a regular file (a FIFO, a
// device, a link to one) is never opened, nor one that cannot be read: the
// store keeps its values in memory. Each case says so on standard error.
class QSettingsStore final : public SettingsStore {
public:
    explicit QSettingsStore(const QString &fileName = QString()); // empty: the user's default file
    ~QSettingsStore() override;
    bool isStandard() const override { return standard_; }
    std::optional<QVariant> value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    void sync() override;

private:
    std::unique_ptr<QSettings> settings_;  // none when the file is not to be touched
    QHash<QString, QVariant> memory_;      // the values then
    bool standard_ = true;
    mutable std::mutex mutex_;
};

// An in-memory store for tests and for callers that must not touch the user's settings.
class MemorySettingsStore final : public SettingsStore {
public:
    bool isStandard() const override { return false; }
    std::optional<QVariant> value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;

private:
    mutable std::mutex mutex_;
    QHash<QString, QVariant> values_;
};

} // namespace vantuli
