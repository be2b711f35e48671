#include "sheets/ArchivePaging.h"

#include "ArchiveFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using namespace vantuli;
using namespace vantuli::test;
using Entry = ListeningArchive::Entry;

namespace {

constexpr double t0 = 1'700'000'000.0;

ArchivePaging pagingOf(ArchiveFile &file)
{
    return ArchivePaging([&file] { return file.archive.get(); });
}

// Every paragraph text of every loaded block, newest first.
std::vector<QString> paragraphTexts(const ArchivePaging &paging)
{
    std::vector<QString> texts;
    for (const ArchiveCaptionBlock &block : paging.blocks())
        for (const ArchiveCaptionBlock::Paragraph &paragraph : block.paragraphs)
            texts.push_back(paragraph.text);
    return texts;
}

// A block's paragraphs as the sheet shows them, oldest first.
QString shownText(const ArchiveCaptionBlock &block)
{
    QStringList texts;
    for (auto it = block.paragraphs.rbegin(); it != block.paragraphs.rend(); ++it)
        texts << it->text;
    return texts.join(QStringLiteral("\n\n"));
}

} // namespace

TEST(ArchivePaging, PagesHoldAHundredRowsAndTheExtraRowOnlyTellsThatMoreExist)
{
    for (const int count : {0, 100, 101}) {
        SCOPED_TRACE(count);
        ArchiveFile file;
        for (int i = 0; i < count; ++i)
            file.session(QStringLiteral("s"), t0 + i);
        const qint64 captioned = file.session(QStringLiteral("c"), t0);
        file.numbered(captioned, count, t0);

        ArchivePaging sessions = pagingOf(file);
        sessions.setCaptions(false);
        sessions.load(false);
        // The captioned session is the newest one; the others follow.
        ASSERT_EQ(sessions.rows().size(), size_t(std::min(count + 1, 100)));
        EXPECT_EQ(sessions.hasMore(), count + 1 > 100);
        EXPECT_FALSE(sessions.failed());
        EXPECT_EQ(sessions.loadedFilter(), (ArchiveFilter{false, {}}));

        ArchivePaging captions = pagingOf(file);
        captions.load(false);
        EXPECT_EQ(captions.hasMore(), count > 100);
        if (count == 0) {
            EXPECT_TRUE(captions.blocks().empty());
            EXPECT_FALSE(captions.lastCaption());
            continue;
        }
        ASSERT_EQ(captions.blocks().size(), 1u);
        // 100 captions: twelve paragraphs of 8 and the page's last 4.
        EXPECT_EQ(captions.blocks()[0].paragraphs.size(), 13u);
        EXPECT_EQ(captions.blocks()[0].paragraphs.back().text,
                  count == 100 ? QStringLiteral("w0 w1 w2 w3") : QStringLiteral("w1 w2 w3 w4"));

        if (count == 101) {
            captions.load(true);
            sessions.load(true);
            // The next page starts right after the 100th row.
            ASSERT_EQ(sessions.rows().size(), 102u);
            for (size_t i = 1; i < sessions.rows().size(); ++i)
                EXPECT_LT(sessions.rows()[i].id, sessions.rows()[i - 1].id);
            EXPECT_FALSE(sessions.hasMore());

            const ArchiveCaptionBlock &block = captions.blocks()[0];
            ASSERT_EQ(captions.blocks().size(), 1u);
            ASSERT_EQ(block.paragraphs.size(), 14u);
            EXPECT_EQ(block.paragraphs.back().text, QStringLiteral("w0"));
            EXPECT_EQ(captions.scrollToParagraph(), block.paragraphs.back().id);
            EXPECT_EQ(block.date, Date{t0});
            EXPECT_FALSE(captions.hasMore());

            // Nothing older: the block and the cursor stay, the scroll target goes.
            const auto before = captions.blocks();
            const auto cursor = captions.lastCaption()->id;
            captions.load(true);
            EXPECT_EQ(captions.blocks(), before);
            EXPECT_EQ(captions.lastCaption()->id, cursor);
            EXPECT_FALSE(captions.scrollToParagraph());
        }
    }

    // Without an archive nothing loads and nothing fails; a stale filter refuses more.
    ArchivePaging none([] { return nullptr; });
    none.load(false);
    EXPECT_FALSE(none.loadedFilter());
    EXPECT_FALSE(none.failed());
    ArchiveFile file;
    file.numbered(file.session(QStringLiteral("a"), t0), 3, t0);
    ArchivePaging paging = pagingOf(file);
    paging.load(false);
    paging.setQuery(QStringLiteral("w1"));
    EXPECT_TRUE(paging.stale());
    paging.load(true);
    EXPECT_EQ(paragraphTexts(paging), std::vector<QString>{QStringLiteral("w0 w1 w2")});
}

TEST(ArchivePaging, SearchTextMatchesPercentUnderscoreAndBackslashLiterally)
{
    ArchiveFile file;
    const QStringList texts{QStringLiteral("50% off"), QStringLiteral("a_b"), QStringLiteral("axb"),
                            QStringLiteral("back\\slash"), QStringLiteral("plain")};
    // Each caption in a stretch of its own, so each is a paragraph of its own.
    for (int i = 0; i < texts.size(); ++i)
        file.captions(file.session(QStringLiteral("st%1").arg(i), t0 + i * 4000), {texts[i]}, t0 + i * 4000);

    const struct {
        QString query;
        std::set<QString> found;
    } cases[] = {
        {QStringLiteral("%"), {QStringLiteral("50% off")}},
        {QStringLiteral(" 50% "), {QStringLiteral("50% off")}},
        {QStringLiteral("_"), {QStringLiteral("a_b")}},
        {QStringLiteral("a_b"), {QStringLiteral("a_b")}},
        {QStringLiteral("\\"), {QStringLiteral("back\\slash")}},
        {QStringLiteral("AXB"), {QStringLiteral("axb")}},
        {QStringLiteral(" \n "), std::set<QString>(texts.begin(), texts.end())},
        {QStringLiteral("station st3"), {QStringLiteral("back\\slash")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        ArchivePaging paging = pagingOf(file);
        paging.setQuery(c.query);
        paging.load(false);
        EXPECT_EQ(paging.loadedFilter()->query, c.query.trimmed());
        const std::vector<QString> found = paragraphTexts(paging);
        EXPECT_EQ(std::set<QString>(found.begin(), found.end()), c.found);
    }
}

TEST(ArchivePaging, BlocksSplitAtAnotherStationAGapOverHalfAnHourOrAnotherStationsPlayback)
{
    const struct {
        const char *name;
        std::function<void(ArchiveFile &)> fill;
        std::vector<QString> blockStations;
    } cases[] = {
        {"1800 s apart", [](ArchiveFile &f) {
             const qint64 s = f.session("a", t0);
             f.captions(s, {"old"}, t0);
             f.captions(s, {"new"}, t0 + 1800);
         }, {"Station a"}},
        {"1800.5 s apart", [](ArchiveFile &f) {
             const qint64 s = f.session("a", t0);
             f.captions(s, {"old"}, t0);
             f.captions(s, {"new"}, t0 + 1800.5);
         }, {"Station a", "Station a"}},
        {"another station", [](ArchiveFile &f) {
             f.captions(f.session("a", t0), {"a"}, t0);
             f.captions(f.session("b", t0 + 1), {"b"}, t0 + 1);
         }, {"Station b", "Station a"}},
        {"A, B playing, A", [](ArchiveFile &f) {
             f.captions(f.session("a", t0), {"before"}, t0);
             f.session("b", t0 + 10, true);
             f.captions(f.session("a", t0 + 20), {"after"}, t0 + 20);
         }, {"Station a", "Station a"}},
        {"A, B never playing, A", [](ArchiveFile &f) {
             f.captions(f.session("a", t0), {"before"}, t0);
             f.session("b", t0 + 10, false);
             f.captions(f.session("a", t0 + 20), {"after"}, t0 + 20);
         }, {"Station a"}},
        {"reconnect into the next session", [](ArchiveFile &f) {
             f.captions(f.session("a", t0), {"before"}, t0);
             f.captions(f.session("a", t0 + 20), {"after"}, t0 + 20);
         }, {"Station a"}},
        {"clock set back", [](ArchiveFile &f) {
             const qint64 s = f.session("a", t0);
             f.captions(s, {"old"}, t0 + 5000);
             f.captions(s, {"new"}, t0);
         }, {"Station a"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ArchiveFile file;
        c.fill(file);
        ArchivePaging paging = pagingOf(file);
        paging.load(false);
        std::vector<QString> stations;
        for (const ArchiveCaptionBlock &block : paging.blocks())
            stations.push_back(block.station);
        EXPECT_EQ(stations, c.blockStations);
    }

    // Rows without a station id: split by the gap alone, or when only one side has one.
    ArchiveFile file;
    const auto entry = [](std::optional<QString> station, double date) {
        Entry e;
        e.stationID = std::move(station);
        e.date = Date{date};
        return e;
    };
    EXPECT_FALSE(ArchiveCaptionBlock::splits(entry({}, t0 + 1800), entry({}, t0), *file.archive));
    EXPECT_TRUE(ArchiveCaptionBlock::splits(entry({}, t0 + 1801), entry({}, t0), *file.archive));
    EXPECT_TRUE(ArchiveCaptionBlock::splits(entry({}, t0), entry(QStringLiteral("a"), t0), *file.archive));
    EXPECT_TRUE(ArchiveCaptionBlock::splits(entry(QStringLiteral("a"), t0), entry({}, t0), *file.archive));
}

TEST(ArchivePaging, ParagraphsHoldEightCaptionsAndKeepEmptyOnes)
{
    ArchiveFile file;
    const qint64 a = file.session(QStringLiteral("a"), t0);
    file.numbered(a, 20, t0);
    const qint64 b = file.session(QStringLiteral("b"), t0 + 100);
    file.captions(b, {QString(), QString()}, t0 + 100);
    ArchivePaging paging = pagingOf(file);
    paging.load(false);
    ASSERT_EQ(paging.blocks().size(), 2u);
    EXPECT_EQ(paging.blocks()[0].paragraphs, (std::vector<ArchiveCaptionBlock::Paragraph>{
                                                 {paging.blocks()[0].id, QString()}}));
    EXPECT_EQ(paragraphTexts(paging), (std::vector<QString>{QString(), "w12 w13 w14 w15 w16 w17 w18 w19",
                                                            "w4 w5 w6 w7 w8 w9 w10 w11", "w0 w1 w2 w3"}));
    EXPECT_EQ(paging.blocks()[1].date, Date{t0});
}

TEST(ArchivePaging, SpacingBetweenJoinedCaptions)
{
    const std::optional<QString> none;
    const struct {
        std::optional<QString> language;
        QString after; // the text so far
        QString before; // the caption being added
        bool space;
    } cases[] = {
        {none, "abc", "def", true},
        {QStringLiteral("en"), "abc", "def", true},
        {none, "你好", "世界", false},
        {QStringLiteral("en"), "你好", "world", true},
        {none, "你好。", "世界", false},
        {QStringLiteral("en"), "你好\uFF0C", "世界", true},
        {QStringLiteral("zh"), "你好", "世界", false},
        {QStringLiteral("ja"), "こんにちは", "7時", true},
        {QStringLiteral("zh"), "abc", "世界", true},
        {QStringLiteral("zh"), "好!", "世界", false},
        {QStringLiteral("zh"), "你好", "\uFF21BC", false},
        {QStringLiteral("ko"), "안녕", "하세요", true},
        {QStringLiteral("zh-Hans"), "안녕", "하세요", true},
        {QStringLiteral("ZH"), "你好", "世界", false},
        {QStringLiteral("zh"), "", "abc", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.after + "|" + c.before).toStdString());
        EXPECT_EQ(ArchiveCaptionBlock::needsSpace(c.before, c.after, c.language), c.space);
    }
}

TEST(ArchivePaging, CopyReadsTheLastBlockToItsStartAsLoadMoreWouldShowIt)
{
    const struct {
        const char *name;
        int olderOther;       // captions of another station before the block
        int block;            // captions of the copied block
        size_t paragraphs;    // in the copied text
    } cases[] = {
        {"continues 250 captions beyond the first page", 0, 350, 13 + 13 + 13 + 7},
        {"ends exactly at a page boundary", 0, 300, 13 + 13 + 13},
        {"another station's caption right after the loaded page", 50, 150, 13 + 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ArchiveFile file;
        file.numbered(file.session(QStringLiteral("x"), t0), c.olderOther, t0, QStringLiteral("x"));
        file.numbered(file.session(QStringLiteral("a"), t0 + 1000), c.block, t0 + 1000);

        ArchivePaging paging = pagingOf(file);
        paging.load(false);
        ASSERT_TRUE(paging.hasMore());
        const std::optional<QString> copied = paging.copyText(paging.blocks().back());
        ASSERT_TRUE(copied);
        EXPECT_EQ(copied->split(QStringLiteral("\n\n")).size(), qsizetype(c.paragraphs));
        EXPECT_TRUE(copied->startsWith(QStringLiteral("w0 w1"))) << copied->left(40).toStdString();
        EXPECT_TRUE(copied->endsWith(QStringLiteral(" w%1").arg(c.block - 1)));

        // The same text as the block shows once every page is loaded.
        ArchivePaging all = pagingOf(file);
        all.load(false);
        while (all.hasMore())
            all.load(true);
        EXPECT_EQ(*copied, shownText(all.blocks().front()));
        // Copying reads nothing into the sheet.
        EXPECT_EQ(paging.blocks().front().paragraphs.size(), 13u);
    }

    // A block other than the last, or any block once nothing more exists,
    // reads nothing: the archive's captions could be gone.
    ArchiveFile file;
    file.numbered(file.session(QStringLiteral("x"), t0), 20, t0, QStringLiteral("x"));
    file.numbered(file.session(QStringLiteral("a"), t0 + 1000), 90, t0 + 1000);
    ArchivePaging paging = pagingOf(file);
    paging.load(false);
    ASSERT_TRUE(paging.hasMore());
    file.archive->write(QStringLiteral("DROP TABLE captions"), {});
    EXPECT_EQ(paging.copyText(paging.blocks().front()), shownText(paging.blocks().front()));
    EXPECT_FALSE(paging.failed());
    // A stale filter copies nothing.
    paging.setQuery(QStringLiteral("w"));
    EXPECT_FALSE(paging.copyText(paging.blocks().front()));
}

TEST(ArchivePaging, AnArchiveErrorKeepsWhatIsShownAndSetsTheFailure)
{
    // Station a, then b played without captions, then 150 captions of a:
    // the walk between the two stretches of a asks the archive.
    ArchiveFile file;
    file.numbered(file.session(QStringLiteral("a"), t0), 5, t0, QStringLiteral("a"));
    file.session(QStringLiteral("b"), t0 + 10, true);
    file.numbered(file.session(QStringLiteral("a"), t0 + 20), 150, t0 + 20);

    ArchivePaging paging = pagingOf(file);
    paging.load(false);
    ASSERT_TRUE(paging.hasMore());
    const auto blocks = paging.blocks();
    const auto cursor = paging.lastCaption()->id;
    const auto filter = paging.loadedFilter();

    // The separation test fails half-way through the walk.
    file.archive->write(QStringLiteral("ALTER TABLE sessions DROP COLUMN started"), {});
    paging.load(true);
    EXPECT_TRUE(paging.failed());
    EXPECT_FALSE(paging.copyText(paging.blocks().back()));
    // The captions table is gone: the page itself cannot be read.
    file.archive->write(QStringLiteral("DROP TABLE captions"), {});
    paging.load(false);
    paging.load(true);
    EXPECT_FALSE(paging.copyText(paging.blocks().back()));

    EXPECT_TRUE(paging.failed());
    EXPECT_EQ(paging.blocks(), blocks);
    EXPECT_EQ(paging.lastCaption()->id, cursor);
    EXPECT_EQ(paging.loadedFilter(), filter);
    EXPECT_TRUE(paging.hasMore());
}
