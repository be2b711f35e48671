#include "shell/SingleInstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QVariantMap>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace vantuli {

namespace {

constexpr const char *applicationInterface = "org.freedesktop.Application";
// The most a socket connection may send: the allowed lines at their longest.
constexpr qint64 socketBufferBytes = SingleInstance::maximumLinkBytes + 16;

} // namespace

// The desktop's application interface on the bus; only the two calls that
// the launcher of a second instance makes.
class ApplicationAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(SingleInstance *instance) : QDBusAbstractAdaptor(instance), instance_(instance) {}

public slots:
    void Activate(const QVariantMap &) { instance_->deliver({}); }
    void Open(const QStringList &uris, const QVariantMap &) { instance_->deliver(uris); }
    void ActivateAction(const QString &, const QVariantList &, const QVariantMap &) {}

private:
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
        return handOverOnBus(links, timeoutMs) ? Claim::HandedOver : Claim::Unanswered;
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
    return handOverOnSocket(links, timeoutMs) ? Claim::HandedOver : Claim::Unanswered;
}

QString SingleInstance::channelName() const
{
    return socketPath_.isEmpty() ? QString::fromLatin1(busName) : socketPath_;
}

bool SingleInstance::privateFolder(const QString &path)
{
    struct stat info {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

std::optional<QString> SingleInstance::fallbackSocketPath()
{
    // A relative runtime folder is to be ignored, like an unset one.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && privateFolder(runtime))
        return runtime + QStringLiteral("/vantuli.socket");
    const QString folder = QDir::tempPath() + QStringLiteral("/vantuli-%1").arg(::geteuid());
    // mkdir never follows a link and fails on anything already there; what
    // is there is then accepted only when it passes the same check.
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    if (!privateFolder(folder))
        return std::nullopt;
    return folder + QStringLiteral("/vantuli.socket");
}

bool SingleInstance::listenOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto *adaptor = new ApplicationAdaptor(this);
    if (!bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors)) {
        delete adaptor;
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        QString::fromLatin1(busName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(QString::fromLatin1(objectPath));
        delete adaptor;
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
    {
        // Someone answering on the socket is a running instance.
        QLocalSocket probe;
        probe.connectToServer(socketPath_);
        if (probe.waitForConnected(500)) {
            probe.disconnectFromServer();
            return false;
        }
    }
    QLocalServer::removeServer(socketPath_); // left behind by an instance that crashed
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_->nextPendingConnection()) {
            // What is not read yet stays with the sender, not in memory here.
            socket->setReadBufferSize(socketBufferBytes);
            socket->setProperty("requests", 0);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
                readFrom(socket);
                socket->deleteLater();
            });
            readFrom(socket);
        }
    });
    return true;
}

bool SingleInstance::handOverOnSocket(const QStringList &links, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    if (links.isEmpty())
        message = "activate\n";
    for (const QString &link : links.mid(0, maximumLinks)) {
        QString line = link;
        line.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        message += "open " + line.toUtf8() + '\n';
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

void SingleInstance::readFrom(QLocalSocket *socket)
{
    if (socket->property("closed").toBool())
        return;
    int requests = socket->property("requests").toInt();
    while (requests < maximumLinks && socket->canReadLine()) {
        ++requests;
        const QByteArray line = socket->readLine(socketBufferBytes).trimmed();
        if (line == "activate")
            deliver({});
        else if (line.startsWith("open "))
            deliver({QString::fromUtf8(line.mid(5))});
    }
    socket->setProperty("requests", requests);
    // Enough requests, or a line that outgrew what any request may take.
    const bool overlong = !socket->canReadLine() && socket->bytesAvailable() >= socketBufferBytes;
    if (requests >= maximumLinks || overlong) {
        socket->setProperty("closed", true);
        socket->abort();
    }
}

void SingleInstance::deliver(const QStringList &links)
{
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
