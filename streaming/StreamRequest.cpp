#include "streaming/StreamRequest.h"

#include "streaming/HlsPlaylist.h"

#include <QSslSocket>
#include <QTimer>

namespace vantuli {

namespace {

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A socket failure as a URL error code, as the HLS client describes its own.
int urlErrorOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return UrlError::cannotFindHost;
    case QAbstractSocket::ConnectionRefusedError:
        return UrlError::cannotConnectToHost;
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::NetworkError:
        return UrlError::networkConnectionLost;
    case QAbstractSocket::SocketTimeoutError:
        return UrlError::timedOut;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return UrlError::secureConnectionFailed;
    default:
        return UrlError::unknown;
    }
}

QByteArray withoutLineEnd(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

StreamRequest::StreamRequest(const StreamConfiguration &configuration, int idleTimeoutMs, Handlers handlers,
                             QObject *parent)
    : QObject(parent), configuration_(configuration), idleTimeoutMs_(idleTimeoutMs), handlers_(std::move(handlers))
{
    idle_ = new QTimer(this);
    idle_->setSingleShot(true);
    connect(idle_, &QTimer::timeout, this, [this] { fail(Failure::transport, UrlError::timedOut); });
}

StreamRequest::~StreamRequest()
{
    cancel();
}

void StreamRequest::get(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    if (phase_ != Phase::idle)
        return;
    headers_ = headers;
    open(url);
}

void StreamRequest::open(const QUrl &url)
{
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    url_ = url;
    phase_ = Phase::connecting;
    socket_ = new QSslSocket(this);
    socket_->setReadBufferSize(bufferLimit);
    QSslConfiguration ssl = configuration_.sslConfiguration();
    ssl.setAllowedNextProtocols({QByteArrayLiteral("http/1.1")});
    socket_->setSslConfiguration(ssl);

    connect(socket_, &QSslSocket::encrypted, this, [this] {
        connected_ = true;
        phase_ = Phase::head;
        headBytes_ = 0;
        status_ = 0;
        QByteArray host = url_.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = '[' + host + ']';
        if (url_.port(443) != 443)
            host += ':' + QByteArray::number(url_.port());
        QByteArray target = url_.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (url_.hasQuery())
            target += '?' + url_.query(QUrl::FullyEncoded).toLatin1();
        QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
        for (const auto &[name, value] : headers_)
            request += name + ": " + value + "\r\n";
        request += "Accept: */*\r\nConnection: close\r\n\r\n";
        socket_->write(request);
        restartIdle();
    });
    connect(socket_, &QSslSocket::readyRead, this, [this] { received(); });
    connect(socket_, &QSslSocket::disconnected, this, [this] { disconnected(); });
    connect(socket_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The server closing the connection is how some bodies end.
        if (error != QAbstractSocket::RemoteHostClosedError)
            fail(Failure::transport, urlErrorOf(error));
    });
    restartIdle();
    socket_->connectToHostEncrypted(url.host(QUrl::FullyEncoded), quint16(url.port(443)));
}

void StreamRequest::restartIdle()
{
    if (phase_ != Phase::done)
        idle_->start(idleTimeoutMs_);
}

void StreamRequest::received()
{
    restartIdle();
    if (phase_ == Phase::head && !readHead())
        return;
    if (phase_ == Phase::body && hasBody() && handlers_.readable)
        handlers_.readable();
}

// Reads the lines of the head that have arrived. False when the request
// failed or went on to another hop.
bool StreamRequest::readHead()
{
    while (phase_ == Phase::head) {
        if (!socket_->canReadLine()) {
            // The line under way may not outgrow what is left of the limit.
            if (headBytes_ + socket_->bytesAvailable() > headLimit) {
                fail(Failure::refused);
                return false;
            }
            return true;
        }
        const QByteArray line = socket_->readLine();
        headBytes_ += line.size();
        if (headBytes_ > headLimit) {
            fail(Failure::refused);
            return false;
        }
        if (!headLine(withoutLineEnd(line)))
            return false;
    }
    return phase_ == Phase::body;
}

bool StreamRequest::headLine(const QByteArray &line)
{
    if (status_ == 0) {
        // "HTTP/1.x NNN reason", or "ICY NNN reason" from SHOUTCAST servers,
        // which otherwise answer as HTTP/1.0 does.
        const QList<QByteArray> parts = line.split(' ');
        bool ok = false;
        const int status = parts.value(1).toInt(&ok);
        const bool known = line.startsWith("HTTP/1.") || parts.value(0) == "ICY";
        if (!known || parts.value(1).size() != 3 || !ok || status < 100) {
            fail(Failure::badResponse);
            return false;
        }
        status_ = status;
        contentType_.clear();
        location_.clear();
        contentLength_.reset();
        chunked_ = false;
        return true;
    }
    if (line.isEmpty())
        return headEnded();
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return true; // not a field: ignored, as clients do
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-type") {
        contentType_ = value;
    } else if (name == "location") {
        location_ = value;
    } else if (name == "transfer-encoding") {
        chunked_ = value.toLower().split(',').last().trimmed() == "chunked";
    } else if (name == "content-length") {
        bool ok = false;
        const qint64 length = value.toLongLong(&ok);
        if (!ok || length < 0) {
            fail(Failure::badResponse);
            return false;
        }
        contentLength_ = length;
    }
    return true;
}

bool StreamRequest::headEnded()
{
    // An interim response (Continue, Processing, Early Hints): the final one
    // follows on the same connection. Other 1xx statuses are never interim
    // without a request for them, and end the request as final ones.
    if (status_ == 100 || status_ == 102 || status_ == 103) {
        status_ = 0;
        return true;
    }
    if (isRedirect(status_) && !location_.isEmpty()) {
        const QUrl target = url_.resolved(QUrl::fromEncoded(location_));
        if (!target.isValid() || target.scheme() != QLatin1String("https")) {
            fail(Failure::refused);
            return false;
        }
        if (++hops_ > redirectLimit) {
            fail(Failure::tooManyRedirects);
            return false;
        }
        open(target);
        return false;
    }

    if (status_ == 204 || status_ == 304) {
        framing_ = Framing::length;
        remaining_ = 0;
    } else if (chunked_) {
        framing_ = Framing::chunked;
        chunk_ = Chunk::size;
        remaining_ = 0;
    } else if (contentLength_) {
        framing_ = Framing::length;
        remaining_ = *contentLength_;
    } else {
        framing_ = Framing::close;
    }
    phase_ = Phase::body;
    bodyStarted_ = true;
    complete_ = framing_ == Framing::length && remaining_ == 0;
    if (handlers_.responded)
        handlers_.responded(status_, url_, contentType_);
    if (phase_ != Phase::body)
        return false;
    if (complete_)
        end(std::nullopt);
    return phase_ == Phase::body;
}

QByteArray StreamRequest::read(qint64 maximum)
{
    QByteArray out;
    if (!socket_ || !bodyStarted_ || complete_)
        return out;
    while (out.size() < maximum) {
        if (framing_ == Framing::chunked && !nextChunk())
            break;
        // Never more than the socket holds: QIODevice::read() allocates
        // the whole size asked for, and a caller's maximum may be megabytes.
        qint64 want = std::min(maximum - out.size(), socket_->bytesAvailable());
        if (framing_ != Framing::close)
            want = std::min(want, remaining_);
        if (want <= 0)
            break;
        const QByteArray part = socket_->read(want);
        if (part.isEmpty())
            break;
        out += part;
        if (framing_ == Framing::close)
            continue;
        remaining_ -= part.size();
        if (framing_ == Framing::length && remaining_ == 0) {
            complete_ = true;
            end(std::nullopt);
            break;
        }
    }
    if (!out.isEmpty())
        restartIdle();
    return out;
}

// Reads chunk framing until the data of a chunk is next. False when more
// bytes are needed first, or the body ended or failed.
bool StreamRequest::nextChunk()
{
    while (true) {
        switch (chunk_) {
        case Chunk::data:
            if (remaining_ > 0)
                return true;
            chunk_ = Chunk::dataEnd;
            break;
        case Chunk::dataEnd:
            if (!socket_->canReadLine()) {
                if (socket_->bytesAvailable() > 2)
                    fail(Failure::badResponse);
                return false;
            }
            if (!withoutLineEnd(socket_->readLine(lineLimit + 1)).isEmpty()) {
                fail(Failure::badResponse);
                return false;
            }
            chunk_ = Chunk::size;
            break;
        case Chunk::size:
        case Chunk::trailer: {
            if (!socket_->canReadLine()) {
                if (socket_->bytesAvailable() > lineLimit)
                    fail(Failure::badResponse);
                return false;
            }
            const QByteArray line = withoutLineEnd(socket_->readLine(lineLimit + 1));
            if (line.size() >= lineLimit) {
                fail(Failure::badResponse);
                return false;
            }
            if (chunk_ == Chunk::trailer) {
                headBytes_ += line.size();
                if (headBytes_ > headLimit) {
                    fail(Failure::refused);
                    return false;
                }
                if (line.isEmpty()) {
                    complete_ = true;
                    end(std::nullopt);
                    return false;
                }
                break;
            }
            bool ok = false;
            const qint64 size = line.split(';').first().trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0) {
                fail(Failure::badResponse);
                return false;
            }
            if (size == 0) {
                chunk_ = Chunk::trailer;
                headBytes_ = 0;
            } else {
                chunk_ = Chunk::data;
                remaining_ = size;
            }
            break;
        }
        }
    }
}

bool StreamRequest::hasBody() const
{
    return socket_ && bodyStarted_ && !complete_ && socket_->bytesAvailable() > 0;
}

void StreamRequest::disconnected()
{
    if (phase_ == Phase::done)
        return;
    if (phase_ == Phase::body) {
        // What is buffered stays readable. A body that ends with the
        // connection is complete; one with a length is when the rest of it
        // is buffered.
        if (framing_ == Framing::close
            || (framing_ == Framing::length && socket_->bytesAvailable() >= remaining_)) {
            end(std::nullopt);
            return;
        }
    }
    fail(Failure::transport, UrlError::networkConnectionLost);
}

void StreamRequest::fail(Failure failure, int transportError)
{
    if (phase_ == Phase::done)
        return;
    transportError_ = transportError;
    end(failure);
}

// The owner hears of the end once control is back in the event loop, so that
// it may be inside read() or a handler when the end is found.
void StreamRequest::end(std::optional<Failure> failure)
{
    if (phase_ == Phase::done)
        return;
    phase_ = Phase::done;
    idle_->stop();
    QMetaObject::invokeMethod(this, [this, failure] {
        if (!cancelled_ && handlers_.finished)
            handlers_.finished(failure);
    }, Qt::QueuedConnection);
}

void StreamRequest::cancel()
{
    cancelled_ = true;
    phase_ = Phase::done;
    idle_->stop();
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

} // namespace vantuli
