#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
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
    // It lives as long as the process; what is set up to the end of the run
    // (windows closing as the application quits) is written out when the
    // application object goes, or at exit, waiting as long as sync() does.
    static std::shared_ptr<SettingsStore> standard();

protected:
    // A value is there but does not read as the type asked for (`type` says
    // which, in words): the caller falls back to its default.
    virtual void misread(const QString & /*key*/, const char * /*type*/) const {}

private:
    template <typename T>
    std::optional<T> typed(const QString &key, std::optional<T> (*read)(const QVariant &), const char *type) const;
};

// The standard store over QSettings, in a file only its owner may read.
// Reads and writes go to memory at once; the file is read, and written after
// each change, by a thread of the store's own, so that a file or a lock file
// that does not answer never holds up the caller: the constructor, sync(),
// close() and the destructor wait for it a bounded time only.
//
// A file that reading would lose or change a value of (a line QSettings skips
// or cuts short, an open quote, bytes that are not UTF-8 outside a comment,
// a NUL byte inside a line) is moved aside first (next to it,
// "<name>.unreadable-<date>") and the store starts from the defaults; so is a
// file far larger than settings ever are, unread. A file whose every value
// reads but that saving rewrites (comments, text after a section header, a
// byte-order mark, NUL bytes closing it) is copied byte for byte to
// "<name>.before-<date>" and its values kept; so is a file with a value that
// does not read as the type its caller asks for, since the default stands in
// for it until a change replaces it. A settings path, or its "<name>.lock",
// that is not a regular file (a FIFO, a folder, a link) is never opened: the
// values stay in memory. A write that fails, or that would not find room for
// the whole file, leaves them there too. Each case says so once on standard
// error.
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
    // Writes what is left, as sync() does, and ends the file's thread; later
    // changes stay in memory.
    void close();

protected:
    void misread(const QString &key, const char *type) const override;

private:
    std::shared_ptr<Disk> disk_;      // none when the file is not (or no longer) to be written
    QHash<QString, QVariant> memory_; // every value, as read and as set since
    mutable QSet<QString> fromFile_;  // the keys whose value is still the file's
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
