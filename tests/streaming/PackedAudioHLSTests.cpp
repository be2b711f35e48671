#include "platform/SerialQueue.h"
#include "streaming/PackedAudioHLS.h"
#include "support/HttpsTestServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

using namespace vantuli;
using test::HttpsTestServer;

namespace {

QByteArray bigEndian32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
    return b;
}

QByteArray synchsafe(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (21 - 7 * i)) & 0x7F);
    return b;
}

// An ID3 tag as HLS packagers put before packed audio: a PRIV frame with the
// transport-stream timestamp, then padding. Version 3 or 4, the latter
// optionally with a footer.
QByteArray id3Tag(int version, bool footer, quint64 timestamp = 900000)
{
    QByteArray owner = QByteArrayLiteral("com.apple.streaming.transportStreamTimestamp");
    owner.append('\0');
    QByteArray stamp(8, '\0');
    for (int i = 0; i < 8; ++i)
        stamp[i] = static_cast<char>((timestamp >> (56 - 8 * i)) & 0xFF);
    const QByteArray payload = owner + stamp;
    QByteArray frame = "PRIV" + (version == 4 ? synchsafe(payload.size()) : bigEndian32(payload.size()));
    frame += QByteArray(2, '\0') + payload;
    frame += QByteArray(300, '\0'); // padding, so the size needs more than one synchsafe byte

    const char flags = footer ? 0x10 : 0x00;
    QByteArray tag = "ID3" + QByteArray(1, char(version)) + QByteArray(1, '\0') + QByteArray(1, flags);
    tag += synchsafe(frame.size()) + frame;
    if (footer)
        tag += "3DI" + QByteArray(1, char(version)) + QByteArray(1, '\0') + QByteArray(1, flags)
            + synchsafe(frame.size());
    return tag;
}

// Six one-second packed AAC (ADTS) segments of a tone, made once by ffmpeg.
const std::vector<QByteArray> &adtsSegments()
{
    static const std::vector<QByteArray> segments = [] {
        std::vector<QByteArray> out;
        const QDir dir(test::temporaryFolder());
        const int rc = test::run(QStringLiteral("ffmpeg"),
                                 {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=44100:duration=7", "-c:a", "aac", "-b:a", "48k",
                                  "-f", "segment", "-segment_time", "1", "-segment_format", "adts",
                                  dir.filePath("seg%d.aac")});
        if (rc != 0)
            return out;
        for (int i = 0; i < 6; ++i) {
            QFile f(dir.filePath(QStringLiteral("seg%1.aac").arg(i)));
            if (f.open(QIODevice::ReadOnly))
                out.push_back(f.readAll());
        }
        return out;
    }();
    return segments;
}

// The audio of live segment n, and what the server sends for it: every third
// segment carries an ID3 version 3 tag, every third one a version 4 tag with
// a footer.
QByteArray payload(qint64 n)
{
    return adtsSegments()[static_cast<size_t>(n % 6)];
}

QByteArray served(qint64 n)
{
    switch (n % 3) {
    case 1:
        return id3Tag(3, false, n) + payload(n);
    case 2:
        return id3Tag(4, true, n) + payload(n);
    default:
        return payload(n);
    }
}

QString segmentPath(qint64 n)
{
    return QStringLiteral("/live/seg%1.aac").arg(n);
}

// A sliding live window: the five segments up to `head`, each playlist
// request answered with the window as it stands. The handlers share the
// window, so a request that reaches the server late finds it still there.
class LiveStation {
public:
    LiveStation(HttpsTestServer &server, int target) : server_(server)
    {
        server.serve(QStringLiteral("/live/master.m3u8"),
                     HttpsTestServer::Response::ok("#EXTM3U\n"
                                                   "#EXT-X-STREAM-INF:BANDWIDTH=48000,CODECS=\"mp4a.40.2\"\n"
                                                   "media.m3u8\n"
                                                   "#EXT-X-STREAM-INF:BANDWIDTH=24000\n"
                                                   "low.m3u8\n",
                                                   "application/vnd.apple.mpegurl"));
        server.serve(QStringLiteral("/live/media.m3u8"), [head = head_, target](const HttpsTestServer::Request &) {
            const qint64 last = head->load();
            QByteArray text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + QByteArray::number(target)
                + "\n#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(last - 4) + "\n";
            for (qint64 n = last - 4; n <= last; ++n)
                text += "#EXTINF:1.0,\nseg" + QByteArray::number(n) + ".aac\n";
            return HttpsTestServer::Response::ok(text, "application/vnd.apple.mpegurl");
        });
        for (qint64 n = 90; n < 130; ++n)
            server.serve(segmentPath(n), HttpsTestServer::Response::ok(served(n), "audio/aac"));
    }

    void moveTo(qint64 last) { head_->store(last); }

    int segmentRequests() const
    {
        int count = 0;
        for (const auto &r : server_.requests())
            count += r.path.startsWith("/live/seg") ? 1 : 0;
        return count;
    }

private:
    HttpsTestServer &server_;
    std::shared_ptr<std::atomic<qint64>> head_ = std::make_shared<std::atomic<qint64>>(104);
};

// A client run on its own stream queue, as the live stream runs it.
class Client {
public:
    explicit Client(bool trustServer = true)
    {
        if (trustServer)
            configuration.caCertificates = {HttpsTestServer::caCertificate()};
        configuration.wait = [this](double seconds) {
            std::lock_guard guard(lock_);
            waits_.push_back(seconds);
            return 0.02;
        };
    }

    ~Client()
    {
        queue_.sync([this] { task_.reset(); });
    }

    void play(const QUrl &url, bool warmStart)
    {
        queue_.sync([this, url, warmStart] {
            task_ = PackedAudioHLS::play(
                url, configuration, warmStart,
                [this](const QByteArray &bytes) {
                    EXPECT_TRUE(queue_.isCurrent());
                    std::lock_guard guard(lock_);
                    outputs_.push_back(bytes);
                    if (stopAfterOutputs_ > 0 && static_cast<int>(outputs_.size()) >= stopAfterOutputs_)
                        task_.reset(); // the owner ends the run from inside the output
                },
                [this](const UrlError &error) {
                    EXPECT_TRUE(queue_.isCurrent());
                    std::lock_guard guard(lock_);
                    failures_.push_back(error);
                });
        });
    }

    void cancel()
    {
        queue_.sync([this] { task_.reset(); });
    }

    void stopAfter(int outputs) { stopAfterOutputs_ = outputs; }

    bool waitForOutputs(size_t n)
    {
        return test::waitUntil([&] { return outputs().size() >= n || !failures().empty(); }) && outputs().size() >= n;
    }

    bool waitForFailure()
    {
        return test::waitUntil([&] { return !failures().empty(); });
    }

    // Lets the queue run for a number of reload waits (answers false when the
    // queue stopped asking for waits).
    bool waitForReloads(size_t n)
    {
        const size_t start = waits().size();
        return test::waitUntil([&] { return waits().size() >= start + n; }, std::chrono::seconds(10));
    }

    // Drains the queue for a while, so that anything a cancelled task would
    // still do had its chance.
    void settle()
    {
        std::atomic<bool> done{false};
        queue_.asyncAfter(0.3, [&] { done = true; });
        test::waitUntil([&] { return done.load(); });
    }

    std::vector<QByteArray> outputs() const
    {
        std::lock_guard guard(lock_);
        return outputs_;
    }
    std::vector<UrlError> failures() const
    {
        std::lock_guard guard(lock_);
        return failures_;
    }
    std::vector<double> waits() const
    {
        std::lock_guard guard(lock_);
        return waits_;
    }

    StreamConfiguration configuration;

private:
    SerialQueue queue_{QStringLiteral("test.stream")};
    std::unique_ptr<PackedAudioHLS::Task> task_;
    mutable std::mutex lock_;
    std::vector<QByteArray> outputs_;
    std::vector<UrlError> failures_;
    std::vector<double> waits_;
    int stopAfterOutputs_ = 0;
};

class PackedAudioClient : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(adtsSegments().size(), 6u) << "ffmpeg could not make the test segments";
        ASSERT_TRUE(server.isListening()) << server.error().toStdString();
    }

    HttpsTestServer server;
};

} // namespace

TEST(PackedAudio, SkipsOneLeadingId3TagAndChecksForAdts)
{
    const QByteArray adts = QByteArray::fromHex("FFF15040125FFC") + QByteArray(40, 'a');
    const QByteArray mpeg2 = QByteArray::fromHex("FFF95040125FFC");
    EXPECT_EQ(PackedAudioHLS::audio(adts), adts);
    EXPECT_EQ(PackedAudioHLS::audio(mpeg2), mpeg2);
    EXPECT_EQ(PackedAudioHLS::audio(id3Tag(3, false) + adts), adts);
    EXPECT_EQ(PackedAudioHLS::audio(id3Tag(4, false) + adts), adts);
    EXPECT_EQ(PackedAudioHLS::audio(id3Tag(4, true) + adts), adts);
    // The footer flag means nothing to a version 3 tag.
    const QByteArray v3 = id3Tag(3, false);
    QByteArray v3Flagged = v3;
    v3Flagged[5] = 0x10;
    EXPECT_EQ(PackedAudioHLS::audio(v3Flagged + adts), adts);
    // An empty tag.
    EXPECT_EQ(PackedAudioHLS::audio(QByteArray::fromHex("49443303000000000000") + adts), adts);
}

TEST(PackedAudio, RefusesWhatIsNotPackedAdtsAudio)
{
    const QByteArray adts = QByteArray::fromHex("FFF15040125FFC");
    QByteArray badSize = id3Tag(3, false) + adts;
    badSize[8] = static_cast<char>(0x80);
    const QByteArray cases[] = {
        {},
        adts.left(6),                                     // shorter than a frame header
        QByteArray::fromHex("FFE15040125FFC"),            // sync word broken
        QByteArray::fromHex("FFF35040125FFC"),            // layer not 00 (MPEG audio layer 3)
        QByteArray("ID3\x03\x00\x00\x00\x00", 8),         // tag header cut short
        badSize,                                          // size byte with the high bit set
        id3Tag(3, false) + adts.left(6),                  // too little audio after the tag
        id3Tag(3, false) + id3Tag(3, false) + adts,       // only one tag is skipped
        id3Tag(4, false) + adts.left(3),                  // tag claims more than there is
        QByteArray("#EXTM3U\n"),
    };
    for (const QByteArray &data : cases) {
        SCOPED_TRACE(data.left(16).toHex().toStdString());
        try {
            PackedAudioHLS::audio(data);
            ADD_FAILURE() << "accepted";
        } catch (const UrlError &e) {
            EXPECT_EQ(e.code, UrlError::cannotDecodeContentData);
        }
    }
}

TEST(PackedAudio, ReloadDelayFollowsTheTargetDuration)
{
    struct Case {
        double target;
        bool warm;
        double delay;
    };
    const Case cases[] = {{10, false, 5}, {10, true, 2}, {1, false, 0.5}, {1, true, 0.5},
                          {3, true, 1.5}, {6, false, 3}, {4, true, 2}};
    for (const Case &c : cases)
        EXPECT_EQ(PackedAudioHLS::reloadDelay(c.target, c.warm), c.delay) << c.target << " " << c.warm;
}

TEST_F(PackedAudioClient, StartsAtTheLiveEdgeThroughTheMasterPlaylist)
{
    LiveStation station(server, 10);
    Client client;
    client.play(server.url(QStringLiteral("/live/master.m3u8")), false);

    ASSERT_TRUE(client.waitForOutputs(1));
    EXPECT_EQ(client.outputs()[0], payload(104));
    EXPECT_EQ(server.count(segmentPath(104)), 1);
    EXPECT_EQ(station.segmentRequests(), 1);

    // Reloads without a new segment fetch nothing but the playlist.
    ASSERT_TRUE(client.waitForReloads(3));
    EXPECT_EQ(station.segmentRequests(), 1);

    station.moveTo(105);
    ASSERT_TRUE(client.waitForOutputs(2));
    EXPECT_EQ(client.outputs()[1], payload(105));

    // Two new segments at once come out one by one, in order.
    station.moveTo(107);
    ASSERT_TRUE(client.waitForOutputs(4));
    const auto outputs = client.outputs();
    EXPECT_EQ(outputs[2], payload(106));
    EXPECT_EQ(outputs[3], payload(107));
    EXPECT_EQ(station.segmentRequests(), 4);
    EXPECT_EQ(server.count(QStringLiteral("/live/master.m3u8")), 1);
    EXPECT_EQ(server.count(QStringLiteral("/live/low.m3u8")), 0);
    EXPECT_TRUE(client.failures().empty());
    for (double w : client.waits())
        EXPECT_EQ(w, 5.0);
    // Every playlist and segment went over one kept-alive connection, and
    // said what asked for it, as the plain stream does.
    EXPECT_EQ(server.connections(), 1);
    for (const auto &r : server.requests())
        EXPECT_EQ(r.headers.value("user-agent"), "Vantuli/1.0") << r.path.toStdString();
}

TEST_F(PackedAudioClient, WarmStartFetchesTheLastTwoSegmentsTogetherAsOneBlock)
{
    LiveStation station(server, 10);
    // Each warm-start segment takes a second to be answered: fetched one
    // after the other, the second would be asked for only after that (the
    // server's timer may fire a little early; half of it is what is allowed).
    constexpr int answerMs = 1000;
    for (qint64 n : {103, 104}) {
        HttpsTestServer::Response slow = HttpsTestServer::Response::ok(served(n), "audio/aac");
        slow.delayMs = answerMs;
        server.serve(segmentPath(n), slow);
    }
    Client client;
    client.play(server.url(QStringLiteral("/live/media.m3u8")), true);

    ASSERT_TRUE(client.waitForOutputs(1));
    EXPECT_EQ(client.outputs()[0], payload(103) + payload(104));
    EXPECT_EQ(station.segmentRequests(), 2);
    std::map<QByteArray, double> askedAt;
    for (const auto &r : server.requests())
        askedAt[r.path] = r.receivedAt;
    ASSERT_EQ(askedAt.count(segmentPath(103).toUtf8()) + askedAt.count(segmentPath(104).toUtf8()), 2u);
    EXPECT_LT(std::abs(askedAt[segmentPath(103).toUtf8()] - askedAt[segmentPath(104).toUtf8()]), answerMs / 2000.0);

    station.moveTo(106);
    ASSERT_TRUE(client.waitForOutputs(3));
    EXPECT_EQ(client.outputs()[1], payload(105));
    EXPECT_EQ(client.outputs()[2], payload(106));
    ASSERT_TRUE(client.waitForReloads(2));
    for (double w : client.waits())
        EXPECT_EQ(w, 2.0);
    // One connection more, for one of the two warm-start segments; the
    // playlist reloads and every other segment share the first one.
    EXPECT_LE(server.connections(), 2);
    const auto requests = server.requests();
    int elsewhere = 0;
    for (const auto &r : requests) {
        if (r.connection != requests.front().connection) {
            ++elsewhere;
            EXPECT_TRUE(r.path == segmentPath(103).toUtf8() || r.path == segmentPath(104).toUtf8())
                << r.path.toStdString();
        }
    }
    EXPECT_LE(elsewhere, 1);
}

// The earlier warm-start segment is left out where the server's answer is
// of no use, and fetched over the run's own connection where the second
// connection is never answered (a server that serves one per client).
TEST_F(PackedAudioClient, WarmStartLeavesOutOnlyAnEarlierSegmentItCannotUse)
{
    HttpsTestServer single;
    ASSERT_TRUE(single.isListening());
    single.limitConnections(1);
    const struct {
        std::optional<HttpsTestServer::Response> earlier;
        HttpsTestServer *at;
        QByteArray block;
    } cases[] = {
        {HttpsTestServer::Response::withStatus(404), &server, payload(104)},
        {HttpsTestServer::Response::ok("not audio at all", "text/plain"), &server, payload(104)},
        {std::nullopt, &single, payload(103) + payload(104)},
    };
    for (const auto &c : cases) {
        c.at->clearRequests();
        LiveStation station(*c.at, 4);
        if (c.earlier)
            c.at->serve(segmentPath(103), *c.earlier);
        Client client;
        client.play(c.at->url(QStringLiteral("/live/media.m3u8")), true);
        ASSERT_TRUE(client.waitForOutputs(1));
        EXPECT_EQ(client.outputs()[0], c.block);
        EXPECT_EQ(c.at->count(segmentPath(103)), 1);
        ASSERT_TRUE(client.waitForReloads(1));
        EXPECT_TRUE(client.failures().empty());
    }
}

TEST_F(PackedAudioClient, SegmentThatLeftThePlaylistEndsTheRun)
{
    LiveStation station(server, 4);
    Client client;
    client.play(server.url(QStringLiteral("/live/media.m3u8")), false);
    ASSERT_TRUE(client.waitForOutputs(1));

    station.moveTo(110); // the window is now 106...110; 105 is gone
    ASSERT_TRUE(client.waitForFailure());
    EXPECT_EQ(client.failures()[0].code, UrlError::networkConnectionLost);
    EXPECT_EQ(client.failures()[0].description, UrlError::describe(UrlError::networkConnectionLost));
    EXPECT_EQ(client.outputs().size(), 1u);
    EXPECT_EQ(station.segmentRequests(), 1);
}

TEST_F(PackedAudioClient, FailuresEndTheRunWithTheirError)
{
    const QByteArray media = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg.aac\n";
    const QByteArray adts = payload(0);
    QByteArray brokenTag = id3Tag(3, false) + adts;
    brokenTag[7] = static_cast<char>(0xFF);
    const auto playlist = [](QByteArray text) {
        return HttpsTestServer::Response::ok(std::move(text), "application/vnd.apple.mpegurl");
    };
    const auto master = [&](const QUrl &variant) {
        return playlist("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n" + variant.toEncoded() + "\n");
    };
    auto chunked = [](QByteArray body) {
        auto r = HttpsTestServer::Response::ok(std::move(body), "audio/aac");
        r.chunked = true;
        return r;
    };

    struct Case {
        const char *name;
        std::vector<std::pair<QString, HttpsTestServer::Response>> routes;
        int code;
    };
    auto endlessHead = [](QByteArray text) {
        auto r = HttpsTestServer::Response::ok({});
        r.endlessHead = std::move(text);
        return r;
    };
    // A segment that announces one byte over the limit and would go on for
    // as long as it is read; `sent` counts what the server got rid of.
    auto sent = std::make_shared<std::atomic<qint64>>(0);
    auto announced = HttpsTestServer::Response::streamed(
        "audio/aac",
        [sent, adts](qint64 i) {
            QByteArray piece = i == 0 ? adts : QByteArray();
            piece += QByteArray(64 * 1024 - piece.size(), 'a');
            *sent += piece.size();
            return piece;
        },
        0);
    announced.asFastAsTaken = true;
    announced.framed = false;
    announced.header("Content-Length", QByteArray::number(PackedAudioHLS::segmentLimit + 1));

    const Case cases[] = {
        {"playlist not found", {}, UrlError::badServerResponse},
        {"playlist head that never ends", {{"/list.m3u8", endlessHead("X-Filler: " + QByteArray(100, 'f') + "\r\n")}},
         UrlError::badServerResponse},
        {"segment head line that never ends",
         {{"/list.m3u8", playlist(media)}, {"/seg.aac", endlessHead("X-Endless: " + QByteArray(4000, 'e'))}},
         UrlError::badServerResponse},
        {"playlist with a server error", {{"/list.m3u8", HttpsTestServer::Response::withStatus(500, media)}},
         UrlError::badServerResponse},
        {"ended list", {{"/list.m3u8", playlist(media + "#EXT-X-ENDLIST\n")}}, UrlError::cannotDecodeContentData},
        {"not a playlist", {{"/list.m3u8", playlist("<html></html>")}}, UrlError::cannotParseResponse},
        {"plain http variant", {{"/list.m3u8", master(server.plainUrl("/v.m3u8"))}}, UrlError::unsupportedURL},
        {"plain http segment", {{"/list.m3u8", playlist("#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                                                        + server.plainUrl("/s.aac").toEncoded() + "\n")}},
         UrlError::unsupportedURL},
        {"redirect to plain http", {{"/list.m3u8", HttpsTestServer::Response::redirect(server.plainUrl("/list.m3u8"))}},
         UrlError::badServerResponse},
        {"segment redirected to plain http",
         {{"/list.m3u8", playlist(media)}, {"/seg.aac", HttpsTestServer::Response::redirect(server.plainUrl("/s"), 307)}},
         UrlError::badServerResponse},
        {"nested master playlist",
         {{"/list.m3u8", master(server.url("/inner.m3u8"))}, {"/inner.m3u8", master(server.url("/media.m3u8"))},
          {"/media.m3u8", playlist(media)}, {"/seg.aac", HttpsTestServer::Response::ok(adts)}},
         UrlError::cannotParseResponse},
        {"master naming itself", {{"/list.m3u8", master(server.url("/list.m3u8"))}}, UrlError::cannotParseResponse},
        {"segment not found", {{"/list.m3u8", playlist(media)}}, UrlError::badServerResponse},
        {"segment without audio", {{"/list.m3u8", playlist(media)}, {"/seg.aac", HttpsTestServer::Response::ok("ID3")}},
         UrlError::cannotDecodeContentData},
        {"segment with a broken tag", {{"/list.m3u8", playlist(media)}, {"/seg.aac", HttpsTestServer::Response::ok(brokenTag)}},
         UrlError::cannotDecodeContentData},
        {"playlist over 1 MiB",
         {{"/list.m3u8", playlist(media + "#" + QByteArray(PackedAudioHLS::playlistLimit - media.size(), 'x'))}},
         UrlError::dataLengthExceedsMaximum},
        {"segment over 16 MiB announced", {{"/list.m3u8", playlist(media)}, {"/seg.aac", announced}},
         UrlError::dataLengthExceedsMaximum},
        {"segment over 16 MiB received",
         {{"/list.m3u8", playlist(media)},
          {"/seg.aac", chunked(adts + QByteArray(PackedAudioHLS::segmentLimit + 1 - adts.size(), 'a'))}},
         UrlError::dataLengthExceedsMaximum},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const char *path : {"/list.m3u8", "/inner.m3u8", "/media.m3u8", "/seg.aac"})
            server.remove(QString::fromLatin1(path));
        for (const auto &[path, response] : c.routes)
            server.serve(path, response);
        Client client;
        client.play(server.url(QStringLiteral("/list.m3u8")), false);
        ASSERT_TRUE(client.waitForFailure());
        const auto failures = client.failures();
        EXPECT_EQ(failures[0].code, c.code);
        EXPECT_EQ(failures[0].description, UrlError::describe(c.code));
        EXPECT_TRUE(client.outputs().empty());
        client.settle();
        EXPECT_EQ(client.failures().size(), 1u);
    }
    EXPECT_EQ(server.plainConnections(), 0) << "a plain-text request was sent";
    // The announced size was refused before its body: the server could hand
    // no more than its socket buffers to the connection before it went.
    EXPECT_LT(sent->load(), PackedAudioHLS::segmentLimit / 8);
}

TEST_F(PackedAudioClient, SegmentOfExactlyTheLimitIsAccepted)
{
    const QByteArray media = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg.aac\n";
    const QByteArray body = payload(0) + QByteArray(PackedAudioHLS::segmentLimit - payload(0).size(), 'a');
    server.serve(QStringLiteral("/list.m3u8"), HttpsTestServer::Response::ok(media));
    for (bool chunked : {false, true}) {
        SCOPED_TRACE(chunked ? "chunked" : "with a length");
        auto response = HttpsTestServer::Response::ok(body, "audio/aac");
        response.chunked = chunked;
        server.serve(QStringLiteral("/seg.aac"), response);
        Client client;
        client.play(server.url(QStringLiteral("/list.m3u8")), false);
        ASSERT_TRUE(client.waitForOutputs(1));
        EXPECT_EQ(client.outputs()[0].size(), PackedAudioHLS::segmentLimit);
        EXPECT_TRUE(client.outputs()[0] == body);
    }
}

TEST_F(PackedAudioClient, RedirectWithinHttpsIsFollowedAndUrisResolveAgainstTheFinalUrl)
{
    server.serve(QStringLiteral("/old/list.m3u8"),
                 HttpsTestServer::Response::redirect(server.url(QStringLiteral("/new/list.m3u8")), 301));
    server.serve(QStringLiteral("/new/list.m3u8"),
                 HttpsTestServer::Response::ok("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg.aac\n"));
    server.serve(QStringLiteral("/new/seg.aac"), HttpsTestServer::Response::ok(served(2)));
    Client client;
    client.play(server.url(QStringLiteral("/old/list.m3u8")), false);
    ASSERT_TRUE(client.waitForOutputs(1));
    EXPECT_EQ(client.outputs()[0], payload(2));
    EXPECT_EQ(server.count(QStringLiteral("/old/seg.aac")), 0);
}

TEST_F(PackedAudioClient, SilentServerTimesOut)
{
    server.serve(QStringLiteral("/list.m3u8"), [](const HttpsTestServer::Request &) {
        auto r = HttpsTestServer::Response::ok("#EXTM3U\n");
        r.delayMs = 60000;
        return r;
    });
    Client client;
    std::atomic<bool> asked{false};
    client.configuration.timeout = [&](double seconds) {
        asked = asked || seconds == PackedAudioHLS::requestTimeout;
        return 0.3;
    };
    client.play(server.url(QStringLiteral("/list.m3u8")), false);
    ASSERT_TRUE(client.waitForFailure());
    EXPECT_EQ(client.failures()[0].code, UrlError::timedOut);
    EXPECT_TRUE(asked.load());
}

TEST_F(PackedAudioClient, UntrustedServerIsRefused)
{
    LiveStation station(server, 4);
    Client client(false);
    client.play(server.url(QStringLiteral("/live/media.m3u8")), false);
    ASSERT_TRUE(client.waitForFailure());
    EXPECT_EQ(client.failures()[0].code, UrlError::secureConnectionFailed);
    EXPECT_EQ(server.count(QStringLiteral("/live/media.m3u8")), 0);
}

TEST_F(PackedAudioClient, CancelledRunStaysSilent)
{
    LiveStation station(server, 4);
    {
        // Cancelled from outside, while it waits to reload.
        Client client;
        client.play(server.url(QStringLiteral("/live/media.m3u8")), false);
        ASSERT_TRUE(client.waitForOutputs(1));
        client.cancel();
        const size_t requests = server.requests().size();
        station.moveTo(120); // would be a failure if it were still running
        client.settle();
        EXPECT_EQ(server.requests().size(), requests);
        EXPECT_EQ(client.outputs().size(), 1u);
        EXPECT_TRUE(client.failures().empty());
    }
    station.moveTo(104);
    {
        // Dropped by its owner from inside the output of a warm start.
        Client client;
        client.stopAfter(1);
        client.play(server.url(QStringLiteral("/live/media.m3u8")), true);
        ASSERT_TRUE(client.waitForOutputs(1));
        const size_t requests = server.requests().size();
        client.settle();
        EXPECT_EQ(server.requests().size(), requests);
        EXPECT_EQ(client.outputs().size(), 1u);
        EXPECT_TRUE(client.failures().empty());
        EXPECT_TRUE(client.waits().empty());
    }
}
