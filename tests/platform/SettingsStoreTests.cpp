#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>

#include <chrono>
#include <cmath>
#include <cstring>
#include <future>

#include <fcntl.h>
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

// Saving rewrites the whole file from what QSettings read: a file it would
// not read completely is moved aside first, byte for byte, with one line on
// standard error, and the store starts from the defaults in a fresh file.
TEST(SettingsStore, AFileNotReadCompletelyIsMovedAsideBeforeAnyWrite)
{
    const struct {
        const char *name;
        QByteArray text;
        bool complete;
    } cases[] = {
        {"garbage", QByteArray("\x01\x02\x7f garbage \xff\xfe\n\x00\x13 more", 22), false},
        {"a line without =", "[General]\nvolume=0.3\nmy favourite stations\nlanguage=ben\n", false},
        {"a section left open", "[General\nvolume=0.3\n", false},
        {"text after a section", "[General] mine\nvolume=0.3\n", false},
        {"a ; after a value", "[General]\nvolume=0.3 ; was 0.5\n", false},
        {"a quote left open", "[General]\nlanguage=\"ben\nvolume=0.3\n", false},
        {"not UTF-8", "[General]\nlanguage=\xe9t\xe9\nvolume=0.3\n", false},
        {"comments, breaks and quotes", "; mine\r\n[General]\r\nvolume=0.3\nlist=a, \\\n b\nnote=\"x;\ny\"\n\n[Other]\n",
         true},
        {"a backslash ending the file", "[General]\nvolume=0.3\nnote=x\\", true},
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
        ::testing::internal::CaptureStderr();
        {
            QSettingsStore s(file);
            EXPECT_EQ(s.number(QStringLiteral("volume")), c.complete ? std::optional<double>(0.3) : std::nullopt);
            s.setValue(QStringLiteral("geometry"), QByteArray("saved"));
        }
        const QString printed = QString::fromStdString(::testing::internal::GetCapturedStderr());
        const QStringList aside = QDir(folder).entryList({QStringLiteral("settings.ini.unreadable-*")}, QDir::Files);
        if (c.complete) {
            EXPECT_TRUE(aside.isEmpty());
            EXPECT_TRUE(printed.isEmpty());
            continue;
        }
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(contents(folder + QLatin1Char('/') + aside[0]) == c.text);
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(printed.contains(aside[0])) << printed.toStdString();
        // Only what was saved since, in a file of the owner's only.
        QSettings fresh(file, QSettings::IniFormat);
        EXPECT_EQ(fresh.allKeys(), QStringList{QStringLiteral("geometry")});
        EXPECT_EQ(mode(file), 0600);
    }
}

// A settings path that is not a regular file is neither read nor written
// (a FIFO would block the start for good): the store keeps its values in
// memory and says why on standard error.
TEST(SettingsStore, APathThatIsNotARegularFileIsNeverOpened)
{
    const QString folder = test::temporaryFolder();
    const auto path = [&](const char *name) { return folder + QLatin1Char('/') + QLatin1String(name); };
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(path("fifo"), path("link-to-fifo")));
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("folder")));
    ASSERT_TRUE(QFile::link(path("nothing"), path("link-to-nothing")));
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(path("socket"));
    ASSERT_LT(size_t(socketPath.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);

    const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const char *name : {"fifo", "link-to-fifo", "folder", "link-to-nothing", "socket"}) {
        SCOPED_TRACE(name);
        struct stat was {};
        ASSERT_EQ(::lstat(QFile::encodeName(path(name)).constData(), &was), 0);
        ::testing::internal::CaptureStderr();
        auto opened = std::async(std::launch::async, [&] {
            QSettingsStore s(path(name));
            s.setValue(QStringLiteral("volume"), 0.4);
            return s.number(QStringLiteral("volume"));
        });
        if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Blocked in opening the FIFO: a writer that goes at once lets it on.
            ::close(::open(QFile::encodeName(path("fifo")).constData(), O_WRONLY | O_NONBLOCK));
            ADD_FAILURE() << "opened for reading";
        }
        EXPECT_EQ(opened.get(), std::optional<double>(0.4));
        const QString printed = QString::fromStdString(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(printed.contains(QStringLiteral("not a regular file"))) << printed.toStdString();
        struct stat is {};
        ASSERT_EQ(::lstat(QFile::encodeName(path(name)).constData(), &is), 0);
        EXPECT_EQ(is.st_mode, was.st_mode);
        EXPECT_EQ(is.st_ino, was.st_ino);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), before);
    EXPECT_TRUE(QDir(path("folder")).isEmpty());
    ::close(listening);
}
