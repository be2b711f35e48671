#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantuli {

namespace {

// How long the caller waits for the settings thread: to read the file at the
// start, and to write what was set (at sync() and at the end).
constexpr auto readingWait = std::chrono::seconds(5);
constexpr auto writingWait = std::chrono::seconds(3);

bool isIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

enum class Reading {
    Complete,  // every line reads, and saving keeps what it means
    Rewritten, // every value reads, but saving drops comments or a byte-order mark
    Lossy,     // reading would lose or change a value
};

// What QSettings makes of an INI text. Lines are split as QSettings splits
// them: a backslash escapes the next character, a line break too, and a
// quoted part may span lines. An unquoted ";" ends a line there; what
// follows it up to the line break is skipped as a comment.
// - Lossy: a quote left open, bytes that are not UTF-8, a line that is not a
//   comment, a section header ("[...]") or a key with "=" (QSettings skips
//   it), a ";" that cuts a key or a value short (one not after a blank or a
//   closing quote), a "#" line that runs on past its line break.
// - Rewritten: a comment (";" or "#" first, or a ";" after a value or after
//   a section header), text after a section's "]", a byte-order mark. The
//   values read as written; only the comments go when the file is saved.
Reading assess(QByteArrayView text)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(text);
    if (utf8.hasError())
        return Reading::Lossy;
    Reading reading = Reading::Complete;
    if (text.startsWith("\xEF\xBB\xBF")) {
        text = text.sliced(3);
        reading = Reading::Rewritten;
    }

    const qsizetype size = text.size();
    const auto lineEnd = [&](qsizetype at) {
        while (at < size && text[at] != '\n' && text[at] != '\r')
            ++at;
        return at;
    };
    qsizetype at = 0;
    while (true) {
        while (at < size && isIniSpace(text[at]))
            ++at;
        if (at == size)
            return reading;
        const qsizetype start = at;
        if (text[at] == ';') {
            reading = Reading::Rewritten;
            at = lineEnd(at);
            continue;
        }
        const bool hash = text[at] == '#';
        if (hash)
            reading = Reading::Rewritten;
        bool quoted = false;
        bool equals = false;
        bool runsOn = false; // past a line break
        qsizetype end = -1;
        for (; at < size; ++at) {
            const char c = text[at];
            if (c == '\n' || c == '\r') {
                if (!quoted)
                    break;
                runsOn = true;
            } else if (c == '\\') {
                if (++at == size)
                    break;
                if (text[at] == '\n' || text[at] == '\r')
                    runsOn = true;
                if (at + 1 < size
                    && ((text[at] == '\n' && text[at + 1] == '\r') || (text[at] == '\r' && text[at + 1] == '\n')))
                    ++at;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == '=' && !quoted) {
                equals = true;
            } else if (c == ';' && !quoted) {
                const char before = text[at - 1];
                const bool comment = hash || text[start] == '['
                                     || (equals && (before == ' ' || before == '\t' || before == '"'));
                if (!comment)
                    return Reading::Lossy;
                reading = Reading::Rewritten;
                end = at;
                at = lineEnd(at);
                break;
            }
        }
        if (quoted)
            return Reading::Lossy;
        if (hash) {
            if (runsOn)
                return Reading::Lossy;
            continue;
        }
        const QByteArrayView line = text.sliced(start, (end < 0 ? at : end) - start).trimmed();
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            if (close < 0)
                return Reading::Lossy;
            if (close != line.size() - 1)
                reading = Reading::Rewritten;
        } else if (!equals) {
            return Reading::Lossy;
        }
    }
}

void say(const char *format, const QString &path, const QString &more = QString())
{
    std::fprintf(stderr, format, QFile::encodeName(path).constData(), QFile::encodeName(more).constData());
}

void warn(const QString &path, const char *what)
{
    std::fprintf(stderr, "vantuli: the settings file %s %s; the defaults apply and nothing is saved\n",
                 QFile::encodeName(path).constData(), what);
}

// A new, empty settings file that only its owner may read; QSettings keeps
// the mode when it rewrites the file.
void createPrivateFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
    if (fd >= 0)
        ::close(fd);
}

// The whole file, read without waiting on anything that is not a regular file.
std::optional<QByteArray> readRegularFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !file.open(fd, QIODevice::ReadOnly)) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    const bool failed = file.error() != QFileDevice::NoError;
    file.close();
    ::close(fd);
    if (failed)
        return std::nullopt;
    return bytes;
}

// A free name next to the file: "<name>.<what>-<date>", numbered if taken.
QString besideName(const QString &path, const char *what)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = path + QLatin1Char('.') + QLatin1String(what) + QLatin1Char('-') + stamp;
    QString name = base;
    for (int n = 2; QFileInfo(name).exists() || QFileInfo(name).isSymLink(); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

// Moves a file QSettings would not read completely out of its way, next to
// it, so that nothing in it is lost when the settings are saved; a fresh
// file takes its place. Answers whether it could be moved.
bool moveAside(const QString &path)
{
    const QString aside = besideName(path, "unreadable");
    if (!QFile::rename(path, aside)) {
        warn(path, "cannot be read completely, nor moved aside");
        return false;
    }
    say("vantuli: the settings file %s cannot be read completely; it was moved to %s and the defaults apply\n", path,
        aside);
    createPrivateFile(path);
    return true;
}

// Keeps the text of a file that saving would rewrite, byte for byte, next to
// it, in a new file only its owner may read. Answers whether it is kept.
bool copyAside(const QString &path, const QByteArray &text)
{
    const QString copy = besideName(path, "before");
    const int fd = ::open(QFile::encodeName(copy).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
    int failure = fd < 0 ? errno : 0;
    for (qsizetype done = 0; failure == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            failure = n == 0 ? EIO : errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure != 0) {
        if (fd >= 0)
            QFile::remove(copy);
        say("vantuli: the settings file %s has comments that saving drops, and no copy of it could be kept (%s); "
            "changes are kept for this run only\n",
            path, QString::fromLocal8Bit(std::strerror(failure)));
        return false;
    }
    say("vantuli: the settings file %s has comments that saving drops; it is kept as it was in %s\n", path, copy);
    return true;
}

// Whether QSettings may take the lock next to the file, "<name>.lock", when
// it writes: absent or a regular file. Anything else would hold the writer
// for good (Qt's lock spins on a folder and blocks opening a FIFO).
bool lockUsable(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path + QStringLiteral(".lock")).constData(), &info) != 0)
        return true; // absent, or a failure the lock reports at once
    return S_ISREG(info.st_mode);
}

void warnLock(const QString &path)
{
    say("vantuli: the settings lock file %s is not a regular file; changes are kept for this run only\n",
        path + QStringLiteral(".lock"));
}

// Why a write did not reach the file, as far as can be told from outside
// QSettings, which only says AccessError.
QString writeFailure(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    if (::access(file.constData(), W_OK) != 0 && errno != ENOENT)
        return QString::fromLocal8Bit(std::strerror(errno));
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(folder.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("its folder: ") + QString::fromLocal8Bit(std::strerror(errno));
    return QStringLiteral("QSettings::AccessError");
}

// What identifies one version of the file: QSettings writes a new file and
// renames it over the old one.
std::optional<std::tuple<dev_t, ino_t, off_t, time_t, long>> version(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::tuple(info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
}

QString standardFile()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config");
    return QFileInfo(folder + QStringLiteral("/Vantuli/Vantuli.ini")).absoluteFilePath();
}

} // namespace

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

// The settings file's own thread: it reads the file, then writes each batch
// of changes, so the store's callers never wait on the file or its lock for
// longer than a bounded time. The QSettings object lives and dies on it.
class QSettingsStore::Disk : public std::enable_shared_from_this<Disk> {
public:
    explicit Disk(QString path) : path_(std::move(path)) {}

    // Reads the file on the thread into `values`; answers whether later
    // changes are to be written (else the thread has ended).
    bool start(QHash<QString, QVariant> *values)
    {
        thread_ = std::thread([self = shared_from_this()] { self->run(); });
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, readingWait, [this] { return read_; })) {
            ending_ = true;
            lock.unlock();
            thread_.detach();
            warn(path_, "does not answer");
            return false;
        }
        *values = std::move(values_);
        if (writable_)
            return true;
        lock.unlock();
        thread_.join();
        return false;
    }

    void queue(const QString &key, std::optional<QVariant> value)
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({key, std::move(value)});
        ++queued_;
        changed_.notify_all();
    }

    // Waits a bounded time for what is queued to be written; once a write has
    // not finished in that time, no later call waits while it hangs.
    void flush()
    {
        std::unique_lock lock(mutex_);
        const quint64 ticket = queued_;
        if (written_ < stuckAt_)
            return;
        if (!changed_.wait_for(lock, writingWait, [&] { return written_ >= ticket; })) {
            stuckAt_ = ticket;
            if (!toldStuck_) {
                toldStuck_ = true;
                say("vantuli: the settings file %s is not written yet (the write does not finish); the latest changes "
                    "may not be saved\n",
                    path_);
            }
        }
    }

    // Writes what is left (waiting a bounded time) and ends the thread; a
    // thread that hangs in a write is left to end with the process.
    void end()
    {
        flush();
        std::unique_lock lock(mutex_);
        ending_ = true;
        changed_.notify_all();
        const bool caughtUp = written_ >= queued_;
        lock.unlock();
        if (caughtUp)
            thread_.join();
        else
            thread_.detach();
    }

private:
    struct Change {
        QString key;
        std::optional<QVariant> value; // none: removed
    };

    // Makes the file ready for QSettings and reads it; answers the settings
    // to write to, none when the values are to stay in memory (it said why).
    std::unique_ptr<QSettings> read(QHash<QString, QVariant> *values)
    {
        const QByteArray name = QFile::encodeName(path_);
        struct stat info {};
        QByteArray text;
        Reading reading = Reading::Complete;
        if (::lstat(name.constData(), &info) != 0) {
            if (errno == ENOENT)
                createPrivateFile(path_);
            // any other failure: QSettings reports it as before
        } else if ((S_ISLNK(info.st_mode) && ::stat(name.constData(), &info) != 0) || !S_ISREG(info.st_mode)) {
            warn(path_, "is not a regular file");
            return nullptr;
        } else if (const std::optional<QByteArray> bytes = readRegularFile(path_)) {
            text = *bytes;
            reading = assess(text);
            if (reading == Reading::Lossy && !moveAside(path_))
                return nullptr;
        } else {
            warn(path_, "cannot be read");
            return nullptr;
        }

        auto settings = std::make_unique<QSettings>(path_, QSettings::IniFormat);
        const QStringList keys = settings->allKeys(); // parses every section
        for (const QString &key : keys)
            values->insert(key, settings->value(key));
        if (reading == Reading::Complete && settings->status() == QSettings::FormatError)
            reading = Reading::Rewritten;

        if (!lockUsable(path_)) {
            warnLock(path_);
            toldLock_ = true;
            return nullptr;
        }
        // Kept before QSettings rewrites it; a file that cannot be written is
        // not rewritten either.
        if (reading == Reading::Rewritten && ::access(name.constData(), W_OK) == 0 && !copyAside(path_, text))
            return nullptr;
        return settings;
    }

    void run()
    {
        QHash<QString, QVariant> values;
        std::unique_ptr<QSettings> settings = read(&values);
        {
            std::lock_guard lock(mutex_);
            values_ = std::move(values);
            writable_ = settings != nullptr;
            read_ = true;
            changed_.notify_all();
            if (ending_) // the caller gave up waiting
                return;
        }
        if (!settings)
            return;
        while (true) {
            std::vector<Change> batch;
            quint64 ticket = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !pending_.empty() || ending_; });
                if (pending_.empty())
                    break;
                batch.swap(pending_);
                ticket = queued_;
            }
            write(*settings, std::move(batch));
            std::lock_guard lock(mutex_);
            written_ = ticket;
            changed_.notify_all();
        }
    }

    void write(QSettings &settings, std::vector<Change> batch)
    {
        unwritten_.insert(unwritten_.end(), std::make_move_iterator(batch.begin()),
                          std::make_move_iterator(batch.end()));
        // A lock path that turned into something else since: not touched.
        if (!lockUsable(path_)) {
            if (!toldLock_)
                warnLock(path_);
            toldLock_ = true;
            return;
        }
        bool changes = retry_;
        for (Change &change : unwritten_) {
            if (change.value) {
                settings.setValue(change.key, *change.value);
                changes = true;
            } else if (settings.contains(change.key)) {
                settings.remove(change.key);
                changes = true;
            }
        }
        unwritten_.clear();
        if (!changes)
            return;
        const auto before = version(path_);
        const QSettings::Status statusBefore = settings.status();
        settings.sync();
        // Nothing processes events on this thread: QSettings' own request to
        // write later would only pile up.
        QCoreApplication::removePostedEvents(&settings, QEvent::UpdateRequest);
        const auto after = version(path_);
        retry_ = !after || after == before
                 || (statusBefore != QSettings::AccessError && settings.status() == QSettings::AccessError);
        if (retry_ && !toldWrite_) {
            toldWrite_ = true;
            say("vantuli: the settings file %s cannot be written (%s); changes are kept for this run only\n", path_,
                writeFailure(path_));
        }
    }

    const QString path_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Under mutex_:
    QHash<QString, QVariant> values_;
    bool read_ = false;
    bool writable_ = false;
    bool ending_ = false;
    std::vector<Change> pending_;
    quint64 queued_ = 0;
    quint64 written_ = 0;
    quint64 stuckAt_ = 0;
    bool toldStuck_ = false;
    // The thread's own:
    std::vector<Change> unwritten_; // held back while the lock path is not usable
    bool retry_ = false;            // the last write failed; QSettings still holds it
    bool toldLock_ = false;
    bool toldWrite_ = false;
};

QSettingsStore::QSettingsStore(const QString &fileName) : standard_(fileName.isEmpty())
{
    // The user's file, where QSettings keeps "Vantuli"/"Vantuli" in INI form.
    auto disk = std::make_shared<Disk>(standard_ ? standardFile() : fileName);
    if (disk->start(&memory_))
        disk_ = std::move(disk);
}

QSettingsStore::~QSettingsStore()
{
    if (disk_)
        disk_->end();
}

std::optional<QVariant> QSettingsStore::value(const QString &key) const
{
    std::lock_guard lock(mutex_);
    const auto it = memory_.constFind(key);
    return it == memory_.constEnd() ? std::nullopt : std::optional<QVariant>(*it);
}

void QSettingsStore::setValue(const QString &key, const QVariant &value)
{
    std::lock_guard lock(mutex_);
    memory_.insert(key, value);
    if (disk_)
        disk_->queue(key, value);
}

void QSettingsStore::remove(const QString &key)
{
    std::lock_guard lock(mutex_);
    memory_.remove(key);
    if (disk_)
        disk_->queue(key, std::nullopt);
}

void QSettingsStore::sync()
{
    if (disk_)
        disk_->flush();
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
