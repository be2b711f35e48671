#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>
#include <tuple>
#include <variant>
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
    Rewritten, // every value reads, but saving drops something around them
    Lossy,     // reading would lose or change a value
};

struct Assessment {
    Reading reading = Reading::Complete;
    QStringList drops; // what saving drops, when Rewritten
};

// What QSettings makes of an INI text. Lines are split as QSettings splits
// them: a backslash escapes the next character, a line break too, and a
// quoted part may span lines. An unquoted ";" ends a line there; what
// follows it up to the line break is skipped as a comment.
// - Lossy: a quote left open, bytes that are not UTF-8 outside a comment, a
//   NUL byte inside a line, a line that is not a comment, a section header
//   ("[...]") or a key with "=" (QSettings skips it), a ";" that cuts a key
//   or a value short (one not after a blank or a closing quote), a "#" line
//   that runs on past its line break.
// - Rewritten: a comment (";" or "#" first, or a ";" after a value or after
//   a section header), text after a section's "]", a byte-order mark, NUL
//   bytes on lines of their own at the end (what a crash can leave of a file
//   being written). The values read as written; only these go when the file
//   is saved.
Assessment assess(QByteArrayView text)
{
    Assessment result;
    const auto drops = [&](const char *what) {
        result.reading = Reading::Rewritten;
        if (!result.drops.contains(QLatin1String(what)))
            result.drops << QLatin1String(what);
    };
    const Assessment lossy{Reading::Lossy, {}};
    if (text.startsWith("\xEF\xBB\xBF")) {
        text = text.sliced(3);
        drops("a byte-order mark");
    }
    qsizetype content = text.size();
    while (content > 0 && (text[content - 1] == '\0' || isIniSpace(text[content - 1])))
        --content;
    if (const qsizetype nul = text.indexOf('\0', content); nul >= 0) {
        const QByteArrayView before = text.sliced(content, nul - content);
        if (content > 0 && !before.contains('\n') && !before.contains('\r'))
            return lossy; // the NUL bytes go on a value's line
        text = text.first(content);
        drops("NUL bytes at its end");
    }
    if (text.contains('\0'))
        return lossy;

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
            return result;
        const qsizetype start = at;
        if (text[at] == ';') {
            drops("comments");
            at = lineEnd(at);
            continue;
        }
        const bool hash = text[at] == '#';
        if (hash)
            drops("comments");
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
                    return lossy;
                drops("comments");
                end = at;
                at = lineEnd(at);
                break;
            }
        }
        if (quoted)
            return lossy;
        if (hash) {
            if (runsOn)
                return lossy;
            continue;
        }
        QByteArrayView line = text.sliced(start, (end < 0 ? at : end) - start).trimmed();
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            if (close < 0)
                return lossy;
            if (close != line.size() - 1)
                drops("text after a section header");
            line = line.first(close + 1);
        } else if (!equals) {
            return lossy;
        }
        // QSettings reads what is not UTF-8 as replacement characters.
        if (!line.isValidUtf8())
            return lossy;
    }
}

// "a", "a and b", "a, b and c".
QString listed(const QStringList &items)
{
    if (items.size() < 2)
        return items.value(0);
    return items.first(items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + items.last();
}

// One line on standard error; `format` takes the three texts as "%s".
void say(const char *format, const QString &a, const QString &b = QString(), const QString &c = QString())
{
    std::fprintf(stderr, format, QFile::encodeName(a).constData(), QFile::encodeName(b).constData(),
                 QFile::encodeName(c).constData());
}

void warn(const QString &path, const char *what)
{
    say("vantuli: the settings file %s %s; the defaults apply and nothing is saved\n", path, QLatin1String(what));
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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

// The whole file, read without waiting on anything that is not a regular
// file; none when it cannot be read. One larger than `limit` is read no
// further than that: `tooLarge` says so and the bytes are left out.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 limit, bool *tooLarge)
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
    QByteArray bytes = info.st_size > limit ? QByteArray() : file.read(limit + 1);
    const bool failed = file.error() != QFileDevice::NoError;
    file.close();
    ::close(fd);
    if (failed)
        return std::nullopt;
    *tooLarge = info.st_size > limit || bytes.size() > limit;
    if (*tooLarge)
        bytes.clear();
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

// Moves a file QSettings is not to read out of its way, untouched, next to
// it, so that nothing in it is lost when the settings are saved; a fresh
// file takes its place. `why` completes "the settings file <path> ...".
// Answers whether it could be moved.
bool moveAside(const QString &path, const QString &why)
{
    const QString aside = besideName(path, "unreadable");
    if (!QFile::rename(path, aside)) {
        say("vantuli: the settings file %s %s, and cannot be moved aside; the defaults apply and nothing is saved\n",
            path, why);
        return false;
    }
    say("vantuli: the settings file %s %s; it was moved to %s and the defaults apply\n", path, why, aside);
    createPrivateFile(path);
    return true;
}

// Keeps the text of a file that saving would rewrite, byte for byte, next to
// it, in a new file only its owner may read. Answers its name, or why it
// could not be kept.
std::variant<QString, int> keepCopy(const QString &path, const QByteArray &text)
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
    if (failure == 0)
        return copy;
    if (fd >= 0)
        QFile::remove(copy);
    return failure;
}

// Whether the file's folder has room for a file of `size` bytes, the way
// writing the settings needs it: an unnamed file that large is allocated
// there and let go. Answers 0, or why not (an errno value).
int room(const QString &path, qint64 size)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a named one, gone at once.
        QByteArray name = folder + "/.vantuli-room-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0)
        return errno;
    int failure = 0;
    do
        failure = ::posix_fallocate(fd, 0, off_t(std::max<qint64>(size, 1)));
    while (failure == EINTR);
    ::close(fd);
    return failure;
}

// The most bytes QSettings writes for a value: it escapes a character, or a
// byte of data, in six at most.
qint64 writtenSize(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return 6 * qint64(value.toString().size()) + 2;
    case QMetaType::QByteArray:
        return 6 * qint64(value.toByteArray().size()) + 16;
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        qint64 size = 2;
        for (const QVariant &item : value.toList())
            size += writtenSize(item) + 2;
        return size;
    }
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return 32;
    default: { // "@Variant(...)" around its data stream
        QByteArray data;
        QDataStream stream(&data, QIODevice::WriteOnly);
        stream << value;
        return 6 * qint64(data.size()) + 16;
    }
    }
}

qint64 writtenSize(const QString &key, const QVariant &value)
{
    return 6 * qint64(key.size()) + 4 + writtenSize(value); // a section header and "=" and a line break
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

// Why a write did not reach the file, as far as can be told from outside
// QSettings, which only says AccessError.
QString writeFailure(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    if (::access(file.constData(), W_OK) != 0 && errno != ENOENT)
        return reason(errno);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(folder.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("its folder: ") + reason(errno);
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

std::optional<QString> asString(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::QByteArray:
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
        return std::nullopt;
    default:
        if (v.canConvert<QString>())
            return v.toString();
        return std::nullopt;
    }
}

std::optional<QByteArray> asData(const QVariant &v)
{
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v.toByteArray();
}

std::optional<bool> asBoolean(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toLongLong() != 0;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
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

std::optional<double> asNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toDouble();
    case QMetaType::QString: {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return d;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> asStringList(const QVariant &v)
{
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList out;
        for (const QVariant &e : v.toList()) {
            if (e.typeId() != QMetaType::QString)
                return std::nullopt;
            out << e.toString();
        }
        return out;
    }
    // QSettings reads a one-element list back as a plain string.
    if (v.typeId() == QMetaType::QString)
        return QStringList{v.toString()};
    return std::nullopt;
}

} // namespace

template <typename T>
std::optional<T> SettingsStore::typed(const QString &key, std::optional<T> (*read)(const QVariant &),
                                      const char *type) const
{
    const std::optional<QVariant> v = value(key);
    if (!v)
        return std::nullopt;
    std::optional<T> result = read(*v);
    if (!result)
        misread(key, type);
    return result;
}

std::optional<QString> SettingsStore::string(const QString &key) const
{
    return typed(key, &asString, "text");
}

std::optional<QByteArray> SettingsStore::data(const QString &key) const
{
    return typed(key, &asData, "data");
}

std::optional<bool> SettingsStore::boolean(const QString &key) const
{
    return typed(key, &asBoolean, "true or false");
}

std::optional<double> SettingsStore::number(const QString &key) const
{
    return typed(key, &asNumber, "a number");
}

std::optional<QStringList> SettingsStore::stringList(const QString &key) const
{
    return typed(key, &asStringList, "a list");
}

namespace {

// Serves the whole run, so it is never destroyed; its last changes are
// written out when the application object goes, after the windows, or at
// exit in a program that never lets it go.
const std::shared_ptr<QSettingsStore> &standardStore()
{
    static const auto *store = new std::shared_ptr<QSettingsStore>([] {
        auto made = std::make_shared<QSettingsStore>();
        // Registered once the store is there, so that neither makes it.
        const auto close = [] { standardStore()->close(); };
        qAddPostRoutine(close);
        std::atexit(close);
        return made;
    }());
    return *store;
}

} // namespace

std::shared_ptr<SettingsStore> SettingsStore::standard()
{
    return standardStore();
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

    // A value of the file does not read as what its caller takes it for, so
    // the default stands in for it and the next change of it replaces it:
    // the file is kept as it was first, and that is said.
    void misread(const QString &key, const char *type)
    {
        std::lock_guard lock(mutex_);
        misread_.push_back({key, type});
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
            const bool told = stuckAt_ > 0;
            stuckAt_ = ticket;
            if (!told) {
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

    // The most a settings file of this program holds is well under a
    // megabyte (every station of the catalog a favourite, a long schedule).
    // A file far larger is no settings file, and QSettings would take
    // seconds and gigabytes to read it.
    static constexpr qint64 largestFile = 8 << 20;

    // Makes the file ready for QSettings and reads it; answers the settings
    // to write to, none when the values are to stay in memory (it said why).
    std::unique_ptr<QSettings> read(QHash<QString, QVariant> *values)
    {
        const QByteArray name = QFile::encodeName(path_);
        struct stat info {};
        Assessment assessment;
        bool tooLarge = false;
        if (::lstat(name.constData(), &info) != 0) {
            if (errno == ENOENT)
                createPrivateFile(path_);
            // any other failure: QSettings reports it as before
        } else if ((S_ISLNK(info.st_mode) && ::stat(name.constData(), &info) != 0) || !S_ISREG(info.st_mode)) {
            warn(path_, "is not a regular file");
            return nullptr;
        } else if (std::optional<QByteArray> bytes = readRegularFile(path_, largestFile, &tooLarge)) {
            if (tooLarge) {
                const QString why = QStringLiteral("is %1 MiB, far larger than settings ever are")
                                        .arg(std::max<qint64>(info.st_size >> 20, largestFile >> 20));
                if (!moveAside(path_, why))
                    return nullptr;
            } else {
                original_ = std::move(*bytes);
                assessment = assess(original_);
                if (assessment.reading == Reading::Lossy) {
                    original_.clear();
                    if (!moveAside(path_, QStringLiteral("cannot be read completely")))
                        return nullptr;
                }
            }
        } else {
            warn(path_, "cannot be read");
            return nullptr;
        }

        auto settings = std::make_unique<QSettings>(path_, QSettings::IniFormat);
        const QStringList keys = settings->allKeys(); // parses every section
        for (const QString &key : keys)
            values->insert(key, settings->value(key));
        if (assessment.reading == Reading::Complete && settings->status() == QSettings::FormatError)
            assessment = {Reading::Rewritten, {QStringLiteral("lines QSettings skips")}};

        if (!lockUsable(path_)) {
            refuseLock();
            return nullptr;
        }
        // Kept before QSettings rewrites it; a file that cannot be written is
        // not rewritten either.
        rewritable_ = ::access(name.constData(), W_OK) == 0;
        if (assessment.reading == Reading::Rewritten && rewritable_) {
            const QString what = listed(assessment.drops) + QStringLiteral(" that saving drops");
            if (!keepOriginal(what))
                return nullptr;
        }
        return settings;
    }

    // Keeps the file as it was read, once, saying so with what it has;
    // answers whether it is kept.
    bool keepOriginal(const QString &what)
    {
        if (kept_.isEmpty()) {
            std::variant<QString, int> copy = keepCopy(path_, original_);
            if (const int *failure = std::get_if<int>(&copy)) {
                say("vantuli: the settings file %s has %s, and no copy of it could be kept (%s); changes are kept for "
                    "this run only\n",
                    path_, what, reason(*failure));
                return false;
            }
            kept_ = std::get<QString>(copy);
            original_.clear();
        }
        say("vantuli: the settings file %s has %s; it is kept as it was in %s\n", path_, what, kept_);
        return true;
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
            std::vector<std::pair<QString, const char *>> misread;
            quint64 ticket = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !pending_.empty() || !misread_.empty() || ending_; });
                if (pending_.empty() && misread_.empty())
                    break;
                batch.swap(pending_);
                misread.swap(misread_);
                ticket = queued_;
            }
            for (const auto &[key, type] : misread) {
                const QString what = QStringLiteral("a value that does not read as %1 (%2), so the default applies")
                                         .arg(QLatin1String(type), key);
                if (!rewritable_)
                    say("vantuli: the settings file %s has %s\n", path_, what);
                else if (!keepOriginal(what))
                    frozen_ = true;
            }
            if (!frozen_)
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
        if (unwritten_.empty() && !retry_)
            return;
        // A lock path that turned into something else since: not touched.
        if (!lockUsable(path_)) {
            refuseLock();
            return;
        }
        // QSettings puts a file cut short in place of the old one when the
        // disk fills up as it writes: it goes ahead only where there is room.
        const auto before = version(path_);
        qint64 size = 512;
        if (completeSize_ >= 0 && !retry_) {
            size += std::max<qint64>(completeSize_, before ? std::get<2>(*before) : 0);
        } else {
            for (const QString &key : settings.allKeys())
                size += writtenSize(key, settings.value(key));
        }
        for (const Change &change : unwritten_) {
            if (change.value)
                size += writtenSize(change.key, *change.value);
        }
        if (const int failure = room(path_, size)) {
            failed(reason(failure));
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
        const QSettings::Status statusBefore = settings.status();
        settings.sync();
        // Nothing processes events on this thread: QSettings' own request to
        // write later would only pile up.
        QCoreApplication::removePostedEvents(&settings, QEvent::UpdateRequest);
        const auto after = version(path_);
        retry_ = !after || after == before
                 || (statusBefore != QSettings::AccessError && settings.status() == QSettings::AccessError);
        if (retry_)
            failed(writeFailure(path_));
        else
            completeSize_ = std::get<2>(*after);
    }

    void refuseLock()
    {
        if (!toldLock_)
            say("vantuli: the settings lock file %s is not a regular file; changes are kept for this run only\n",
                path_ + QStringLiteral(".lock"));
        toldLock_ = true;
    }

    void failed(const QString &why)
    {
        retry_ = true;
        if (!toldWrite_) {
            toldWrite_ = true;
            say("vantuli: the settings file %s cannot be written (%s); changes are kept for this run only\n", path_,
                why);
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
    std::vector<std::pair<QString, const char *>> misread_;
    quint64 queued_ = 0;
    quint64 written_ = 0;
    quint64 stuckAt_ = 0; // the ticket of the last write that did not finish in time; 0: none yet
    // The thread's own:
    QByteArray original_;           // the file as read, until a copy of it is kept
    QString kept_;                  // that copy
    bool rewritable_ = false;       // the file may be written, so a copy matters
    bool frozen_ = false;           // no copy could be kept: nothing is written
    std::vector<Change> unwritten_; // held back while the lock path is not usable or the disk is full
    bool retry_ = false;            // the last write failed; QSettings may still hold it
    qint64 completeSize_ = -1;      // the size of the last complete write
    bool toldLock_ = false;
    bool toldWrite_ = false;
};

QSettingsStore::QSettingsStore(const QString &fileName) : standard_(fileName.isEmpty())
{
    // The user's file, where QSettings keeps "Vantuli"/"Vantuli" in INI form.
    auto disk = std::make_shared<Disk>(standard_ ? standardFile() : fileName);
    if (disk->start(&memory_)) {
        disk_ = std::move(disk);
        for (auto it = memory_.cbegin(); it != memory_.cend(); ++it)
            fromFile_.insert(it.key());
    }
}

QSettingsStore::~QSettingsStore()
{
    close();
}

void QSettingsStore::close()
{
    std::shared_ptr<Disk> disk;
    {
        std::lock_guard lock(mutex_);
        disk = std::move(disk_);
    }
    if (disk)
        disk->end();
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
    fromFile_.remove(key);
    if (disk_)
        disk_->queue(key, value);
}

void QSettingsStore::remove(const QString &key)
{
    std::lock_guard lock(mutex_);
    memory_.remove(key);
    fromFile_.remove(key);
    if (disk_)
        disk_->queue(key, std::nullopt);
}

void QSettingsStore::sync()
{
    std::shared_ptr<Disk> disk;
    {
        std::lock_guard lock(mutex_);
        disk = disk_;
    }
    if (disk)
        disk->flush();
}

void QSettingsStore::misread(const QString &key, const char *type) const
{
    std::lock_guard lock(mutex_);
    // Once for each value the file holds; one set since is the caller's own.
    if (disk_ && fromFile_.remove(key))
        disk_->misread(key, type);
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
