#include "shell/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace vantuli {

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent), socketPath_(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/vantuli.socket");
    return QDir::tempPath() + QStringLiteral("/vantuli-%1.socket").arg(::getuid());
}

bool SingleInstance::handOver(const QStringList &links, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    if (links.isEmpty())
        message = "activate\n";
    for (const QString &link : links) {
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

bool SingleInstance::listen()
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

void SingleInstance::readFrom(QLocalSocket *socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine().trimmed();
        if (line == "activate") {
            emit activationRequested();
        } else if (line.startsWith("open ")) {
            const QUrl url(QString::fromUtf8(line.mid(5)), QUrl::StrictMode);
            if (url.isValid())
                emit linkReceived(url);
        }
    }
}

} // namespace vantuli
