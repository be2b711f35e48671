#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantuli;

namespace {

// The permission bits of a file (not of a link's target).
int mode(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(SettingsStore, MemoryStoreTypedReadsFallBackOnWrongTypes)
{
    MemorySettingsStore s;
    EXPECT_FALSE(s.isStandard());
    EXPECT_FALSE(s.number(QStringLiteral("volume")).has_value());
    s.setValue(QStringLiteral("volume"), 0.3);
    EXPECT_DOUBLE_EQ(*s.number(QStringLiteral("volume")), 0.3);
    s.setValue(QStringLiteral("volume"), QStringLiteral("loud"));
    EXPECT_FALSE(s.number(QStringLiteral("volume")).has_value());
    s.setValue(QStringLiteral("captions"), QByteArray("xyz"));
    EXPECT_FALSE(s.boolean(QStringLiteral("captions")).has_value());
    EXPECT_FALSE(s.string(QStringLiteral("captions")).has_value());
    EXPECT_EQ(*s.data(QStringLiteral("captions")), QByteArray("xyz"));
    s.remove(QStringLiteral("captions"));
    EXPECT_FALSE(s.contains(QStringLiteral("captions")));
}

TEST(SettingsStore, IniFileRoundTripsEveryKindOfValue)
{
    const QString file = test::temporaryFolder() + QStringLiteral("/settings.ini");
    {
        QSettingsStore s(file);
        EXPECT_FALSE(s.isStandard());
        s.setValue(QStringLiteral("captions"), false);
        s.setValue(QStringLiteral("volume"), 0.25);
        s.setValue(QStringLiteral("language"), QStringLiteral("station"));
        s.setValue(QStringLiteral("schedule"), QByteArray("[{\"a\":1}]\n\x01"));
        s.setValue(QStringLiteral("favorites"), QStringList{QStringLiteral("one")});
        s.setValue(QStringLiteral("lastSlot.0A1B"), 1733616000.0);
        s.setValue(QStringLiteral("ratio"), QStringLiteral("nan"));
    }
    // A new file is its owner's only; a mode the user chose is kept.
    EXPECT_EQ(mode(file), 0600);
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    QSettingsStore(file).setValue(QStringLiteral("volume"), 0.25);
    EXPECT_EQ(mode(file), 0640);
    QSettingsStore s(file);
    EXPECT_EQ(s.boolean(QStringLiteral("captions")), std::optional<bool>(false));
    EXPECT_DOUBLE_EQ(*s.number(QStringLiteral("volume")), 0.25);
    EXPECT_EQ(*s.string(QStringLiteral("language")), QStringLiteral("station"));
    EXPECT_EQ(*s.data(QStringLiteral("schedule")), QByteArray("[{\"a\":1}]\n\x01"));
    EXPECT_EQ(*s.stringList(QStringLiteral("favorites")), QStringList{QStringLiteral("one")});
    EXPECT_DOUBLE_EQ(*s.number(QStringLiteral("lastSlot.0A1B")), 1733616000.0);
    // A text that reads as a non-finite number is reported as such; callers decide.
    auto ratio = s.number(QStringLiteral("ratio"));
    EXPECT_TRUE(!ratio || !std::isfinite(*ratio));
    EXPECT_FALSE(s.boolean(QStringLiteral("language")).has_value());
}

// Saving rewrites the whole file from what QSettings read. A file that
// reading would lose or change a value of is moved aside first, byte for
// byte, with one line on standard error, and the store starts from the
// defaults in a fresh file; so is one far larger than settings, unread. A
// file whose every value reads but that saving rewrites keeps its values and
// a byte-identical copy, and the line says what saving drops; a value that
// does not read as the type asked for keeps the copy too.
TEST(SettingsStore, AFileIsMovedAsideOnlyWhenReadingWouldLoseAValue)
{
    enum Outcome { MovedAside, CopiedAside, Kept, VolumeMisread };
    const QByteArray huge = "[General]\nvolume=0.3\nlanguage=ben\n" + QByteArray(9 << 20, ';');
    const struct {
        const char *name;
        QByteArray text;
        Outcome outcome;
        const char *told;
    } cases[] = {
        {"garbage", QByteArray("\x01\x02\x7f garbage \xff\xfe\n\x00\x13 more", 22), MovedAside, "read completely"},
        {"a line without =", "[General]\nvolume=0.3\nmy favourite stations\nlanguage=ben\n", MovedAside, ""},
        {"a section left open", "[General\nvolume=0.3\nlanguage=ben\n", MovedAside, ""},
        {"a ; inside a value", "[General]\nlanguage=ben;eng\nvolume=0.3\n", MovedAside, ""},
        {"a quote left open", "[General]\nlanguage=\"ben\nvolume=0.3\n", MovedAside, ""},
        {"not UTF-8", "[General]\nlanguage=\xe9t\xe9\nvolume=0.3\n", MovedAside, ""},
        {"a # line going on past its end", "# see \\\nvolume=0.3\nlanguage=ben\n", MovedAside, ""},
        {"NUL bytes after a value", QByteArray("[General]\nvolume=0.3\nlanguage=ben\0\0", 35), MovedAside, ""},
        {"far larger than settings", huge, MovedAside, "far larger than settings"},
        {"a comment after a value", "[General]\nvolume=0.3 ; was 1\nlanguage=ben\n", CopiedAside, "has comments"},
        {"a comment after a section", "[General] ; main\nvolume=0.3\nlanguage=ben\n", CopiedAside, "has comments"},
        {"text after a section", "[General]x\nvolume=0.3\nlanguage=ben\n", CopiedAside, "has text after a section"},
        {"a # line", "# mine\n[General]\nvolume=0.3\nlanguage=ben\n", CopiedAside, "has comments"},
        {"a byte-order mark", "\xEF\xBB\xBF[General]\nvolume=0.3\nlanguage=ben\n", CopiedAside,
         "has a byte-order mark that"},
        {"a ; line", "; mine\r\n[General]\r\nvolume=0.3\r\nlanguage=ben\r\n", CopiedAside, "has comments"},
        {"Latin-1 in comments", "; caf\xe9\n[General]\nvolume=0.3 ; \xe9t\xe9\nlanguage=ben\n", CopiedAside,
         "has comments"},
        {"NUL bytes closing it", QByteArray("[General]\nvolume=0.3\nlanguage=ben\n\0\0\0\0", 38), CopiedAside,
         "has NUL bytes at its end"},
        {"a # after a number", "[General]\nvolume=0.42 # note\nlanguage=ben\n", VolumeMisread,
         "not read as a number (volume)"},
        {"breaks and quotes", "[General]\nvolume=0.3\nlist=a, \\\n b\nnote=\"x;\ny\"\nlanguage=ben\n\n[Other]\n", Kept, ""},
        {"a backslash ending the file", "[General]\nlanguage=ben\nvolume=0.3\nnote=x\\", Kept, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = test::temporaryFolder();
        const QString file = folder + QStringLiteral("/settings.ini");
        {
            QFile ini(file);
            ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
            ini.write(c.text);
        }
        const bool read = c.outcome != MovedAside;
        ::testing::internal::CaptureStderr();
        {
            QSettingsStore s(file);
            EXPECT_EQ(s.number(QStringLiteral("volume")),
                      read && c.outcome != VolumeMisread ? std::optional<double>(0.3) : std::nullopt);
            EXPECT_EQ(s.string(QStringLiteral("language")), read ? std::optional(QStringLiteral("ben")) : std::nullopt);
            s.setValue(QStringLiteral("geometry"), QByteArray("saved"));
        }
        const QString printed = QString::fromStdString(::testing::internal::GetCapturedStderr());
        const QStringList aside = QDir(folder).entryList({QStringLiteral("settings.ini.*")}, QDir::Files);
        const QString prefix = c.outcome == MovedAside ? QStringLiteral("settings.ini.unreadable-")
                                                       : QStringLiteral("settings.ini.before-");
        QSettings saved(file, QSettings::IniFormat);
        EXPECT_EQ(saved.value(QStringLiteral("geometry")).toByteArray(), QByteArray("saved"));
        if (c.outcome == Kept) {
            EXPECT_TRUE(aside.isEmpty());
            EXPECT_TRUE(printed.isEmpty()) << printed.toStdString();
            EXPECT_EQ(saved.value(QStringLiteral("volume")).toString(), QStringLiteral("0.3"));
            continue;
        }
        if (aside.size() != 1) {
            ADD_FAILURE() << "aside: " << aside.join(QLatin1Char(' ')).toStdString();
            continue;
        }
        EXPECT_TRUE(aside[0].startsWith(prefix)) << aside[0].toStdString();
        EXPECT_TRUE(contents(folder + QLatin1Char('/') + aside[0]) == c.text);
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(printed.contains(aside[0])) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QLatin1String(c.told))) << printed.toStdString();
        // Moved aside: only what was saved since. Copied: the values as read.
        EXPECT_EQ(saved.allKeys().size(), read ? 3 : 1) << saved.allKeys().join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(saved.value(QStringLiteral("language")), read ? QVariant(QStringLiteral("ben")) : QVariant());
        EXPECT_TRUE(read || mode(file) == 0600); // a fresh file
    }
}

namespace {

// Makes a FIFO, a folder, a link to nothing or a listening socket at a path.
void place(const QString &what, const QString &path, std::vector<int> *sockets)
{
    const QByteArray name = QFile::encodeName(path);
    if (what == QLatin1String("fifo")) {
        ASSERT_EQ(::mkfifo(name.constData(), 0600), 0);
    } else if (what == QLatin1String("folder")) {
        ASSERT_EQ(::mkdir(name.constData(), 0700), 0);
    } else if (what == QLatin1String("link-to-nothing")) {
        ASSERT_EQ(::symlink("nothing-here", name.constData()), 0);
    } else if (what == QLatin1String("socket")) {
        const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(size_t(name.size()), sizeof(address.sun_path));
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
        sockets->push_back(listening);
    }
}

// Lets go of a caller that a faulty store left waiting on the thing at a
// path: a FIFO gets a writer that leaves at once, the path is freed.
void release(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int writer = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
    if (::unlink(name.constData()) != 0)
        ::rmdir(name.constData());
    if (writer >= 0)
        ::close(writer);
}

} // namespace

// A settings path, or the lock path next to it, that is not a regular file is
// neither read nor written (a FIFO would block for good, Qt's lock spins on a
// folder): the store keeps its values in memory and says why, once, on
// standard error. A good file next to a bad lock is still read.
TEST(SettingsStore, APathThatIsNotARegularFileIsNeverOpened)
{
    const struct {
        const char *what;
        bool lock; // at the lock path of a good settings file
    } cases[] = {
        {"fifo", false},         {"link-to-fifo", false}, {"folder", false},       {"link-to-nothing", false},
        {"socket", false},       {"fifo", true},          {"folder", true},        {"link-to-nothing", true},
    };
    std::vector<int> sockets;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.what) + (c.lock ? " at the lock path" : ""));
        const QString folder = test::temporaryFolder();
        const QString file = folder + QStringLiteral("/settings.ini");
        const QString what = QString::fromLatin1(c.what);
        const QString odd = c.lock ? file + QStringLiteral(".lock") : file;
        const QByteArray text = "[General]\nvolume=0.2\n";
        if (c.lock) {
            QFile ini(file);
            ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
            ini.write(text);
        }
        if (what == QLatin1String("link-to-fifo")) {
            place(QStringLiteral("fifo"), folder + QStringLiteral("/fifo"), &sockets);
            ASSERT_TRUE(QFile::link(folder + QStringLiteral("/fifo"), odd));
        } else {
            place(what, odd, &sockets);
        }
        const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        struct stat was {};
        ASSERT_EQ(::lstat(QFile::encodeName(odd).constData(), &was), 0);

        ::testing::internal::CaptureStderr();
        auto opened = std::async(std::launch::async, [&] {
            QSettingsStore s(file);
            const std::optional<double> read = s.number(QStringLiteral("volume"));
            s.setValue(QStringLiteral("volume"), 0.4);
            s.sync();
            return std::pair(read, s.number(QStringLiteral("volume")));
        });
        if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            release(what == QLatin1String("link-to-fifo") ? folder + QStringLiteral("/fifo") : odd);
            ADD_FAILURE() << "held up";
        }
        const auto [read, set] = opened.get();
        EXPECT_EQ(read, c.lock ? std::optional<double>(0.2) : std::nullopt);
        EXPECT_EQ(set, std::optional<double>(0.4));
        const QString printed = QString::fromStdString(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QFile::encodeName(odd) + " is not a regular file")) << printed.toStdString();
        struct stat is {};
        EXPECT_EQ(::lstat(QFile::encodeName(odd).constData(), &is), 0);
        EXPECT_EQ(is.st_mode, was.st_mode);
        EXPECT_EQ(is.st_ino, was.st_ino);
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), before);
        EXPECT_TRUE(what != QLatin1String("folder") || QDir(odd).isEmpty());
        EXPECT_TRUE(!c.lock || contents(file) == text);
    }
    for (const int socket : sockets)
        ::close(socket);
}

// A lock that turns up after the start, or one another writer holds, never
// holds up the store's caller: sync() waits a bounded time, the values stay
// readable, and a held lock's write lands once it is let go.
TEST(SettingsStore, ALockThatAppearsLaterNeverHoldsUpTheCaller)
{
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "a FIFO at the lock path" : "a lock another writer holds");
        const QString file = test::temporaryFolder() + QStringLiteral("/settings.ini");
        const QString lockPath = file + QStringLiteral(".lock");
        auto s = std::make_unique<QSettingsStore>(file);
        s->setValue(QStringLiteral("volume"), 0.2);
        s->sync();
        QLockFile held(lockPath);
        if (fifo)
            ASSERT_EQ(::mkfifo(QFile::encodeName(lockPath).constData(), 0600), 0);
        else
            ASSERT_TRUE(held.tryLock(0));

        ::testing::internal::CaptureStderr();
        auto set = std::async(std::launch::async, [&] {
            s->setValue(QStringLiteral("volume"), 0.4);
            s->sync();
            s->sync();
            return s->number(QStringLiteral("volume"));
        });
        if (set.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "held up";
            if (fifo)
                release(lockPath);
            else
                held.unlock();
        }
        EXPECT_EQ(set.get(), std::optional<double>(0.4));
        const QString printed = QString::fromStdString(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QFile::encodeName(fifo ? lockPath : file))) << printed.toStdString();
        // Read as bytes: a QSettings of the same file would wait for the writer.
        EXPECT_TRUE(contents(file).contains("volume=0.2\n"));
        if (fifo) {
            struct stat info {};
            EXPECT_EQ(::lstat(QFile::encodeName(lockPath).constData(), &info), 0);
            EXPECT_TRUE(S_ISFIFO(info.st_mode));
            continue;
        }
        held.unlock();
        EXPECT_TRUE(test::waitUntil([&] { return contents(file).contains("volume=0.4\n"); }));
        s.reset();
    }
}

namespace {

// Standard error into a pipe for a while: a file size limit would cut a
// capture file short.
class StderrPipe {
public:
    StderrPipe()
    {
        if (::pipe2(ends_, O_CLOEXEC) != 0)
            return;
        std::fflush(stderr);
        saved_ = ::dup(2);
        ::dup2(ends_[1], 2);
    }

    QString take()
    {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        ::close(ends_[1]);
        QByteArray text;
        char buffer[4096];
        for (ssize_t n = 0; (n = ::read(ends_[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, n);
        ::close(ends_[0]);
        return QString::fromLocal8Bit(text);
    }

private:
    int ends_[2] = {-1, -1};
    int saved_ = -1;
};

} // namespace

// A write that fails (a file or folder that cannot be written, no room for
// the whole file) says so once, with the path and the reason, and leaves the
// file as it was; what was set still reads back for the run.
TEST(SettingsStore, AFailedWriteIsToldOnceAndTheValuesStay)
{
    const struct {
        const char *name;
        const char *subfolder;
        int fileMode;
        int folderMode;
        rlim_t sizeLimit; // in bytes; a file to be written past it does not fit
        const char *reason;
    } cases[] = {
        {"a file only its owner may read", "", 0400, 0700, RLIM_INFINITY, "Permission denied"},
        {"a folder its owner may not write", "", 0600, 0500, RLIM_INFINITY, "Permission denied"},
        {"a folder that is a plain file", "/plain", 0600, 0700, RLIM_INFINITY, "Not a directory"},
        {"no room for the whole file", "", 0600, 0700, 200, "File too large"},
    };
    const QString language(300, QLatin1Char('b'));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fileMode != 0600 || c.folderMode != 0700) {
            if (::geteuid() == 0) // permissions do not hold the superuser back
                continue;
        }
        const QString folder = test::temporaryFolder() + QLatin1String(c.subfolder);
        const QString file = folder + QStringLiteral("/settings.ini");
        if (*c.subfolder) {
            QFile plain(folder);
            ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        } else {
            QFile ini(file);
            ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
            ini.write("[General]\nvolume=0.2\n");
        }
        if (!*c.subfolder) {
            ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), mode_t(c.fileMode)), 0);
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), mode_t(c.folderMode)), 0);
        }
        // A file size limit stands in for a full disk; writing past it fails
        // with EFBIG rather than ending the process.
        struct sigaction ignore {}, signalWas {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &signalWas);
        rlimit limitWas {};
        ::getrlimit(RLIMIT_FSIZE, &limitWas);
        StderrPipe captured;
        {
            QSettingsStore s(file);
            rlimit limit = limitWas;
            limit.rlim_cur = std::min(c.sizeLimit, limitWas.rlim_max);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            s.setValue(QStringLiteral("volume"), 0.4);
            s.setValue(QStringLiteral("language"), language);
            s.sync();
            s.remove(QStringLiteral("volume"));
            s.sync();
            EXPECT_FALSE(s.contains(QStringLiteral("volume")));
            EXPECT_EQ(s.string(QStringLiteral("language")), language);
        }
        ::setrlimit(RLIMIT_FSIZE, &limitWas);
        ::sigaction(SIGXFSZ, &signalWas, nullptr);
        const QString printed = captured.take();
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QFile::encodeName(file) + " cannot be written")) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QLatin1String(c.reason))) << printed.toStdString();
        EXPECT_TRUE(*c.subfolder || contents(file) == "[General]\nvolume=0.2\n") << contents(file).toStdString();
    }
}

// Nothing destroys the standard store, yet a change made as the application
// winds down, after its last sync(), is in the file once the process has
// ended: when the application object goes, or at exit without that.
TEST(SettingsStore, TheLastChangeOfARunIsInTheFileAfterExit)
{
    for (const char *end : {"return", "exit"}) {
        SCOPED_TRACE(end);
        const QString config = test::temporaryFolder();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VANTULI_SETTINGS_EXIT), {QLatin1String(end)});
        ASSERT_TRUE(program.waitForStarted(10000));
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        QSettings saved(config + QStringLiteral("/Vantuli/Vantuli.ini"), QSettings::IniFormat);
        EXPECT_EQ(saved.value(QStringLiteral("volume")).toString(), QStringLiteral("0.3"));
        EXPECT_EQ(saved.value(QStringLiteral("late")).toString().size(), 1 << 20);
    }
}
