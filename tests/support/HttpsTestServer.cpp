#include "support/HttpsTestServer.h"

#include "platform/SerialQueue.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

namespace vantuli::test {
namespace {

// The CA and the leaf certificate with its key, made once per process.
struct Credentials {
    QSslCertificate ca;
    QSslCertificate leaf;
    QSslKey key;
    QString error;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Credentials makeCredentials()
{
    Credentials c;
    const QDir dir(temporaryFolder());
    const auto file = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    {
        QFile ext(file("leaf.ext"));
        if (!ext.open(QIODevice::WriteOnly)) {
            c.error = QStringLiteral("cannot write the certificate extensions");
            return c;
        }
        ext.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  "subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:*.slow.test\n");
    }
    const QString serial = QString::number(QRandomGenerator::global()->bounded(1, 1 << 30));
    const QList<QStringList> steps = {
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", file("ca.key"), "-out", file("ca.pem"), "-days", "3", "-subj", "/CN=Vantuli Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
        {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         file("leaf.key"), "-out", file("leaf.csr"), "-subj", "/CN=127.0.0.1"},
        {"x509", "-req", "-in", file("leaf.csr"), "-CA", file("ca.pem"), "-CAkey", file("ca.key"),
         "-set_serial", serial, "-days", "3", "-extfile", file("leaf.ext"), "-out", file("leaf.pem")},
    };
    for (const QStringList &args : steps) {
        QByteArray output;
        if (run(QStringLiteral("openssl"), args, &output) != 0) {
            c.error = QStringLiteral("openssl %1 failed: %2").arg(args.first(), QString::fromLocal8Bit(output));
            return c;
        }
    }
    c.ca = QSslCertificate(readFile(file("ca.pem")), QSsl::Pem);
    c.leaf = QSslCertificate(readFile(file("leaf.pem")), QSsl::Pem);
    c.key = QSslKey(readFile(file("leaf.key")), QSsl::Ec, QSsl::Pem);
    if (c.ca.isNull() || c.leaf.isNull() || c.key.isNull())
        c.error = QStringLiteral("the certificates made by openssl could not be read");
    return c;
}

const Credentials &credentials()
{
    static const Credentials c = makeCredentials();
    return c;
}

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray chunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

} // namespace

HttpsTestServer::Response HttpsTestServer::Response::ok(QByteArray body, const QByteArray &contentType)
{
    Response r;
    r.body = std::move(body);
    if (!contentType.isEmpty())
        r.header("Content-Type", contentType);
    return r;
}

HttpsTestServer::Response HttpsTestServer::Response::withStatus(int status, QByteArray body)
{
    Response r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

HttpsTestServer::Response HttpsTestServer::Response::redirect(const QUrl &location, int status)
{
    Response r;
    r.status = status;
    r.header("Location", location.toEncoded());
    return r;
}

HttpsTestServer::Response HttpsTestServer::Response::streamed(const QByteArray &contentType,
                                                              std::function<QByteArray(qint64)> next,
                                                              int intervalMs)
{
    Response r = ok({}, contentType);
    r.stream = std::move(next);
    r.intervalMs = intervalMs;
    return r;
}

HttpsTestServer::Response &HttpsTestServer::Response::header(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

struct HttpsTestServer::State {
    SerialQueue queue{QStringLiteral("test.https")};
    QString error;
    quint16 port = 0;
    quint16 trapPort = 0;
    quint16 mutePort = 0;
    quint16 proxyPort = 0;
    std::atomic<int> trapConnections{0};
    std::atomic<int> connections{0};
    // On the queue's thread.
    int openLimit = 0;
    int open = 0;

    // Touched from any thread, under the lock.
    mutable std::mutex lock;
    std::map<QByteArray, Handler> routes;
    std::vector<Request> log;
    QList<QByteArray> tunnels;

    // Live on the queue's thread.
    QSslServer *server = nullptr;
    QTcpServer *trap = nullptr;
    QTcpServer *mute = nullptr;
    QTcpServer *proxy = nullptr;

    Handler route(const QByteArray &path)
    {
        std::lock_guard guard(lock);
        const auto it = routes.find(path);
        return it == routes.end() ? Handler() : it->second;
    }

    void record(const Request &request)
    {
        std::lock_guard guard(lock);
        log.push_back(request);
    }

    void tunnelled(const QByteArray &target)
    {
        std::lock_guard guard(lock);
        tunnels.append(target);
    }

    // Accepts connections while fewer than openLimit are open. On the queue's thread.
    void admit()
    {
        if (openLimit > 0 && open >= openLimit)
            server->pauseAccepting();
        else
            server->resumeAccepting();
    }
};

namespace {

// One client connection on the server thread: reads requests one at a time
// and writes their responses.
class Connection : public QObject {
public:
    using Route = std::function<HttpsTestServer::Handler(const QByteArray &)>;
    using Record = std::function<void(const HttpsTestServer::Request &)>;

    Connection(QTcpSocket *socket, int number, Route route, Record record)
        : socket_(socket), number_(number), route_(std::move(route)), record_(std::move(record))
    {
        socket_->setParent(this);
        connect(socket_, &QTcpSocket::readyRead, this, [this] { pump(); });
        connect(socket_, &QTcpSocket::disconnected, this, [this] {
            gone_ = true;
            deleteLater();
        });
        pump();
    }

private:
    void pump()
    {
        if (gone_)
            return;
        buffer_ += socket_->readAll();
        while (!busy_ && !gone_) {
            const qsizetype headerEnd = buffer_.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QList<QByteArray> lines = buffer_.left(headerEnd).split('\n');
            HttpsTestServer::Request request;
            request.connection = number_;
            request.receivedAt =
                std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            const qsizetype query = request.target.indexOf('?');
            request.path = query < 0 ? request.target : request.target.left(query);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
            }
            const qsizetype bodyLength = request.headers.value("content-length").toLongLong();
            if (buffer_.size() < headerEnd + 4 + bodyLength)
                return;
            buffer_.remove(0, headerEnd + 4 + bodyLength);

            record_(request);
            const HttpsTestServer::Handler handler = route_(request.path);
            HttpsTestServer::Response response = handler ? handler(request)
                                                         : HttpsTestServer::Response::withStatus(404, "not found");
            busy_ = true;
            if (response.delayMs > 0) {
                QTimer::singleShot(response.delayMs, this,
                                   [this, response = std::move(response)]() mutable { respond(std::move(response)); });
            } else {
                respond(std::move(response));
            }
        }
    }

    void respond(HttpsTestServer::Response response)
    {
        if (gone_)
            return;
        const bool chunked = response.framed && (response.chunked || static_cast<bool>(response.stream));
        QByteArray head = response.statusLine.isEmpty()
                              ? "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n"
                              : response.statusLine + "\r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        if (chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (response.framed)
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        if (response.close && !response.quietClose)
            head += "Connection: close\r\n";
        if (!response.endlessHead.isEmpty()) {
            socket_->write(head);
            pour([text = response.endlessHead](qint64) { return text; }, false, true, false);
            return;
        }
        head += "\r\n";
        socket_->write(head);
        if (!response.body.isEmpty())
            socket_->write(chunked ? chunk(response.body) : response.body);
        if (!response.stream) {
            if (chunked)
                socket_->write("0\r\n\r\n");
            done(response.close);
            return;
        }
        // A streamed body: one piece per interval until the source ends.
        pour(std::move(response.stream), response.close, response.asFastAsTaken, true, response.intervalMs);
    }

    // Writes what `next` gives, one piece per interval or as fast as the
    // socket takes it, as chunks of the body or as they stand.
    void pour(std::function<QByteArray(qint64)> next, bool close, bool flood, bool chunked, int intervalMs = 1)
    {
        auto *timer = new QTimer(this);
        timer->setInterval(flood ? 1 : std::max(0, intervalMs));
        auto index = std::make_shared<qint64>(0);
        connect(timer, &QTimer::timeout, this, [this, timer, next, close, index, flood, chunked] {
            if (gone_) {
                timer->stop();
                return;
            }
            constexpr qint64 unsent = 256 * 1024;
            do {
                const auto *ssl = qobject_cast<QSslSocket *>(socket_);
                if (flood && socket_->bytesToWrite() + (ssl ? ssl->encryptedBytesToWrite() : 0) >= unsent)
                    return;
                const QByteArray data = next((*index)++);
                if (data.isEmpty()) {
                    timer->stop();
                    timer->deleteLater();
                    if (chunked)
                        socket_->write("0\r\n\r\n");
                    done(close);
                    return;
                }
                socket_->write(chunked ? chunk(data) : data);
            } while (flood);
        });
        timer->start();
    }

    void done(bool close)
    {
        busy_ = false;
        if (close) {
            socket_->disconnectFromHost();
            return;
        }
        if (!buffer_.isEmpty() || socket_->bytesAvailable() > 0)
            QTimer::singleShot(0, this, [this] { pump(); });
    }

    QTcpSocket *socket_;
    const int number_;
    Route route_;
    Record record_;
    QByteArray buffer_;
    bool busy_ = false;
    bool gone_ = false;
};

// One tunnel of the proxy: reads the client's CONNECT head, opens the
// connection it names and relays bytes both ways until either side closes.
class Tunnel : public QObject {
public:
    using Record = std::function<void(const QByteArray &)>;

    Tunnel(QTcpSocket *client, Record record) : client_(client), record_(std::move(record))
    {
        client_->setParent(this);
        connect(client_, &QTcpSocket::readyRead, this, [this] { fromClient(); });
        connect(client_, &QTcpSocket::disconnected, this, [this] { close(); });
        fromClient();
    }

private:
    void fromClient()
    {
        if (upstream_) {
            if (upstream_->state() == QAbstractSocket::ConnectedState)
                upstream_->write(client_->readAll());
            return;
        }
        head_ += client_->readAll();
        const qsizetype end = head_.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> first = head_.left(head_.indexOf("\r\n")).split(' ');
        const QByteArray target = first.value(1);
        const qsizetype colon = target.lastIndexOf(':');
        if (first.value(0) != "CONNECT" || colon <= 0) {
            client_->write("HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n");
            close();
            return;
        }
        QByteArray host = target.left(colon);
        if (host.startsWith('[') && host.endsWith(']'))
            host = host.mid(1, host.size() - 2);
        if (host != "127.0.0.1" && host != "::1" && host != "localhost") {
            client_->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
            client_->flush(); // the socket goes with the tunnel
            close();
            return;
        }
        record_(target);
        const QByteArray early = head_.mid(end + 4);
        upstream_ = new QTcpSocket(this);
        connect(upstream_, &QTcpSocket::connected, this, [this, early] {
            client_->write("HTTP/1.1 200 Connection established\r\n\r\n");
            upstream_->write(early + client_->readAll());
        });
        connect(upstream_, &QTcpSocket::readyRead, this, [this] { client_->write(upstream_->readAll()); });
        connect(upstream_, &QTcpSocket::disconnected, this, [this] { close(); });
        connect(upstream_, &QTcpSocket::errorOccurred, this, [this] { close(); });
        upstream_->connectToHost(QString::fromLatin1(host), target.mid(colon + 1).toUShort());
    }

    void close()
    {
        if (closed_)
            return;
        closed_ = true;
        client_->disconnectFromHost();
        if (upstream_)
            upstream_->disconnectFromHost();
        deleteLater();
    }

    QTcpSocket *client_;
    QTcpSocket *upstream_ = nullptr;
    Record record_;
    QByteArray head_;
    bool closed_ = false;
};

} // namespace

HttpsTestServer::HttpsTestServer() : d(std::make_unique<State>())
{
    const Credentials &c = credentials();
    if (!c.error.isEmpty()) {
        d->error = c.error;
        return;
    }
    State *s = d.get();
    s->queue.sync([s, &c] {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setLocalCertificateChain({c.leaf, c.ca});
        ssl.setPrivateKey(c.key);
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl.setProtocol(QSsl::TlsV1_2OrLater);

        s->server = new QSslServer(s->queue.context());
        s->server->setSslConfiguration(ssl);
        QObject::connect(s->server, &QTcpServer::pendingConnectionAvailable, s->server, [s] {
            while (QTcpSocket *socket = s->server->nextPendingConnection()) {
                const int number = ++s->connections;
                ++s->open;
                QObject::connect(socket, &QObject::destroyed, s->server, [s] {
                    --s->open;
                    s->admit();
                });
                auto *connection = new Connection(
                    socket, number, [s](const QByteArray &path) { return s->route(path); },
                    [s](const Request &r) { s->record(r); });
                connection->setParent(s->server);
            }
            // Taking a connection lets the server accept again.
            s->admit();
        });
        if (!s->server->listen(QHostAddress::LocalHost, 0)) {
            s->error = s->server->errorString();
            return;
        }
        s->port = s->server->serverPort();

        s->trap = new QTcpServer(s->queue.context());
        QObject::connect(s->trap, &QTcpServer::newConnection, s->trap, [s] {
            while (QTcpSocket *socket = s->trap->nextPendingConnection()) {
                s->trapConnections++;
                socket->abort();
                socket->deleteLater();
            }
        });
        if (!s->trap->listen(QHostAddress::LocalHost, 0)) {
            s->error = s->trap->errorString();
            return;
        }
        s->trapPort = s->trap->serverPort();

        s->mute = new QTcpServer(s->queue.context());
        if (!s->mute->listen(QHostAddress::LocalHost, 0)) {
            s->error = s->mute->errorString();
            return;
        }
        s->mutePort = s->mute->serverPort();

        s->proxy = new QTcpServer(s->queue.context());
        QObject::connect(s->proxy, &QTcpServer::newConnection, s->proxy, [s] {
            while (QTcpSocket *socket = s->proxy->nextPendingConnection()) {
                auto *tunnel = new Tunnel(socket, [s](const QByteArray &target) { s->tunnelled(target); });
                tunnel->setParent(s->proxy);
            }
        });
        if (!s->proxy->listen(QHostAddress::LocalHost, 0)) {
            s->error = s->proxy->errorString();
            return;
        }
        s->proxyPort = s->proxy->serverPort();
    });
}

HttpsTestServer::~HttpsTestServer()
{
    State *s = d.get();
    // Connections and their timers are children of the server.
    s->queue.sync([s] {
        delete s->server;
        delete s->trap;
        delete s->mute;
        delete s->proxy;
        s->server = nullptr;
        s->trap = nullptr;
        s->mute = nullptr;
        s->proxy = nullptr;
    });
}

bool HttpsTestServer::isListening() const
{
    return d->error.isEmpty() && d->port != 0 && d->trapPort != 0 && d->mutePort != 0 && d->proxyPort != 0;
}

QString HttpsTestServer::error() const
{
    return d->error;
}

quint16 HttpsTestServer::port() const
{
    return d->port;
}

QUrl HttpsTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(d->port).arg(path));
}

QUrl HttpsTestServer::plainUrl(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(d->trapPort).arg(path));
}

QUrl HttpsTestServer::muteUrl(const QString &path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(d->mutePort).arg(path));
}

int HttpsTestServer::plainConnections() const
{
    return d->trapConnections.load();
}

int HttpsTestServer::connections() const
{
    return d->connections.load();
}

void HttpsTestServer::limitConnections(int open)
{
    State *s = d.get();
    s->queue.sync([s, open] {
        s->openLimit = open;
        s->admit();
    });
}

QUrl HttpsTestServer::proxyUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(d->proxyPort));
}

QList<QByteArray> HttpsTestServer::tunnels() const
{
    std::lock_guard guard(d->lock);
    return d->tunnels;
}

QSslCertificate HttpsTestServer::caCertificate()
{
    return credentials().ca;
}

void HttpsTestServer::serve(const QString &path, Response response)
{
    serve(path, Handler([response = std::move(response)](const Request &) { return response; }));
}

void HttpsTestServer::serve(const QString &path, Handler handler)
{
    std::lock_guard guard(d->lock);
    d->routes[path.toUtf8()] = std::move(handler);
}

void HttpsTestServer::remove(const QString &path)
{
    std::lock_guard guard(d->lock);
    d->routes.erase(path.toUtf8());
}

std::vector<HttpsTestServer::Request> HttpsTestServer::requests() const
{
    std::lock_guard guard(d->lock);
    return d->log;
}

int HttpsTestServer::count(const QString &path) const
{
    const QByteArray p = path.toUtf8();
    std::lock_guard guard(d->lock);
    return static_cast<int>(std::count_if(d->log.begin(), d->log.end(),
                                          [&](const Request &r) { return r.path == p; }));
}

void HttpsTestServer::clearRequests()
{
    std::lock_guard guard(d->lock);
    d->log.clear();
}

} // namespace vantuli::test
