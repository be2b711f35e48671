#include "streaming/StreamRequest.h"

#include "platform/Handoff.h"
#include "streaming/HlsPlaylist.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace vantuli {

namespace {

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A libcurl failure as a URL error code, as the HLS client describes its own.
int urlErrorOf(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return UrlError::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
        return UrlError::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return UrlError::timedOut;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        return UrlError::networkConnectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return UrlError::secureConnectionFailed;
    case CURLE_URL_MALFORMAT:
        return UrlError::badURL;
    default:
        return UrlError::unknown;
    }
}

// What every request says it is.
constexpr char userAgentField[] = "User-Agent: Vantuli/1.0";

// How long libcurl may answer a name from the addresses handed to it, as
// long as it would keep an answer of its own resolver.
constexpr int lookupLifetimeMs = 60 * 1000;

// Whether the environment names a proxy for https, as libcurl reads it.
bool proxyInEnvironment()
{
    for (const char *name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return false;
}

// The addresses of a host name, in the resolver's order, as libcurl takes
// them in CURLOPT_RESOLVE; empty when the name was not found.
QList<QByteArray> addressesOf(const QByteArray &host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    QList<QByteArray> addresses;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo *at = found; at; at = at->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        QByteArray address;
        if (at->ai_family == AF_INET
            && ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(at->ai_addr)->sin_addr, text, sizeof text))
            address = text;
        else if (at->ai_family == AF_INET6
                 && ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(at->ai_addr)->sin6_addr, text,
                                sizeof text))
            address = '[' + QByteArray(text) + ']';
        if (!address.isEmpty() && !addresses.contains(address))
            addresses.append(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}

} // namespace

// A name lookup on a thread of its own, which nobody waits for: one that
// hangs holds that thread only. Its answer goes to the request's thread
// unless the request let it go first.
struct StreamRequest::NameLookup {
    std::mutex lock;
    StreamRequest *request = nullptr; // guarded by lock; null once let go

    void letGo()
    {
        std::lock_guard guard(lock);
        request = nullptr;
    }
};

// libcurl's callbacks. They only record what libcurl hands over; the owner
// of a request hears of it once control is back in the event loop.
struct CurlCallbacks {
    static int socket(CURL *, curl_socket_t socket, int what, void *session, void *)
    {
        static_cast<StreamSession *>(session)->watch(socket, what);
        return 0;
    }

    static int timer(CURLM *, long milliseconds, void *session)
    {
        QTimer *timer = static_cast<StreamSession *>(session)->timer_;
        if (milliseconds < 0)
            timer->stop();
        else
            timer->start(int(std::min<long>(milliseconds, INT_MAX)));
        return 0;
    }

    static size_t header(char *data, size_t size, size_t count, void *request)
    {
        return static_cast<StreamRequest *>(request)->headerLine(data, size * count);
    }

    static size_t body(char *data, size_t size, size_t count, void *request)
    {
        return static_cast<StreamRequest *>(request)->body(data, size * count);
    }

    // Trusts the configuration's certificates in addition to the system's.
    static CURLcode sslContext(CURL *, void *context, void *request)
    {
        X509_STORE *store = SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(context));
        for (const QByteArray &der : static_cast<StreamRequest *>(request)->authorities_) {
            const auto *bytes = reinterpret_cast<const unsigned char *>(der.constData());
            if (X509 *certificate = d2i_X509(nullptr, &bytes, long(der.size()))) {
                X509_STORE_add_cert(store, certificate);
                X509_free(certificate);
            }
        }
        return CURLE_OK;
    }
};

// --- Session -------------------------------------------------------------------

StreamSession::StreamSession(QObject *parent, int connectionsPerHost) : QObject(parent)
{
    initialiseCurl();
    multi_ = curl_multi_init();
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    // libcurl's time-outs (connecting, the next address) when it asks.
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlCallbacks::socket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlCallbacks::timer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    if (connectionsPerHost > 0)
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, long(connectionsPerHost));
}

StreamSession::~StreamSession()
{
    const std::set<StreamRequest *> requests = requests_;
    for (StreamRequest *request : requests)
        request->cancel();
    timer_->stop();
    curl_multi_cleanup(multi_);
}

void StreamSession::add(StreamRequest *request)
{
    requests_.insert(request);
    curl_multi_add_handle(multi_, request->easy_);
}

void StreamSession::remove(StreamRequest *request)
{
    if (requests_.erase(request) > 0)
        curl_multi_remove_handle(multi_, request->easy_);
}

void StreamSession::watch(int socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        const auto it = watches_.find(socket);
        if (it == watches_.end())
            return;
        // The notifier may be the one whose signal is running: it goes once
        // control is back in the event loop, and libcurl closes the socket.
        for (QSocketNotifier *notifier : {it->second.read, it->second.write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        watches_.erase(it);
        return;
    }
    Watch &watch = watches_[socket];
    watchFor(watch.read, socket, what & CURL_POLL_IN, false);
    watchFor(watch.write, socket, what & CURL_POLL_OUT, true);
}

void StreamSession::watchFor(QSocketNotifier *&notifier, int socket, bool wanted, bool write)
{
    if (!wanted) {
        if (notifier)
            notifier->setEnabled(false);
        return;
    }
    if (!notifier) {
        notifier = new QSocketNotifier(socket, write ? QSocketNotifier::Write : QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this,
                [this, socket, write] { act(socket, write ? CURL_CSELECT_OUT : CURL_CSELECT_IN); });
    }
    notifier->setEnabled(true);
}

void StreamSession::act(int socket, int events)
{
    int running = 0;
    curl_multi_socket_action(multi_, socket, events, &running);
    if (connecting()) {
        // When an attempt on one of a host's addresses fails or runs out of
        // time, libcurl (7.88) prepares the next address but opens its
        // socket only when the transfer runs again, and asks for no event
        // that would make it run: nothing would happen until the whole
        // connect time-out is over. Running every transfer once more starts
        // that attempt now. (socket_all is the one call that runs them all
        // and tells which sockets to watch.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        curl_multi_socket_all(multi_, &running);
#pragma GCC diagnostic pop
    }
    collect();
}

bool StreamSession::connecting() const
{
    for (StreamRequest *request : requests_) {
        // One whose body flows is long connected (and this runs for every
        // packet it gets).
        if (request->bodyStarted_)
            continue;
        curl_off_t connected = 0;
        if (curl_easy_getinfo(request->easy_, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK && connected == 0)
            return true;
    }
    return false;
}

void StreamSession::collect()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        const CURLcode result = message->data.result;
        char *owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (auto *request = reinterpret_cast<StreamRequest *>(owner))
            request->transferred(result);
    }
}

// --- Request -------------------------------------------------------------------

StreamRequest::StreamRequest(const StreamConfiguration &configuration, int idleTimeoutMs, Handlers handlers,
                             QObject *parent, StreamSession *session, qint64 bodyLimit)
    : QObject(parent), configuration_(configuration), idleTimeoutMs_(idleTimeoutMs),
      handlers_(std::move(handlers)), bodyLimit_(bodyLimit), session_(session)
{
    if (!session_)
        session_ = new StreamSession(this);
    for (const QSslCertificate &certificate : configuration_.caCertificates)
        authorities_.append(certificate.toDer());
    idle_ = new QTimer(this);
    idle_->setSingleShot(true);
    idle_->setTimerType(Qt::PreciseTimer);
    connect(idle_, &QTimer::timeout, this, [this] { fail(Failure::transport, UrlError::timedOut); });
}

StreamRequest::~StreamRequest()
{
    cancel();
    if (easy_)
        curl_easy_cleanup(easy_);
    curl_slist_free_all(static_cast<curl_slist *>(headerList_));
    curl_slist_free_all(static_cast<curl_slist *>(aliasList_));
    curl_slist_free_all(static_cast<curl_slist *>(resolveList_));
}

void StreamRequest::get(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    static_assert(sizeof(errorText_) >= CURL_ERROR_SIZE);
    if (started_ || cancelled_ || !session_)
        return;
    started_ = true;
    easy_ = curl_easy_init();
    if (!easy_) {
        fail(Failure::transport, UrlError::unknown);
        return;
    }
    CURL *easy = easy_;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText_);
    // Ending the transfer never waits for a name lookup that still runs
    // (libcurl would join its resolver thread): the lookup is left to finish
    // on its own, so neither the owner's thread nor whoever waits for it is
    // held by a resolver that hangs.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    // Each address of a host gets its share of this (libcurl splits it), so
    // one that never answers does not keep the next from being tried.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     long(StreamConfiguration::milliseconds(configuration_.timeoutFor(connectTimeout))));
    // Nothing is ever sent in plain text (redirects are checked in follow()).
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
    // HTTP/1.1: a paused transfer leaves the server's bytes in the socket,
    // and TCP holds the server back (HTTP/2 would let a whole stream window
    // arrive first).
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    // The head callback sees the server's responses, not a proxy's.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_slist *aliases = curl_slist_append(nullptr, "ICY 200");
    aliasList_ = aliases;
    curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, aliases);
    curl_slist *fields = curl_slist_append(nullptr, userAgentField);
    for (const auto &[name, value] : headers)
        fields = curl_slist_append(fields, QByteArray(name + ": " + value).constData());
    headerList_ = fields;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, fields);

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlCallbacks::header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (bodyLimit_ > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(bodyLimit_));
    // The system store as its hashed directory, where OpenSSL looks up the
    // one issuer it needs, rather than the whole bundle parsed again for
    // every connection (some 20 ms before each station's first byte).
    char *directory = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CAPATH, &directory) == CURLE_OK && directory && *directory)
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    if (!authorities_.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlCallbacks::sslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
        // The certificates go into the context's own store, never into one
        // that libcurl keeps for later connections.
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
    if (!configuration_.hostAddresses.isEmpty()) {
        curl_slist *resolve = nullptr;
        for (const QByteArray &entry : configuration_.hostAddresses)
            resolve = curl_slist_append(resolve, entry.constData());
        resolveList_ = resolve;
        curl_easy_setopt(easy, CURLOPT_RESOLVE, resolve);
    }

    send(url);
}

// Redirects are followed here, hop by hop, each hop a transfer of a handle
// of its own: it uses the connection of the hop before where the server kept
// it open, and a new one where the server closed it. (libcurl retries a
// reused connection that turns out closed only a few times in a handle's
// life, so a redirector that drops each connection without saying so would
// cut a chain short that one handle follows.)
void StreamRequest::send(const QUrl &url)
{
    headBytes_ = 0;
    headLocation_ = false;
    redirected_ = false;
    if (hop_ > 0) {
        CURL *next = curl_easy_duphandle(easy_); // the options, and none of the state
        if (!next) {
            fail(Failure::transport, UrlError::unknown);
            return;
        }
        curl_easy_cleanup(easy_);
        easy_ = next;
    }
    curl_easy_setopt(easy_, CURLOPT_URL, url.toEncoded().constData());
    running_ = true;
    restartIdle();
    if (!lookUp(url))
        session_->add(this);
}

// Starts looking up the station's name, unless libcurl can answer it
// without asking: an address, a name the configuration answers or this
// session looked up lately, or a proxy's business. Whether it started.
bool StreamRequest::lookUp(const QUrl &url)
{
    const QByteArray host = url.host(QUrl::FullyEncoded).toLower().toLatin1();
    const QByteArray key = host + ':' + QByteArray::number(url.port(443));
    if (host.isEmpty() || !QHostAddress(QString::fromLatin1(host)).isNull() || proxyInEnvironment())
        return false;
    for (const QByteArray &entry : configuration_.hostAddresses) {
        if (entry.toLower().startsWith(key + ':'))
            return false;
    }
    const auto known = session_->lookedUp_.constFind(key);
    if (known != session_->lookedUp_.cend() && !known->hasExpired())
        return false;
    auto lookup = std::make_shared<NameLookup>();
    lookup->request = this;
    try {
        std::thread([lookup, host, key] {
            const QList<QByteArray> addresses = addressesOf(host);
            std::lock_guard guard(lookup->lock);
            if (StreamRequest *request = lookup->request)
                Handoff::post(request, [request, key, addresses] { request->lookedUp(key, addresses); });
        }).detach();
    } catch (const std::system_error &) {
        return false; // no thread to spare: libcurl looks the name up itself
    }
    lookup_ = std::move(lookup);
    return true;
}

void StreamRequest::lookedUp(const QByteArray &key, const QList<QByteArray> &addresses)
{
    if (!lookup_ || ended_)
        return;
    lookup_.reset();
    // A session that went while the name was looked up took its requests
    // with it, as it does those already under way.
    if (!session_) {
        cancel();
        return;
    }
    if (addresses.isEmpty()) {
        fail(Failure::transport, UrlError::cannotFindHost);
        return;
    }
    const QByteArray entry = key + ':' + addresses.join(',');
    curl_slist *resolve = curl_slist_append(static_cast<curl_slist *>(resolveList_), entry.constData());
    if (!resolve) {
        fail(Failure::transport, UrlError::unknown);
        return;
    }
    resolveList_ = resolve;
    curl_easy_setopt(easy_, CURLOPT_RESOLVE, resolve);
    restartIdle(); // connecting gets the whole idle time-out
    session_->lookedUp_.insert(key, QDeadlineTimer(lookupLifetimeMs));
    session_->add(this);
}

void StreamRequest::follow()
{
    char *location = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_REDIRECT_URL, &location);
    const QUrl next = QUrl::fromEncoded(QByteArray(location ? location : ""));
    if (hop_ >= redirectLimit) {
        fail(Failure::tooManyRedirects);
        return;
    }
    if (next.scheme() != QLatin1String("https") || !session_) {
        fail(Failure::refused);
        return;
    }
    ++hop_;
    send(next);
}

size_t StreamRequest::headerLine(const char *data, size_t size)
{
    headBytes_ += qint64(size);
    if (headBytes_ > headLimit) {
        aborted_ = Failure::refused;
        return 0;
    }
    connected_ = true;
    restartIdle();

    // The final head is the owner's as soon as its header block ends: a
    // refusal is judged on its head, whether or not a body follows. Interim
    // heads are skipped, and so are those of redirects, which are followed.
    if (size > 0 && size <= 2 && (data[0] == '\r' || data[0] == '\n')) {
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        const bool interim = status >= 100 && status <= 199;
        redirected_ = status >= 300 && status <= 399 && headLocation_;
        headLocation_ = false;
        if (!interim && !redirected_ && !headKnown_ && !bodyStarted_) {
            headKnown_ = true;
            notify();
        }
    } else if (size > 9 && qstrnicmp(data, "location:", 9) == 0) {
        headLocation_ = true;
    }
    return size;
}

size_t StreamRequest::body(const char *data, size_t size)
{
    if (redirected_)
        return size; // a redirect's body is nobody's
    if (bodyLimit_ > 0 && received_ + qint64(size) > bodyLimit_) {
        aborted_ = Failure::tooLarge;
        return 0;
    }
    if (buffer_.size() - offset_ >= bufferLimit) {
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE; // handed over again once read() made room
    }
    if (offset_ > 0 && offset_ >= buffer_.size() / 2) {
        buffer_.remove(0, offset_);
        offset_ = 0;
    }
    buffer_.append(data, qsizetype(size));
    received_ += qint64(size);
    bodyStarted_ = true;
    restartIdle();
    notify();
    return size;
}

QByteArray StreamRequest::read(qint64 maximum)
{
    const qint64 count = std::min<qint64>(maximum, buffer_.size() - offset_);
    if (count <= 0)
        return {};
    QByteArray out;
    if (offset_ == 0 && count == buffer_.size()) {
        out = std::move(buffer_);
        buffer_ = QByteArray();
    } else {
        out = buffer_.mid(offset_, count);
        offset_ += count;
        if (offset_ == buffer_.size()) {
            buffer_.resize(0);
            offset_ = 0;
        }
    }
    restartIdle();
    if (paused_ && running_ && buffer_.size() - offset_ <= bufferLimit / 2) {
        // May hand over what libcurl held back, at once.
        paused_ = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
    return out;
}

bool StreamRequest::connected() const
{
    if (!connected_ && easy_) {
        curl_off_t handshake = 0;
        if (curl_easy_getinfo(easy_, CURLINFO_APPCONNECT_TIME_T, &handshake) == CURLE_OK && handshake > 0)
            connected_ = true;
    }
    return connected_;
}

void StreamRequest::transferred(int code)
{
    detach();
    if (ended_)
        return;
    if (code == CURLE_OK) {
        if (redirected_) {
            follow();
            return;
        }
        end(std::nullopt);
        return;
    }
    if (aborted_) {
        fail(*aborted_);
        return;
    }
    // A proxy that answered the tunnel's CONNECT with anything but 2xx did
    // not accept the connection.
    long tunnel = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &tunnel) == CURLE_OK && tunnel != 0
        && (tunnel < 200 || tunnel > 299)) {
        fail(Failure::proxyRefused);
        return;
    }
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: // not https, or not an HTTP response
        fail(Failure::refused);
        return;
    case CURLE_OUT_OF_MEMORY:
#if LIBCURL_VERSION_NUM >= 0x080600
    case CURLE_TOO_LARGE:
#endif
        // How libcurl refuses a header line over its own limit (100 KiB),
        // one that never ends included.
        if (!bodyStarted_) {
            fail(Failure::refused);
            return;
        }
        fail(Failure::transport, UrlError::unknown);
        return;
    case CURLE_FILESIZE_EXCEEDED:
        // Refused on its whole head: the owner hears of the response first.
        headKnown_ = true;
        fail(Failure::tooLarge);
        return;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        fail(Failure::badResponse);
        return;
    case CURLE_RECV_ERROR:
        // Broken chunk framing reads as a receive error; only its message
        // tells it from a connection that broke.
        if (std::strstr(errorText_, "in chunked-encoding")) {
            fail(Failure::badResponse);
            return;
        }
        [[fallthrough]];
    default:
        fail(Failure::transport, urlErrorOf(CURLcode(code)));
        return;
    }
}

void StreamRequest::restartIdle()
{
    if (running_)
        idle_->start(idleTimeoutMs_);
}

void StreamRequest::fail(Failure failure, int transportError)
{
    if (ended_)
        return;
    transportError_ = transportError;
    end(failure);
}

void StreamRequest::end(std::optional<Failure> failure)
{
    if (ended_)
        return;
    ended_ = true;
    failure_ = failure;
    idle_->stop();
    detach();
    notify();
}

void StreamRequest::detach()
{
    if (lookup_) {
        lookup_->letGo();
        lookup_.reset();
    }
    if (!running_)
        return;
    running_ = false;
    if (session_)
        session_->remove(this);
}

void StreamRequest::notify()
{
    if (notifying_ || cancelled_)
        return;
    notifying_ = true;
    QMetaObject::invokeMethod(this, [this] { deliver(); }, Qt::QueuedConnection);
}

// Tells the owner what happened since the last time, in order: the final
// head, body bytes, the end. The final head is known once its header block
// ended, with the first body bytes, or once the transfer completed or was
// refused on its head.
void StreamRequest::deliver()
{
    notifying_ = false;
    if (cancelled_)
        return;
    if (!responded_ && (bodyStarted_ || headKnown_ || (ended_ && !failure_))) {
        responded_ = true;
        long status = 0;
        char *url = nullptr;
        char *type = nullptr;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &url);
        curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &type);
        if (handlers_.responded)
            handlers_.responded(int(status), QUrl::fromEncoded(QByteArray(url ? url : "")), QByteArray(type ? type : ""));
        if (cancelled_)
            return;
    }
    if (responded_ && hasBody() && handlers_.readable) {
        handlers_.readable();
        if (cancelled_)
            return;
    }
    if (ended_ && !finished_) {
        finished_ = true;
        if (handlers_.finished)
            handlers_.finished(failure_);
    }
}

void StreamRequest::cancel()
{
    cancelled_ = true;
    ended_ = true;
    idle_->stop();
    detach();
}

} // namespace vantuli
