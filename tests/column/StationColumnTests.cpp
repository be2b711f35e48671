// The station column: masthead, caption desk and transport over a real store,
// driven through the store probe and by clicks.

#include "support/Responsiveness.h"
#include "support/TestSupport.h"
#include "support/WidgetHarness.h"

#include "column/CaptionDesk.h"
#include "column/CaptionHistory.h"
#include "column/PlayerTransport.h"
#include "column/StationMasthead.h"
#include "look/Labels.h"
#include "look/StudioButton.h"
#include "records/Formats.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

using namespace vantuli;
using namespace vantuli::test;

namespace {

QString t(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

template <typename T = QAbstractButton>
T *child(QWidget &parent, const char *name)
{
    T *found = parent.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QStringList actionTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        if (!action->isSeparator() && !action->text().isEmpty())
            texts << action->text();
    return texts;
}

// The menu's item of that text; a missing one fails the test (and does nothing).
QAction *action(QMenu *menu, const QString &text)
{
    for (QAction *item : menu->actions())
        if (item->text() == text)
            return item;
    ADD_FAILURE() << "no menu item " << text.toStdString();
    return new QAction(qApp);
}

// The station column as the main window stacks it.
struct Column {
    explicit Column(WidgetHarness &h, QSize size = {714, 640}, int mastheadHeight = 175)
        : masthead(new StationMasthead(h.store.get(), &widget)),
        desk(new CaptionDesk(h.store.get(), h.settings, &widget)), transport(new PlayerTransport(h.store.get(), &widget))
    {
        auto *stack = new QVBoxLayout(&widget);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(0);
        stack->addWidget(masthead, 0);
        stack->addWidget(desk, 1);
        stack->addWidget(transport, 0);
        masthead->setFixedHeight(mastheadHeight);
        transport->setClock(h.clock);
        widget.resize(size);
        widget.show();
    }
    QWidget widget;
    StationMasthead *masthead;
    CaptionDesk *desk;
    PlayerTransport *transport;
};

std::vector<Caption> captions(int count, const QString &prefix = QStringLiteral("Line"))
{
    std::vector<Caption> list;
    for (int i = 0; i < count; ++i)
        list.push_back(caption(QStringLiteral("%1 %2").arg(prefix).arg(i), i));
    return list;
}

} // namespace

TEST(StationMasthead, PlayButtonAndStarFollowTheRunAndTheFavourites)
{
    WidgetHarness h;
    const Station shown = h.find(QStringLiteral("s1"));
    const Station other = h.find(QStringLiteral("s2"));
    h.store->setSelected(shown);
    StationMasthead masthead(h.store.get());
    auto *play = child<StudioButton>(masthead, "stationPlay");

    struct Case {
        std::optional<Station> current;
        RadioStore::State state;
        bool failedHere;
        const char *title;
        const char *symbol;
    } cases[] = {
        {std::nullopt, RadioStore::State::Stopped, false, "收听直播", "play.fill"},
        {shown, RadioStore::State::Connecting, false, "停止播放", "stop.fill"},
        {shown, RadioStore::State::Playing, true, "停止播放", "stop.fill"}, // on air wins over a recorded failure
        {other, RadioStore::State::Playing, false, "收听直播", "play.fill"},
        {other, RadioStore::State::Playing, true, "重新连接", "play.fill"},
        {shown, RadioStore::State::Failed, true, "重新连接", "play.fill"},
    };
    for (const Case &c : cases) {
        h.probe->setCurrent(c.current);
        h.probe->setState(c.state);
        RadioStore::Failures failures;
        if (c.failedHere)
            failures[shown.id] = StationFailure{shown.streamUrl, Date{}};
        h.probe->setFailures(failures);
        h.settle();
        EXPECT_EQ(play->text(), t(c.title)) << c.title;
        EXPECT_EQ(play->property("symbol").toString(), QString::fromLatin1(c.symbol)) << c.title;
    }

    auto *star = child<StudioButton>(masthead, "favoriteStation");
    h.store->favorite(shown);
    h.settle();
    EXPECT_EQ(star->property("symbol").toString(), QStringLiteral("star.fill"));
    EXPECT_EQ(star->accessibleName(), t("取消收藏"));
}

TEST(StationMasthead, ANewStationAndAFavouriteChangeAnimateUnlessMotionIsReduced)
{
    std::vector<Station> catalog = testCatalog(2);
    catalog[0].name = QStringLiteral("Radio With a Rather Long Name");
    catalog[1].name = QStringLiteral("LBC");
    // Pixels that differ between two pictures of the same size within `area`.
    auto differing = [](const QImage &a, const QImage &b, const QRect &area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
                count += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) > 60;
            }
        return count;
    };
    struct Row {
        const char *change;
        bool reduced;
    } rows[] = {{"station", false}, {"station", true}, {"favourite", false}, {"favourite", true}};
    for (const Row &row : rows) {
        const std::string label = std::string(row.change) + (row.reduced ? " reduced" : "");
        WidgetHarness h(catalog);
        h.store->setSelected(h.find(QStringLiteral("s1")));
        StationMasthead masthead(h.store.get());
        masthead.resize(714, 175);
        masthead.show();
        h.settle();
        Appearance::shared().setReduceMotionForTesting(row.reduced);
        const bool station = QLatin1String(row.change) == QLatin1String("station");
        auto *name = child<FitLabel>(masthead, "stationName");
        auto *star = child<StudioButton>(masthead, "favoriteStation");
        // Where the old, longer name is and the new one is not.
        QFont font = name->font();
        font.setPixelSize(name->fittedPixelSize());
        const QRect beyond = QRect(name->mapTo(&masthead, QPoint(QFontMetrics(font).horizontalAdvance(catalog[1].name) + 12, 0)),
                                   name->mapTo(&masthead, QPoint(name->width() - 12, name->height() - 1)));
        if (station)
            h.store->setSelected(h.find(QStringLiteral("s2")));
        else
            h.store->favorite(h.find(QStringLiteral("s1")));
        h.settle();

        auto *motion = masthead.findChild<QVariantAnimation *>(QLatin1String(station ? "stationNameTransition" : "favoriteSwap"));
        ASSERT_TRUE(motion) << label;
        EXPECT_EQ(motion->state() == QAbstractAnimation::Running, !row.reduced) << label;
        Appearance::shared().setReduceMotionForTesting(false);
        if (row.reduced)
            continue;
        // Halfway the old name is still fading out and the star is between
        // symbols; at the end only the new state shows.
        motion->pause();
        motion->setCurrentTime(100);
        const QImage middle = station ? masthead.grab().toImage() : star->icon().pixmap(14).toImage();
        motion->setCurrentTime(motion->duration());
        h.settle();
        const QImage end = station ? masthead.grab().toImage() : star->icon().pixmap(14).toImage();
        EXPECT_GT(differing(middle, end, station ? beyond : end.rect()), 20) << label;
        EXPECT_EQ(star->property("symbol").toString(), QLatin1String(station ? "star" : "star.fill")) << label;
    }
}

TEST(StationMasthead, MenuOffersOnlyHttpSitesAndTheVerificationDate)
{
    std::vector<Station> catalog = testCatalog(2);
    catalog[0].website = QStringLiteral("ftp://files.example.org/radio");
    catalog[0].path = QString();
    catalog[0].verifiedAt = QStringLiteral("2025-03");
    catalog[1].website = QStringLiteral("https://radio.example.org/");
    catalog[1].path = QStringLiteral("/station/s2");
    catalog[1].verifiedAt = QStringLiteral("2025-03-04T10:00:00Z");
    catalog[1].frequency = QString();
    catalog[1].language = QString();
    WidgetHarness h(catalog);
    StationMasthead masthead(h.store.get());

    h.store->setSelected(h.find(QStringLiteral("s1")));
    h.settle();
    QStringList items = actionTexts(masthead.stationMenu());
    EXPECT_FALSE(items.contains(t("台方官网")));
    EXPECT_TRUE(items.contains(t("分享电台")));
    EXPECT_TRUE(items.contains(L10n::format(QStringLiteral("音源验证 · %@"), {QStringLiteral("2025-03")})));
    EXPECT_EQ(StationMasthead::shareLink(*h.store->selected()), QStringLiteral("ftp://files.example.org/radio"));

    h.store->setSelected(h.find(QStringLiteral("s2")));
    h.settle();
    items = actionTexts(masthead.stationMenu());
    EXPECT_TRUE(items.contains(t("台方官网")));
    EXPECT_TRUE(items.contains(L10n::format(QStringLiteral("音源验证 · %@"), {QStringLiteral("2025-03-04")})));
    EXPECT_EQ(StationMasthead::shareLink(*h.store->selected()), QStringLiteral("https://vantuli.app/station/s2"));
    // No frequency: the region's name; no language: the name for "not stated".
    EXPECT_EQ(child<FitLabel>(masthead, "stationKicker")->text(), Formats::regionName(catalog[1].country));
    EXPECT_TRUE(StationMasthead::factsText(*h.store->selected()).endsWith(Station::languageName(QStringLiteral("und"))));

    // Scheme rules: http(s) only, case as the parser gives it; bad share text hides the item.
    Station s = catalog[0];
    for (const auto &[site, shown] : std::vector<std::pair<QString, bool>>{
             {QStringLiteral("http://a.example"), true}, {QStringLiteral("mailto:x@example.org"), false},
             {QStringLiteral("example.org"), false}, {QString(), false}}) {
        s.website = site;
        EXPECT_EQ(StationMasthead::websiteLink(s).has_value(), shown) << site.toStdString();
    }
    s.website = QString();
    EXPECT_FALSE(StationMasthead::shareLink(s));
}

TEST(StationMasthead, NamesOfAnyLengthFitTheSpaceTheMastheadOffers)
{
    // The station column and masthead at the window's 1040x690 and 720x510.
    const QString z100 = QStringLiteral("Z100 - New York's #1 Hit Music Station WHTZ");
    const QString endless = QStringLiteral("Radio ") + QStringLiteral("Endless Name ").repeated(7700);
    struct Case {
        QString name;
        QSize column;
        int masthead;
        bool whole; // shown without an ellipsis
    } cases[] = {
        {QStringLiteral("LBC"), {714, 640}, 175, true},
        {z100, {714, 640}, 175, true},
        {z100, {488, 460}, 143, false},
        {z100 + QStringLiteral(" and Its Sister Stations Across the Tri-State Area"), {714, 640}, 175, true},
        {endless, {714, 640}, 175, false},
        {endless, {488, 460}, 143, false},
    };
    const int smallest = int(std::ceil(36 * 0.67));
    Responsiveness answers;
    for (const Case &c : cases) {
        std::vector<Station> catalog = testCatalog(1);
        catalog[0].name = c.name;
        catalog[0].frequency = c.name.size() > 1000 ? c.name : catalog[0].frequency;
        WidgetHarness h(catalog);
        Column column(h, c.column, c.masthead);
        h.store->toggle(h.find(QStringLiteral("s1"))); // selected, shown and playing everywhere
        h.settle();
        column.widget.repaint();
        const std::string label = c.name.left(60).toStdString() + " at " + std::to_string(c.column.width());

        auto *name = child<FitLabel>(*column.masthead, "stationName");
        const QStringList lines = name->fittedLines();
        ASSERT_FALSE(lines.isEmpty()) << label;
        EXPECT_LE(lines.size(), 2) << label;
        EXPECT_GE(name->fittedPixelSize(), smallest) << label;
        EXPECT_LE(name->fittedHeight(), name->height()) << label;
        // Right above the facts line, one row spacing apart.
        const int gap = child<FitLabel>(*column.masthead, "stationFacts")->geometry().top() - name->geometry().bottom() - 1;
        EXPECT_EQ(gap, 7) << label;
        EXPECT_EQ(lines.join(QLatin1Char(' ')) == c.name, c.whole) << label;
        EXPECT_EQ(lines.last().endsWith(QChar(0x2026)), !c.whole) << label;
        QHelpEvent hover(QEvent::ToolTip, QPoint(4, 4), name->mapToGlobal(QPoint(4, 4)));
        QCoreApplication::sendEvent(name, &hover);
        EXPECT_EQ(QToolTip::isVisible(), !c.whole) << label; // an elided name shows itself as the tooltip
        QToolTip::hideText();
        if (c.name.size() < 10) {
            EXPECT_EQ(name->fittedPixelSize(), 36);
        }
        for (const char *elsewhere : {"transportTitle", "captionStation", "stationKicker"})
            EXPECT_EQ(child<FitLabel>(column.widget, elsewhere)->fittedLineCount(), 1) << elsewhere;
    }
    EXPECT_EQ(answers.finish(), 0) << "the window held the main thread";
}

TEST(CaptionDesk, EmptyTextFollowsItsPrecedence)
{
    WidgetHarness h;
    CaptionDesk desk(h.store.get(), h.settings);
    desk.resize(480, 600);
    desk.show();
    const Station plain = h.find(QStringLiteral("s1"));
    const Station next = h.find(QStringLiteral("s2"));
    Station bengali = plain;
    bengali.id = QStringLiteral("bn");
    bengali.language = QStringLiteral("bn");
    auto *toggle = child(desk, "captionSwitch");
    auto *text = child<QLabel>(desk, "captionEmptyText");
    auto *failure = child<QLabel>(desk, "captionFailureText");

    struct Case {
        Station station;
        std::optional<Station> selected; // the station itself unless given
        RadioStore::State state;
        bool captionsOn;
        std::optional<QString> notice;
        QString expected;
        bool failureShown;
    } cases[] = {
        {bengali, {}, RadioStore::State::Failed, true, std::nullopt, t("孟加拉语电台目前仅提供收听。"), true},
        {plain, {}, RadioStore::State::Failed, false, std::nullopt, t("同步字幕已关闭。"), true},
        {plain, {}, RadioStore::State::Failed, true, QStringLiteral("本机字幕模型载入失败。"), t("直播连接已中断。"), true},
        // The desk is about the failed run, whichever station is selected after it.
        {plain, next, RadioStore::State::Failed, true, std::nullopt, t("直播连接已中断。"), true},
        {plain, {}, RadioStore::State::Playing, true, QStringLiteral("本机字幕模型载入失败。"), t("本机字幕模型载入失败。"), false},
        {plain, {}, RadioStore::State::Stopped, true, std::nullopt, t("开播后，在这里读字幕。"), false},
        {plain, {}, RadioStore::State::Connecting, true, std::nullopt, t("等待下一句播音…"), false},
    };
    h.probe->setPlaybackMessage(DisplayMessage::verbatim(QStringLiteral("Host unreachable")));
    for (const Case &c : cases) {
        h.store->setSelected(c.selected.value_or(c.station));
        h.probe->play(c.station, c.state);
        h.store->setCaptionsOn(c.captionsOn);
        h.probe->setCaptionNoticeKey(c.notice);
        h.settle();
        EXPECT_EQ(desk.emptyText(), c.expected);
        EXPECT_EQ(text->text(), c.expected);
        EXPECT_EQ(failure->isVisibleTo(&desk), c.failureShown) << c.expected.toStdString();
        if (c.failureShown) {
            EXPECT_EQ(failure->text(), QStringLiteral("Host unreachable"));
        }
        EXPECT_EQ(toggle->isEnabled(), c.station.language != QLatin1String("bn"));
    }

    // Captions shown, then switched off: the text replaces the history at once.
    h.probe->setSubtitles(captions(3));
    h.store->setCaptionsOn(true);
    h.settle();
    EXPECT_FALSE(text->isVisibleTo(&desk));
    EXPECT_EQ(desk.history()->rows().size(), 3u);
    toggle->click();
    h.settle();
    EXPECT_TRUE(text->isVisibleTo(&desk));
    EXPECT_EQ(text->text(), t("同步字幕已关闭。"));
    EXPECT_EQ(toggle->toolTip(), t("同步字幕")); // the switch's hidden label

    // Captions of a Japanese run keep Japanese forms under a selected Chinese station.
    h.store->setCaptionsOn(true);
    h.store->setLanguage(QStringLiteral("station"));
    h.probe->play(h.find(QStringLiteral("s3")));
    h.store->setSelected(next);
    h.probe->setSubtitles({caption(QStringLiteral("東京都内"), 0)});
    h.settle();
    ASSERT_TRUE(desk.history()->newestRow());
    EXPECT_TRUE(desk.history()->newestRow()->textFont().families().contains(QStringLiteral("Noto Serif CJK JP")))
        << desk.history()->newestRow()->textFont().families().join(QLatin1Char(',')).toStdString();

    // Too narrow for its header (half the title's room), the title is cut
    // short, not cut off by the menu.
    auto *title = child<FitLabel>(desk, "captionTitle");
    auto *menu = child<QToolButton>(desk, "captionSettings");
    desk.resize(26 + title->sizeHint().width() / 2 + 12 + menu->sizeHint().width() + 9 + toggle->sizeHint().width() + 26,
                600);
    h.settle();
    EXPECT_TRUE(title->fittedLines().value(0).endsWith(QChar(0x2026))) << title->fittedLines().join(QLatin1Char('|')).toStdString();
    EXPECT_LE(title->geometry().right(), menu->geometry().left());
}

TEST(CaptionDesk, RowCountAndScrollAnchorFollowTheAvailableHeight)
{
    // Older lines at 0.71 of the size (at least 17); rows = height / (older x 1.35 + 13) + 1, at least 2.
    struct Case {
        double size, height;
        int older, rows;
    } cases[] = {{32, 300, 23, 7}, {32, 0, 23, 2}, {18, 0, 17, 2}, {23, 44, 17, 2}, {46, 1000, 33, 18}};
    for (const Case &c : cases) {
        EXPECT_EQ(CaptionHistory::olderLineSize(c.size), c.older) << c.size;
        EXPECT_EQ(CaptionHistory::lineCount(c.size, c.height), c.rows) << c.size << " " << c.height;
    }
    // Exactly the newest height + 28 still fits (bottom); one less does not (top).
    EXPECT_EQ(CaptionHistory::anchor(128, 100), CaptionHistory::Anchor::Bottom);
    EXPECT_EQ(CaptionHistory::anchor(127, 100), CaptionHistory::Anchor::Top);
    EXPECT_EQ(CaptionHistory::anchor(28, 0), CaptionHistory::Anchor::Bottom);

    WidgetHarness h;
    h.settings->setValue(QStringLiteral("subtitleSize"), 46);
    CaptionDesk desk(h.store.get(), h.settings);
    desk.resize(420, 360);
    desk.show();
    h.probe->play(h.find(QStringLiteral("s1")));
    h.probe->setSubtitles(captions(30));
    h.settle();
    CaptionHistory *history = desk.history();
    const int height = history->viewport()->height();
    ASSERT_GT(height, 0);
    EXPECT_EQ(int(history->rows().size()), CaptionHistory::lineCount(46, height));
    EXPECT_EQ(history->newestRow()->captionId(), h.store->subtitles().back().id);
    EXPECT_LT(history->rows().front()->textFont().pixelSize(), history->newestRow()->textFont().pixelSize());
    // A short newest caption sits at the bottom of the area.
    ASSERT_GT(history->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(history->newestRow()->geometry().bottom() + 1 - history->verticalScrollBar()->value(), height);

    // A newest caption taller than the area shows its beginning.
    std::vector<Caption> list = captions(3);
    list.push_back(caption(QStringLiteral("word ").repeated(120).trimmed(), 10));
    Appearance::shared().setReduceMotionForTesting(true);
    h.probe->setSubtitles(list);
    h.settle();
    Appearance::shared().setReduceMotionForTesting(false);
    EXPECT_GT(history->newestHeight() + 28, height);
    EXPECT_EQ(history->verticalScrollBar()->value(), history->newestRow()->geometry().top());

    // A row draws its text once and copies it after: a new colour or width is drawn anew, not the old copy.
    auto inks = [](CaptionRow *row) {
        const QImage image = row->grab().toImage();
        int red = 0, blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c.red() > 160 && c.blue() < 90;
                blue += c.blue() > 160 && c.red() < 90;
            }
        return std::pair(red, blue);
    };
    CaptionRow *row = history->newestRow();
    for (const QColor &color : {QColor(Qt::red), QColor(Qt::blue)}) {
        history->setTextColor(color);
        const auto [red, blue] = inks(row);
        EXPECT_EQ(red > 0, color == Qt::red);
        EXPECT_EQ(blue > 0, color == Qt::blue);
    }
    desk.resize(300, 360);
    h.settle();
    const QImage narrow = row->grab().toImage();
    EXPECT_EQ(narrow.size(), row->size() * narrow.devicePixelRatio());
    EXPECT_GT(inks(row).second, 0);
}


TEST(CaptionDesk, SizeAndLanguageMenu)
{
    for (const auto &[stored, used] : std::vector<std::pair<QVariant, double>>{
             {QVariant(std::nan("")), 32}, {QVariant(200.0), 32}, {QVariant(5), 32}, {QVariant(QStringLiteral("x")), 32},
             {QVariant(20.0), 20}, {QVariant(QStringLiteral("46")), 46}}) {
        WidgetHarness h;
        h.settings->setValue(QStringLiteral("subtitleSize"), stored);
        CaptionDesk desk(h.store.get(), h.settings);
        EXPECT_EQ(desk.captionSize(), used) << stored.toString().toStdString();
    }

    // No two recognition languages read alike: the script, then the region, tells them apart.
    const std::vector<std::pair<QStringList, QStringList>> labels = {
        {{QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"), QStringLiteral("ja"), QStringLiteral("de")},
         {QStringLiteral("Chinese (Simplified)"), QStringLiteral("Chinese (Traditional)"), QStringLiteral("Japanese"),
          QStringLiteral("German")}},
        {{QStringLiteral("zh-CN"), QStringLiteral("zh-TW")},
         {QStringLiteral("Chinese (Simplified)"), QStringLiteral("Chinese (Traditional)")}},
        {{QStringLiteral("en-GB"), QStringLiteral("en-US"), QStringLiteral("fr")},
         {QStringLiteral("English (United Kingdom)"), QStringLiteral("English (United States)"), QStringLiteral("French")}},
    };
    {
        WidgetHarness h;
        for (const auto &[tags, expected] : labels)
            EXPECT_EQ(CaptionDesk::languageLabels(tags), expected) << tags.join(QLatin1Char(' ')).toStdString();
    }

    WidgetHarness h;
    h.store->setLanguage(QStringLiteral("xx-unknown"));
    CaptionDesk desk(h.store.get(), h.settings);
    h.settle();
    auto checked = [&desk] {
        QStringList texts;
        for (QAction *item : desk.settingsMenu()->actions())
            if (item->isChecked())
                texts << item->text();
        return texts;
    };
    EXPECT_EQ(checked(), QStringList{QStringLiteral("32 pt")}); // the unknown language checks nothing
    action(desk.settingsMenu(), QStringLiteral("46 pt"))->trigger();
    action(desk.settingsMenu(), t("自动识别"))->trigger();
    h.settle();
    EXPECT_EQ(checked(), QStringList({QStringLiteral("46 pt"), t("自动识别")}));
}

TEST(PlayerTransport, FollowsTheFourStatesAndSaysWhileItReconnects)
{
    WidgetHarness h;
    const Station selected = h.find(QStringLiteral("s1"));
    const Station failed = h.find(QStringLiteral("s2"));
    h.store->setSelected(selected);
    PlayerTransport bar(h.store.get());
    StudioButton *play = bar.playButton();
    auto *title = child<FitLabel>(bar, "transportTitle");
    auto *status = child<FitLabel>(bar, "transportStatus");
    auto *buffer = child<QLabel>(bar, "transportBuffer");

    struct Case {
        RadioStore::State state;
        bool captionsOn;
        const char *symbol;
        QString title;
        bool bufferShown;
    } cases[] = {
        {RadioStore::State::Stopped, true, "play.fill", selected.name, false},
        {RadioStore::State::Connecting, true, "stop.fill", failed.name, false},
        {RadioStore::State::Playing, true, "stop.fill", failed.name, true},
        {RadioStore::State::Playing, false, "stop.fill", failed.name, false},
        {RadioStore::State::Failed, true, "play.fill", failed.name, false},
    };
    for (const Case &c : cases) {
        h.store->setCaptionsOn(c.captionsOn);
        h.probe->play(failed, c.state);
        h.probe->setBufferSeconds(13);
        h.settle();
        EXPECT_EQ(play->property("symbol").toString(), QString::fromLatin1(c.symbol));
        EXPECT_EQ(title->text(), c.title);
        EXPECT_EQ(status->text(), h.store->status());
        EXPECT_EQ(buffer->isVisibleTo(&bar), c.bufferShown);
    }
    EXPECT_EQ(buffer->text(), L10n::format(QStringLiteral("· 缓冲 %@ 秒"), {QStringLiteral("13")}));

    // A dropped connection: the reconnect's message stands while the retry
    // connects, the buffering text once the station answers.
    h.store->start(selected, 0, true);
    const size_t streams = h.farm.scripts.size();
    h.farm.last().fail(QStringLiteral("dropped"));
    h.farm.settle();
    h.timers->advance(2);
    h.settle();
    ASSERT_EQ(h.farm.scripts.size(), streams + 1);
    EXPECT_EQ(h.store->state(), RadioStore::State::Connecting);
    EXPECT_EQ(status->text(), QStringLiteral("Reconnecting (attempt 1)…"));
    h.farm.last().answered();
    h.farm.settle();
    h.settle();
    EXPECT_EQ(status->text(), h.store->status());
    EXPECT_FALSE(status->text().startsWith(QStringLiteral("Reconnecting")));
    h.farm.last().playing();
    h.farm.settle();
    h.settle();
    EXPECT_EQ(status->text(), t("正在直播"));
}

TEST(PlayerTransport, SleepCountdownAndVolume)
{
    WidgetHarness h;
    PlayerTransport bar(h.store.get());
    bar.setClock(h.clock);
    bar.resize(640, 60);
    bar.show();
    auto *countdown = child<StudioButton>(bar, "sleepCountdown");
    h.probe->play(h.find(QStringLiteral("s1")));
    h.settle();
    EXPECT_FALSE(countdown->isVisibleTo(&bar));

    h.store->sleep(15);
    h.settle();
    EXPECT_EQ(countdown->text(), QStringLiteral("15:00"));
    h.store->sleep(30);
    h.settle();
    EXPECT_EQ(countdown->text(), QStringLiteral("30:00"));
    EXPECT_TRUE(countdown->isVisibleTo(&bar));
    EXPECT_EQ(countdown->toolTip(),
              L10n::format(QStringLiteral("取消 %@ 的定时"), {Formats::shortTime(*h.store->sleepUntil())}));
    h.store->cancelSleep();
    h.settle();
    EXPECT_FALSE(countdown->isVisibleTo(&bar));
    EXPECT_EQ(h.store->state(), RadioStore::State::Playing);

    for (const auto &[left, shown] : std::vector<std::pair<double, QString>>{
             {899.2, QStringLiteral("15:00")}, {0.01, QStringLiteral("00:01")}, {-4, QStringLiteral("00:00")},
             {3600, QStringLiteral("60:00")}})
        EXPECT_EQ(PlayerTransport::countdownText(left), shown);

    auto *slider = child<QSlider>(bar, "transportVolume");
    auto *speaker = child<QLabel>(bar, "transportSpeaker");
    slider->setValue(slider->minimum());
    h.settle();
    EXPECT_EQ(h.store->volume(), 0.0);
    EXPECT_EQ(speaker->property("symbol").toString(), QStringLiteral("speaker.slash"));
    slider->setValue(slider->minimum() + 1);
    h.settle();
    EXPECT_GT(h.store->volume(), 0.0);
    EXPECT_EQ(speaker->property("symbol").toString(), QStringLiteral("speaker.wave.2"));
    // A click on the track puts the knob there (a quarter of the way along).
    slider->setValue(slider->maximum());
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 4, slider->height() / 2));
    EXPECT_NEAR(h.store->volume(), 0.25, 0.1);
}

// Every control and menu item of the station column, triggered once from a
// fresh store: the store calls and flags it causes, and nothing else.
class UrlCatcher : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl &url) { opened = url.toString(); }

public:
    QString opened;
};

TEST(StationColumn, EachControlDrivesItsOwnStoreCallOrFlag)
{
    std::vector<Station> catalog = testCatalog(3);
    const char *languages[] = {"zh-Hans", "zh-Hant", "en"};
    for (int i = 0; i < 3; ++i) {
        catalog[size_t(i)].language = QString::fromLatin1(languages[i]);
        catalog[size_t(i)].featuredGroup = QStringLiteral("g");
        catalog[size_t(i)].featuredLabel = QStringLiteral("Featured");
    }
    using Act = std::function<void(Column &, WidgetHarness &)>;
    auto click = [](const char *name) -> Act {
        return [name](Column &c, WidgetHarness &) { child<QAbstractButton>(c.widget, name)->click(); };
    };
    auto menuItem = [](std::function<QMenu *(Column &)> menu, QString text) -> Act {
        return [menu, text](Column &c, WidgetHarness &) { action(menu(c), text)->trigger(); };
    };
    auto settingsMenu = [&menuItem](const QString &text) {
        return menuItem([](Column &c) { return c.desk->settingsMenu(); }, text);
    };
    auto sleepMenu = [&menuItem](const QString &text) {
        return menuItem([](Column &c) { return child<QToolButton>(c.widget, "sleepTimerMenu")->menu(); }, text);
    };
    auto sleepFor = [](int minutes) {
        return L10n::format(QStringLiteral("%@ 分钟后停止"), {Formats::wholeNumber(minutes)});
    };
    const Act none = [](Column &, WidgetHarness &) {};
    const Act playing = [](Column &, WidgetHarness &h) { h.store->start(h.find(QStringLiteral("s1")), 0, true); };
    const Act sleeping = [](Column &, WidgetHarness &h) { h.store->sleep(30); };
    const Act captioned = [](Column &, WidgetHarness &h) {
        h.probe->play(h.find(QStringLiteral("s1")));
        h.probe->setSubtitles({caption(QStringLiteral("Fish & chips"), 0)});
        auto *rich = new QMimeData;
        rich->setHtml(QStringLiteral("<b>old</b>"));
        rich->setText(QStringLiteral("old"));
        QGuiApplication::clipboard()->setMimeData(rich);
    };
    auto captionMenu = [](int item) -> Act {
        return [item](Column &c, WidgetHarness &) { c.desk->history()->newestRow()->contextMenu()->actions()[item]->trigger(); };
    };
    auto key = [](Qt::Key k) -> Act {
        return [k](Column &c, WidgetHarness &) { QTest::keyClick(child<QSlider>(c.widget, "transportVolume"), k); };
    };
    // The station link copied, its confirmation showing for as long as `milliseconds`.
    auto shared = [](int milliseconds) -> Act {
        return [milliseconds](Column &c, WidgetHarness &) {
            c.masthead->setShareConfirmationDuration(milliseconds);
            action(c.masthead->stationMenu(), t("分享电台"))->trigger();
            EXPECT_TRUE(waitUntil([] { return QToolTip::isVisible(); }));
        };
    };
    const Act wheelDown = [](Column &c, WidgetHarness &) {
        QSlider *slider = child<QSlider>(c.widget, "transportVolume");
        QWheelEvent notch(QPointF(5, 5), slider->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(slider, &notch);
    };

    struct Row {
        const char *control;
        Act setup;
        Act act;
        QString expected; // the values that changed
    };
    const Row rows[] = {
        {"masthead play", none, click("stationPlay"), QStringLiteral("state=connecting s1")},
        {"masthead stop", playing, click("stationPlay"), QStringLiteral("state=stopped s1")},
        {"masthead star", none, click("favoriteStation"), QStringLiteral("favorites=s1")},
        {"masthead web site", none, menuItem([](Column &c) { return c.masthead->stationMenu(); }, t("台方官网")),
         QStringLiteral("opened=https://example.org/s1")},
        {"masthead share",
         none,
         [&menuItem](Column &c, WidgetHarness &h) {
             menuItem([](Column &c) { return c.masthead->stationMenu(); }, t("分享电台"))(c, h);
             EXPECT_TRUE(waitUntil([] { return QToolTip::isVisible(); }));
         },
         QStringLiteral("clipboard=https://vantuli.app/s1, tooltip=") + t("已复制电台链接")},
        // The confirmation outlives the menu's closing: the window takes the
        // keyboard back from the menu (on X11 some time after the menu has
        // gone), which closes any tooltip then showing.
        {"masthead share by pointer", none,
         [](Column &c, WidgetHarness &) {
             child<QAbstractButton>(c.widget, "stationMenu")->click();
             QMenu *menu = c.masthead->stationMenu();
             ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
             QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action(menu, t("分享电台"))).center());
             ASSERT_TRUE(waitUntil([menu] { return !menu->isVisible(); }));
             WidgetHarness::settle();
             QFocusEvent focusBack(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
             QCoreApplication::sendEvent(c.widget.windowHandle(), &focusBack);
             EXPECT_TRUE(waitUntil([] { return QToolTip::isVisible(); }));
         },
         QStringLiteral("clipboard=https://vantuli.app/s1, tooltip=") + t("已复制电台链接")},
        // It speaks of the station it copied, and only for a moment.
        {"masthead share, another station", shared(60000),
         [](Column &, WidgetHarness &h) {
             h.store->setSelected(h.find(QStringLiteral("s2")));
             EXPECT_TRUE(waitUntil([] { return !QToolTip::isVisible(); }, std::chrono::seconds(5))); // it fades
         },
         QStringLiteral("tooltip=")},
        {"masthead share, a moment later", shared(1500),
         [](Column &, WidgetHarness &) {
             EXPECT_TRUE(waitUntil([] { return !QToolTip::isVisible(); }, std::chrono::seconds(5)));
         },
         QStringLiteral("tooltip=")},
        {"captions switch", none, click("captionSwitch"), QStringLiteral("captions=false")},
        {"size 18", none, settingsMenu(QStringLiteral("18 pt")), QStringLiteral("size=18")},
        {"size 23", none, settingsMenu(QStringLiteral("23 pt")), QStringLiteral("size=23")},
        {"size 28", none, settingsMenu(QStringLiteral("28 pt")), QStringLiteral("size=28")},
        {"size 38", none, settingsMenu(QStringLiteral("38 pt")), QStringLiteral("size=38")},
        {"size 46", none, settingsMenu(QStringLiteral("46 pt")), QStringLiteral("size=46")},
        {"language station", [](Column &, WidgetHarness &h) { h.store->setLanguage(QStringLiteral("auto")); },
         settingsMenu(t("跟随电台")), QStringLiteral("language=station")},
        {"language zh-Hans", none, settingsMenu(QStringLiteral("Chinese (Simplified)")), QStringLiteral("language=zh-Hans")},
        {"language zh-Hant", none, settingsMenu(QStringLiteral("Chinese (Traditional)")), QStringLiteral("language=zh-Hant")},
        {"language en", none, settingsMenu(QStringLiteral("English")), QStringLiteral("language=en")},
        {"language de", none, settingsMenu(QStringLiteral("German")), QStringLiteral("language=de")},
        {"language auto", none, settingsMenu(t("自动识别")), QStringLiteral("language=auto")},
        {"caption click", captioned, [](Column &c, WidgetHarness &) { c.desk->history()->newestRow()->click(); },
         QStringLiteral("panel=Fish & chips")},
        {"caption translate", captioned, captionMenu(0), QStringLiteral("panel=Fish & chips")},
        {"caption copy", captioned, captionMenu(1), QStringLiteral("clipboard=Fish & chips")},
        {"transport play", none, [](Column &c, WidgetHarness &) { c.transport->playButton()->click(); },
         QStringLiteral("state=connecting s1")},
        {"transport stop", playing, [](Column &c, WidgetHarness &) { c.transport->playButton()->click(); },
         QStringLiteral("state=stopped s1")},
        {"volume right arrow", none, key(Qt::Key_Right), QStringLiteral("volume=0.70")},
        {"volume page down", none, key(Qt::Key_PageDown), QStringLiteral("volume=0.45")},
        {"volume wheel notch down", none, wheelDown, QStringLiteral("volume=0.60")},
        {"sleep 15", none, sleepMenu(sleepFor(15)), QStringLiteral("sleep=15")},
        {"sleep 30", none, sleepMenu(sleepFor(30)), QStringLiteral("sleep=30")},
        {"sleep 60", none, sleepMenu(sleepFor(60)), QStringLiteral("sleep=60")},
        {"sleep menu cancel", sleeping, [](Column &c, WidgetHarness &h) {
             action(child<QToolButton>(c.widget, "sleepTimerMenu")->menu(),
                    L10n::format(QStringLiteral("取消 %@ 的定时"), {Formats::shortTime(*h.store->sleepUntil())}))
                 ->trigger();
         },
         QStringLiteral("sleep=none")},
        {"countdown", sleeping, click("sleepCountdown"), QStringLiteral("sleep=none")},
    };

    UrlCatcher urls;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &urls, "open");
    for (const Row &row : rows) {
        WidgetHarness h(catalog);
        Column column(h);
        QString panel; // the text the translation panel opens on
        QObject::connect(h.store.get(), &RadioStore::translatingChanged, &column.widget, [&] {
            if (h.store->translating())
                panel = h.store->translationText();
        });
        auto values = [&] {
            const std::optional<Date> until = h.store->sleepUntil();
            const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
            QStringList favourites(h.store->favorites().begin(), h.store->favorites().end());
            return std::vector<std::pair<QString, QString>>{
                {QStringLiteral("state"), QString::fromLatin1(h.store->state() == RadioStore::State::Stopped ? "stopped"
                                          : h.store->state() == RadioStore::State::Connecting ? "connecting" : "other")
                                          + QLatin1Char(' ') + (h.store->current() ? h.store->current()->id : QString())},
                {QStringLiteral("favorites"), favourites.join(QLatin1Char(' '))},
                {QStringLiteral("opened"), urls.opened},
                {QStringLiteral("clipboard"), clip->text() + QLatin1String(clip->hasHtml() ? " (rich)" : "")},
                {QStringLiteral("captions"), QVariant(h.store->captionsOn()).toString()},
                {QStringLiteral("size"), QString::number(h.settings->number(QStringLiteral("subtitleSize")).value_or(0))},
                {QStringLiteral("language"), h.store->language()},
                {QStringLiteral("panel"), panel},
                {QStringLiteral("volume"), QString::number(h.store->volume(), 'f', 2)},
                {QStringLiteral("sleep"), until ? QString::number(std::lround((until->secondsSince1970
                                                                               - h.clock->now().secondsSince1970) / 60))
                                                : QStringLiteral("none")},
                {QStringLiteral("tooltip"), QToolTip::isVisible() ? QToolTip::text() : QString()},
            };
        };
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QToolTip::hideText();
        urls.opened.clear();
        row.setup(column, h);
        h.settle();
        const auto before = values();
        row.act(column, h);
        h.settle();
        const auto after = values();
        QStringList changed;
        for (size_t i = 0; i < after.size(); ++i)
            if (after[i] != before[i])
                changed << after[i].first + QLatin1Char('=') + after[i].second;
        EXPECT_EQ(changed.join(QStringLiteral(", ")), row.expected) << row.control;
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

#include "StationColumnTests.moc"
