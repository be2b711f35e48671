#include "streaming/HlsPlaylist.h"

#include <gtest/gtest.h>

#include <string>

using namespace vantuli;
using PackedAudioHLS::Media;
using PackedAudioHLS::Variant;

namespace {

const QUrl base(QStringLiteral("https://radio.example/live/hi/list.m3u8?token=1"));

PackedAudioHLS::Playlist parse(const std::string &text)
{
    return PackedAudioHLS::playlist(QByteArray::fromStdString(text), base);
}

Media media(const std::string &text)
{
    const auto list = parse(text);
    EXPECT_TRUE(std::holds_alternative<Media>(list));
    return std::holds_alternative<Media>(list) ? std::get<Media>(list) : Media{};
}

int refusal(const std::string &text)
{
    try {
        parse(text);
    } catch (const UrlError &e) {
        EXPECT_FALSE(e.description.isEmpty());
        return e.code;
    }
    return 0;
}

} // namespace

TEST(HlsPlaylist, MasterPlaylistIsReducedToItsFirstVariant)
{
    const auto list = parse("#EXTM3U\r\n"
                            "#EXT-X-VERSION:3\r\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\"\r\n"
                            "  hi/media.m3u8\t\r\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=64000\r\n"
                            "http://plain.example/lo.m3u8\r\n"
                            "#EXT-X-ENDLIST\r\n");
    ASSERT_TRUE(std::holds_alternative<Variant>(list));
    EXPECT_EQ(std::get<Variant>(list).url, QUrl(QStringLiteral("https://radio.example/live/hi/hi/media.m3u8")));
}

TEST(HlsPlaylist, MediaPlaylistGivesSequenceTargetAndAbsoluteSegments)
{
    const Media m = media("#EXTM3U\n"
                          "#EXT-X-VERSION:3\n"
                          "#EXT-X-TARGETDURATION:6\n"
                          "#EXT-X-MEDIA-SEQUENCE:2680\n"
                          "#EXTINF:6.0,\n"
                          "seg2680.aac\n"
                          "\n"
                          "#EXTINF:6.0,\n"
                          "/other/seg2681.aac\n"
                          "#EXTINF:6.0,\n"
                          "../up/seg2682.aac?x=1\n"
                          "//cdn.example/seg2683.aac\n"
                          "https://cdn2.example:8443/a/seg2684.aac\n");
    EXPECT_EQ(m.first, 2680);
    EXPECT_EQ(m.target, 6.0);
    const std::vector<QUrl> expected = {
        QUrl(QStringLiteral("https://radio.example/live/hi/seg2680.aac")),
        QUrl(QStringLiteral("https://radio.example/other/seg2681.aac")),
        QUrl(QStringLiteral("https://radio.example/live/up/seg2682.aac?x=1")),
        QUrl(QStringLiteral("https://cdn.example/seg2683.aac")),
        QUrl(QStringLiteral("https://cdn2.example:8443/a/seg2684.aac")),
    };
    EXPECT_EQ(m.segments, expected);
}

TEST(HlsPlaylist, EveryKindOfLineBreakAndBlankParsesAlike)
{
    const std::vector<std::string> breaks = {"\n", "\r\n", "\r", "\v", "\f", "\u0085", "\u2028", "\u2029",
                                             "\n\n \t\n"};
    for (const std::string &br : breaks) {
        SCOPED_TRACE(testing::PrintToString(br));
        const Media m = media("#EXTM3U" + br + "#EXT-X-TARGETDURATION:4" + br + " #EXTINF:4," + br
                              + "\ta.aac " + br + "b.aac" + br);
        EXPECT_EQ(m.first, 0);
        EXPECT_EQ(m.target, 4.0);
        ASSERT_EQ(m.segments.size(), 2u);
        EXPECT_EQ(m.segments[1], QUrl(QStringLiteral("https://radio.example/live/hi/b.aac")));
    }
}

TEST(HlsPlaylist, LaterNumericTagsOverwriteEarlierOnes)
{
    const Media m = media("#EXTM3U\n#EXT-X-TARGETDURATION:0\n#EXT-X-MEDIA-SEQUENCE:5\n"
                          "a.aac\n#EXT-X-TARGETDURATION:+8\n#EXT-X-MEDIA-SEQUENCE:+0\n");
    EXPECT_EQ(m.first, 0);
    EXPECT_EQ(m.target, 8.0);
}

TEST(HlsPlaylist, SequenceMayReachTheLargestValueThatStillFits)
{
    const Media m = media("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:9223372036854775806\na.aac\n");
    EXPECT_EQ(m.first, 9223372036854775806LL);
}

TEST(HlsPlaylist, RefusedPlaylists)
{
    const std::string ok = "#EXT-X-TARGETDURATION:4\na.aac\n";
    struct Case {
        const char *name;
        std::string text;
        int code;
    };
    const Case cases[] = {
        {"empty", "", UrlError::cannotParseResponse},
        {"only line breaks", "\n\r\n\n", UrlError::cannotParseResponse},
        {"byte-order mark", "\xEF\xBB\xBF#EXTM3U\n" + ok, UrlError::cannotParseResponse},
        {"wrong header", "#EXTM3U8\n" + ok, UrlError::cannotParseResponse},
        {"header not first", "#EXT-X-VERSION:3\n#EXTM3U\n" + ok, UrlError::cannotParseResponse},
        {"invalid UTF-8", "#EXTM3U\n" + ok + "b\xC3\x28.aac\n", UrlError::cannotParseResponse},
        {"variant line missing", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n", UrlError::cannotParseResponse},
        {"variant followed by a tag", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n#EXT-X-FOO\nv.m3u8\n",
         UrlError::cannotParseResponse},
        {"plain http variant", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nhttp://radio.example/v.m3u8\n",
         UrlError::unsupportedURL},
        {"plain http segment", "#EXTM3U\n" + ok + "http://radio.example/b.aac\n", UrlError::unsupportedURL},
        {"upper-case scheme", "#EXTM3U\n" + ok + "HTTPS://radio.example/b.aac\n", UrlError::unsupportedURL},
        {"other scheme", "#EXTM3U\n" + ok + "data:audio/aac;base64,AAAA\n", UrlError::unsupportedURL},
        {"unparsable URI", "#EXTM3U\n" + ok + "seg 1.aac\n", UrlError::unsupportedURL},
        {"negative sequence", "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:-1\n" + ok, UrlError::cannotParseResponse},
        {"sequence with text", "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:12a\n" + ok, UrlError::cannotParseResponse},
        {"sequence with a blank", "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE: 12\n" + ok, UrlError::cannotParseResponse},
        {"sequence too large", "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:9223372036854775808\n" + ok,
         UrlError::cannotParseResponse},
        {"sequence plus segments overflows", "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:9223372036854775807\n" + ok,
         UrlError::cannotParseResponse},
        {"target missing", "#EXTM3U\na.aac\n", UrlError::cannotParseResponse},
        {"target zero", "#EXTM3U\n#EXT-X-TARGETDURATION:0\na.aac\n", UrlError::cannotParseResponse},
        {"target with a fraction", "#EXTM3U\n#EXT-X-TARGETDURATION:10.5\na.aac\n", UrlError::cannotParseResponse},
        {"target negative", "#EXTM3U\n#EXT-X-TARGETDURATION:-4\na.aac\n", UrlError::cannotParseResponse},
        {"no segment", "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\n", UrlError::cannotParseResponse},
        {"ended list", "#EXTM3U\n" + ok + "#EXT-X-ENDLIST\n", UrlError::cannotDecodeContentData},
        {"ended list before anything else is wrong", "#EXTM3U\n#EXT-X-ENDLIST\n",
         UrlError::cannotDecodeContentData},
        {"encrypted", "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n" + ok, UrlError::cannotDecodeContentData},
        {"encryption after the segments", "#EXTM3U\n" + ok + "#EXT-X-KEY:METHOD=NONE\n",
         UrlError::cannotDecodeContentData},
        {"byte range", "#EXTM3U\n#EXT-X-BYTERANGE:100@0\n" + ok, UrlError::cannotDecodeContentData},
        {"initialisation map", "#EXTM3U\n#EXT-X-MAP:URI=\"init.mp4\"\n" + ok, UrlError::cannotDecodeContentData},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusal(c.text), c.code);
    }
}

TEST(HlsPlaylist, SimilarLookingTagsAreNotRefused)
{
    // Only the exact end tag and the tag prefixes with their colon refuse a list.
    const Media m = media("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-ENDLIST-NOT\n#EXT-X-KEYS\n#EXT-X-MAPX:1\na.aac\n");
    EXPECT_EQ(m.segments.size(), 1u);
}

TEST(UrlError, CodesCarryTheirDescriptions)
{
    const int codes[] = {UrlError::badServerResponse, UrlError::dataLengthExceedsMaximum,
                         UrlError::cannotParseResponse, UrlError::cannotDecodeContentData,
                         UrlError::unsupportedURL, UrlError::networkConnectionLost, UrlError::timedOut};
    QStringList seen;
    for (int code : codes) {
        const UrlError e = UrlError::make(code);
        EXPECT_EQ(e.code, code);
        EXPECT_FALSE(seen.contains(e.description)) << e.description.toStdString();
        seen << e.description;
    }
}
