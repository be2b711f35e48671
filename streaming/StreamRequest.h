#pragma once

#include "streaming/StreamConfiguration.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

class QSocketNotifier;
class QTimer;

namespace vantuli {

class StreamRequest;

// The connections of a listening run: one libcurl multi handle, driven by the
// event loop of the thread that made the session (socket notifiers for the
// sockets libcurl watches, one single-shot timer for its time-outs; nothing
// polls and nothing blocks). Requests made in the same session share its
// connections, so the playlist reloads and segments of an HLS run go over
// one kept-alive connection.
//
// Use it on its thread only. Deleting it ends the requests still in it
// without calling their handlers.
class StreamSession : public QObject {
public:
    // `connectionsPerHost`: at most this many connections to one host at a
    // time (0: no limit); requests beyond it wait for one to come free.
    explicit StreamSession(QObject *parent = nullptr, int connectionsPerHost = 0);
    ~StreamSession() override;

private:
    friend class StreamRequest;
    struct Watch {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    void add(StreamRequest *request);
    void remove(StreamRequest *request);
    void watch(int socket, int what);
    void watchFor(QSocketNotifier *&notifier, int socket, bool wanted, bool write);
    void act(int socket, int events);
    // Whether a request has not reached its server (or proxy) yet.
    bool connecting() const;
    void collect();
    friend struct CurlCallbacks;

    void *multi_ = nullptr;
    QTimer *timer_ = nullptr;
    // "host:port" of the names looked up for this session's requests, until
    // when libcurl may answer them from what it was handed.
    QHash<QByteArray, QDeadlineTimer> lookedUp_;
    std::unordered_map<int, Watch> watches_;
    std::set<StreamRequest *> requests_;
};

// One GET over HTTPS through libcurl: nothing cached, no cookies, the
// system's trusted certificates (plus the configuration's own) and the
// proxies the environment names. Every request and every redirect must be
// https; at most redirectLimit redirects are followed; interim responses are
// skipped; a SHOUTCAST "ICY 200" status line is read as HTTP/1.0 200. The
// response heads of a hop, interim ones and trailers included, may take at
// most headLimit bytes. The station's name is looked up first, as a step of
// its own, bounded by the idle time-out, which starts again once it is
// answered: a slow resolver does not eat into the time for connecting.
// Connecting (TCP, proxy tunnel and TLS) may then take connectTimeout
// seconds, shared out among the host's addresses. (Where a proxy is set,
// libcurl looks up the name it connects to within that time.) Each redirect
// hop goes over the connection of the hop before while the server keeps it
// open, and over a new one once the server closed it; a name looked up for
// one hop serves the later ones.
//
// Nothing waits for a name lookup: a request ends at once, and a lookup that
// still runs finishes on its own thread.
//
// The body is not read ahead: the owner takes it with read() at its own pace.
// Once bufferLimit bytes wait unread, the transfer pauses, so TCP slows a
// server down that sends faster than the owner reads.
//
// Lives on the thread of its session (an event-loop thread); its handlers
// are called there, never from inside libcurl. The owner may delete it from
// inside a handler only through deleteLater().
class StreamRequest : public QObject {
public:
    static constexpr qint64 headLimit = 64 * 1024;
    static constexpr long redirectLimit = 16;
    static constexpr qint64 bufferLimit = 256 * 1024;
    static constexpr double connectTimeout = 8;

    // How a request ended before or instead of its body's end.
    enum class Failure {
        refused,      // a redirect away from https, a response that is not HTTP, or a head over its limit
        proxyRefused, // the proxy refused the tunnel
        badResponse, // a garbled response
        tooManyRedirects,
        tooLarge,  // a body over the request's limit, announced or received
        transport, // a socket or TLS error, or the idle time-out; see transportError()
    };

    struct Handlers {
        // The final response's head arrived (called as soon as its header
        // block ends, before any body): its status, the URL it came from,
        // its Content-Type value.
        std::function<void(int status, const QUrl &url, const QByteArray &contentType)> responded;
        // Body bytes are waiting to be read.
        std::function<void()> readable;
        // The body ended (nothing: complete) or the request failed. Called
        // once, last; body bytes still buffered stay readable.
        std::function<void(std::optional<Failure>)> finished;
    };

    // `session`: whose connections the request uses; without one it has a
    // session of its own. `bodyLimit`: the largest body accepted, in bytes
    // (0: any); a response that announces a longer one is refused before
    // its body.
    StreamRequest(const StreamConfiguration &configuration, int idleTimeoutMs, Handlers handlers, QObject *parent,
                  StreamSession *session = nullptr, qint64 bodyLimit = 0);
    ~StreamRequest() override;

    // Sends the request (once), with the User-Agent "Vantuli/1.0" that
    // every request of the application sends. `headers` go out as they are
    // given, after it.
    void get(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers);
    // Up to `maximum` bytes of the body; empty when none are buffered.
    QByteArray read(qint64 maximum);
    // Whether body bytes are buffered.
    bool hasBody() const { return buffer_.size() > offset_; }
    // Whether a TLS connection to the server has been made at least once.
    bool connected() const;
    // The URL error code of a transport failure.
    int transportError() const { return transportError_; }
    // Ends the request without calling any handler.
    void cancel();

private:
    friend class StreamSession;
    friend struct CurlCallbacks;

    void send(const QUrl &url);
    void follow();
    struct NameLookup;

    bool lookUp(const QUrl &url);
    // `key`: "host:port".
    void lookedUp(const QByteArray &key, const QList<QByteArray> &addresses);
    size_t headerLine(const char *data, size_t size);
    size_t body(const char *data, size_t size);

    void transferred(int code);
    void fail(Failure failure, int transportError = 0);
    void end(std::optional<Failure> failure);
    void detach();
    void notify();
    void deliver();
    void restartIdle();

    const StreamConfiguration configuration_;
    const int idleTimeoutMs_;
    const Handlers handlers_;
    const qint64 bodyLimit_;
    QPointer<StreamSession> session_;
    QList<QByteArray> authorities_; // extra trusted certificates, DER

    void *easy_ = nullptr;
    void *headerList_ = nullptr;
    void *aliasList_ = nullptr;
    void *resolveList_ = nullptr;
    std::shared_ptr<NameLookup> lookup_; // while the station's name is looked up
    QTimer *idle_ = nullptr;
    bool started_ = false;
    bool running_ = false; // in the session's multi handle
    bool cancelled_ = false;
    mutable bool connected_ = false;

    // The current hop.
    long hop_ = 0; // redirects followed
    qint64 headBytes_ = 0;
    bool headLocation_ = false; // the head read so far names a Location
    bool redirected_ = false;   // the hop's head is a redirect, to follow once its body ended
    char errorText_[256] = {}; // libcurl's message of a failure
    std::optional<Failure> aborted_; // why a callback stopped the transfer

    // The body.
    QByteArray buffer_;
    qsizetype offset_ = 0; // bytes of buffer_ already read
    qint64 received_ = 0;
    bool paused_ = false;
    bool bodyStarted_ = false;
    bool headKnown_ = false; // the final head arrived, though no body follows

    // The end, and what the owner has heard of.
    bool ended_ = false;
    std::optional<Failure> failure_;
    int transportError_ = 0;
    bool notifying_ = false;
    bool responded_ = false;
    bool finished_ = false;
};

} // namespace vantuli
