#include "shell/SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <QThread>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantuli {

namespace {

constexpr const char *applicationInterface = "org.freedesktop.Application";
// The most a socket connection may send: the allowed lines at their longest.
constexpr qint64 socketBufferBytes = SingleInstance::maximumLinkBytes + 16;
// How often a launch that was not answered looks whether the channel is free.
constexpr qint64 retryMilliseconds = 100;

int remaining(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

// Tries until `attempt` succeeds or `timeoutMs` has passed.
bool retryFor(int timeoutMs, const std::function<bool()> &attempt)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!attempt()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(std::min<qint64>(retryMilliseconds, remaining(deadline)));
    }
    return true;
}

bool fitsSocketAddress(const QString &path)
{
    return size_t(QFile::encodeName(path).size()) < sizeof(sockaddr_un::sun_path);
}

// Makes `path` and the folders above it that are missing, each for the user alone.
bool makeFolders(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const QString parent = QFileInfo(path).path();
    if (parent == path || !makeFolders(parent))
        return false;
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || errno == EEXIST;
}

// Whether `path` is a folder of the user's own whose `closed` mode bits are
// all clear; a link is followed only when `follow` says so.
bool ownFolder(const QString &path, mode_t closed, bool follow = false)
{
    struct stat info {};
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || (follow ? ::stat(name.constData(), &info) : ::lstat(name.constData(), &info)) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & closed) == 0;
}

// `path` made when missing, then accepted only as ownFolder(path, closed).
// mkdir never follows a link and fails on anything already there.
bool madeOwnFolder(const QString &path, mode_t closed)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return ownFolder(path, closed);
}

enum class Owner { None, Alive, Gone };

// Who is behind the socket at `path`. A connection that is made, or that
// waits for the listener to take it up, means an owner that is alive, however
// slow; only a refused one is a socket left behind by an instance that ended
// (or something that is no socket at all). What cannot be told is alive.
Owner ownerOf(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path)
        return Owner::Alive;
    std::copy(name.begin(), name.end(), address.sun_path);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return Owner::Alive;
    const int error = ::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ? 0 : errno;
    ::close(descriptor);
    if (error == ENOENT)
        return Owner::None;
    if (error == ECONNREFUSED)
        return Owner::Gone;
    return Owner::Alive;
}

} // namespace

// The desktop's application interface on the bus; only the two calls that
// the launcher of a second instance makes.
class ApplicationAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(SingleInstance *instance) : QDBusAbstractAdaptor(instance), instance_(instance) {}

public slots:
    void Activate(const QVariantMap &, const QDBusMessage &message) { answer(message, {}); }
    void Open(const QStringList &uris, const QVariantMap &, const QDBusMessage &message) { answer(message, uris); }
    void ActivateAction(const QString &, const QVariantList &, const QVariantMap &) {}

private:
    void answer(const QDBusMessage &message, const QStringList &links)
    {
        if (instance_->released_) {
            // A call that came in before the name was let go: the launch
            // that made it is told so and runs itself.
            message.setDelayedReply(true);
            QDBusConnection::sessionBus().send(
                message.createErrorReply(QDBusError::Failed, QStringLiteral("the application is quitting")));
            return;
        }
        instance_->deliver(links);
    }

    SingleInstance *instance_;
};

SingleInstance::SingleInstance() : SingleInstance(Channel{}) {}

SingleInstance::SingleInstance(Channel channel, QObject *parent) : QObject(parent), channel_(std::move(channel))
{
    handOnTimer_.setSingleShot(true);
    handOnTimer_.setInterval(0);
    connect(&handOnTimer_, &QTimer::timeout, this, &SingleInstance::handOn);
}

SingleInstance::~SingleInstance()
{
    if (onBus_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QString::fromLatin1(busName));
        bus.unregisterObject(QString::fromLatin1(objectPath));
    }
}

SingleInstance::Claim SingleInstance::claim(const QStringList &links, int timeoutMs)
{
    if (channel_.bus && QDBusConnection::sessionBus().isConnected()) {
        if (listenOnBus())
            return Claim::First;
        if (handOverOnBus(links, timeoutMs))
            return Claim::HandedOver;
        // The holder may be quitting, and lets go of the name as it starts to.
        return retryFor(timeoutMs, [this] { return listenOnBus(); }) ? Claim::First : Claim::Unanswered;
    }
    if (!channel_.socketPath.isEmpty()) {
        socketPath_ = channel_.socketPath;
    } else {
        const std::optional<QString> path = fallbackSocketPath();
        if (!path)
            return Claim::Unguarded;
        socketPath_ = *path;
    }
    if (listenOnSocket())
        return Claim::First;
    if (handOverOnSocket(links, timeoutMs))
        return Claim::HandedOver;
    return retryFor(timeoutMs, [this] { return listenOnSocket(); }) ? Claim::First : Claim::Unanswered;
}

void SingleInstance::release()
{
    if (released_)
        return;
    released_ = true;
    waiting_.clear();
    handOnTimer_.stop();
    if (onBus_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QString::fromLatin1(busName));
        bus.unregisterObject(QString::fromLatin1(objectPath));
        onBus_ = false;
    }
    if (server_) {
        while (!connections_.isEmpty())
            forget(connections_.first());
        delete server_; // removes the socket
        server_ = nullptr;
    }
}

QString SingleInstance::channelName() const
{
    return socketPath_.isEmpty() ? QString::fromLatin1(busName) : socketPath_;
}

bool SingleInstance::privateFolder(const QString &path)
{
    return ownFolder(path, 077);
}

std::optional<QString> SingleInstance::fallbackSocketPath()
{
    // A relative runtime folder is to be ignored, like an unset one.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && privateFolder(runtime)) {
        const QString path = QDir::cleanPath(runtime) + QStringLiteral("/vantuli.socket");
        if (fitsSocketAddress(path))
            return path;
    }
    // The cache folder is the user's own and no one else may write to it, so
    // no one else can make the application's folder there first.
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home))
            return std::nullopt;
        cache = home + QStringLiteral("/.cache");
    }
    cache = QDir::cleanPath(cache);
    if (!makeFolders(cache) || !ownFolder(cache, 022, true))
        return std::nullopt;
    // The application's folder may have been made by something else (a
    // build, another tool) and be open to others' eyes: it only has to keep
    // others from changing what is in it. The socket lives in a folder of the
    // guard's own inside it, which must be private.
    const QString application = cache + QStringLiteral("/vantuli");
    const QString folder = application + QStringLiteral("/instance");
    if (!madeOwnFolder(application, 022) || !madeOwnFolder(folder, 077))
        return std::nullopt;
    QString host = QSysInfo::machineHostName();
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString path = folder + QLatin1Char('/') + (host.isEmpty() ? QStringLiteral("localhost") : host) +
                         QStringLiteral(".socket");
    if (!fitsSocketAddress(path))
        return std::nullopt;
    return path;
}

bool SingleInstance::listenOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The adaptor stays for the object's life, as the bus library expects;
    // a launch may try to take the name more than once.
    if (!findChild<ApplicationAdaptor *>())
        new ApplicationAdaptor(this);
    if (!bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        QString::fromLatin1(busName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(QString::fromLatin1(objectPath));
        return false;
    }
    onBus_ = true;
    return true;
}

bool SingleInstance::handOverOnBus(const QStringList &links, int timeoutMs) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(busName), QString::fromLatin1(objectPath),
                                                       QString::fromLatin1(applicationInterface),
                                                       links.isEmpty() ? QStringLiteral("Activate")
                                                                       : QStringLiteral("Open"));
    if (links.isEmpty())
        call << QVariantMap();
    else
        call << links << QVariantMap();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool SingleInstance::listenOnSocket()
{
    if (server_)
        return true;
    switch (ownerOf(socketPath_)) {
    case Owner::Alive:
        return false;
    case Owner::Gone:
        QLocalServer::removeServer(socketPath_);
        break;
    case Owner::None:
        break;
    }
    // No socket options: the folder keeps others out, and without them the
    // socket is made in place, so of two launches at once only one gets it.
    server_ = new QLocalServer(this);
    if (!server_->listen(socketPath_)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_->nextPendingConnection())
            accept(socket);
    });
    return true;
}

bool SingleInstance::handOverOnSocket(const QStringList &links, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(remaining(deadline)))
        return false;
    QByteArray message;
    if (links.isEmpty())
        message = "activate\n";
    for (const QString &link : links.mid(0, maximumLinks)) {
        // Dropped there anyway; sent, it would end the connection unanswered.
        if (link.size() > maximumLinkBytes)
            continue;
        QString line = link;
        line.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        message += "open " + line.toUtf8() + '\n';
    }
    socket.write(message + "done\n");
    // The answer, not the bytes written, says that a running instance took them.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(remaining(deadline)))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}

void SingleInstance::accept(QLocalSocket *socket)
{
    // Connections held open (or opened by the thousand) cannot use up the
    // file handles or keep a launch out: a new one closes the oldest.
    if (connections_.size() >= maximumConnections)
        forget(connections_.first());
    connections_.append(socket);
    // What is not read yet stays with the sender, not in memory here.
    socket->setReadBufferSize(socketBufferBytes);
    socket->setProperty("requests", 0);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(idleMilliseconds);
    connect(idle, &QTimer::timeout, this, [this, socket] { forget(socket); });
    idle->start();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle] {
        idle->start();
        readFrom(socket);
    });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
        readFrom(socket);
        forget(socket);
    });
    readFrom(socket);
}

void SingleInstance::forget(QLocalSocket *socket)
{
    if (!connections_.removeOne(socket))
        return;
    socket->abort();
    socket->deleteLater();
}

void SingleInstance::readFrom(QLocalSocket *socket)
{
    if (!connections_.contains(socket))
        return;
    int requests = socket->property("requests").toInt();
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(socketBufferBytes).trimmed();
        if (line == "done") {
            // The launch waits for this before it ends.
            socket->write("ok\n");
            socket->disconnectFromServer();
            return;
        }
        // One line more than any request may send.
        if (requests == maximumLinks) {
            forget(socket);
            return;
        }
        ++requests;
        if (line == "activate")
            deliver({});
        else if (line.startsWith("open "))
            deliver({QString::fromUtf8(line.mid(5))});
    }
    socket->setProperty("requests", requests);
    // A line that outgrew what any request may take.
    if (socket->bytesAvailable() >= socketBufferBytes)
        forget(socket);
}

void SingleInstance::deliver(const QStringList &links)
{
    if (released_)
        return;
    QList<QUrl> requests;
    if (links.isEmpty())
        requests.append(QUrl());
    for (const QString &link : links.mid(0, maximumLinks)) {
        if (link.size() > maximumLinkBytes)
            continue;
        const QUrl url(link, QUrl::StrictMode);
        if (url.isValid())
            requests.append(url);
    }
    for (const QUrl &request : requests) {
        // One activation waiting is as good as many.
        if (request.isEmpty() && waiting_.contains(request))
            continue;
        if (waiting_.size() >= maximumLinks) {
            ++dropped_;
            continue;
        }
        waiting_.append(request);
    }
    if (!waiting_.isEmpty())
        handOnTimer_.start();
}

void SingleInstance::handOn()
{
    if (waiting_.isEmpty())
        return;
    const QUrl request = waiting_.takeFirst();
    if (!waiting_.isEmpty()) {
        handOnTimer_.start();
    } else if (dropped_ > 0) {
        std::fprintf(stderr, "vantuli: %d links came faster than they could be opened and were dropped\n", dropped_);
        dropped_ = 0;
    }
    if (request.isEmpty())
        emit activationRequested();
    else
        emit linkReceived(request);
}

} // namespace vantuli

#include "SingleInstance.moc"
