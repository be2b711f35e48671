// The whole road without a window: the real live stream against a local
// HTTPS server, the null audio output and the tiny random speech model.

#include "StoreTestSupport.h"

#include "records/L10n.h"
#include "support/HttpsTestServer.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

namespace vantuli::test {
namespace {

using State = RadioStore::State;

bool liveStreamLinked()
{
    PlaybackStream::Parameters parameters;
    parameters.event = [](const StreamEvent &) {};
    parameters.window = [](std::vector<SpeechWindow>) {};
    return makeLiveStream(std::move(parameters)) != nullptr;
}

TEST(LiveRunTest, PlaysArchivesReconnectsAndFails)
{
    if (!liveStreamLinked())
        GTEST_SKIP() << "the live stream is not part of this build";
    const QByteArray audio = readMedia(mediaFile(Media::mp3));
    ASSERT_FALSE(audio.isEmpty()) << "ffmpeg or espeak-ng missing";

    HttpsTestServer server;
    ASSERT_TRUE(server.isListening()) << server.error().toStdString();
    // The first connection sends five seconds of audio at once, then about
    // real time for six seconds, and ends; every later one is refused.
    std::atomic<int> connections{0};
    server.serve(QStringLiteral("/live"), [&audio, &connections](const HttpsTestServer::Request &) {
        if (connections++ > 0)
            return HttpsTestServer::Response::withStatus(503);
        return HttpsTestServer::Response::streamed(
            "audio/mpeg",
            [&audio](qint64 index) -> QByteArray {
                static qint64 offset = 0;
                if (index == 0)
                    offset = 0;
                if (index >= 130)
                    return {};
                const qint64 size = index < 10 ? 8000 : 800;
                QByteArray chunk;
                while (chunk.size() < size) {
                    const qint64 take = std::min<qint64>(size - chunk.size(), audio.size() - offset);
                    chunk += audio.mid(offset, take);
                    offset = (offset + take) % audio.size();
                }
                return chunk;
            },
            50);
    });

    L10n l10n(std::make_shared<MemorySettingsStore>(), [] { return QStringList{QStringLiteral("en")}; },
              [] { return QString(); }, QStringLiteral(VANTULI_RESOURCE_DIR));
    L10n::setShared(&l10n);

    const Station radio = station(QStringLiteral("live"), QStringLiteral("zh"), server.url(QStringLiteral("/live")).toString());
    std::atomic<int> samples{0};
    RadioStore::Dependencies d;
    d.defaults = std::make_shared<MemorySettingsStore>();
    d.catalogPath = writeCatalog({radio});
    d.streamConfiguration.caCertificates = {HttpsTestServer::caCertificate()};
#ifdef VANTULI_TINY_MODEL
    d.asr = LocalASR::create(60, QStringLiteral(VANTULI_TINY_MODEL));
#endif
    d.mediaSession = std::make_shared<RecordingMediaSession>();
    d.timing = [&samples](const PlaybackSample &) { samples++; };
    d.handleTerminationSignals = false;
    auto store = std::make_unique<RadioStore>(std::move(d));

    store->start(radio, 0, true);
    EXPECT_EQ(store->state(), State::Connecting);
    ASSERT_TRUE(waitUntil([&] { return store->state() == State::Playing; }, std::chrono::seconds(60)));
    ASSERT_TRUE(waitUntil([&] { return store->position() > 2; }, std::chrono::seconds(60)));
    EXPECT_GT(samples.load(), 0);
    ASSERT_EQ(store->history().size(), 1u);

    // The server ends the stream: two reconnects, both refused, then the end.
    ASSERT_TRUE(waitUntil([&] { return store->state() == State::Failed; }, std::chrono::seconds(90)));
    EXPECT_EQ(connections.load(), 3);
    ASSERT_TRUE(store->playbackMessage());
    EXPECT_FALSE(store->playbackMessage()->text().contains(QStringLiteral("Reconnecting")));
    EXPECT_TRUE(store->failures().contains(radio.id));
    EXPECT_EQ(store->history().size(), 1u);

    const auto rows = store->archive()->entries(false, QString(), std::nullopt, 10);
    ASSERT_EQ(rows.size(), 3u);
    const auto &played = rows[2];
    EXPECT_EQ(played.retry, 0);
    EXPECT_TRUE(played.startedPlayback);
    EXPECT_GT(played.played, 2);
    EXPECT_GT(played.bytes, 80000);
    ASSERT_TRUE(played.firstAudio);
    EXPECT_GE(played.elapsed, *played.firstAudio);
    EXPECT_TRUE(played.interrupted);
    EXPECT_EQ(rows[1].retry, 1);
    EXPECT_EQ(rows[0].retry, 2);

    // Captions (when the random model says anything) belong to the run that played.
    for (const auto &caption : store->archive()->entries(true, QString(), std::nullopt, 1000)) {
        EXPECT_EQ(caption.sessionID, played.id);
        EXPECT_EQ(caption.language, QStringLiteral("zh"));
    }
    store.reset();
    L10n::setShared(nullptr);
}

} // namespace
} // namespace vantuli::test
