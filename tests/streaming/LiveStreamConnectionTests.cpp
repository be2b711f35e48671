#include "LiveStreamTesting.h"

#include "streaming/CurlLibrary.h"
#include "streaming/HlsPlaylist.h"
#include "streaming/StreamRequest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>

using namespace vantuli;
using namespace vantuli::test;

namespace {

// Name lookups of hosts under "hung.test" hang, as behind a resolver that
// never answers, until a test lets them go (or for 20 s at most).
struct HungLookups {
    std::mutex lock;
    std::condition_variable wake;
    bool released = true;
    int waiting = 0;

    static HungLookups &shared()
    {
        static HungLookups lookups;
        return lookups;
    }
};

// Holds lookups under "hung.test" while it lives.
class HangingResolver {
public:
    HangingResolver() { set(false); }
    ~HangingResolver() { set(true); }
    int waiting() const
    {
        std::lock_guard guard(HungLookups::shared().lock);
        return HungLookups::shared().waiting;
    }

private:
    static void set(bool released)
    {
        HungLookups &lookups = HungLookups::shared();
        std::lock_guard guard(lookups.lock);
        lookups.released = released;
        lookups.wake.notify_all();
    }
};

} // namespace

// Stands in for the C library's lookup in this test program (the stream
// client's lookup thread calls it). "<ms>.slow.test" answers 127.0.0.1 after
// that many milliseconds, "<ms>-dead.slow.test" 127.0.0.2 first; every
// other name goes to the real one.
extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **result)
{
    using Lookup = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && QByteArray(node).endsWith(".slow.test")) {
        const QByteArray label = QByteArray(node).split('.').front();
        std::this_thread::sleep_for(std::chrono::milliseconds(label.split('-').front().toInt()));
        addrinfo numeric = hints ? *hints : addrinfo{};
        numeric.ai_flags |= AI_NUMERICHOST;
        addrinfo *good = nullptr;
        if (const int error = real("127.0.0.1", service, &numeric, &good); error != 0)
            return error;
        addrinfo *dead = nullptr;
        if (!label.endsWith("-dead") || real("127.0.0.2", service, &numeric, &dead) != 0) {
            *result = good;
            return 0;
        }
        addrinfo *last = dead;
        while (last->ai_next)
            last = last->ai_next;
        last->ai_next = good;
        *result = dead;
        return 0;
    }
    if (node && QByteArray(node).endsWith(".hung.test")) {
        HungLookups &lookups = HungLookups::shared();
        std::unique_lock guard(lookups.lock);
        ++lookups.waiting;
        lookups.wake.wait_for(guard, std::chrono::seconds(20), [&] { return lookups.released; });
        --lookups.waiting;
        return EAI_AGAIN;
    }
    return real(node, service, hints, result);
}

namespace {

const QString refused = QStringLiteral("电台未接受连接，请重试或前往官网。");
const QString ended = QStringLiteral("直播连接已结束，可以重新连接。");

// A redirect to `to`; a closing one drops the connection after it without
// saying so.
HttpsTestServer::Response redirect(const QUrl &to, bool closing)
{
    HttpsTestServer::Response hop = HttpsTestServer::Response::redirect(to);
    hop.close = hop.quietClose = closing;
    return hop;
}

// Redirects <prefix><n><suffix> to <prefix><n-1><suffix>, down to
// <prefix>1<suffix>, which redirects to `station`.
void serveHops(HttpsTestServer &server, int hops, const QUrl &station, const QString &prefix, bool closing,
               const QString &suffix = {})
{
    for (int n = 1; n <= hops; ++n) {
        server.serve(prefix + QString::number(n) + suffix,
                     redirect(n == 1 ? station : server.url(prefix + QString::number(n - 1) + suffix), closing));
    }
}

// The same down to <prefix>0, which is `station`.
void serveHops(HttpsTestServer &server, int hops, HttpsTestServer::Response station,
               const QString &prefix = QStringLiteral("/hop"), bool closing = false)
{
    server.serve(prefix + "0", std::move(station));
    serveHops(server, hops, server.url(prefix + "0"), prefix, closing);
}

QByteArray chunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

// A body as it stands, announced as chunked.
HttpsTestServer::Response rawChunked(QByteArray body)
{
    HttpsTestServer::Response r = HttpsTestServer::Response::ok(std::move(body), "audio/mpeg");
    r.framed = false;
    r.header("Transfer-Encoding", "chunked");
    return r;
}

// Connection attempts to address:port go unanswered, as where IPv6 is broken
// or one of a host's addresses is down: a listener whose accept queue is
// full, so the kernel drops further SYNs. `address`: a loopback address.
class BlackHole {
public:
    explicit BlackHole(quint16 port, const char *address = "::1")
    {
        sockaddr_storage storage{};
        socklen_t length = 0;
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        auto *v4 = reinterpret_cast<sockaddr_in *>(&storage);
        if (::inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            length = sizeof *v6;
        } else if (::inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            length = sizeof *v4;
        } else {
            return;
        }
        const int family = storage.ss_family;
        const auto *at = reinterpret_cast<const sockaddr *>(&storage);
        listener_ = ::socket(family, SOCK_STREAM, 0);
        ready_ = listener_ >= 0 && ::bind(listener_, at, length) == 0 && ::listen(listener_, 0) == 0;
        // A backlog of 0 holds one connection; the second attempt finds it full.
        for (int i = 0; ready_ && i < 2; ++i) {
            fillers_[i] = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fillers_[i], at, length);
        }
    }
    ~BlackHole()
    {
        for (int fd : {fillers_[0], fillers_[1], listener_}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    bool ready() const { return ready_; }

private:
    int listener_ = -1;
    int fillers_[2] = {-1, -1};
    bool ready_ = false;
};

class LiveStreamConnection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isListening()) << server.error().toStdString();
        ASSERT_FALSE(mp3Tone().isEmpty());
    }

    HttpsTestServer server;
    TestConfiguration configuration;
    Recorder recorder;
};

TEST(LiveStreamNames, MimeTypeDropsParameters)
{
    const std::vector<std::pair<QString, std::optional<QString>>> cases = {
        {"audio/mpeg", QString("audio/mpeg")},
        {"audio/aacp; charset=utf-8", QString("audio/aacp")},
        {"  audio/mpeg ;codecs=mp3", QString("audio/mpeg")},
        {"", std::nullopt},
        {" ; x=1", std::nullopt},
    };
    for (const auto &[header, expected] : cases)
        EXPECT_EQ(LiveStream::mimeType(header), expected) << header.toStdString();
}

TEST(LiveStreamNames, PlaylistByPathExtensionInAnyCase)
{
    EXPECT_TRUE(LiveStream::isPlaylist(QUrl("https://radio.example/live/Station.M3U8")));
    EXPECT_TRUE(LiveStream::isPlaylist(QUrl("https://radio.example/live.m3u8?token=1")));
    EXPECT_FALSE(LiveStream::isPlaylist(QUrl("https://radio.example/live.m3u")));
    EXPECT_FALSE(LiveStream::isPlaylist(QUrl("https://radio.example/stream?format=m3u8")));
}

TEST_F(LiveStreamConnection, PlainStreamPlaysReportsAndCountsTheBytes)
{
    server.serve("/live.mp3", liveStream(mp3Tone(), 2, "audio/mpeg"));
    LiveStream stream(recorder.parameters());
    // The transfer clock starts with the stream, not with the request.
    settle(std::chrono::milliseconds(300));
    stream.start(server.url("/live.mp3"), 0.5f, configuration.make());
    stream.start(server.url("/live.mp3"), 0.5f, configuration.make());

    ASSERT_TRUE(waitUntil([&] { return recorder.positions() >= 10; })) << recorder.failure().toStdString();
    const StreamTransfer early = stream.transfer();
    ASSERT_TRUE(early.firstAudio);
    EXPECT_GE(*early.firstAudio, 0.29);
    EXPECT_GE(early.elapsed, *early.firstAudio);
    ASSERT_TRUE(waitUntil([&] { return stream.transfer().bytes > early.bytes + 16000; }));
    const StreamTransfer later = stream.transfer();
    EXPECT_EQ(later.firstAudio, early.firstAudio);
    EXPECT_GT(later.elapsed, early.elapsed);

    stream.stop();
    const size_t reported = recorder.eventCount();
    settle();
    EXPECT_EQ(recorder.eventCount(), reported);

    // One request, as the stream sends it.
    ASSERT_EQ(server.count("/live.mp3"), 1);
    const auto request = server.requests().front();
    EXPECT_EQ(request.headers.value("icy-metadata"), "0");
    EXPECT_EQ(request.headers.value("user-agent"), "Vantuli/1.0");

    // Answered once, as the first bytes came, then playing once, before any
    // position; positions move forward, are never negative and never count
    // more audio than the server sent.
    const auto events = recorder.allEvents();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].kind, StreamEvent::Kind::Answered);
    EXPECT_EQ(events[1].kind, StreamEvent::Kind::Playing);
    EXPECT_EQ(recorder.count(StreamEvent::Kind::Answered), 1);
    EXPECT_EQ(recorder.count(StreamEvent::Kind::Playing), 1);
    EXPECT_FALSE(recorder.failed());
    const double sent = double(stream.transfer().bytes) / mp3BytesPerSecond;
    double last = 0;
    for (size_t i = 2; i < events.size(); ++i) {
        ASSERT_EQ(events[i].kind, StreamEvent::Kind::Position);
        EXPECT_GE(events[i].played, last);
        EXPECT_GE(events[i].buffered, 0);
        EXPECT_LE(events[i].played + events[i].buffered, sent + 0.1);
        last = events[i].played;
    }
    EXPECT_GT(last, 0);
    EXPECT_TRUE(recorder.allWindows().empty());
}

TEST_F(LiveStreamConnection, StartAfterStopDoesNothing)
{
    server.serve("/live.mp3", liveStream(mp3Tone(), 2, "audio/mpeg"));
    LiveStream stream(recorder.parameters());
    stream.stop();
    stream.start(server.url("/live.mp3"), 1, configuration.make());
    settle();
    EXPECT_EQ(server.count("/live.mp3"), 0);
    EXPECT_EQ(recorder.eventCount(), 0u);
}

// Every way a run can fail ends it exactly once, with its own message, and
// nothing is reported after that.
TEST_F(LiveStreamConnection, FailuresEndTheRunOnceWithTheirMessage)
{
    const QByteArray tone = mp3Tone();
    QByteArray garbage(200000, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + (i >> 5)) & 0x7F); // never an MP3 frame sync
    QByteArray switching = adtsTone(44100, 2) + adtsTone(22050, 1);
    ASSERT_FALSE(switching.isEmpty());

    server.serve("/forbidden", HttpsTestServer::Response::withStatus(403, "no"));
    server.serve("/multiple", HttpsTestServer::Response::withStatus(300, "choose"));
    server.serve("/informational", HttpsTestServer::Response::withStatus(199, "early"));
    server.serve("/downgrade", HttpsTestServer::Response::redirect(server.plainUrl("/live.mp3")));
    server.serve("/finite.mp3", HttpsTestServer::Response::ok(tone.left(64000), "audio/mpeg"));
    server.serve("/garbage.mp3", HttpsTestServer::Response::ok(garbage, "audio/mpeg"));
    server.serve("/packed.gz", HttpsTestServer::Response::ok(gzipOfZeros(1000 * 1000), "application/octet-stream"));
    server.serve("/switching.aac", liveStream(switching, 4, "audio/aac"));
    server.serve("/never", [](const HttpsTestServer::Request &) {
        HttpsTestServer::Response r = HttpsTestServer::Response::ok("", "audio/mpeg");
        r.delayMs = 60000;
        return r;
    });
    // Not audio: a web page, whole.
    server.serve("/page.html", HttpsTestServer::Response::ok(
                                   "<!DOCTYPE html><html><head><title>Radio</title></head><body>"
                                   + QByteArray(1500, 'x') + "</body></html>", "text/html"));
    // Heads that never end: a flood of header lines, and one endless line.
    HttpsTestServer::Response lines = HttpsTestServer::Response::ok({}, "audio/mpeg");
    lines.endlessHead = "X-Filler: " + QByteArray(100, 'f') + "\r\n";
    server.serve("/header-lines", lines);
    HttpsTestServer::Response line = HttpsTestServer::Response::ok({}, "audio/mpeg");
    line.endlessHead = "X-Endless: " + QByteArray(4000, 'e');
    server.serve("/header-line", line);
    server.serve("/stalls.mp3", HttpsTestServer::Response::streamed(
                                    "audio/mpeg",
                                    [tone](qint64 i) { return i < 20 ? tone.mid(i * 1600, 1600) : QByteArray(1, ' '); },
                                    50));
    // Redirects: one hop more than followed, and a loop.
    serveHops(server, 17, liveStream(tone, 2, "audio/mpeg"));
    server.serve("/loop", HttpsTestServer::Response::redirect(server.url("/loop")));
    // The same from a redirector that drops each connection without saying so.
    serveHops(server, 17, liveStream(tone, 2, "audio/mpeg"), "/closing", true);
    server.serve("/closing-loop", redirect(server.url("/closing-loop"), true));
    // And to an HLS playlist.
    serveHops(server, 17, server.url("/hls/live.m3u8"), "/hls/closing", true, ".m3u8");
    server.serve("/hls/loop.m3u8", redirect(server.url("/hls/loop.m3u8"), true));
    // A refusal whose body never comes is judged on its head.
    HttpsTestServer::Response unavailable = HttpsTestServer::Response::withStatus(503);
    unavailable.framed = false;
    unavailable.header("Content-Length", "100000");
    server.serve("/unavailable", unavailable);
    // Interim responses without end.
    HttpsTestServer::Response continues = HttpsTestServer::Response::withStatus(100);
    continues.framed = false;
    continues.statusLine = "HTTP/1.1 100 Continue";
    continues.endlessHead = "\r\nHTTP/1.1 100 Continue\r\n";
    server.serve("/continues", continues);
    // Broken chunk framing: a size beyond 64 bits, and a line that is no
    // size, followed by more audio that must not be taken as body.
    server.serve("/chunk-overflow", rawChunked("FFFFFFFFFFFFFFFF\r\n" + tone.left(4000) + "\r\n"));
    server.serve("/chunk-fault", rawChunked(chunk(tone.left(32000)) + "zz\r\n" + chunk(tone.mid(32000, 32000))));
    // Too little to make a sound, and not said to be text.
    server.serve("/short.mp3", HttpsTestServer::Response::ok(tone.left(300), "audio/mpeg"));

    struct Case {
        QUrl url;
        QString message;
        DisplayMessage::Kind kind = DisplayMessage::Kind::Key;
        std::optional<qint64> bytes = {}; // handed to the decoder
        QByteArray proxy = {};            // https_proxy while it runs
        std::optional<double> within = {}; // seconds the run may take to fail
    };
    const QString tooManyRedirects = QStringLiteral("There were too many redirects.");
    const QString badResponse = QStringLiteral("The server returned a bad response.");
    const QString port = QString::number(server.port());
    const std::vector<Case> cases = {
        {server.url("/forbidden"), refused},
        {server.url("/multiple"), refused},
        {server.url("/informational"), refused},
        {server.url("/downgrade"), refused},
        {server.plainUrl("/live.mp3"), refused},
        {server.url("/finite.mp3"), ended, DisplayMessage::Kind::Key, 64000},
        {server.url("/garbage.mp3"), "当前音源无法解码。可重试或使用台方官网。"},
        {server.url("/packed.gz"), "当前音源无法解码。可重试或使用台方官网。"},
        {server.url("/switching.aac"), "音频格式已变化，请重新连接。"},
        {server.url("/page.html"), "当前音源无法解码。可重试或使用台方官网。"},
        {server.url("/header-lines"), refused},
        {server.url("/header-line"), refused},
        // A secure connection that is never made was not accepted.
        {server.muteUrl("/live.mp3"), refused},
        {server.url("/never"), "电台暂未传回可播放的声音。请重试或前往台方官网。"},
        {server.url("/stalls.mp3"), "电台暂未传回可播放的声音。请重试或前往台方官网。"},
        {server.url("/missing/live.m3u8"), "The server returned a bad response.", DisplayMessage::Kind::Verbatim},
        {server.url("/hop17"), tooManyRedirects, DisplayMessage::Kind::Verbatim},
        {server.url("/loop"), tooManyRedirects, DisplayMessage::Kind::Verbatim},
        {server.url("/closing17"), tooManyRedirects, DisplayMessage::Kind::Verbatim},
        {server.url("/closing-loop"), tooManyRedirects, DisplayMessage::Kind::Verbatim},
        {server.url("/hls/closing17.m3u8"), tooManyRedirects, DisplayMessage::Kind::Verbatim},
        {server.url("/hls/loop.m3u8"), tooManyRedirects, DisplayMessage::Kind::Verbatim},
        {server.url("/unavailable"), refused, DisplayMessage::Kind::Key, {}, {}, 1.0},
        // A proxy that will not tunnel to the station.
        {QUrl("https://elsewhere.example:" + port + "/live.mp3"), refused, DisplayMessage::Kind::Key, {},
         server.proxyUrl().toEncoded(), 1.0},
        {QUrl("https://elsewhere.example:" + port + "/live.m3u8"), refused, DisplayMessage::Kind::Key, {},
         server.proxyUrl().toEncoded(), 1.0},
        {server.url("/continues"), refused},
        {server.url("/chunk-overflow"), badResponse, DisplayMessage::Kind::Verbatim, 0},
        {server.url("/chunk-fault"), badResponse, DisplayMessage::Kind::Verbatim, 32000},
        {server.url("/short.mp3"), ended, DisplayMessage::Kind::Key, 300},
    };
    // Whatever a server sends, the run's memory stays bounded (generously:
    // a run needs a few megabytes).
    constexpr qint64 memoryBound = 150 * 1024 * 1024;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        std::optional<ScopedEnvironment> proxy;
        if (!c.proxy.isEmpty())
            proxy.emplace("https_proxy", c.proxy);
        Recorder events;
        peakResidentBytes();
        const qint64 before = residentBytes();
        qint64 peak = before;
        auto stream = std::make_unique<LiveStream>(events.parameters());
        const auto started = std::chrono::steady_clock::now();
        stream->start(c.url, 1, configuration.make(1.5));
        ASSERT_TRUE(waitUntil([&] {
            peak = std::max(peak, residentBytes());
            return events.failed() || peak - before > memoryBound;
        }, std::chrono::seconds(30)));
        if (c.within) {
            EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), *c.within);
        }
        EXPECT_LT(peak - before, memoryBound);
        settle(std::chrono::milliseconds(400));
        const auto all = events.allEvents();
        EXPECT_EQ(events.count(StreamEvent::Kind::Failed), 1);
        EXPECT_EQ(all.back().kind, StreamEvent::Kind::Failed);
        EXPECT_EQ(all.back().message->content(), c.message);
        EXPECT_EQ(all.back().message->kind(), c.kind);
        if (c.bytes) {
            EXPECT_EQ(stream->transfer().bytes, *c.bytes);
        }
        // Also while the run's state goes, which sampling cannot see.
        stream.reset();
        if (const qint64 high = peakResidentBytes(); high > 0) {
            EXPECT_LT(high - before, memoryBound);
        }
    }
    // No request ever left in plain text.
    EXPECT_EQ(server.plainConnections(), 0);
}

// A name lookup that hangs holds nobody: dropping the stream returns at once
// and the next station plays straight away; left alone, the run's watchdog
// ends it on time. Plain streams and HLS alike.
TEST_F(LiveStreamConnection, AHangingNameLookupHoldsNeitherTheCallerNorTheWatchdog)
{
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); };
    HangingResolver resolver;
    server.serve("/live.mp3", liveStream(mp3Tone(), 2, "audio/mpeg"));
    constexpr double watchdog = 2;
    const struct {
        const char *path;
        QString message; // of the watchdog
    } cases[] = {{"/live.mp3", refused}, {"/live.m3u8", "电台暂未传回可播放的声音。请重试或前往台方官网。"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const QUrl url(QStringLiteral("https://station.hung.test:%1%2").arg(server.port()).arg(c.path));
        {
            Recorder events;
            auto stream = std::make_unique<LiveStream>(events.parameters());
            const int waiting = resolver.waiting();
            stream->start(url, 1, configuration.make());
            ASSERT_TRUE(waitUntil([&] { return resolver.waiting() > waiting; }));
            settle(std::chrono::milliseconds(200));
            const Clock::time_point stopped = Clock::now();
            stream->stop();
            stream.reset();
            EXPECT_LT(since(stopped), 0.1);
            EXPECT_EQ(events.eventCount(), 0u);
        }
        {
            Recorder events;
            LiveStream stream(events.parameters());
            stream.start(server.url("/live.mp3"), 1, configuration.make());
            EXPECT_TRUE(waitUntil([&] { return events.positions() > 0 || events.failed(); }, std::chrono::seconds(5)));
            EXPECT_FALSE(events.failed()) << events.failure().toStdString();
        }
        {
            Recorder events;
            LiveStream stream(events.parameters());
            const Clock::time_point started = Clock::now();
            stream.start(url, 1, configuration.make(watchdog));
            ASSERT_TRUE(waitUntil([&] { return events.failed(); }, std::chrono::seconds(30)));
            EXPECT_NEAR(since(started), watchdog, 0.5);
            EXPECT_EQ(events.failure(), c.message);
        }
    }
}

// A body that the request's owner has not read yet when the server closes
// stays whole and readable: a complete body ends complete, whatever its
// framing, and one cut short is a lost connection.
TEST_F(LiveStreamConnection, RequestKeepsTheBodyItsOwnerHasNotReadYet)
{
    const QByteArray body = mp3Tone().left(200000);
    HttpsTestServer::Response chunked = HttpsTestServer::Response::ok(body, "audio/mpeg");
    chunked.chunked = true;
    chunked.close = true;
    HttpsTestServer::Response sized = chunked;
    sized.chunked = false;
    HttpsTestServer::Response cut = rawChunked(chunk(body)); // no last chunk
    cut.close = true;
    server.serve("/chunked", chunked);
    server.serve("/sized", sized);
    server.serve("/cut", cut);

    const std::pair<const char *, std::optional<StreamRequest::Failure>> cases[] = {
        {"/chunked", std::nullopt},
        {"/sized", std::nullopt},
        {"/cut", StreamRequest::Failure::transport},
    };
    for (const auto &[path, failure] : cases) {
        SCOPED_TRACE(path);
        std::optional<std::optional<StreamRequest::Failure>> finished;
        StreamRequest::Handlers handlers;
        handlers.finished = [&](std::optional<StreamRequest::Failure> f) { finished = f; };
        StreamRequest request(configuration.make(), 60000, handlers, nullptr);
        request.get(server.url(path), {});
        ASSERT_TRUE(waitUntil([&] { return finished.has_value(); }));
        EXPECT_EQ(*finished, failure);
        if (failure) {
            EXPECT_EQ(request.transportError(), UrlError::networkConnectionLost);
        }
        QByteArray taken;
        while (request.hasBody())
            taken += request.read(64 * 1024);
        EXPECT_TRUE(taken == body) << taken.size();
    }
}

// libcurl is loaded when the first request starts. Without it a request
// ends as a transport failure, with the loader's reason on standard error
// once; nothing ends the process; a run, plain or HLS, tells the listener
// that the system lacks it, as a failure no reconnect can mend. (A child
// process: this one has loaded it.)
TEST(StreamRequestLibrary, MissingLibcurlIsATransportFailure)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            curl::setLibraryFolder(test::temporaryFolder().toStdString() + "/no-curl");
            ::testing::internal::CaptureStderr();
            int failures = 0;
            for (int i = 0; i < 2; ++i) {
                std::optional<std::optional<StreamRequest::Failure>> finished;
                StreamRequest::Handlers handlers;
                handlers.finished = [&](std::optional<StreamRequest::Failure> f) { finished = f; };
                StreamRequest request(StreamConfiguration{}, 1000, handlers, nullptr);
                request.get(QUrl(QStringLiteral("https://127.0.0.1:9/live.mp3")), {{"Icy-MetaData", "0"}});
                test::waitUntil([&] { return finished.has_value(); });
                failures += finished == std::optional(std::optional(StreamRequest::Failure::transport)) ? 1 : 0;
            }
            for (const char *url : {"https://127.0.0.1:9/live.mp3", "https://127.0.0.1:9/live.m3u8"}) {
                Recorder events;
                LiveStream stream(events.parameters());
                stream.start(QUrl(QString::fromLatin1(url)), 1, StreamConfiguration{});
                test::waitUntil([&] { return events.failed(); });
                const auto all = events.allEvents();
                const bool told = !all.empty() && all.back().message
                    && all.back().message->content() == QStringLiteral("系统的网络库（libcurl）缺失或版本过旧，无法连接电台。")
                    && !all.back().worthRetrying;
                failures += told ? 1 : 0;
            }
            const QByteArray printed = QByteArray::fromStdString(::testing::internal::GetCapturedStderr());
            std::fputs(printed.constData(), stderr);
            std::exit(failures == 4 && !curl::loaded() && printed.count("could not be loaded") == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "libcurl could not be loaded: .*no-curl/libcurl");
}

TEST_F(LiveStreamConnection, AcceptedResponsesPlay)
{
    server.serve("/ok.mp3", liveStream(mp3Tone(), 2, "audio/mpeg"));
    server.serve("/partial.mp3", [tone = mp3Tone()](const HttpsTestServer::Request &) {
        HttpsTestServer::Response r = liveStream(tone, 2, "audio/mpeg");
        r.status = 299;
        return r;
    });
    server.serve("/typeless.mp3", liveStream(mp3Tone(), 2, {}));
    server.serve("/parameters.mp3", liveStream(mp3Tone(), 2, "Audio/MPEG; charset=binary"));
    // Redirect chains of one, two and three hops, as stream directories and
    // CDNs put them in front of stations.
    server.serve("/moved", HttpsTestServer::Response::redirect(server.url("/ok.mp3")));
    server.serve("/twice", HttpsTestServer::Response::redirect(server.url("/moved"), 301));
    server.serve("/thrice", HttpsTestServer::Response::redirect(server.url("/twice"), 307));
    serveHops(server, 16, liveStream(mp3Tone(), 2, "audio/mpeg"));
    // Long chains from a redirector that drops each connection unannounced,
    // to a plain stream and to an HLS playlist.
    serveHops(server, 16, liveStream(mp3Tone(), 2, "audio/mpeg"), "/closing", true);
    ASSERT_FALSE(HlsStation::source().empty());
    HlsStation hls(server, "/hls", 1);
    serveHops(server, 16, server.url("/hls/live.m3u8"), "/hls/closing", true, ".m3u8");
    // An HLS server that serves one connection per client, to a run that
    // starts warm (captions paced by sentence).
    HttpsTestServer single;
    ASSERT_TRUE(single.isListening());
    single.limitConnections(1);
    HlsStation singleHls(single, "/hls", 1);
    server.serve("/relative", HttpsTestServer::Response::redirect(QUrl("ok.mp3")));
    server.serve("/Station.m3u", liveStream(mp3Tone(), 2, "audio/x-mpegurl"));
    // A SHOUTCAST server's own status line.
    server.serve("/icy", [tone = mp3Tone()](const HttpsTestServer::Request &) {
        HttpsTestServer::Response r = liveStream(tone, 2, "audio/mpeg");
        r.statusLine = "ICY 200 OK";
        return r;
    });
    // Chunked framing wins over a length given with it.
    server.serve("/length-and-chunks", liveStream(mp3Tone(), 2, "audio/mpeg").header("Content-Length", "100"));

    struct Case {
        QUrl url;
        QByteArray proxy = {};               // https_proxy while it plays
        QList<QByteArray> addresses = {};    // what the name resolves to
        std::optional<int> connections = {}; // the most it may open
        double delay = 0;                    // of the captions
        CaptionPacing pacing = CaptionPacing::Short;
        double lookup = -1;                  // seconds a slow resolver takes over the name
    };
    std::vector<Case> cases;
    for (const char *path : {"/ok.mp3", "/partial.mp3", "/typeless.mp3", "/parameters.mp3", "/moved", "/twice",
                             "/thrice", "/closing6", "/closing16", "/hls/closing6.m3u8", "/hls/closing16.m3u8",
                             "/relative", "/Station.m3u", "/icy", "/length-and-chunks"})
        cases.push_back({server.url(path)});
    // A kept-alive redirector: every hop over the first hop's connection.
    cases.push_back({server.url("/hop16"), {}, {}, 1});
    cases.push_back({single.url("/hls/live.m3u8"), {}, {}, {}, 14, CaptionPacing::Sentence});
    // Through the proxy that the environment names.
    cases.push_back({server.url("/ok.mp3"), server.proxyUrl().toEncoded()});
    // A name whose first address never answers: the second one is tried
    // alongside, long before the watchdog gives up; one of the same family
    // once the first had its share of the connect time-out, or at once when
    // the first refuses.
    const QByteArray port = QByteArray::number(server.port());
    BlackHole hole(server.port());
    ASSERT_TRUE(hole.ready());
    cases.push_back({QUrl("https://localhost:" + port + "/ok.mp3"), {}, {"localhost:" + port + ":[::1],127.0.0.1"}});
    BlackHole downAddress(server.port(), "127.0.0.2");
    ASSERT_TRUE(downAddress.ready());
    cases.push_back({QUrl("https://localhost:" + port + "/ok.mp3"), {}, {"localhost:" + port + ":127.0.0.2,127.0.0.1"}});
    cases.push_back({QUrl("https://localhost:" + port + "/ok.mp3"), {}, {"localhost:" + port + ":127.0.0.3,127.0.0.1"}});
    // A slow resolver (a dead first name server, a poor mobile link) takes
    // nothing from the time for connecting, even with a dead first address:
    // a station plays as long as its first audio comes before the
    // watchdog's. Every time-out and lookup five times shorter than in life.
    constexpr double scale = 0.2;
    for (const auto &[seconds, name] : {std::pair{3, ""}, {9, ""}, {15, ""}, {6, "-dead"}}) {
        cases.push_back({QUrl("https://" + QByteArray::number(int(seconds * scale * 1000)) + name + ".slow.test:" + port
                              + "/ok.mp3"),
                         {}, {}, {}, 0, CaptionPacing::Short, seconds * scale});
    }

    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        std::optional<ScopedEnvironment> proxy;
        if (!c.proxy.isEmpty())
            proxy.emplace("https_proxy", c.proxy);
        StreamConfiguration trusting = configuration.make(c.addresses.isEmpty() ? LiveStream::silenceTimeout : 6);
        trusting.hostAddresses = c.addresses;
        if (c.lookup >= 0)
            trusting.timeout = [](double seconds) { return seconds * scale; };
        Recorder events;
        LiveStream stream(events.parameters(c.delay, c.pacing));
        const int connections = server.connections();
        stream.start(c.url, 1, trusting);
        // (A captioned HLS run starts with some ten seconds of audio.)
        EXPECT_TRUE(waitUntil([&] { return events.positions() > 0 || events.failed(); }, std::chrono::seconds(40)));
        EXPECT_FALSE(events.failed()) << events.failure().toStdString();
        if (c.connections) {
            EXPECT_LE(server.connections() - connections, *c.connections);
        }
        if (!c.addresses.isEmpty()) {
            const std::optional<double> firstAudio = stream.transfer().firstAudio;
            ASSERT_TRUE(firstAudio);
            EXPECT_LT(*firstAudio, StreamRequest::connectTimeout / 2 + 1);
        }
    }
    EXPECT_EQ(server.count("/Station.m3u"), 1);
    EXPECT_EQ(server.tunnels(), QList<QByteArray>{"127.0.0.1:" + port});
}

// A station on air that sends silence is not a station that sends nothing.
TEST_F(LiveStreamConnection, SilentAudioKeepsTheRunAlive)
{
    server.serve("/quiet.mp3", liveStream(mp3Silence(), 1, "audio/mpeg"));
    LiveStream stream(recorder.parameters());
    stream.start(server.url("/quiet.mp3"), 1, configuration.make(1.0));
    // Three watchdog spans of playback.
    EXPECT_TRUE(waitUntil([&] { return recorder.positions() >= 30 || recorder.failed(); }));
    EXPECT_FALSE(recorder.failed()) << recorder.failure().toStdString();
}

TEST_F(LiveStreamConnection, UpperCasePlaylistPathIsFetchedAsHls)
{
    ASSERT_FALSE(HlsStation::source().empty());
    HlsStation station(server, "/hls", 1);
    server.serve("/hls/Station.M3U8", HttpsTestServer::Response::redirect(server.url("/hls/live.m3u8")));
    LiveStream stream(recorder.parameters());
    stream.start(server.url("/hls/Station.M3U8"), 1, configuration.make());
    ASSERT_TRUE(waitUntil([&] { return recorder.positions() > 0 || recorder.failed(); }));
    EXPECT_FALSE(recorder.failed()) << recorder.failure().toStdString();
    int segments = 0;
    for (const auto &r : server.requests())
        segments += r.path.startsWith("/hls/seg") ? 1 : 0;
    EXPECT_GT(segments, 0);
    // HLS counts the segments' audio bytes.
    EXPECT_GT(stream.transfer().bytes, 0);
}

// A healthy HLS station that announces long segments is given twice its
// target duration before it counts as silent, but never more than a minute:
// a playlist cannot switch the watchdog off.
TEST_F(LiveStreamConnection, HlsSilenceWatchdogWaitsTwiceTheTargetDurationUpToAMinute)
{
    const struct {
        const char *folder;
        int target;
        double wait;
    } cases[] = {{"/slow", 15, 30}, {"/huge", 100000, LiveStream::longestSilence}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        Recorder runRecorder;
        TestConfiguration asked;
        HlsStation station(server, c.folder, 1, c.target);
        LiveStream stream(runRecorder.parameters());
        stream.start(server.url(QString::fromLatin1(c.folder) + "/live.m3u8"), 1,
                     asked.make(LiveStream::silenceTimeout, true));
        ASSERT_TRUE(waitUntil([&] { return runRecorder.playing() || runRecorder.failed(); }));
        EXPECT_TRUE(waitUntil([&] { return asked.wasAsked(c.wait); }));
        EXPECT_FALSE(runRecorder.failed()) << runRecorder.failure().toStdString();
    }
}

// A server that sends as fast as the socket takes is held back to the pace
// of playback by TCP: beyond its start-up buffer the run reads little more
// than it plays, drops none of it, spends little processor time on it, and
// its memory stays bounded (sampled all along; generously, as the run itself
// needs a few megabytes). Also at a low bit rate, where one read holds
// several seconds of audio, and with captions on, whose start-up buffer
// comes near the pending cap.
TEST_F(LiveStreamConnection, AServerFasterThanPlaybackIsHeldBackNotBuffered)
{
    const QByteArray low = readMedia(makeMedia(
        QStringLiteral("live-tone-24k.mp3"), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050:duration=40",
                                              "-ac", "1", "-c:a", "libmp3lame", "-b:a", "24k", "-write_xing", "0",
                                              "-id3v2_version", "0"}));
    ASSERT_FALSE(low.isEmpty());
    const struct {
        const char *path;
        QByteArray audio;
        double bytesPerSecond;
        double delay = 0;
        CaptionPacing pacing = CaptionPacing::Short;
    } cases[] = {
        {"/flood.mp3", mp3Tone(), mp3BytesPerSecond},
        {"/flood-24k.mp3", low, 3000},
        {"/flood-12.mp3", mp3Tone(), mp3BytesPerSecond, 12, CaptionPacing::Conversational},
        {"/flood-14.mp3", mp3Tone(), mp3BytesPerSecond, 14, CaptionPacing::Sentence},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        server.serve(c.path, floodStream(c.audio, "audio/mpeg"));
        constexpr qint64 bound = 150 * 1024 * 1024;
        const qint64 before = residentBytes();
        qint64 peak = before;
        Recorder events;
        LiveStream stream(events.parameters(c.delay, c.pacing));
        const double cpuBefore = runCpuSeconds();
        const auto started = std::chrono::steady_clock::now();
        stream.start(server.url(c.path), 1, configuration.make());
        // Twenty seconds of playback, unless the run fails or memory runs away first.
        waitUntil([&] {
            peak = std::max(peak, residentBytes());
            return peak - before > bound || events.failed();
        }, std::chrono::seconds(20));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double cpu = runCpuSeconds() - cpuBefore;
        EXPECT_FALSE(events.failed()) << events.failure().toStdString();
        EXPECT_LT(peak - before, bound);
        EXPECT_GE(events.positions(), 150);
        EXPECT_LT(double(stream.transfer().bytes), (c.delay + 2 * seconds) * c.bytesPerSecond);
        EXPECT_LT(cpu, 2.0 * cpuLeeway);
        EXPECT_EQ(stream.droppedSeconds(), 0);
    }
}

TEST_F(LiveStreamConnection, DroppedStreamEndsTheConnectionAndReportsNothingMore)
{
    auto pulls = std::make_shared<std::atomic<qint64>>(0);
    server.serve("/live.mp3", liveStream(mp3Tone(), 2, "audio/mpeg", pulls));
    auto stream = std::make_unique<LiveStream>(recorder.parameters(0, CaptionPacing::Short, true));
    stream->start(server.url("/live.mp3"), 1, configuration.make());
    ASSERT_TRUE(waitUntil([&] { return recorder.positions() >= 3 && !recorder.allSamples().empty(); }));

    stream.reset();
    const size_t events = recorder.eventCount();
    const size_t samples = recorder.allSamples().size();
    // The server stops serving once the client is gone.
    qint64 seen = -1;
    EXPECT_TRUE(waitUntil([&] {
        const qint64 now = pulls->load();
        const bool still = now == seen;
        seen = now;
        settle(std::chrono::milliseconds(300));
        return still;
    }));
    EXPECT_EQ(recorder.eventCount(), events);
    EXPECT_EQ(recorder.allSamples().size(), samples);
}

// The owner may drop the stream from inside its own event handler, and stop
// it from any thread, at any moment, more than once.
TEST_F(LiveStreamConnection, StopAndDropFromOtherThreadsAreSafe)
{
    server.serve("/live.mp3", liveStream(mp3Tone(), 2, "audio/mpeg"));
    server.serve("/slow", [](const HttpsTestServer::Request &) {
        HttpsTestServer::Response r = HttpsTestServer::Response::ok("", "audio/mpeg");
        r.delayMs = 5000;
        return r;
    });

    // Stopped while connecting, twice, from another thread.
    {
        Recorder events;
        LiveStream stream(events.parameters());
        stream.start(server.url("/slow"), 1, configuration.make());
        std::thread([&] {
            stream.stop();
            stream.stop();
        }).join();
        settle(std::chrono::milliseconds(300));
        EXPECT_EQ(events.eventCount(), 0u);
    }
    // Stopped while playing from another thread, with timing samples running.
    {
        Recorder events;
        LiveStream stream(events.parameters(0, CaptionPacing::Short, true));
        stream.start(server.url("/live.mp3"), 1, configuration.make());
        ASSERT_TRUE(waitUntil([&] { return events.positions() > 2; }));
        std::thread([&] { stream.stop(); }).join();
        const size_t reported = events.eventCount();
        const size_t samples = events.allSamples().size();
        settle();
        EXPECT_EQ(events.eventCount(), reported);
        EXPECT_EQ(events.allSamples().size(), samples);
        stream.stop();
    }
    // Dropped from inside its own event handler, on the stream's queue.
    {
        std::mutex lock;
        std::unique_ptr<LiveStream> stream;
        std::atomic<int> after{0};
        std::atomic<bool> dropped{false};
        PlaybackStream::Parameters p;
        p.event = [&](const StreamEvent &e) {
            if (dropped) {
                ++after;
                return;
            }
            if (e.kind == StreamEvent::Kind::Position) {
                std::lock_guard guard(lock);
                stream.reset();
                dropped = true;
            }
        };
        {
            std::lock_guard guard(lock);
            stream = std::make_unique<LiveStream>(std::move(p));
            stream->start(server.url("/live.mp3"), 1, configuration.make());
        }
        ASSERT_TRUE(waitUntil([&] { return dropped.load(); }));
        settle();
        EXPECT_EQ(after.load(), 0);
    }
}

} // namespace
