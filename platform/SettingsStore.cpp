#include "platform/SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantuli {

namespace {

bool isIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Whether QSettings takes in every line of an INI text, so that rewriting
// the file loses nothing: each line is blank, a comment (";" first), a
// section header with nothing after its "]", or has a "=" outside quotes;
// no ";" outside quotes later in a line (QSettings drops the rest of the
// line); no quote left open at the end; UTF-8 throughout. Lines are split as
// QSettings splits them: a backslash escapes the next character, a line
// break too, and a quoted part may span lines.
bool readsCompletely(QByteArrayView text)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(text);
    if (utf8.hasError())
        return false;
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);

    const qsizetype size = text.size();
    qsizetype at = 0;
    while (true) {
        while (at < size && isIniSpace(text[at]))
            ++at;
        if (at == size)
            return true;
        const qsizetype start = at;
        if (text[at] == ';') {
            while (at < size && text[at] != '\n' && text[at] != '\r')
                ++at;
            continue;
        }
        bool quoted = false;
        bool equals = false;
        for (; at < size; ++at) {
            const char c = text[at];
            if ((c == '\n' || c == '\r') && !quoted)
                break;
            if (c == '\\') {
                if (++at == size)
                    break;
                if (at + 1 < size
                    && ((text[at] == '\n' && text[at + 1] == '\r') || (text[at] == '\r' && text[at + 1] == '\n')))
                    ++at;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == '=' && !quoted) {
                equals = true;
            } else if (c == ';' && !quoted) {
                return false;
            }
        }
        if (quoted)
            return false;
        const QByteArrayView line = text.sliced(start, at - start).trimmed();
        if (line.startsWith('[')) {
            if (line.indexOf(']') != line.size() - 1)
                return false;
        } else if (!equals) {
            return false;
        }
    }
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

// Moves a file QSettings would not read completely out of its way, next to
// it, so that nothing in it is lost when the settings are saved; a fresh
// file takes its place. Answers whether it could be moved.
bool moveAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = path + QStringLiteral(".unreadable-") + stamp;
    QString aside = base;
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, aside)) {
        warn(path, "cannot be read completely, nor moved aside");
        return false;
    }
    std::fprintf(stderr, "vantuli: the settings file %s cannot be read completely; it was moved to %s and the defaults "
                         "apply\n",
                 QFile::encodeName(path).constData(), QFile::encodeName(aside).constData());
    createPrivateFile(path);
    return true;
}

// Makes the settings file ready for QSettings, which reads it whole and
// writes it whole at the first change; answers whether QSettings may have it.
// Nothing that is not a regular file is opened: a FIFO would block the start.
bool prepareFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        if (errno == ENOENT)
            createPrivateFile(path);
        return true; // any other failure: QSettings reports it as before
    }
    if ((S_ISLNK(info.st_mode) && ::stat(name.constData(), &info) != 0) || !S_ISREG(info.st_mode)) {
        warn(path, "is not a regular file");
        return false;
    }
    const std::optional<QByteArray> text = readRegularFile(path);
    if (!text) {
        warn(path, "cannot be read");
        return false;
    }
    return readsCompletely(*text) || moveAside(path);
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

QSettingsStore::QSettingsStore(const QString &fileName) : standard_(fileName.isEmpty())
{
    // The user's file, where QSettings keeps "Vantuli"/"Vantuli" in INI form.
    const QString path = standard_ ? standardFile() : fileName;
    if (!prepareFile(path))
        return;
    settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
    (void)settings_->allKeys(); // parses every section
    if (settings_->status() == QSettings::FormatError) {
        settings_.reset();
        if (moveAside(path))
            settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
}

QSettingsStore::~QSettingsStore()
{
    std::lock_guard lock(mutex_);
    if (settings_)
        settings_->sync();
}

std::optional<QVariant> QSettingsStore::value(const QString &key) const
{
    std::lock_guard lock(mutex_);
    if (!settings_) {
        const auto it = memory_.constFind(key);
        return it == memory_.constEnd() ? std::nullopt : std::optional<QVariant>(*it);
    }
    if (!settings_->contains(key))
        return std::nullopt;
    return settings_->value(key);
}

void QSettingsStore::setValue(const QString &key, const QVariant &value)
{
    std::lock_guard lock(mutex_);
    if (settings_)
        settings_->setValue(key, value);
    else
        memory_.insert(key, value);
}

void QSettingsStore::remove(const QString &key)
{
    std::lock_guard lock(mutex_);
    if (settings_)
        settings_->remove(key);
    else
        memory_.remove(key);
}

void QSettingsStore::sync()
{
    std::lock_guard lock(mutex_);
    if (settings_)
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
