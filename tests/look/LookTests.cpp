#include "support/PrivateSessionBus.h"
#include "support/WidgetHarness.h"

#include "look/BroadcastIndicator.h"
#include "look/FocusRing.h"
#include "look/Labels.h"
#include "look/Refresher.h"
#include "look/SheetBinder.h"
#include "look/Studio.h"
#include "look/StudioButton.h"
#include "look/TextStyles.h"
#include "look/ToggleSwitch.h"
#include "records/Formats.h"
#include "records/L10n.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSlider>
#include <QToolButton>
#include <QToolTip>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace vantuli::test {
namespace {

TEST(StudioButton, PressDimsAlwaysAndShrinksOnlyWithMotionAndTakesClicksOnItsWholeRectangle)
{
    for (const bool reduced : {false, true}) {
        Appearance::shared().setReduceMotionForTesting(reduced);
        StudioButton button(Studio::mist(), Qt::transparent, 7);
        button.setText(QStringLiteral("x"));
        button.resize(120, 40);
        button.show();
        int clicks = 0;
        QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });
        // A clear button reacts in its corners, far from the glyph.
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(117, 37));
        EXPECT_EQ(clicks, 2);

        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(60, 20));
        if (reduced) {
            EXPECT_EQ(button.pressProgress(), 1.0) << "no animation under reduced motion";
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return button.pressProgress() == 1.0; }, 2000))
            << "the press settles at full depth";
        // Drawn at 0.75 opacity: a white fill on black becomes grey; the scale
        // leaves the corner pixel uncovered only when motion is allowed.
        button.setFill(Qt::white);
        QImage image(button.size(), QImage::Format_ARGB32);
        image.fill(Qt::black);
        button.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        const QColor centre = image.pixelColor(60, 20);
        EXPECT_NEAR(centre.red(), 186, 8);
        const QColor edge = image.pixelColor(60, 0);
        EXPECT_EQ(edge.red() > 100, reduced) << "reduced " << reduced;
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(60, 20));
    }
    Appearance::shared().setReduceMotionForTesting(false);
}

TEST(Appearance, MenusDialogsAndToolTipsFollowTheSchemeAndTheDesktopPaletteReturnsWhenItMatches)
{
    const QPalette lightDesktop = QApplication::palette();
    const QPalette lightTips = QToolTip::palette();
    ASSERT_GE(lightDesktop.color(QPalette::Window).lightness(), 128) << "the test platform's palette is light";
    for (const bool darkDesktop : {false, true}) {
        const QPalette desktop = darkDesktop ? Studio::darkPalette(Studio::pine()) : lightDesktop;
        QApplication::setPalette(desktop);
        QToolTip::setPalette(darkDesktop ? desktop : lightTips);
        for (const bool dark : {true, false}) {
            Appearance::shared().setDarkForTesting(dark);
            QWidget window;
            auto *menu = new QMenu(&window);
            auto *dialog = new QDialog(&window);
            for (QWidget *surface : {&window, static_cast<QWidget *>(menu), static_cast<QWidget *>(dialog)}) {
                EXPECT_EQ(surface->palette().color(QPalette::Window).lightness() < 128, dark)
                    << surface->metaObject()->className() << " dark " << dark << " dark desktop " << darkDesktop;
                EXPECT_EQ(surface->palette().color(QPalette::WindowText).lightness() >= 128, dark);
            }
            EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase).lightness() < 128, dark);
        }
        Appearance::shared().setDarkForTesting(darkDesktop);
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktop.color(QPalette::Window));
    }
    QApplication::setPalette(lightDesktop);
    QToolTip::setPalette(lightTips);
    Appearance::shared().setDarkForTesting(false);
}

// A settings portal on the test's own bus announces changes while the
// application runs: the scheme, the palette and the motion setting follow.
TEST(Appearance, FollowsTheSettingsPortalsChangesWhileRunning)
{
    if (!PrivateSessionBus::available)
        GTEST_SKIP() << "no dbus-daemon";
    const QPalette lightDesktop = QApplication::palette();
    Appearance &appearance = Appearance::shared();
    appearance.setDarkForTesting(false);
    appearance.setReduceMotionForTesting(false);
    appearance.followDesktopForTesting();
    QDBusConnection portal = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fakePortal"));
    ASSERT_TRUE(portal.isConnected());
    ASSERT_TRUE(portal.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    auto announce = [&](const char *group, const char *key, const QVariant &value) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                         QStringLiteral("org.freedesktop.portal.Settings"),
                                                         QStringLiteral("SettingChanged"));
        signal << QString::fromLatin1(group) << QString::fromLatin1(key) << QVariant::fromValue(QDBusVariant(value));
        ASSERT_TRUE(portal.send(signal));
    };
    struct Row {
        const char *group;
        const char *key;
        QVariant value;
        bool dark;
        bool reduced;
    };
    const Row rows[] = {
        {"org.freedesktop.appearance", "color-scheme", uint(1), true, false},
        {"org.gnome.desktop.interface", "enable-animations", false, true, true},
        {"org.freedesktop.appearance", "color-scheme", uint(2), false, true},
        {"org.gnome.desktop.interface", "enable-animations", true, false, false},
        {"org.kde.kdeglobals.KDE", "AnimationDurationFactor", 0.0, false, true},
        {"org.freedesktop.appearance", "color-scheme", uint(1), true, true},
        {"org.kde.kdeglobals.KDE", "AnimationDurationFactor", 1.0, true, false},
        {"org.freedesktop.appearance", "color-scheme", uint(0), false, false}, // no preference: the desktop's palette
    };
    for (const Row &row : rows) {
        announce(row.group, row.key, row.value);
        const std::string what = std::string(row.key) + " " + row.value.toString().toStdString();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return appearance.dark() == row.dark && appearance.reduceMotion() == row.reduced; }, 1000))
            << what;
        EXPECT_EQ(QApplication::palette().color(QPalette::Window).lightness() < 128, row.dark) << what;
    }
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), lightDesktop.color(QPalette::Window));
    portal.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fakePortal"));
    appearance.setDarkForTesting(false);
    appearance.setReduceMotionForTesting(false);
}

TEST(FocusRing, KeyboardFocusRingsEveryControlKindAndAClickTakesItAway)
{
    FocusRing::install();
    QWidget window;
    window.resize(400, 420);
    QPalette light = window.palette();
    light.setColor(QPalette::Window, Studio::sheetBackground(false));
    window.setPalette(light);
    window.setAutoFillBackground(true);
    auto *studio = new StudioButton(Studio::pine(), Qt::transparent, 7, &window);
    studio->setText(QStringLiteral("Play"));
    auto *toggle = new ToggleSwitch(&window);
    toggle->setFocusPolicy(Qt::StrongFocus);
    auto *tool = new QToolButton(&window);
    tool->setText(QStringLiteral("Size"));
    tool->setStyleSheet(QStringLiteral("QToolButton { border: none; }"));
    auto *slider = new QSlider(Qt::Horizontal, &window);
    auto *field = new QLineEdit(&window);
    auto *list = new QListWidget(&window);
    list->addItems({QStringLiteral("a"), QStringLiteral("b")});
    struct Row {
        QWidget *control;
        bool inset; // drawn just inside the edge
    };
    const Row rows[] = {{studio, false}, {toggle, false}, {tool, false}, {slider, false}, {field, false}, {list, true}};
    int top = 20;
    for (const Row &row : rows) {
        row.control->setGeometry(40, top, 140, row.inset ? 120 : 26);
        top += row.control->height() + 20;
    }
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    const QColor ring = Studio::gold().darker(165); // on a light surface
    for (const Row &row : rows) {
        window.setFocus(); // the window gives the first control focus on activation
        row.control->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(FocusRing::target(), row.control) << row.control->metaObject()->className();
        const QImage shot = window.grab().toImage();
        const QRect at = row.control->geometry();
        const QColor edge = shot.pixelColor(row.inset ? at.left() + 1 : at.left() - 3, at.center().y());
        EXPECT_LT(std::abs(edge.red() - ring.red()) + std::abs(edge.green() - ring.green()) +
                      std::abs(edge.blue() - ring.blue()),
                  90)
            << row.control->metaObject()->className() << " " << edge.name().toStdString();
    }
    QTest::mouseClick(studio, Qt::LeftButton);
    EXPECT_EQ(FocusRing::target(), nullptr);
    tool->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(FocusRing::target(), nullptr);
}

TEST(TextStyles, CjkTextTakesTheGlyphFormsOfItsLanguageOrOfItsOwnScript)
{
    if (!QFontDatabase::hasFamily(QStringLiteral("Noto Serif CJK JP")))
        GTEST_SKIP() << "the Noto CJK fonts are not installed";
    const auto drawnFamily = [](const QFont &font, const QString &text) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine().setLineWidth(2000);
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.lineAt(0).glyphRuns();
        return runs.isEmpty() ? QString() : runs.front().rawFont().familyName();
    };
    struct Row {
        const char *language;
        const char *text;
        const char *forms;
    };
    const Row rows[] = {
        {"ja", "東京", "JP"},          {"ja-JP", "", "JP"},         {"ko", "", "KR"},
        {"zh-Hant", "", "TC"},       {"zh_TW", "", "TC"},         {"zh-HK", "", "TC"},
        {"zh-Hans-CN", "", "SC"},    {"zh", "東京", "SC"},         {"", "東京は晴れ", "JP"},
        {"en", "カタカナ", "JP"},     {"", "서울 날씨", "KR"},      {"", "今晚的节目", "SC"},
    };
    for (const Row &row : rows) {
        const QString language = QString::fromUtf8(row.language);
        const QString text = QString::fromUtf8(row.text);
        EXPECT_EQ(cjkForms(language, text), QString::fromUtf8(row.forms)) << row.language << " " << row.text;
        // The face that draws the text, not the list asked for: the rows
        // change forms at one size, as the stations of one run do.
        const QString forms = QString::fromUtf8(row.forms);
        const QString sample = text.isEmpty() ? QStringLiteral("東京") : text;
        EXPECT_EQ(drawnFamily(serifFont(20, QFont::Normal, language, text), sample), QStringLiteral("Noto Serif CJK ") + forms)
            << row.language << " " << row.text;
        EXPECT_EQ(drawnFamily(withTextLanguage(textFont(TextStyle::Body), language, text), sample),
                  QStringLiteral("Noto Sans CJK ") + forms)
            << row.language << " " << row.text;
    }
    // Other text keeps its font and fontconfig's fallback.
    const QFont body = textFont(TextStyle::Body);
    EXPECT_EQ(withTextLanguage(body, QStringLiteral("en"), QStringLiteral("BBC World Service")), body);
}

TEST(BroadcastIndicator, BarsStandStillWhenNotPlayingAndFollowThePhaseWhenPlaying)
{
    const double expectedAtZero[] = {0.38, 0.946, 0.842, 0.568, 0.996};
    for (int i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(BroadcastIndicator::barFraction(i, false, 123.0), 0.22);
        EXPECT_NEAR(BroadcastIndicator::barFraction(i, true, 0), expectedAtZero[i], 0.001);
    }
    // Flat bars are 3.52 px of 16, centred.
    QImage image(20, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    BroadcastIndicator::paintBars(painter, QRectF(0, 0, 20, 16), false, 0.0);
    painter.end();
    EXPECT_GT(image.pixelColor(1, 8).alpha(), 200);
    EXPECT_EQ(image.pixelColor(1, 3).alpha(), 0);
    EXPECT_EQ(image.pixelColor(2, 8).alpha() > 0 && image.pixelColor(3, 8).alpha() == 0, true);

    // The meter's timer runs only while playing, shown and not reduced.
    BroadcastIndicator meter;
    meter.show();
    meter.setPlaying(true);
    EXPECT_TRUE(meter.animating());
    Appearance::shared().setReduceMotionForTesting(true);
    EXPECT_FALSE(meter.animating());
    Appearance::shared().setReduceMotionForTesting(false);
    EXPECT_TRUE(meter.animating());
    meter.setPlaying(false);
    EXPECT_FALSE(meter.animating());
}

TEST(FitLabel, ShrinksToFitTwoLinesButNotBelowItsMinimumScale)
{
    FitLabel label;
    QFont font = label.font();
    font.setPixelSize(36);
    label.setFont(font);
    label.setMaximumLines(2);
    label.setMinimumScale(0.67);
    label.resize(300, 100);
    label.setText(QStringLiteral("Short"));
    EXPECT_EQ(label.fittedPixelSize(), 36);
    label.setText(QStringLiteral("A very long station name that will never fit in two lines at this width at all, "
                                 "not even at the smallest size the label allows"));
    EXPECT_EQ(label.fittedPixelSize(), int(std::ceil(36 * 0.67)));
    EXPECT_LE(label.fittedLineCount(), 2);
}

TEST(Refresher, ManySchedulesInOneTurnGiveOneRefresh)
{
    int refreshes = 0;
    QObject owner;
    Refresher refresher([&refreshes] { ++refreshes; }, &owner);
    for (int i = 0; i < 10; ++i)
        refresher.schedule();
    EXPECT_EQ(refreshes, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1);
    refresher.schedule();
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 2);
}

TEST(SheetBinder, FlagOpensAndClosesTheDialogAndClosingClearsTheFlag)
{
    WidgetHarness harness;
    RadioStore &store = *harness.store;
    QWidget window;
    window.show();
    auto *dialog = new QDialog(&window);
    bindSheet(dialog, &store, &RadioStore::archiveVisible, &RadioStore::setArchiveVisible,
              &RadioStore::archiveVisibleChanged);
    EXPECT_FALSE(dialog->isVisible());
    store.setArchiveVisible(true);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    dialog->reject();
    EXPECT_FALSE(store.archiveVisible());
    store.setArchiveVisible(true);
    EXPECT_TRUE(dialog->isVisible());
    store.setArchiveVisible(false);
    EXPECT_FALSE(dialog->isVisible());
}

TEST(Formats, NamesAndFormatsFollowTheInterfaceLocale)
{
    WidgetHarness harness; // English interface
    // On an Arabic system: the English window still writes its own digits.
    const QLocale system;
    QLocale::setDefault(QLocale(QStringLiteral("ar_EG")));
    struct Row {
        QString actual;
        QString expected;
    };
    const Row rows[] = {
        {Formats::regionName(QStringLiteral("JP")), QStringLiteral("Japan")},
        {Formats::languageName(QStringLiteral("pt-BR")), QStringLiteral("Portuguese")},
        {Formats::hourMinute(7, 5), QStringLiteral("07:05")},
        {Formats::duration(3903), QStringLiteral("1 hr, 5 min, 3 sec")},
        {Formats::duration(0), QStringLiteral("0 sec")},
        {Formats::duration(std::nan("")), QStringLiteral("0 sec")},
        {Formats::byteCount(12'300'000), QStringLiteral("12.3 MB")},
        {Formats::byteCount(999), QStringLiteral("999 bytes")},
        {Formats::byteCount(1), QStringLiteral("1 byte")},
        {Formats::abbreviatedDate(QDateTime(QDate(2026, 12, 9), QTime(15, 5), Qt::LocalTime)),
         QStringLiteral("Dec 9, 2026")},
        {Formats::wholeNumber(12345), QStringLiteral("12,345")},
        {L10n::format(QStringLiteral("%@ 家"), {Formats::wholeNumber(1)}), QStringLiteral("1 station")},
    };
    QLocale::setDefault(system);
    for (const Row &row : rows)
        EXPECT_EQ(row.actual, row.expected);
}

} // namespace
} // namespace vantuli::test
