#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <mutex>
#include <optional>

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

// The standard store over QSettings, in a file only its owner may read.
// Reads and writes go to memory at once; the file is read, and written after
// each change, by a thread of the store's own, so that a file or a lock file
// that does not answer never holds up the caller: the constructor, sync() and
// the destructor wait for it a bounded time only.
//
// A file that reading would lose or change a value of (a line QSettings skips
// or cuts short, an open quote, bytes that are not UTF-8) is moved aside first
// (next to it, "<name>.unreadable-<date>") and the store starts from the
// defaults. A file whose every value reads but that saving rewrites (comments,
// text after a section header, a byte-order mark) is copied byte for byte to
// "<name>.before-<date>" and its values kept. A settings path, or its
// "<name>.lock", that is not a regular file (a FIFO, a folder, a link) is never
// opened: the values stay in memory. A write that fails leaves them there too.
// Each case says so once on standard error.
class QSettingsStore final : public SettingsStore {
public:
    class Disk; // the thread and its QSettings

    explicit QSettingsStore(const QString &fileName = QString()); // empty: the user's default file
    ~QSettingsStore() override;
    bool isStandard() const override { return standard_; }
    std::optional<QVariant> value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    void sync() override;

private:
    std::shared_ptr<Disk> disk_;      // none when the file is not to be written
    QHash<QString, QVariant> memory_; // every value, as read and as set since
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
