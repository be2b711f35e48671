#include "OverlayTestSupport.h"

#include "overlay/FloatingCaptionCanvas.h"
#include "overlay/FloatingCaptions.h"
#include "overlay/OverlayPlatform.h"
#include "support/WidgetHarness.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QMenu>
#include <QRawFont>
#include <QTextLayout>
#include <QWindow>

#include <gtest/gtest.h>

namespace vantuli::test {
namespace {

// Two screens side by side; the left one is primary and loses 40 px to a panel.
const QRect left(0, 0, 1920, 1040);
const QRect right(1920, 0, 1280, 1024);

class FloatingCaptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        screens = std::make_shared<FakeScreens>();
        screens->set({left, right});
        platform = std::make_shared<NullOverlayPlatform>();
    }

    FloatingCaptions &make()
    {
        overlay = std::make_unique<FloatingCaptions>(h.settings, screens, platform);
        return *overlay;
    }

    // The overlay on, showing `captions`, at `position`.
    FloatingCaptions &showing(std::vector<Caption> captions, double position = 0)
    {
        FloatingCaptions &o = overlay ? *overlay : make();
        h.probe->setPosition(position);
        h.probe->setSubtitles(std::move(captions));
        o.show(h.store.get(), [this](const QString &text) { translated << text; });
        return o;
    }

    std::optional<QRect> savedFrame() const
    {
        auto text = h.settings->string(QString::fromLatin1(FloatingCaptions::frameKey));
        return text ? FloatingCaptions::parseFrame(*text) : std::nullopt;
    }
    void saveFrame(const QRect &frame)
    {
        h.settings->setValue(QString::fromLatin1(FloatingCaptions::frameKey), FloatingCaptions::frameString(frame));
    }

    WidgetHarness h;
    std::shared_ptr<FakeScreens> screens;
    std::shared_ptr<NullOverlayPlatform> platform;
    std::unique_ptr<FloatingCaptions> overlay;
    QStringList translated;
};

TEST_F(FloatingCaptionsTest, SwitchesOnOnceAndOffWithTheCaptionsSwitch)
{
    FloatingCaptions &o = showing({caption(QStringLiteral("one"), 0)});
    o.show(h.store.get(), {});
    EXPECT_TRUE(o.enabled());
    EXPECT_TRUE(o.timerRunning());
    EXPECT_TRUE(o.panel()->isVisible());

    h.store->setCaptionsOn(false);
    EXPECT_FALSE(o.enabled());
    EXPECT_FALSE(o.timerRunning());
    EXPECT_FALSE(o.panel()->isVisible());
    EXPECT_FALSE(o.cue());
    // Off: new captions reach nothing, a second hide is harmless, and a
    // refused show (captions off) changes nothing.
    h.probe->setSubtitles({caption(QStringLiteral("two"), 0)});
    o.hide();
    o.show(h.store.get(), {});
    EXPECT_FALSE(o.enabled());
    EXPECT_FALSE(o.panel()->isVisible());

    // Captions deferred for the selected station's language: refused too.
    h.store->setCaptionsOn(true);
    h.store->setSelected(station(QStringLiteral("bn"), QStringLiteral("bn-IN")));
    ASSERT_TRUE(h.store->captionsDeferred());
    o.show(h.store.get(), {});
    EXPECT_FALSE(o.enabled());
}

TEST_F(FloatingCaptionsTest, ShowsACaptionUntilTwoSecondsAfterItsEnd)
{
    const Caption cue = caption(QStringLiteral("live\nfrom\nthe studio"), 10, 2); // ends at 12
    FloatingCaptionStyle style;
    style.lines = 1;
    make().update(style);
    FloatingCaptions &o = showing({cue}, 9); // before its start: shown already
    EXPECT_TRUE(o.panel()->isVisible());
    EXPECT_EQ(o.canvas()->page(), 0);

    // The presentation timer pages the caption with the position and hides
    // it once the position is more than 2 s past its end.
    h.probe->setPosition(11);
    EXPECT_TRUE(eventually([&] { return o.canvas()->page() == 1; }));
    h.probe->setPosition(14.0);
    o.updatePresentation();
    EXPECT_TRUE(o.panel()->isVisible());
    EXPECT_EQ(o.canvas()->page(), 2);
    h.probe->setPosition(14.001);
    EXPECT_TRUE(eventually([&] { return !o.panel()->isVisible(); }));
    EXPECT_TRUE(o.timerRunning());

    // The same caption again stays hidden; a new one shows; an empty list hides.
    h.probe->setSubtitles({cue});
    o.updatePresentation();
    EXPECT_FALSE(o.panel()->isVisible());
    h.probe->setSubtitles({cue, caption(QStringLiteral("next"), 14)});
    EXPECT_TRUE(o.panel()->isVisible());
    h.probe->setSubtitles({});
    EXPECT_FALSE(o.panel()->isVisible());
    EXPECT_FALSE(o.cue());
}

TEST_F(FloatingCaptionsTest, CjkCaptionsTakeTheFormsOfTheirLanguageInEveryFace)
{
    // Han characters alone: only the caption's language tells the forms apart.
    const QString han = QStringLiteral("直角骨");
    const struct {
        const char *station; // the captioned station's language
        const char *chosen;  // the recognition language of the caption menu
        const char *forms;
    } rows[] = {
        {"ja", "station", "JP"},      {"ko", "station", "KR"}, {"zh-Hans", "station", "SC"},
        {"zh-Hant", "station", "TC"}, {"zh-Hant", "ja", "JP"}, {"ko", "zh-Hant", "TC"},
    };
    for (const auto &row : rows) {
        for (CaptionTypeface face : allCaptionTypefaces) {
            const QString expected = QString::fromLatin1(face == CaptionTypeface::Serif ? "Noto Serif CJK "
                                                         : face == CaptionTypeface::Mono ? "Noto Sans Mono CJK "
                                                                                         : "Noto Sans CJK ") +
                                     QString::fromLatin1(row.forms);
            if (!QFontDatabase::hasFamily(expected))
                GTEST_SKIP() << expected.toStdString() << " is not installed";
            h.store->setLanguage(QString::fromLatin1(row.chosen));
            h.probe->setCurrent(station(QString::fromLatin1(row.station) + QLatin1Char('-') + QString::fromLatin1(row.chosen), QString::fromLatin1(row.station)));
            overlay.reset();
            FloatingCaptionStyle style;
            style.face = face;
            make().update(style);
            FloatingCaptions &o = showing({caption(han, 0)});
            QTextLayout layout(han, o.canvas()->layoutFont());
            layout.beginLayout();
            layout.createLine().setLineWidth(2000);
            layout.endLayout();
            const QList<QGlyphRun> runs = layout.lineAt(0).glyphRuns();
            ASSERT_FALSE(runs.isEmpty());
            EXPECT_EQ(runs.front().rawFont().familyName(), expected)
                << row.station << " " << row.chosen << " " << rawValue(face).toStdString();
        }
    }
}

TEST_F(FloatingCaptionsTest, PlacesThePanelAndKeepsItsNearerEdges)
{
    FloatingCaptions &o = showing({caption(QStringLiteral("one"), 0)});
    const QRect first = o.panel()->geometry();
    EXPECT_EQ(first.width(), 560);
    EXPECT_EQ(first.x() + first.width(), left.width() - 20);
    EXPECT_EQ(first.y() + first.height(), left.height() - 20);
    EXPECT_EQ(savedFrame(), first);

    // Width 780 -> 360 in the right half keeps the right edge; a lower-left
    // panel that widens keeps its left and bottom edges.
    auto resized = [&](const QRect &saved, int from, int to) {
        FloatingCaptionStyle style = o.style();
        style.width = from;
        saveFrame(saved);
        o.update(style);
        const QRect before = o.panel()->geometry();
        style.width = to;
        o.update(style);
        EXPECT_EQ(savedFrame(), o.panel()->geometry());
        return std::pair(before, o.panel()->geometry());
    };
    auto [r1, r2] = resized(QRect(1100, 40, 780, 92), 780, 360);
    EXPECT_EQ(r2.width(), 360);
    EXPECT_EQ(r2.x() + r2.width(), r1.x() + r1.width());
    EXPECT_EQ(r2.y(), r1.y());
    auto [l1, l2] = resized(QRect(100, 900, 360, 92), 360, 780);
    EXPECT_EQ(l2.width(), 780);
    EXPECT_EQ(l2.x(), l1.x());
    EXPECT_EQ(l2.y() + l2.height(), l1.y() + l1.height());

    const QRect area(0, 0, 1000, 800); // centre (500, 400)
    const struct {
        const char *name;
        std::optional<QRect> saved;
        QSize size;
        std::optional<CaptionCorner> corner;
        QRect expected;
    } cases[] = {
        {"upper left grows down and right", QRect(100, 100, 200, 100), {300, 150}, {}, {100, 100, 300, 150}},
        {"lower right grows up and left", QRect(700, 600, 200, 100), {300, 150}, {}, {600, 550, 300, 150}},
        {"centre counts as right and upper", QRect(400, 350, 200, 100), {300, 150}, {}, {300, 350, 300, 150}},
        {"kept inside the area", QRect(900, 10, 200, 100), {300, 150}, {}, {700, 10, 300, 150}},
        {"taller than the area: on its bottom", QRect(0, 0, 200, 100), {300, 900}, {}, {0, -100, 300, 900}},
        {"outside the area: bottom right", QRect(2000, 0, 200, 100), {300, 150}, {}, {680, 630, 300, 150}},
        {"a corner wins over the saved frame", QRect(100, 100, 200, 100), {300, 150}, CaptionCorner::TopRight,
         {680, 20, 300, 150}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FloatingCaptions::place(c.saved, area, c.size, c.corner), c.expected) << c.name;
}

TEST_F(FloatingCaptionsTest, FollowsItsFrameAcrossScreens)
{
    showing({caption(QStringLiteral("one"), 0)});
    struct Case {
        const char *name;
        std::optional<QRect> saved;
        std::vector<QRect> screens;
        QRect expectedArea;
    };
    const Case cases[] = {
        {"more on the right screen", QRect(1800, 500, 400, 100), {left, right}, right},
        {"more on the left screen", QRect(1700, 500, 400, 100), {left, right}, left},
        {"equal parts: the first listed", QRect(1720, 500, 400, 100), {left, right}, left},
        {"its screen unplugged", QRect(2500, 500, 400, 100), {left}, left},
        {"unreadable frame", std::nullopt, {left, right}, left},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.saved)
            saveFrame(*c.saved);
        else
            h.settings->setValue(QString::fromLatin1(FloatingCaptions::frameKey), QStringLiteral("{{nan, 1}, {0, 0}}"));
        screens->set(c.screens); // a change of screens places the panel again
        const QRect frame = overlay->panel()->geometry();
        EXPECT_TRUE(c.expectedArea.contains(frame)) << frame.x() << "," << frame.y();
        const bool onItsScreen = c.saved && c.saved->intersects(c.expectedArea);
        if (!onItsScreen) { // back in the primary screen's bottom-right corner
            EXPECT_EQ(frame.topLeft(), cornerOrigin(CaptionCorner::BottomRight, frame.size(), left));
        }
    }
}

TEST_F(FloatingCaptionsTest, ShapesThePanelToItsPixelsWithoutTranslucency)
{
    platform->setTranslucent(false);
    FloatingCaptions &o = showing({caption(QStringLiteral("字幕 Caption\nsecond page"), 0, 2)});
    auto shape = [&] { return platform->shaped.value_or(QRegion()); };
    const QRect all(QPoint(0, 0), o.panel()->size());
    const QPoint beside(3, all.height() / 2);
    // The glyphs and their shadow, inside the panel, not the clear margin.
    const QRegion first = shape();
    ASSERT_TRUE(platform->shaped);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_TRUE(all.contains(first.boundingRect()));
    EXPECT_FALSE(first.contains(beside));

    // Each page and each style has its own shape: a backing is shaped whole.
    FloatingCaptionStyle style = o.style();
    style.lines = 1;
    o.update(style);
    const QRegion one = shape();
    h.probe->setPosition(1.5);
    EXPECT_TRUE(eventually([&] { return o.canvas()->page() == 1; }));
    EXPECT_NE(shape(), one);
    style.opacity = 25;
    o.update(style);
    EXPECT_TRUE(shape().contains(QPoint(3, o.panel()->height() / 2)));

    // A compositing manager arrives: translucent pixels, no shape; it leaves: shaped again.
    platform->setTranslucent(true);
    EXPECT_FALSE(platform->shaped);
    platform->setTranslucent(false);
    EXPECT_TRUE(platform->shaped);
}

TEST_F(FloatingCaptionsTest, SavesTheUsersMovesOnly)
{
    FloatingCaptions &o = showing({caption(QStringLiteral("one"), 0)});
    QApplication::processEvents();
    const QRect placed = o.panel()->geometry();
    ASSERT_EQ(savedFrame(), placed);

    // A drag: the window system moves the panel.
    o.panel()->move(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(savedFrame(), QRect(QPoint(300, 200), placed.size()));

    // A corner command moves it itself and saves that frame, which a later
    // caption keeps.
    o.refresh(CaptionCorner::TopLeft);
    QApplication::processEvents();
    const QRect corner = o.panel()->geometry();
    EXPECT_EQ(corner.topLeft(), QPoint(20, 20));
    EXPECT_EQ(savedFrame(), corner);
    h.probe->setSubtitles({caption(QStringLiteral("two"), 0)});
    EXPECT_EQ(o.panel()->geometry(), corner);

    // Moves while the overlay is off are not the user's placing.
    o.hide();
    o.panel()->move(700, 700);
    QApplication::processEvents();
    EXPECT_EQ(savedFrame(), corner);
}

// The entry titled with the localised `key` (plus `suffix`).
QAction *entry(QMenu *menu, const char *key, const QString &suffix = {})
{
    const QString title = L10n::shared().text(QString::fromUtf8(key)) + suffix;
    for (QAction *action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

TEST_F(FloatingCaptionsTest, MenuChangesTheStyleAndActsOnTheCaption)
{
    FloatingCaptions &o = make();
    o.show(h.store.get(), [this](const QString &text) { translated << text; });
    {
        std::unique_ptr<QMenu> menu(o.makeMenu());
        int separators = 0;
        for (QAction *action : menu->actions())
            separators += action->isSeparator();
        EXPECT_EQ(separators, 2); // no caption: no copy and translate
        EXPECT_EQ(entry(menu.get(), "复制此句"), nullptr);
    }

    h.probe->setSubtitles({caption(QStringLiteral("你好，世界"), 0)});
    std::unique_ptr<QMenu> menu(o.makeMenu());
    // A list that holds one value is a choice of one (radio marks), the
    // value marked; click-through stays a check box.
    for (const char *list : {"字体", "字号", "文字颜色", "显示行数", "背景不透明度", "浮窗宽度"}) {
        const QList<QAction *> options = entry(menu.get(), list)->menu()->actions();
        EXPECT_EQ(std::count_if(options.begin(), options.end(), [](QAction *a) { return a->isChecked(); }), 1) << list;
        for (QAction *option : options)
            EXPECT_TRUE(option->actionGroup() && option->actionGroup()->isExclusive()) << list;
    }
    EXPECT_TRUE(entry(menu.get(), "鼠标穿透")->isCheckable());
    EXPECT_FALSE(entry(menu.get(), "鼠标穿透")->actionGroup());
    // The checked size chosen again still saves the style.
    h.settings->remove(QString::fromLatin1(FloatingCaptionStyle::settingsKey));
    QAction *checked = entry(entry(menu.get(), "字号")->menu(), "26 pt");
    ASSERT_NE(checked, nullptr);
    EXPECT_TRUE(checked->isChecked());
    checked->trigger();
    EXPECT_EQ(h.settings->data(QString::fromLatin1(FloatingCaptionStyle::settingsKey)),
              FloatingCaptionStyle().encoded());

    QAction *four = entry(entry(menu.get(), "显示行数")->menu(), "", L10n::format(QStringLiteral("%@ 行"), {QStringLiteral("4")}));
    ASSERT_NE(four, nullptr);
    four->trigger();
    EXPECT_EQ(o.style().lines, 4);
    EXPECT_EQ(o.panel()->height(), o.canvas()->height());

    entry(menu.get(), "鼠标穿透")->trigger();
    EXPECT_TRUE(o.style().clickThrough);
    EXPECT_TRUE(o.panel()->windowFlags() & Qt::WindowTransparentForInput);

    entry(menu.get(), "复制此句")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("你好，世界"));
    entry(menu.get(), "翻译此句", QStringLiteral("…"))->trigger();
    EXPECT_EQ(translated, QStringList{QStringLiteral("你好，世界")});
    entry(menu.get(), "关闭字幕浮窗")->trigger();
    EXPECT_FALSE(o.enabled());

    // A new controller reads the saved style back.
    FloatingCaptions again(h.settings, screens, platform);
    EXPECT_EQ(again.style(), o.style());
}

TEST(FloatingCaptionStyleTest, ReadsOnlyCompleteSensibleStyles)
{
    WidgetHarness h;
    const FloatingCaptionStyle standard;
    EXPECT_EQ(FloatingCaptionStyle::decode(standard.encoded()), standard);
    EXPECT_EQ(FloatingCaptionStyle::decode(
                  R"({"face":"系统字体","size":26,"ink":"白色","lines":2,"opacity":0,"width":560,"clickThrough":false})"),
              standard);
    FloatingCaptionStyle custom{CaptionTypeface::Serif, 40, CaptionInk::Black, 4, 75, 780, true};
    EXPECT_EQ(FloatingCaptionStyle::decode(custom.encoded()), custom);

    // One field replaced by a value that cannot be drawn or is not of its kind.
    const struct {
        const char *key;
        const char *value;
    } unreadable[] = {
        {"size", "26.5"}, {"size", "11"},      {"size", "97"},      {"size", "1e400"},  {"size", "\"26\""},
        {"lines", "0"},   {"lines", "11"},     {"lines", "2000"},   {"opacity", "-1"},  {"opacity", "101"},
        {"width", "119"}, {"width", "781"},    {"width", "-360"},   {"face", "\"Helvetica\""},
        {"ink", "\"red\""}, {"clickThrough", "0"}, {"clickThrough", nullptr},
    };
    for (const auto &c : unreadable) {
        QByteArray json = "{";
        for (auto [key, value] : {std::pair{"face", "\"系统字体\""}, {"size", "26"}, {"ink", "\"白色\""}, {"lines", "2"},
                                  {"opacity", "0"}, {"width", "560"}, {"clickThrough", "false"}}) {
            if (qstrcmp(key, c.key) == 0)
                value = c.value;
            if (value)
                json += QByteArray(json.size() > 1 ? "," : "") + '"' + key + "\":" + value;
        }
        json += "}";
        EXPECT_FALSE(FloatingCaptionStyle::decode(json)) << json.constData();
    }
    EXPECT_FALSE(FloatingCaptionStyle::decode("not json"));
    // The bounds themselves are readable; so is a width up to the widest screen.
    const FloatingCaptionStyle smallest{CaptionTypeface::Mono, 12, CaptionInk::Mint, 1, 0, 120, false};
    const FloatingCaptionStyle largest{CaptionTypeface::Rounded, 96, CaptionInk::Yellow, 10, 100, 1920, false};
    EXPECT_EQ(FloatingCaptionStyle::decode(smallest.encoded()), smallest);
    EXPECT_FALSE(FloatingCaptionStyle::decode(largest.encoded()));
    EXPECT_EQ(FloatingCaptionStyle::decode(largest.encoded(), 1920), largest);

    // The controller falls back to the default for an unreadable stored
    // style, and reads widths up to its widest screen.
    auto settings = std::make_shared<MemorySettingsStore>();
    auto screens = std::make_shared<FakeScreens>();
    screens->set({QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)});
    for (const auto &[stored, expected] : {std::pair(QByteArray("{\"lines\":2000}"), standard),
                                           std::pair(largest.encoded(), largest)}) {
        settings->setValue(QString::fromLatin1(FloatingCaptionStyle::settingsKey), stored);
        FloatingCaptions overlay(settings, screens, std::make_shared<NullOverlayPlatform>());
        EXPECT_EQ(overlay.style(), expected);
    }

    // Frames: only a readable, finite rectangle with an area.
    EXPECT_EQ(FloatingCaptions::parseFrame(QStringLiteral("{{10, -20}, {300, 90}}")), QRect(10, -20, 300, 90));
    EXPECT_EQ(FloatingCaptions::parseFrame(FloatingCaptions::frameString(QRect(1, 2, 3, 4))), QRect(1, 2, 3, 4));
    for (const char *frame : {"", "{{1, 2}, {3}}", "{{inf, 0}, {10, 10}}", "{{0, 0}, {0, 90}}", "{{0, 0}, {300, -1}}",
                              "10 20 300 90"})
        EXPECT_FALSE(FloatingCaptions::parseFrame(QString::fromLatin1(frame))) << frame;
}

} // namespace
} // namespace vantuli::test
