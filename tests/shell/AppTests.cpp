// The tray menu, single instance and the command line as separate processes,
// and the desktop's player controls on a private session bus.
#include "ShellFixture.h"

#include "shell/AppMenus.h"
#include "shell/CommandLine.h"
#include "shell/RadioWindow.h"
#include "shell/SingleInstance.h"
#include "shell/WindowRegistry.h"
#include "store/MprisMediaSession.h"

#include <QAction>
#include <QDBusInterface>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDBusReply>
#include <QDBusVirtualObject>
#include <QMenu>
#include <QTextDocumentFragment>
#include "support/PrivateSessionBus.h"
#include "support/Responsiveness.h"

#include <QProcess>
#include <QStandardPaths>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cmath>
#include <QDeadlineTimer>
#include <QSysInfo>
#include <QThread>

#include <atomic>
#include <mutex>
#include <csignal>
#include <elf.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantuli::test {
namespace {


struct ProgramRun {
    int code = -1;
    QString out;
    QString err;
};

ProgramRun runProgram(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VANTULI_PROGRAM), arguments);
    ProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// The libraries a 64-bit ELF program says it opens with dlopen, from its
// freedesktop.org ".note.dlopen" notes: soname -> priority.
QHash<QString, QString> dlopenDependencies(const QString &program)
{
    QHash<QString, QString> found;
    QFile file(program);
    const uchar *data = file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
    if (!data || file.size() < qint64(sizeof(Elf64_Ehdr)))
        return found;
    const auto *header = reinterpret_cast<const Elf64_Ehdr *>(data);
    for (int i = 0; i < header->e_shnum; ++i) {
        const auto *section = reinterpret_cast<const Elf64_Shdr *>(data + header->e_shoff + i * header->e_shentsize);
        if (section->sh_type != SHT_NOTE)
            continue;
        for (quint64 at = section->sh_offset; at + sizeof(Elf64_Nhdr) <= section->sh_offset + section->sh_size;) {
            const auto *note = reinterpret_cast<const Elf64_Nhdr *>(data + at);
            const char *owner = reinterpret_cast<const char *>(note + 1);
            const char *description = owner + ((note->n_namesz + 3) & ~3U);
            if (note->n_type == 0x407c0c0a && QByteArray(owner) == "FDO") {
                for (const QJsonValue entry : QJsonDocument::fromJson(QByteArray(description)).array()) {
                    for (const QJsonValue soname : entry[QLatin1String("soname")].toArray())
                        found.insert(soname.toString(), entry[QLatin1String("priority")].toString());
                }
            }
            at = quint64(description - reinterpret_cast<const char *>(data)) + ((note->n_descsz + 3) & ~3U);
        }
    }
    return found;
}

// The program with settings, data and cache folders of its own under `root`,
// no sound and a line on standard output once its window has painted.
QProcessEnvironment programEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VANTULI_AUDIO"), QStringLiteral("null"));
    environment.insert(QStringLiteral("VANTULI_REPORT_FIRST_PAINT"), QStringLiteral("1"));
    environment.insert(QStringLiteral("TMPDIR"), root);
    environment.insert(QStringLiteral("HOME"), root);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
    return environment;
}

// Waits, without running this thread's events, for the program's window to
// paint; false when it ends first. What it wrote on standard error is in the
// failure message.
testing::AssertionResult waitForFirstPaint(QProcess &program)
{
    QByteArray out;
    const QDeadlineTimer deadline(std::chrono::seconds(60));
    while (!out.contains("first-paint") && !deadline.hasExpired()) {
        const bool more = program.waitForReadyRead(1000);
        out += program.readAllStandardOutput();
        if (!more && program.state() == QProcess::NotRunning)
            break;
    }
    if (out.contains("first-paint"))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "exit " << program.exitCode() << ": " << program.readAllStandardError().toStdString();
}

// Asks the program to end, and ends it when it does not.
void stopProgram(QProcess &program)
{
    program.terminate();
    if (!program.waitForFinished(30000)) {
        program.kill();
        program.waitForFinished();
    }
}

QMenu *submenu(QMenu &menu, const QString &title)
{
    for (QAction *action : menu.actions()) {
        if (action->menu() && action->text() == title)
            return action->menu();
    }
    return nullptr;
}

using TrayTest = ShellFixture;

TEST_F(TrayTest, MenuShowsTenMostRecentResolvedAndEscapesNames)
{
    std::vector<Station> stations = catalog(12);
    stations.at(2).name = QStringLiteral("R&B");
    const QString endless = QStringLiteral("Radio ") + QStringLiteral("Endless Name ").repeated(40) + QStringLiteral("<FM>");
    stations.at(7).name = endless;
    make(stations);
    RadioStore *radio = app->radio();
    QMenu &tray = *app->menus()->trayMenu();

    // The menu is filled as it is about to show.
    const auto open = [&] {
        app->menus()->flush();
        emit tray.aboutToShow();
    };
    // Empty favourites and history: only the featured submenu.
    probe->setHistory({});
    open();
    EXPECT_NE(submenu(tray, L10n::shared().text(QStringLiteral("精选电台"))), nullptr);
    EXPECT_EQ(submenu(tray, L10n::shared().text(QStringLiteral("收藏"))), nullptr);
    EXPECT_EQ(submenu(tray, L10n::shared().text(QStringLiteral("最近收听"))), nullptr);

    // Twelve records, newest first; two of the first ten are gone from the catalog.
    std::vector<ListeningRecord> history;
    const QStringList ids{QStringLiteral("s3"),  QStringLiteral("gone1"), QStringLiteral("s1"),
                          QStringLiteral("s2"),  QStringLiteral("s4"),    QStringLiteral("gone2"),
                          QStringLiteral("s5"),  QStringLiteral("s6"),    QStringLiteral("s7"),
                          QStringLiteral("s8"),  QStringLiteral("s9"),    QStringLiteral("s10")};
    for (const QString &id : ids)
        history.push_back(ListeningRecord{id, std::nullopt, 1});
    probe->setHistory(history);
    radio->favorite(*radio->catalogStation(QStringLiteral("s2")));
    open();

    QMenu *recent = submenu(tray, L10n::shared().text(QStringLiteral("最近收听")));
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    QStringList shown;
    for (QAction *action : recent->actions())
        shown.append(action->text());
    ASSERT_EQ(shown.size(), 8);
    EXPECT_EQ(shown.mid(0, 7), (QStringList{QStringLiteral("R&&B"), QStringLiteral("Station 1"), QStringLiteral("Station 2"),
                                            QStringLiteral("Station 4"), QStringLiteral("Station 5"),
                                            QStringLiteral("Station 6"), QStringLiteral("Station 7")}));
    // A long name is cut short at a bounded width, whole in the item's tooltip;
    // a name that fits has none.
    EXPECT_TRUE(recent->toolTipsVisible());
    EXPECT_TRUE(shown.last().endsWith(QChar(0x2026)));
    EXPECT_LE(recent->fontMetrics().horizontalAdvance(shown.last()), trayNameWidth);
    EXPECT_LE(recent->sizeHint().width(), 2 * trayNameWidth);
    EXPECT_EQ(QTextDocumentFragment::fromHtml(recent->actions().last()->toolTip()).toPlainText(), endless);
    EXPECT_EQ(recent->actions().first()->toolTip(), QStringLiteral("R&B"));
    QMenu *favorites = submenu(tray, L10n::shared().text(QStringLiteral("收藏")));
    ASSERT_NE(favorites, nullptr);
    ASSERT_EQ(favorites->actions().size(), 1);

    // A station item starts that station with a recorded visit.
    recent->actions().first()->trigger();
    settle();
    ASSERT_TRUE(radio->current());
    EXPECT_EQ(radio->current()->name, QStringLiteral("R&B"));
    EXPECT_TRUE(radio->active());
    open();
    // The first section names it and offers to stop.
    const QList<QAction *> items = tray.actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items.at(0)->text(), QStringLiteral("R&&B"));
    EXPECT_EQ(items.at(1)->text(), actionText(L10n::shared().text(QStringLiteral("停止播放"))));
    // Rebuilds (one follows every selection, playback, favourites or history
    // change) leave no menus or items behind.
    auto count = [&] {
        const QWidgetList widgets = QApplication::allWidgets();
        return std::pair(std::count_if(widgets.begin(), widgets.end(), [](QWidget *w) { return qobject_cast<QMenu *>(w); }),
                         tray.findChildren<QObject *>().size());
    };
    const auto before = count();
    for (int i = 0; i < 20; ++i) {
        radio->favorite(*radio->catalogStation(QStringLiteral("s2")));
        open();
    }
    EXPECT_EQ(count(), before);
    // While the menu shows, a change refills it without another opening.
    tray.popup(QPoint(0, 0));
    radio->favorite(*radio->catalogStation(QStringLiteral("s2")));
    app->menus()->flush();
    EXPECT_EQ(submenu(tray, L10n::shared().text(QStringLiteral("收藏"))), nullptr);
    tray.close();
    ASSERT_GE(tray.actions().size(), 2);
    tray.actions().at(1)->trigger();
    settle();
    EXPECT_FALSE(radio->active());
    // Overlay controls, open and quit end the menu; quit ends the application.
    QAction *quit = tray.actions().last();
    EXPECT_EQ(quit->objectName(), QStringLiteral("commandQuit"));
    QWidget *main = app->open(QStringLiteral("main"));
    ASSERT_TRUE(main && main->isVisible());
    quit->trigger();
    EXPECT_EQ(quits, 1);
    // The windows go at once, before the application's end has run.
    EXPECT_FALSE(main->isVisible());
}

// WCAG's relative luminance of an sRGB colour, and the contrast of two.
double luminance(const QColor &color)
{
    auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(TrayMarkTest, StandsOffLightAndDarkPanelsAtEverySizeTheTrayAsksFor)
{
    const QIcon icon = trayMarkIcon();
    // The tile's own tone against the panels, then the mark as drawn: at
    // least half of its square, laid on the panel, stands off it by 3:1.
    const QColor panels[] = {Qt::white, QColor(0xf5, 0xf5, 0xf5), QColor(31, 31, 31), Qt::black};
    for (const QColor &panel : panels)
        EXPECT_GE(contrast(trayTileColor(), panel), 3.0) << panel.name().toStdString();
    for (const int side : {16, 22, 24, 30, 48}) {
        const QImage mark = icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(mark.size(), QSize(side, side));
        for (const QColor &panel : panels) {
            int standing = 0;
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    const QColor pixel = mark.pixelColor(x, y);
                    const double a = pixel.alphaF();
                    const QColor laid = QColor::fromRgbF(float(a * pixel.redF() + (1 - a) * panel.redF()),
                                                         float(a * pixel.greenF() + (1 - a) * panel.greenF()),
                                                         float(a * pixel.blueF() + (1 - a) * panel.blueF()));
                    standing += contrast(laid, panel) >= 3.0 ? 1 : 0;
                }
            }
            EXPECT_GE(standing * 2, side * side) << side << " px on " << panel.name().toStdString();
        }
    }
}

TEST(SingleInstanceTest, SecondLaunchHandsCappedLinksOverTheBusAndEnds)
{
    if (!PrivateSessionBus::available)
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    SingleInstance first;
    ASSERT_EQ(first.claim({}), SingleInstance::Claim::First);
    QStringList links;
    int activations = 0;
    QObject::connect(&first, &SingleInstance::linkReceived, [&](const QUrl &url) { links.append(url.toString()); });
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++activations; });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    auto launch = [&](const QStringList &arguments) {
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(VANTULI_PROGRAM), arguments);
        EXPECT_TRUE(second.waitForStarted(10000));
        EXPECT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, std::chrono::seconds(60)));
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    };
    // An overlong link is dropped and takes one of the links one request may carry.
    QStringList arguments{QStringLiteral("vantuli://station/") + QString(SingleInstance::maximumLinkBytes, 'x')};
    for (int i = 0; i < 100; ++i)
        arguments.append(QStringLiteral("vantuli://station/s%1").arg(i));
    ASSERT_EQ(launch(arguments), 0);
    ASSERT_TRUE(waitUntil([&] { return links.size() == SingleInstance::maximumLinks - 1; }));
    EXPECT_EQ(links.first(), QStringLiteral("vantuli://station/s0"));
    EXPECT_EQ(activations, 0);
    // Without a link it asks the first one to come forward.
    ASSERT_EQ(launch({}), 0);
    EXPECT_TRUE(waitUntil([&] { return activations == 1; }));
    EXPECT_EQ(links.size(), SingleInstance::maximumLinks - 1);
}

// A flood of calls on the bus, each link costing the main thread what it
// costs a window: what may wait for the main thread is capped, so it keeps
// answering.
TEST(SingleInstanceTest, LinkFloodOnTheBusLeavesTheMainThreadAnswering)
{
    if (!PrivateSessionBus::available)
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    SingleInstance first;
    ASSERT_EQ(first.claim({}), SingleInstance::Claim::First);
    int received = 0;
    QObject::connect(&first, &SingleInstance::linkReceived, [&](const QUrl &) {
        ++received;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    });
    Responsiveness answers(std::chrono::seconds(1));
    std::atomic<bool> sent{false};
    std::thread flood([&] {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("flood"));
        auto open = [](int i) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QString::fromLatin1(SingleInstance::busName), QString::fromLatin1(SingleInstance::objectPath),
                QStringLiteral("org.freedesktop.Application"), QStringLiteral("Open"));
            call << QStringList{QStringLiteral("vantuli://station/s%1").arg(i)} << QVariantMap();
            return call;
        };
        for (int i = 0; i < 5000; ++i)
            bus.send(open(i));
        // Calls on one connection are taken in order: this one answered, all were.
        bus.call(open(5000), QDBus::Block, 120000);
        sent = true;
    });
    EXPECT_TRUE(waitUntil([&] { return sent.load(); }, std::chrono::seconds(120)));
    flood.join();
    QDBusConnection::disconnectFromBus(QStringLiteral("flood"));
    EXPECT_TRUE(waitUntil([&] { return received >= SingleInstance::maximumLinks; }));
    EXPECT_EQ(answers.finish(), 0) << "the links held the main thread";
}

// A launch while the running instance quits gets a window of its own: the
// instance let go of the name as quitting started, or (a holder that takes
// the call and goes without answering) the launch waits for the name.
TEST(SingleInstanceTest, LaunchWhileTheInstanceQuitsRunsItself)
{
    if (!PrivateSessionBus::available)
        GTEST_SKIP() << "no dbus-daemon for a private session bus";
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    auto start = [&](QProcess &program) {
        program.setProcessEnvironment(programEnvironment(root.path()));
        program.start(QStringLiteral(VANTULI_PROGRAM), {});
    };
    {
        SingleInstance first;
        ASSERT_EQ(first.claim({}), SingleInstance::Claim::First);
        first.release();
        // This thread stays busy quitting: it answers nothing from here on.
        QProcess launch;
        start(launch);
        EXPECT_TRUE(waitForFirstPaint(launch));
        stopProgram(launch);
    }
    {
        struct Holder final : QDBusVirtualObject {
            QString introspect(const QString &) const override { return {}; }
            bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
            {
                const std::lock_guard lock(mutex);
                calls.push_back(message);
                return true;
            }
            std::mutex mutex;
            std::vector<QDBusMessage> calls;
        } holder;
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("holder"));
        const auto disconnect = qScopeGuard([&] {
            bus.unregisterObject(QString::fromLatin1(SingleInstance::objectPath));
            QDBusConnection::disconnectFromBus(QStringLiteral("holder"));
        });
        ASSERT_TRUE(bus.registerVirtualObject(QString::fromLatin1(SingleInstance::objectPath), &holder));
        ASSERT_TRUE(bus.registerService(QString::fromLatin1(SingleInstance::busName)));
        QProcess launch;
        start(launch);
        ASSERT_TRUE(waitUntil([&] {
            const std::lock_guard lock(holder.mutex);
            return !holder.calls.empty();
        }, std::chrono::seconds(60)));
        bus.unregisterService(QString::fromLatin1(SingleInstance::busName));
        {
            const std::lock_guard lock(holder.mutex);
            bus.send(holder.calls.front().createErrorReply(QDBusError::Failed, QStringLiteral("quitting")));
        }
        EXPECT_TRUE(waitForFirstPaint(launch));
        stopProgram(launch);
    }
}

// Without a bus: a socket only in a private folder, and what one connection
// may send is capped.
TEST(SingleInstanceTest, SocketOnlyInAPrivateFolderAndCapped)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString cache = root.path() + QStringLiteral("/cache");
    const QString temporary = root.path() + QStringLiteral("/tmp");
    ASSERT_TRUE(QDir().mkpath(temporary));
    ScopedEnvironment cacheHome("XDG_CACHE_HOME", cache.toUtf8());
    ScopedEnvironment temporaryFolder("TMPDIR", temporary.toUtf8());
    // A relative runtime folder is ignored, not fatal.
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", "relative/run");
    const QString own = cache + QStringLiteral("/vantuli");
    const bool asRoot = ::geteuid() == 0;

    // What sits at the cache folder's place: whether it is used.
    struct Case {
        const char *what;
        std::function<void()> prepare;
        bool used;
    };
    auto folder = [&](mode_t mode) { return [&, mode] { ASSERT_TRUE(QDir().mkpath(own)); ::chmod(QFile::encodeName(own), mode); }; };
    // Another user's folder, where the test can make one; else one anyone may enter.
    auto othersFolder = [&](const QString &path) {
        ASSERT_TRUE(QDir().mkpath(path));
        ::chmod(QFile::encodeName(path), asRoot ? 0700 : 0777);
        if (asRoot) {
            ASSERT_EQ(::chown(QFile::encodeName(path), 65534, 65534), 0);
        }
    };
    const Case cases[] = {
        {"nothing, not even the cache folder", [] {}, true},
        {"own 0700 folder", folder(0700), true},
        // As a build of the project makes it, for its shader cache.
        {"own folder others may enter", folder(0755), true},
        {"own folder the group may write to", folder(0775), false},
        {"the guard's own folder open to others", [&] {
             ASSERT_TRUE(QDir().mkpath(own + QStringLiteral("/instance")));
             ::chmod(QFile::encodeName(own + QStringLiteral("/instance")), 0755);
         }, false},
        {"link to an own private folder", [&] {
             QDir(root.path()).mkpath(QStringLiteral("elsewhere"));
             ::chmod(QFile::encodeName(root.path() + QStringLiteral("/elsewhere")), 0700);
             QDir().mkpath(cache);
             QFile::link(root.path() + QStringLiteral("/elsewhere"), own);
         }, false},
        {"a plain file", [&] { QDir().mkpath(cache); QFile file(own); ASSERT_TRUE(file.open(QIODevice::WriteOnly)); }, false},
        {"another user's folder", [&] { QDir().mkpath(cache); othersFolder(own); }, false},
        {"a cache folder others may write to", [&] { QDir().mkpath(cache); ::chmod(QFile::encodeName(cache), 0777); }, false},
        {"no runtime folder, another user's folder at the temporary place", [&] {
             othersFolder(temporary + QStringLiteral("/vantuli-%1").arg(::geteuid()));
         }, true},
    };
    for (const Case &c : cases) {
        QDir(cache).removeRecursively();
        QFile::remove(cache);
        QDir(root.path() + QStringLiteral("/elsewhere")).removeRecursively();
        c.prepare();
        const std::optional<QString> path = SingleInstance::fallbackSocketPath();
        EXPECT_EQ(path.has_value(), c.used) << c.what;
        if (path) {
            EXPECT_EQ(*path, own + QStringLiteral("/instance/%1.socket").arg(QSysInfo::machineHostName())) << c.what;
            EXPECT_TRUE(SingleInstance::privateFolder(own + QStringLiteral("/instance"))) << c.what;
        }
    }
    // A private runtime folder is preferred.
    qputenv("XDG_RUNTIME_DIR", root.path().toUtf8());
    EXPECT_EQ(SingleInstance::fallbackSocketPath(), root.path() + QStringLiteral("/vantuli.socket"));

    const QString socket = root.path() + QStringLiteral("/vantuli.socket");
    const SingleInstance::Channel channel{false, socket};
    {
        // Something left behind by a crashed instance does not block the next one.
        QFile leftover(socket);
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    }
    SingleInstance first(channel);
    ASSERT_EQ(first.claim({}), SingleInstance::Claim::First);
    QStringList links;
    int activations = 0;
    QObject::connect(&first, &SingleInstance::linkReceived, [&](const QUrl &url) { links.append(url.toString()); });
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++activations; });
    SingleInstance::Claim second = SingleInstance::Claim::First;
    std::thread launch([&] { second = SingleInstance(channel).claim({QStringLiteral("vantuli://station/s4")}); });
    EXPECT_TRUE(waitUntil([&] { return links.size() == 1; }));
    launch.join();
    EXPECT_EQ(second, SingleInstance::Claim::HandedOver);
    ASSERT_EQ(links.size(), 1);
    EXPECT_EQ(links.first(), QStringLiteral("vantuli://station/s4"));

    // A line that never ends closes the connection without a request; many
    // lines: the capped number is taken, then the connection is closed.
    struct Flood {
        QByteArray bytes;
        int links;
    };
    QByteArray lines;
    for (int i = 0; i < 1000; ++i)
        lines += "open vantuli://station/s" + QByteArray::number(i) + '\n';
    for (const Flood &flood : {Flood{QByteArray(4 << 20, 'x'), 0}, Flood{lines, SingleInstance::maximumLinks}}) {
        links.clear();
        QLocalSocket sender;
        sender.connectToServer(socket);
        ASSERT_TRUE(sender.waitForConnected(5000));
        sender.write(flood.bytes);
        EXPECT_TRUE(waitUntil([&] { return sender.state() == QLocalSocket::UnconnectedState; }));
        waitUntil([&] { return links.size() >= flood.links; });
        WidgetHarness::settle();
        EXPECT_EQ(links.size(), flood.links);
    }
    EXPECT_EQ(activations, 0);
}

// Without a bus, a first instance that is alive keeps its socket: one held
// up by a crowd of idle connections still takes a launch's link, and one too
// busy to take connections is not replaced by the launch.
TEST(SingleInstanceTest, SocketKeptWhileItsOwnerLives)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString socket = root.path() + QStringLiteral("/vantuli.socket");
    const SingleInstance::Channel channel{false, socket};
    SingleInstance first(channel);
    ASSERT_EQ(first.claim({}), SingleInstance::Claim::First);
    QStringList links;
    QObject::connect(&first, &SingleInstance::linkReceived, [&](const QUrl &url) { links.append(url.toString()); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(socket);
    std::copy(name.begin(), name.end(), address.sun_path);
    auto connection = [&address](bool block) {
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (block ? 0 : SOCK_NONBLOCK), 0);
        // A blocking one waits a while for the listener to take it up, not for ever.
        const timeval wait{5, 0};
        ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(descriptor);
            return -1;
        }
        return descriptor;
    };
    // A launch from another thread, while this one runs the first instance.
    auto launch = [&](const QString &link, int timeoutMs) {
        SingleInstance::Claim claim = SingleInstance::Claim::First;
        std::atomic<bool> finished{false};
        std::thread thread([&] {
            claim = SingleInstance(channel).claim({link}, timeoutMs);
            finished = true;
        });
        waitUntil([&] { return finished.load(); }, std::chrono::seconds(60));
        thread.join();
        return claim;
    };

    {
        // Another process holds a thousand idle connections, against a
        // handle limit that a thousand would use up.
        int ready[2];
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC | O_NONBLOCK), 0);
        const pid_t crowd = ::fork();
        ASSERT_GE(crowd, 0);
        if (crowd == 0) {
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &limit);
            for (int i = 0; i < 1000 && connection(true) >= 0; ++i) {
            }
            [[maybe_unused]] const ssize_t written = ::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        rlimit saved{};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const auto restore = qScopeGuard([&] {
            ::kill(crowd, SIGKILL);
            ::waitpid(crowd, nullptr, 0);
            ::close(ready[0]);
            ::setrlimit(RLIMIT_NOFILE, &saved);
        });
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(QDir(QStringLiteral("/proc/self/fd")).count()) + 200;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        ASSERT_TRUE(waitUntil([&] {
            char byte = 0;
            return ::read(ready[0], &byte, 1) == 1;
        }, std::chrono::seconds(60)));
        EXPECT_EQ(launch(QStringLiteral("vantuli://station/s1"), 3000), SingleInstance::Claim::HandedOver);
        EXPECT_TRUE(waitUntil([&] { return links == QStringList{QStringLiteral("vantuli://station/s1")}; }));
    }
    {
        // This thread is busy, and connections wait for it until no more can.
        std::vector<int> waiting;
        for (int descriptor; waiting.size() < 1000 && (descriptor = connection(false)) >= 0;)
            waiting.push_back(descriptor);
        SingleInstance::Claim second = SingleInstance::Claim::First;
        std::thread([&] { second = SingleInstance(channel).claim({QStringLiteral("vantuli://station/s2")}, 500); }).join();
        EXPECT_EQ(second, SingleInstance::Claim::Unanswered);
        for (const int descriptor : waiting)
            ::close(descriptor);
        // Awake again, it is still the one a launch hands over to.
        EXPECT_EQ(launch(QStringLiteral("vantuli://station/s3"), 3000), SingleInstance::Claim::HandedOver);
        EXPECT_TRUE(waitUntil([&] { return links.size() == 2; }));
        EXPECT_EQ(links.last(), QStringLiteral("vantuli://station/s3"));
    }
    // Once it lets go (quitting), a launch runs itself.
    first.release();
    EXPECT_EQ(launch(QStringLiteral("vantuli://station/s4"), 3000), SingleInstance::Claim::First);
    EXPECT_EQ(links.size(), 2);
}

// A start loads what its first paint uses and nothing more: the stream
// client's libraries wait for the first station, FFmpeg for the first decode,
// and a CJK face for the first CJK text (an English interface over the
// shipped catalog draws none, though the tray menu lists CJK names). What
// the program opens itself later, its ".note.dlopen" names for packagers.
TEST(StartupTest, FirstPaintMapsNothingItDoesNotUse)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString runtime = root.path() + QStringLiteral("/run");
    ASSERT_TRUE(QDir().mkpath(runtime));
    ::chmod(QFile::encodeName(runtime), 0700);
    QProcessEnvironment environment = programEnvironment(root.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    environment.remove(QStringLiteral("LANGUAGE"));

    // Every face that draws Chinese, in any weight, where fontconfig can say.
    QProcess match;
    match.start(QStringLiteral("fc-list"), {QStringLiteral("--format=%{file}\n"), QStringLiteral(":lang=zh-cn")});
    QStringList cjkFaces =
        match.waitForFinished(10000)
        ? QString::fromLocal8Bit(match.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)
        : QStringList();
    cjkFaces.removeDuplicates(); // one file holds several families

    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VANTULI_PROGRAM), {});
    ASSERT_TRUE(waitForFirstPaint(program));
    QFile maps(QStringLiteral("/proc/%1/maps").arg(program.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromLocal8Bit(maps.readAll());
    stopProgram(program);

    struct Row {
        const char *what;
        QString file;
        bool opened = false; // by the program itself, so named in its note as required
    };
    std::vector<Row> rows = {
        {"libcurl", QStringLiteral("/libcurl.so"), true},
        {"a TLS library", QStringLiteral("/libssl.so")},
        {"a TLS library", QStringLiteral("/libgnutls.so")},
        {"FFmpeg", QStringLiteral("/libavcodec.so"), true},
        {"FFmpeg", QStringLiteral("/libavformat.so"), true},
        {"FFmpeg", QStringLiteral("/libswresample.so"), true},
        {"FFmpeg", QStringLiteral("/libavutil.so"), true},
    };
    // The featured list's rows below the window hold Chinese, Japanese and
    // Korean names: sizing them loads no face.
    for (const QString &face : cjkFaces)
        rows.push_back({"a CJK face", face});
    const QHash<QString, QString> declared = dlopenDependencies(QStringLiteral(VANTULI_PROGRAM));
    for (const Row &row : rows) {
        EXPECT_FALSE(mapped.contains(row.file)) << row.what << ": " << row.file.toStdString();
        const auto named = std::find_if(declared.keyValueBegin(), declared.keyValueEnd(), [&](const auto &entry) {
            return (u'/' + entry.first).startsWith(row.file + u'.');
        });
        EXPECT_EQ(named != declared.keyValueEnd() && (*named).second == QLatin1String("required"), row.opened)
            << row.what << " in .note.dlopen: " << row.file.toStdString();
    }
    if (cjkFaces.isEmpty())
        GTEST_SKIP() << "no font for Chinese installed (tools/setup installs fonts-noto-cjk): CJK faces unchecked";
}

// No bus, a relative runtime folder and the cache folder's place squatted:
// the application still starts, without the guard, and leaves the folder alone.
TEST(SingleInstanceTest, ApplicationStartsWhenNoSafeChannelExists)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString squatted = root.path() + QStringLiteral("/cache/vantuli");
    ASSERT_TRUE(QDir().mkpath(squatted));
    ::chmod(QFile::encodeName(squatted), 0777);
    QProcessEnvironment environment = programEnvironment(root.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("run"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(root.path());
    program.start(QStringLiteral(VANTULI_PROGRAM), {});
    EXPECT_TRUE(waitForFirstPaint(program));
    stopProgram(program);
    EXPECT_TRUE(program.readAllStandardError().contains("without the single-instance guard"));
    EXPECT_TRUE(QDir(squatted).isEmpty());
}

TEST(CommandLineTest, HelpUnknownOptionsAndMissingDisplay)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));

    const ProgramRun help = runProgram({QStringLiteral("--help")}, environment);
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: vantuli")));

    const ProgramRun unknown = runProgram({QStringLiteral("--frobnicate")}, environment);
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("unknown option: --frobnicate")));

    const ProgramRun noDisplay = runProgram({}, environment);
    EXPECT_EQ(noDisplay.code, 1);
    EXPECT_TRUE(noDisplay.err.contains(QStringLiteral("no display"))) << noDisplay.err.toStdString();

    struct Case {
        QString platform, display, wayland;
        bool reachable;
        bool missing;
    };
    const Case cases[] = {
        {{}, {}, {}, false, true},
        {{}, QStringLiteral(":9"), {}, false, true},
        {{}, QStringLiteral(":9"), {}, true, false},
        {{}, {}, QStringLiteral("wayland-0"), false, false},
        {QStringLiteral("xcb"), {}, QStringLiteral("wayland-0"), false, true},
        {QStringLiteral("wayland"), QStringLiteral(":0"), {}, true, true},
        {QStringLiteral("offscreen"), {}, {}, false, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(!missingDisplay(c.platform, c.display, c.wayland, c.reachable).isEmpty(), c.missing)
            << c.platform.toStdString() << " " << c.display.toStdString();

    EXPECT_EQ(CommandLine::parse({QStringLiteral("--play")}).mode, CommandLine::Mode::Error);
    const CommandLine play = CommandLine::parse({QStringLiteral("--play"), QStringLiteral("https://x/y")});
    EXPECT_EQ(play.mode, CommandLine::Mode::Play);
    EXPECT_EQ(play.playAddress, QStringLiteral("https://x/y"));

    // A terminal run that fails prints the stream's message and exits with 1.
    const ProgramRun refused = runProgram({QStringLiteral("--play"), QStringLiteral("https://127.0.0.1:9/live.mp3")}, environment);
    EXPECT_EQ(refused.code, 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.contains(QStringLiteral("\nfailed: ")) && !refused.out.contains(QStringLiteral("\nfailed: \n")))
        << refused.out.toStdString();
}

class MprisTest : public ShellFixture {
protected:
    void SetUp() override
    {
        if (!PrivateSessionBus::available)
            GTEST_SKIP() << "no dbus-daemon for a private session bus";
        if (QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
            GTEST_SKIP() << "playerctl is not installed";
        ShellFixture::SetUp();
    }

    static QString playerctl(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), QStringLiteral("vantuli")} + arguments);
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(30));
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
};

TEST_F(MprisTest, RaiseQuitVolumeAndCanPlayOnTheBus)
{
    make(catalog(), MediaSession::makeDefault());
    RadioStore *radio = app->radio();
    QDBusInterface root(QString::fromLatin1(MprisMediaSession::serviceName),
                        QString::fromLatin1(MprisMediaSession::objectPath), QStringLiteral("org.mpris.MediaPlayer2"));
    ASSERT_TRUE(root.isValid());
    EXPECT_EQ(root.property("DesktopEntry").toString(), QStringLiteral("vantuli"));
    EXPECT_TRUE(root.property("CanRaise").toBool());
    EXPECT_TRUE(root.property("CanQuit").toBool());

    EXPECT_EQ(app->windows()->window(QStringLiteral("main")), nullptr);
    root.asyncCall(QStringLiteral("Raise"));
    ASSERT_TRUE(waitUntil([&] {
        QWidget *main = app->windows()->window(QStringLiteral("main"));
        return main && main->isVisible();
    }));

    // Volume both ways, clamped to 0...1.
    radio->setVolume(0.4);
    EXPECT_EQ(playerctl({QStringLiteral("volume")}).toDouble(), 0.4);
    playerctl({QStringLiteral("volume"), QStringLiteral("0.25")});
    EXPECT_TRUE(waitUntil([&] { return std::abs(radio->volume() - 0.25) < 1e-9; }));
    playerctl({QStringLiteral("volume"), QStringLiteral("1.7")});
    EXPECT_TRUE(waitUntil([&] { return radio->volume() == 1.0; }));

    // Nothing to play without a station.
    QDBusInterface player(QString::fromLatin1(MprisMediaSession::serviceName),
                          QString::fromLatin1(MprisMediaSession::objectPath),
                          QString::fromLatin1(MprisMediaSession::playerInterface));
    radio->setSelected(radio->stations().front());
    EXPECT_TRUE(player.property("CanPlay").toBool());
    radio->setSelected(std::nullopt);
    EXPECT_FALSE(player.property("CanPlay").toBool());

    // Quit goes through the application's normal end.
    root.asyncCall(QStringLiteral("Quit"));
    EXPECT_TRUE(waitUntil([&] { return quits == 1; }));
}

} // namespace
} // namespace vantuli::test
