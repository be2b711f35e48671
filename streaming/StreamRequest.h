#pragma once

#include "streaming/StreamConfiguration.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QSslSocket;
class QTimer;

namespace vantuli {

// The GET of a plain live stream: HTTP/1.1 over TLS, one connection per hop,
// nothing cached and no cookies. Unlike the general HTTP client it bounds
// everything a server sends before the body: the response heads of a request
// (interim ones included) may take at most headLimit bytes, a chunk-size line
// at most lineLimit. It follows redirects itself, only to https, up to
// redirectLimit hops, and skips interim responses (100, 102, 103).
//
// The body is not read ahead: the owner takes it with read() at its own pace,
// and the socket holds at most bufferLimit bytes, so TCP slows a server down
// that sends faster than the owner reads.
//
// Lives on the thread that created it (an event-loop thread); its handlers
// are called there. The owner may delete it from inside a handler only
// through deleteLater().
class StreamRequest : public QObject {
public:
    static constexpr qint64 headLimit = 64 * 1024;
    static constexpr qint64 lineLimit = 1024;
    static constexpr int redirectLimit = 16;
    static constexpr qint64 bufferLimit = 256 * 1024;

    // How a request ended before or instead of its body's end.
    enum class Failure {
        refused,     // a redirect away from https, or a head over its limit
        badResponse, // a malformed status line, head or chunk framing
        tooManyRedirects,
        transport,   // a socket or TLS error, or the idle time-out; see transportError()
    };

    struct Handlers {
        // The final response's head arrived: its status, the URL it came
        // from, its Content-Type value.
        std::function<void(int status, const QUrl &url, const QByteArray &contentType)> responded;
        // Body bytes are waiting to be read.
        std::function<void()> readable;
        // The body ended (nothing: complete) or the request failed. Called
        // once, last; body bytes still buffered stay readable.
        std::function<void(std::optional<Failure>)> finished;
    };

    StreamRequest(const StreamConfiguration &configuration, int idleTimeoutMs, Handlers handlers,
                  QObject *parent);
    ~StreamRequest() override;

    // Sends the request (once). `headers` go out after Host, in order.
    void get(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers);
    // Up to `maximum` bytes of the body (without chunk framing); empty when none are buffered.
    QByteArray read(qint64 maximum);
    // Whether body bytes (or framing) are buffered.
    bool hasBody() const;
    // Whether a TLS connection has been made at least once.
    bool connected() const { return connected_; }
    // The URL error code of a transport failure.
    int transportError() const { return transportError_; }
    // Ends the request without calling any handler.
    void cancel();

private:
    enum class Phase { idle, connecting, head, body, done };
    enum class Framing { length, chunked, close };
    enum class Chunk { size, data, dataEnd, trailer };

    void open(const QUrl &url);
    void received();
    bool readHead();
    bool headLine(const QByteArray &line);
    bool headEnded();
    bool nextChunk();
    void disconnected();
    void fail(Failure failure, int transportError = 0);
    void end(std::optional<Failure> failure);
    void restartIdle();

    const StreamConfiguration configuration_;
    const int idleTimeoutMs_;
    const Handlers handlers_;
    QList<QPair<QByteArray, QByteArray>> headers_;

    QSslSocket *socket_ = nullptr;
    QTimer *idle_ = nullptr;
    QUrl url_;
    Phase phase_ = Phase::idle;
    bool connected_ = false;
    int hops_ = 0;
    int transportError_ = 0;

    // The head being read.
    qint64 headBytes_ = 0;
    int status_ = 0;
    QByteArray contentType_;
    QByteArray location_;
    std::optional<qint64> contentLength_;
    bool chunked_ = false;

    // The body.
    Framing framing_ = Framing::close;
    qint64 remaining_ = 0; // of the body (length) or of the chunk (chunked)
    Chunk chunk_ = Chunk::size;
    bool bodyStarted_ = false;
    bool complete_ = false;
    bool cancelled_ = false;
};

} // namespace vantuli
