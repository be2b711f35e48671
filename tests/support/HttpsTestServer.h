#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

namespace vantuli::test {

// A real HTTPS/1.1 server on 127.0.0.1 for tests, on its own thread, so the
// test thread may block or spin its own event loop while clients talk to it.
// Its leaf certificate (for 127.0.0.1 and localhost) is signed by a CA made
// at test time with the openssl tool; clients trust caCertificate() through
// their stream configuration, never by switching verification off.
//
// Paths are served from a table: static responses or handlers. Unknown paths
// answer 404. Connections are kept alive between requests. Alongside the
// HTTPS port it has a plain-HTTP trap port that sends nothing back and only
// counts the connections made to it, to prove that no plain-text request
// was sent, and a CONNECT proxy that tunnels to any local port and refuses
// (403) a tunnel to any other host.
class HttpsTestServer {
public:
    struct Request {
        QByteArray method;
        QByteArray target;                  // as sent, with the query
        QByteArray path;                    // without the query
        QMap<QByteArray, QByteArray> headers; // names in lower case
        int connection = 0;                   // which TLS connection, counted from 1
        double receivedAt = 0;                // seconds of the steady clock, as its head came in
    };

    struct Response {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // Send the body with chunked transfer encoding instead of a Content-Length.
        bool chunked = false;
        // Milliseconds to wait before anything of the response is sent.
        int delayMs = 0;
        // A streamed body (chunked, unless unframed): after `body`, this is
        // called on the server thread every intervalMs with the number of
        // pieces it gave so far; an empty answer ends the body. It runs until then or until the client
        // goes, so it can serve an endless live stream.
        std::function<QByteArray(qint64 index)> stream;
        int intervalMs = 0;
        // Instead of one chunk per interval, the next chunk whenever the
        // socket has taken what was written: as fast as the client reads,
        // while the server itself holds little.
        bool asFastAsTaken = false;
        // Close the connection once the response is sent.
        bool close = false;
        // With `close`: without saying so first ("Connection: close").
        bool quietClose = false;
        // A head that never ends: after the status line and `headers`, this
        // text again and again, as fast as the client takes it. With a line
        // end it floods header lines; without one it is one endless line.
        QByteArray endlessHead;
        // A status line of its own in place of "HTTP/1.1 <status> <reason>".
        QByteArray statusLine;
        // False: neither Content-Length nor Transfer-Encoding is added, and
        // `body` and the streamed pieces go out as they stand; `headers`
        // alone say how the body is framed, truthfully or not.
        bool framed = true;

        static Response ok(QByteArray body, const QByteArray &contentType = {});
        static Response withStatus(int status, QByteArray body = {});
        static Response redirect(const QUrl &location, int status = 302);
        static Response streamed(const QByteArray &contentType, std::function<QByteArray(qint64)> next,
                                 int intervalMs);
        Response &header(const QByteArray &name, const QByteArray &value);
    };

    // Called on the server thread for each request to its path.
    using Handler = std::function<Response(const Request &)>;

    HttpsTestServer();
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer &) = delete;
    HttpsTestServer &operator=(const HttpsTestServer &) = delete;

    // False when the certificates could not be made or a port could not be
    // opened; error() then says why.
    bool isListening() const;
    QString error() const;

    quint16 port() const;
    QUrl url(const QString &path) const;      // https://127.0.0.1:<port><path>
    QUrl plainUrl(const QString &path) const; // http://127.0.0.1:<trap port><path>
    int plainConnections() const;
    // https://127.0.0.1:<mute port><path>: a port that accepts connections and
    // never answers, so a TLS handshake with it never completes.
    QUrl muteUrl(const QString &path) const;
    // TLS connections accepted so far.
    int connections() const;
    // Serves at most `open` connections at a time, as a server that allows
    // one connection per client: further ones wait in the listen queue, their
    // handshakes unanswered, until one of those served closes (0: no limit).
    void limitConnections(int open);

    // http://127.0.0.1:<proxy port>: a proxy that answers CONNECT with a
    // tunnel to the host and port asked for, when the host is 127.0.0.1,
    // ::1 or localhost, and with 403 Forbidden otherwise.
    QUrl proxyUrl() const;
    // The "host:port" of each CONNECT so far.
    QList<QByteArray> tunnels() const;

    // The CA that signed the server's certificate (the same for every server
    // of the process).
    static QSslCertificate caCertificate();

    void serve(const QString &path, Response response);
    void serve(const QString &path, Handler handler);
    void remove(const QString &path);

    // Requests received so far, in order of arrival.
    std::vector<Request> requests() const;
    int count(const QString &path) const;
    void clearRequests();

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace vantuli::test
