// The station column: masthead, caption desk and transport over a real store,
// driven through the store probe and by clicks.

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
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>

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

std::vector<Caption> captions(int count, const QString &prefix = QStringLiteral("Line"))
{
    std::vector<Caption> list;
    for (int i = 0; i < count; ++i)
        list.push_back(caption(QStringLiteral("%1 %2").arg(prefix).arg(i), i));
    return list;
}

} // namespace

TEST(StationMasthead, PlayButtonFollowsTheRunAndTogglesTheHeadersStation)
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

    // A click starts the header's station over another run, a second stops it.
    h.probe->setFailures({});
    h.probe->play(other);
    h.settle();
    play->click();
    ASSERT_TRUE(h.store->current());
    EXPECT_EQ(h.store->current()->id, shown.id);
    EXPECT_EQ(h.store->state(), RadioStore::State::Connecting);
    h.settle();
    EXPECT_EQ(play->text(), t("停止播放"));
    play->click();
    EXPECT_EQ(h.store->state(), RadioStore::State::Stopped);

    auto *star = child<StudioButton>(masthead, "favoriteStation");
    star->click();
    h.settle();
    EXPECT_TRUE(h.store->favorites().contains(shown.id));
    EXPECT_EQ(star->property("symbol").toString(), QStringLiteral("star.fill"));
    EXPECT_EQ(star->accessibleName(), t("取消收藏"));
}

TEST(StationMasthead, MenuOffersOnlyHttpSitesAndShareOnlyCopiesText)
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

    // Share copies the ftp address as text, replacing the clipboard.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    for (QAction *action : masthead.stationMenu()->actions())
        if (action->text() == t("分享电台"))
            action->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("ftp://files.example.org/radio"));

    h.store->setSelected(h.find(QStringLiteral("s2")));
    h.settle();
    items = actionTexts(masthead.stationMenu());
    EXPECT_TRUE(items.contains(t("台方官网")));
    EXPECT_TRUE(items.contains(L10n::format(QStringLiteral("音源验证 · %@"), {QStringLiteral("2025-03-04")})));
    EXPECT_EQ(StationMasthead::shareLink(*h.store->selected()), QStringLiteral("https://vantuli.app/station/s2"));
    // No frequency: the region's name; no language: the name for "not stated".
    EXPECT_EQ(child<QLabel>(masthead, "stationKicker")->text(), Formats::regionName(catalog[1].country));
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

TEST(StationMasthead, LongNameShrinksToTwoLinesNoSmallerThanTwoThirds)
{
    std::vector<Station> catalog = testCatalog(1);
    catalog[0].name = QStringLiteral("Radio Nacional de las Comunidades del Altiplano y los Valles Interandinos Internacional");
    WidgetHarness h(catalog);
    h.store->setSelected(h.find(QStringLiteral("s1")));
    StationMasthead masthead(h.store.get());
    masthead.resize(520, 220);
    masthead.show();
    h.settle();
    auto *name = child<FitLabel>(masthead, "stationName");
    EXPECT_LE(name->fittedLineCount(), 2);
    EXPECT_GE(name->fittedPixelSize(), int(std::ceil(36 * 0.67)));
    EXPECT_LT(name->fittedPixelSize(), 36);
}

TEST(CaptionDesk, EmptyTextFollowsItsPrecedence)
{
    WidgetHarness h;
    CaptionDesk desk(h.store.get(), h.settings);
    desk.resize(480, 600);
    desk.show();
    const Station plain = h.find(QStringLiteral("s1"));
    Station bengali = plain;
    bengali.id = QStringLiteral("bn");
    bengali.language = QStringLiteral("bn");
    auto *toggle = child(desk, "captionSwitch");
    auto *text = child<QLabel>(desk, "captionEmptyText");
    auto *failure = child<QLabel>(desk, "captionFailureText");

    struct Case {
        Station station;
        RadioStore::State state;
        bool captionsOn;
        std::optional<QString> notice;
        QString expected;
        bool failureShown;
    } cases[] = {
        {bengali, RadioStore::State::Failed, true, std::nullopt, t("孟加拉语电台目前仅提供收听。"), true},
        {plain, RadioStore::State::Failed, false, std::nullopt, t("同步字幕已关闭。"), true},
        {plain, RadioStore::State::Failed, true, QStringLiteral("本机字幕模型载入失败。"), t("直播连接已中断。"), true},
        {plain, RadioStore::State::Playing, true, QStringLiteral("本机字幕模型载入失败。"), t("本机字幕模型载入失败。"), false},
        {plain, RadioStore::State::Stopped, true, std::nullopt, t("开播后，在这里读字幕。"), false},
        {plain, RadioStore::State::Connecting, true, std::nullopt, t("等待下一句播音…"), false},
    };
    h.probe->setPlaybackMessage(DisplayMessage::verbatim(QStringLiteral("Host unreachable")));
    for (const Case &c : cases) {
        h.store->setSelected(c.station);
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
    EXPECT_FALSE(h.store->captionsOn());
    EXPECT_TRUE(text->isVisibleTo(&desk));
    EXPECT_EQ(text->text(), t("同步字幕已关闭。"));
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
}

TEST(CaptionDesk, CaptionActionsTranslateInOrderAndReplaceTheClipboard)
{
    WidgetHarness h;
    CaptionDesk desk(h.store.get(), h.settings);
    desk.resize(500, 400);
    h.probe->play(h.find(QStringLiteral("s1")));
    h.probe->setSubtitles({caption(QStringLiteral("Fish & chips at noon"), 0)});
    h.settle();
    CaptionRow *row = desk.history()->newestRow();
    ASSERT_NE(row, nullptr);

    QStringList seen;
    QObject::connect(h.store.get(), &RadioStore::translatingChanged, &desk, [&] {
        seen << QStringLiteral("translating:") + h.store->translationText();
    });
    QObject::connect(h.store.get(), &RadioStore::translationTextChanged, &desk, [&] { seen << QStringLiteral("text"); });
    row->click();
    EXPECT_EQ(seen, QStringList({QStringLiteral("text"), QStringLiteral("translating:Fish & chips at noon")}));
    EXPECT_TRUE(h.store->translating());

    auto *rich = new QMimeData;
    rich->setHtml(QStringLiteral("<b>old</b>"));
    rich->setText(QStringLiteral("old"));
    QGuiApplication::clipboard()->setMimeData(rich);
    std::unique_ptr<QMenu> menu = row->contextMenu();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), t("翻译此句"));
    menu->actions()[1]->trigger();
    const QMimeData *now = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(now->text(), QStringLiteral("Fish & chips at noon"));
    EXPECT_FALSE(now->hasHtml());
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

    WidgetHarness h;
    h.store->setLanguage(QStringLiteral("xx-unknown"));
    CaptionDesk desk(h.store.get(), h.settings);
    h.settle();
    auto checked = [&desk] {
        QStringList texts;
        for (QAction *action : desk.settingsMenu()->actions())
            if (action->isChecked())
                texts << action->text();
        return texts;
    };
    EXPECT_EQ(checked(), QStringList{QStringLiteral("32 pt")}); // the unknown language checks nothing
    for (QAction *action : desk.settingsMenu()->actions()) {
        if (action->text() == QStringLiteral("46 pt"))
            action->trigger();
    }
    h.settle();
    EXPECT_EQ(h.settings->number(QStringLiteral("subtitleSize")), 46.0);
    for (QAction *action : desk.settingsMenu()->actions()) {
        if (action->text() == t("自动识别"))
            action->trigger();
    }
    h.settle();
    EXPECT_EQ(h.store->language(), QStringLiteral("auto"));
    EXPECT_EQ(checked(), QStringList({QStringLiteral("46 pt"), t("自动识别")}));
}

TEST(PlayerTransport, FollowsTheFourStatesAndRestartsTheFailedStation)
{
    WidgetHarness h;
    const Station selected = h.find(QStringLiteral("s1"));
    const Station failed = h.find(QStringLiteral("s2"));
    h.store->setSelected(selected);
    PlayerTransport bar(h.store.get());
    StudioButton *play = bar.playButton();
    auto *title = child<FitLabel>(bar, "transportTitle");
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
        EXPECT_EQ(child<FitLabel>(bar, "transportStatus")->text(), h.store->status());
        EXPECT_EQ(buffer->isVisibleTo(&bar), c.bufferShown);
    }
    EXPECT_EQ(buffer->text(), L10n::format(QStringLiteral("· 缓冲 %@ 秒"), {QStringLiteral("13")}));

    // Failed: the button starts the station that failed, not the selection.
    play->click();
    ASSERT_TRUE(h.store->current());
    EXPECT_EQ(h.store->current()->id, failed.id);
    EXPECT_EQ(h.store->state(), RadioStore::State::Connecting);
    h.settle();
    play->click();
    EXPECT_EQ(h.store->state(), RadioStore::State::Stopped);
}

TEST(PlayerTransport, SleepCountdownAndVolume)
{
    WidgetHarness h;
    PlayerTransport bar(h.store.get());
    bar.setClock(h.clock);
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
    EXPECT_EQ(child<QToolButton>(bar, "sleepTimerMenu")->menu()->actions().size(), 4);

    countdown->click();
    h.settle();
    EXPECT_FALSE(h.store->sleepUntil());
    EXPECT_FALSE(countdown->isVisibleTo(&bar));
    EXPECT_EQ(h.store->state(), RadioStore::State::Playing);
    EXPECT_EQ(child<QToolButton>(bar, "sleepTimerMenu")->menu()->actions().size(), 3);

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
}
