// The main window: its sizes, the toolbar's arrangement, the overlay button's
// rule, the search request, the sheets and the language follow-up.
#include "ShellFixture.h"

#include "column/CaptionDesk.h"
#include "column/StationMasthead.h"
#include "look/StudioButton.h"
#include "shell/AppLanguageMenu.h"
#include "shell/AppMenus.h"
#include "shell/RadioWindow.h"
#include "shell/TranslationPanel.h"
#include "shell/WindowRegistry.h"
#include "directory/StationDirectory.h"
#include "overlay/FloatingCaptions.h"
#include "records/Formats.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QKeyEvent>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

namespace vantuli::test {
namespace {

class WindowTest : public ShellFixture {
protected:
    RadioWindow &window()
    {
        if (!app)
            make();
        return *app->mainWindow();
    }
};

TEST_F(WindowTest, ColumnAndMastheadFollowTheContentArea)
{
    RadioWindow &main = window();
    struct Case {
        QSize window;
        int directory; // at the content's width, which is the window's
    };
    for (const Case &c : {Case{{720, 510}, 232}, Case{{1040, 690}, 286}, Case{{1200, 800}, 300}}) {
        main.resize(c.window);
        settle();
        const QSize content = main.contentArea()->size();
        ASSERT_EQ(content.width(), c.window.width());
        ASSERT_NE(main.directory(), nullptr);
        EXPECT_EQ(main.directory()->width(), c.directory) << c.window.width();
        EXPECT_EQ(main.directory()->height(), content.height());

        app->radio()->setSelected(app->radio()->stations().front());
        settle();
        ASSERT_NE(main.masthead(), nullptr);
        const int expected = std::clamp(static_cast<int>(std::lround(content.height() * 0.28)), 143, 195);
        EXPECT_EQ(main.masthead()->height(), expected) << content.height();
        EXPECT_EQ(main.masthead()->x(), c.directory);
        EXPECT_EQ(main.captionDesk()->y(), expected);

        // Without a selected station the desk moves up.
        app->radio()->setSelected(std::nullopt);
        settle();
        EXPECT_EQ(main.masthead(), nullptr);
        EXPECT_EQ(main.captionDesk()->y(), 0);
    }
    // The smallest window is the content's minimum.
    main.resize(400, 300);
    settle();
    EXPECT_GE(main.centralWidget()->width(), 720);
    EXPECT_GE(main.centralWidget()->height(), 510);
    EXPECT_EQ(mastheadHeight(510), 143);
    EXPECT_EQ(mastheadHeight(800), 195);
    EXPECT_EQ(mastheadHeight(600), 168);
}

TEST_F(WindowTest, ToolbarTakesTwoRowsOnlyWhenOneDoesNotFit)
{
    window();
    HeaderToolbar standalone(app->radio(), app->floating(), {});
    HeaderToolbar *toolbar = &standalone;
    standalone.show();
    const int oneRow = toolbar->sizeHint().width();
    ASSERT_LT(toolbar->minimumSizeHint().width(), oneRow);
    const auto bottom = [](QWidget *w) { return w->geometry().bottom(); };
    auto *overlay = toolbar->findChild<QWidget *>(QStringLiteral("toolbarOverlay"));
    auto *schedule = toolbar->findChild<QWidget *>(QStringLiteral("toolbarSchedule"));
    auto *support = toolbar->findChild<QWidget *>(QStringLiteral("toolbarSupport"));
    auto *language = toolbar->findChild<QWidget *>(QStringLiteral("toolbarLanguage"));

    for (const int width : {oneRow, oneRow - 1, oneRow + 40}) {
        toolbar->resize(width, toolbar->sizeHint().height());
        settle();
        const bool two = width < oneRow;
        EXPECT_EQ(toolbar->twoRows(), two) << width;
        // Listening actions first, app actions after; both rows end at the trailing edge.
        EXPECT_LT(overlay->x(), schedule->x());
        EXPECT_LT(support->x(), language->x());
        EXPECT_EQ(language->geometry().right(), width - 1);
        if (two) {
            EXPECT_EQ(schedule->geometry().right(), width - 1);
            EXPECT_LE(bottom(schedule), support->y());
        } else {
            EXPECT_LT(schedule->geometry().right(), support->x());
            EXPECT_EQ(overlay->y() + overlay->height() / 2, support->y() + support->height() / 2);
        }
    }
    // In the real header, in a long language: the choice always matches the
    // width the header leaves, and a wide window brings the single row back.
    L10n::shared().select(QStringLiteral("de"));
    toolbar = window().toolbar();
    for (const int width : {720, 900, 1600}) {
        window().resize(width, 600);
        settle();
        EXPECT_EQ(toolbar->twoRows(), toolbar->width() < toolbar->sizeHint().width()) << width;
    }
    EXPECT_FALSE(toolbar->twoRows());
}

TEST_F(WindowTest, OverlayCommandFollowsOneRuleInToolbarAndMenus)
{
    RadioWindow &main = window();
    QAbstractButton *button = main.toolbar()->overlayButton();
    QAction *command = app->menus()->overlayControls().toggle;
    RadioStore *radio = app->radio();
    const Station bengali = radio->stations().back();
    const Station english = radio->stations().front();

    struct Case {
        bool captions;
        bool deferred;
        bool enabled;
    };
    for (const Case &c : {Case{false, false, false}, Case{true, false, true}, Case{true, true, false},
                          Case{false, true, false}}) {
        radio->setSelected(c.deferred ? bengali : english);
        radio->setCaptionsOn(c.captions);
        settle();
        EXPECT_EQ(button->isEnabled(), c.enabled) << c.captions << c.deferred;
        EXPECT_EQ(command->isEnabled(), c.enabled) << c.captions << c.deferred;
        EXPECT_EQ(button->text(), L10n::shared().text(QStringLiteral("字幕浮窗")));
    }

    // On: always enabled, and it reads "close"; the extra items appear.
    radio->setSelected(english);
    radio->setCaptionsOn(true);
    settle();
    app->toggleFloating();
    settle();
    ASSERT_TRUE(app->floating()->enabled());
    radio->setSelected(bengali);
    settle();
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(command->isEnabled());
    EXPECT_EQ(button->text(), L10n::shared().text(QStringLiteral("关闭浮窗")));
    EXPECT_TRUE(app->menus()->overlayControls().clickThrough->isVisible());

    // Captions off closes the overlay; the command is disabled again.
    radio->setCaptionsOn(false);
    settle();
    EXPECT_FALSE(app->floating()->enabled());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(command->isEnabled());
    EXPECT_FALSE(app->menus()->overlayControls().appearance->isVisible());
}

TEST_F(WindowTest, SearchRevealsTheDirectoryAndFocusesItEveryTime)
{
    RadioWindow &main = window();
    main.setShowDirectory(false);
    settle();
    EXPECT_EQ(main.directory(), nullptr);
    EXPECT_EQ(settings->boolean(QString::fromLatin1(directoryVisibleKey)), false);

    for (int request = 1; request <= 2; ++request) {
        app->search();
        settle();
        EXPECT_TRUE(main.showDirectory());
        ASSERT_NE(main.directory(), nullptr);
        EXPECT_EQ(main.searchRequest(), request);
        EXPECT_EQ(main.directory()->searchRequest(), request);
        if (auto *field = main.directory()->findChild<QWidget *>(QStringLiteral("directorySearch"))) {
            EXPECT_TRUE(field->hasFocus() || field->isAncestorOf(QApplication::focusWidget()) ||
                        QApplication::focusWidget() == field)
                << request;
            main.setFocus();
        }
    }
    EXPECT_EQ(settings->boolean(QString::fromLatin1(directoryVisibleKey)), true);
    // The toggle hides and shows again; a new panel starts from the request count.
    main.toggleDirectory();
    settle();
    EXPECT_EQ(main.directory(), nullptr);
    main.toggleDirectory();
    settle();
    ASSERT_NE(main.directory(), nullptr);
    EXPECT_EQ(main.directory()->searchRequest(), 2);
}

TEST_F(WindowTest, StoredDirectoryVisibilityFallsBackWhenUnreadable)
{
    struct Case {
        QVariant stored;
        bool shown;
    };
    const Case cases[] = {
        {QVariant(), true},
        {QVariant(false), false},
        {QVariant(QStringLiteral("false")), false},
        {QVariant(QStringLiteral("true")), true},
        {QVariant(QStringLiteral("nan")), true},
        {QVariant(QStringLiteral("banana")), true},
        {QVariant(std::nan("")), true},
        {QVariant(std::numeric_limits<double>::infinity()), true},
        {QVariant(0.0), false},
    };
    for (const Case &c : cases) {
        MemorySettingsStore store;
        if (c.stored.isValid())
            store.setValue(QString::fromLatin1(directoryVisibleKey), c.stored);
        EXPECT_EQ(storedDirectoryVisible(store), c.shown) << c.stored.toString().toStdString();
    }
}

TEST_F(WindowTest, SheetFlagsAndDialogsFollowEachOther)
{
    RadioWindow &main = window();
    RadioStore *radio = app->radio();
    struct Sheet {
        const char *name;
        bool (RadioStore::*get)() const;
        void (RadioStore::*set)(bool);
    };
    for (const Sheet &s : {Sheet{"schedule", &RadioStore::scheduleVisible, &RadioStore::setScheduleVisible},
                           Sheet{"support", &RadioStore::supportVisible, &RadioStore::setSupportVisible},
                           Sheet{"archive", &RadioStore::archiveVisible, &RadioStore::setArchiveVisible}}) {
        const QString name = QString::fromLatin1(s.name);
        EXPECT_EQ(main.sheet(name), nullptr);
        (radio->*s.set)(true);
        settle();
        QPointer<QDialog> first = main.sheet(name);
        ASSERT_NE(first, nullptr) << s.name;
        EXPECT_TRUE(first->isVisible());
        EXPECT_EQ(first->windowModality(), Qt::WindowModal);
        // Closing the dialog clears the flag and lets the dialog go.
        first->reject();
        settle();
        EXPECT_FALSE((radio->*s.get)()) << s.name;
        EXPECT_EQ(main.sheet(name), nullptr) << s.name;
        // Set again: a new dialog; cleared: it closes.
        (radio->*s.set)(true);
        settle();
        QPointer<QDialog> second = main.sheet(name);
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(second->isVisible());
        EXPECT_NE(second, first);
        (radio->*s.set)(false);
        settle();
        EXPECT_TRUE(second.isNull() || !second->isVisible()) << s.name;
        EXPECT_EQ(main.sheet(name), nullptr) << s.name;
    }
}

// Every command of the menus, the toolbar, the tray menu and the keyboard,
// with what it changes and nothing else: a command wired to the wrong target,
// a rebound shortcut or an item missing from a menu fails its row.
TEST_F(WindowTest, EveryCommandReachesItsTargetAndNothingElse)
{
    RadioWindow &main = window();
    RadioStore *radio = app->radio();
    radio->setSelected(*radio->catalogStation(QStringLiteral("s1")));
    radio->setCaptionsOn(true);
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    settle();
    app->menus()->flush();

    auto visible = [&](const char *id) {
        QWidget *window = app->windows()->window(QString::fromLatin1(id));
        return window && window->isVisible();
    };
    auto snapshot = [&] {
        const QWidget *popup = QApplication::activePopupWidget();
        const std::optional<QString> language = L10n::shared().selection();
        return QMap<QString, QString>{
            {"main", QString::number(main.isVisible())},
            {"about", QString::number(visible("about"))},
            {"supportWindow", QString::number(visible("support"))},
            {"archive", QString::number(radio->archiveVisible())},
            {"schedule", QString::number(radio->scheduleVisible())},
            {"supportSheet", QString::number(radio->supportVisible())},
            {"overlay", QString::number(app->floating()->enabled())},
            {"clickThrough", QString::number(app->floating()->style().clickThrough)},
            {"directory", QString::number(main.showDirectory())},
            {"search", QString::number(main.searchRequest())},
            {"playing", QString::number(radio->active())},
            {"quits", QString::number(quits)},
            {"language", language.value_or(QStringLiteral("system"))},
            {"popup", popup ? (popup->objectName().isEmpty() ? QStringLiteral("menu") : popup->objectName()) : QString()},
            {"bar", main.menuBar()->activeAction() ? main.menuBar()->activeAction()->menu()->objectName() : QString()},
            {"favourite", QString::number(radio->favorites().contains(QStringLiteral("s1")))},
        };
    };
    // Every icon-only control shown names itself and shows that name as its
    // tooltip (the directory toggle adds its shortcut), and every text field
    // shown names itself to a screen reader (a spin box's editor speaks
    // through its box), in every state and language the rows leave the
    // window in.
    auto iconOnlyControlsNameThemselves = [&](const char *when) {
        for (QWidget *widget : main.findChildren<QWidget *>()) {
            if (qobject_cast<QLineEdit *>(widget) && widget->isVisible()
                && !qobject_cast<QAbstractSpinBox *>(widget->parentWidget())) {
                QAccessibleInterface *field = QAccessible::queryAccessibleInterface(widget);
                EXPECT_TRUE(field && !field->text(QAccessible::Name).isEmpty())
                    << when << ": " << widget->objectName().toStdString() << " has no name";
                continue;
            }
            auto *button = qobject_cast<QAbstractButton *>(widget);
            const bool iconOnly = button ? button->text().isEmpty() && !button->icon().isNull()
                                         : qobject_cast<QSlider *>(widget) != nullptr;
            if (!iconOnly || !widget->isVisible())
                continue;
            const QString name = widget->accessibleName();
            const QString tip = widget->toolTip();
            EXPECT_TRUE(!name.isEmpty() && (tip == name || tip.startsWith(name + QStringLiteral(" ("))))
                << when << ": " << widget->objectName().toStdString() << " named \"" << name.toStdString()
                << "\", tooltip \"" << tip.toStdString() << '"';
        }
    };
    auto named = [](const QList<QAction *> &actions, const QString &name) -> QAction * {
        for (QAction *action : actions) {
            if (action->objectName() == name || action->text() == name || action->data().toString() == name)
                return action;
        }
        return nullptr;
    };
    QMenu *appMenu = main.findChild<QMenu *>(QStringLiteral("menuVantuli"));
    QMenu *captionMenu = main.findChild<QMenu *>(QStringLiteral("menuCaptions"));
    QMenu *tray = app->menus()->trayMenu();
    ASSERT_TRUE(appMenu && captionMenu);
    auto item = [&](QMenu *menu, const char *name) {
        return [&, menu, name] {
            emit menu->aboutToShow(); // as when the menu opens
            QAction *action = named(menu->actions(), QString::fromUtf8(name));
            ASSERT_NE(action, nullptr) << name;
            action->trigger();
        };
    };
    auto language = [&](const char *code) {
        return [&, code] {
            auto *menu = appMenu->findChild<AppLanguageMenu *>();
            ASSERT_NE(menu, nullptr);
            QAction *action = code ? named(menu->actions(), QString::fromLatin1(code))
                                   : named(menu->actions(), actionText(L10n::shared().text(QStringLiteral("跟随系统"))));
            ASSERT_NE(action, nullptr) << (code ? code : "system");
            action->trigger();
        };
    };
    auto click = [&](const char *name) {
        return [&, name] {
            auto *button = main.findChild<QAbstractButton *>(QString::fromLatin1(name));
            ASSERT_NE(button, nullptr) << name;
            button->click();
        };
    };
    auto keys = [&](QKeySequence sequence, std::function<QWidget *()> target = {}) {
        return [&, sequence, target] {
            QWidget *widget = target ? target() : &main;
            ASSERT_NE(widget, nullptr);
            QTest::keySequence(widget->windowHandle(), sequence);
        };
    };
    auto windowOf = [&](const char *id) { return [&, id] { return app->windows()->window(QString::fromLatin1(id)); }; };
    auto openWindow = [&](const char *id) { return [&, id] { app->open(QString::fromLatin1(id)); }; };
    auto hideMain = [&] { main.hide(); };
    const QByteArray trayToggle = actionText(L10n::shared().text(QStringLiteral("收听直播"))).toUtf8();
    const QByteArray trayStop = actionText(L10n::shared().text(QStringLiteral("停止播放"))).toUtf8();

    struct Row {
        const char *what;
        std::function<void()> prepare;
        std::function<void()> act;
        QStringList changes;
    };
    const Row rows[] = {
        {"About", {}, item(appMenu, "commandAbout"), {"about=1"}},
        {"About closes with Escape", openWindow("about"), keys(QKeySequence(Qt::Key_Escape), windowOf("about")), {"about=0"}},
        {"About closes with Ctrl+W", openWindow("about"), keys(QKeySequence(Qt::CTRL | Qt::Key_W), windowOf("about")),
         {"about=0"}},
        {"archive, main window first", hideMain, item(appMenu, "commandArchive"), {"archive=1", "main=1"}},
        {"search, Ctrl+F", {}, keys(QKeySequence(Qt::CTRL | Qt::Key_F)), {"search=1"}},
        {"search from the menu", {}, item(appMenu, "commandSearch"), {"search=2"}},
        {"support window", {}, item(appMenu, "commandSupport"), {"supportWindow=1"}},
        {"tip jar closes with Escape", openWindow("support"), keys(QKeySequence(Qt::Key_Escape), windowOf("support")),
         {"supportWindow=0"}},
        {"quit, Ctrl+Q (the windows go at once)", {}, keys(QKeySequence(Qt::CTRL | Qt::Key_Q)), {"main=0", "quits=1"}},
        {"quit from the menu", {}, item(appMenu, "commandQuit"), {"main=0", "quits=2"}},
        {"F10 opens the first menu", {}, keys(QKeySequence(Qt::Key_F10)), {"popup=menuVantuli", "bar=menuVantuli"}},
        {"Alt reaches the menu bar", {}, [&] {
             QTest::keyPress(main.windowHandle(), Qt::Key_Alt, Qt::AltModifier);
             QTest::keyRelease(main.windowHandle(), Qt::Key_Alt);
         }, {"bar=menuVantuli"}},
        {"Alt+V opens the first menu", {}, keys(QKeySequence(Qt::ALT | Qt::Key_V)), {"popup=menuVantuli", "bar=menuVantuli"}},
        {"a language", {}, language("ja"), {"language=ja"}},
        {"follow the system", {}, language(nullptr), {"language=system"}},
        {"overlay, Ctrl+Shift+C", {}, keys(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)), {"overlay=1"}},
        {"click-through", {}, item(captionMenu, "overlayClickThrough"), {"clickThrough=1"}},
        {"overlay appearance", {}, item(captionMenu, "overlayAppearance"), {"popup=menu"}},
        {"overlay off from the menu", {}, item(captionMenu, "overlayToggle"), {"overlay=0"}},
        {"toolbar: overlay", {}, click("toolbarOverlay"), {"overlay=1"}},
        {"toolbar: schedule", {}, click("toolbarSchedule"), {"schedule=1"}},
        {"toolbar: support", {}, click("toolbarSupport"), {"supportSheet=1"}},
        {"toolbar: directory", {}, click("toggleDirectory"), {"directory=0"}},
        {"masthead: star", {}, click("favoriteStation"), {"favourite=1"}},
        {"directory, Ctrl+Alt+S", {}, keys(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S)), {"directory=1"}},
        {"tray: listen", {}, item(tray, trayToggle.constData()), {"playing=1"}},
        {"tray: stop", {}, item(tray, trayStop.constData()), {"playing=0"}},
        {"tray: overlay", {}, item(tray, "overlayToggle"), {"overlay=0"}},
        {"tray: open", hideMain, item(tray, "commandOpen"), {"main=1"}},
        {"tray: quit", {}, item(tray, "commandQuit"), {"main=0", "quits=3"}},
    };
    for (const Row &row : rows) {
        // Each row starts with no sheet, secondary window or menu open.
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        if (main.menuBar()->activeAction())
            QTest::keyClick(main.menuBar(), Qt::Key_Escape);
        for (const char *id : {"about", "support"}) {
            if (QWidget *window = app->windows()->window(QString::fromLatin1(id)))
                window->close();
        }
        radio->setArchiveVisible(false);
        radio->setScheduleVisible(false);
        radio->setSupportVisible(false);
        app->open(QStringLiteral("main"));
        settle();
        if (row.prepare) {
            row.prepare();
            settle();
        }
        app->menus()->flush();
        const auto before = snapshot();
        row.act();
        settle();
        app->menus()->flush();
        const auto after = snapshot();
        QStringList changes;
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (before.value(it.key()) != it.value())
                changes.append(it.key() + QLatin1Char('=') + it.value());
        }
        std::sort(changes.begin(), changes.end());
        QStringList expected = row.changes;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(changes, expected) << row.what;
        iconOnlyControlsNameThemselves(row.what);
    }
}

TEST_F(WindowTest, PlaceKeptAcrossRunsAboutOverTheWindowTrayNamesTheStation)
{
    RadioWindow &main = window();
    const QRect place(130, 90, 900, 620);
    main.setGeometry(place);
    settle();
    QWidget *about = app->open(QStringLiteral("about"));
    settle();
    // Within the window frame's margins, which are known only once shown.
    EXPECT_LE((about->frameGeometry().center() - main.frameGeometry().center()).manhattanLength(), 8);
    // Every window's title bar carries the application icon.
    for (QWidget *shown : {static_cast<QWidget *>(&main), about, app->open(QStringLiteral("support"))}) {
        EXPECT_FALSE(shown->windowIcon().isNull()) << shown->objectName().toStdString();
        EXPECT_EQ(shown->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    }

    RadioStore *radio = app->radio();
    radio->setSelected(std::nullopt);
    EXPECT_EQ(trayToolTip(*radio), QStringLiteral("Vantuli"));
    radio->setSelected(*radio->catalogStation(QStringLiteral("s4")));
    EXPECT_EQ(trayToolTip(*radio), QStringLiteral("Vantuli\n%1 \u2014 %2").arg(radio->selected()->name, radio->status()));

    // The next run opens where this one was; unreadable data gives the default size.
    struct Run {
        std::optional<QString> stored;
        QRect geometry;
    };
    for (const Run &run : {Run{std::nullopt, place}, Run{QStringLiteral("not geometry"), QRect(0, 0, 1040, 690)}}) {
        app->mainWindow()->close();
        probe.reset();
        app.reset();
        if (run.stored)
            settings->setValue(QString::fromLatin1(windowGeometryKey), *run.stored);
        RadioWindow &next = window();
        settle();
        EXPECT_EQ(run.stored ? QRect(QPoint(), next.size()) : next.geometry(), run.geometry);
    }
}

TEST_F(WindowTest, LanguageChangeRelabelsEverythingButTheProductName)
{
    RadioWindow &main = window();
    QMenuBar *bar = main.menuBar();
    const QList<QAction *> menus = bar->actions();
    ASSERT_EQ(menus.size(), 2);
    auto *schedule = main.toolbar()->findChild<QAbstractButton *>(QStringLiteral("toolbarSchedule"));
    auto *toggle = main.findChild<QAbstractButton *>(QStringLiteral("toggleDirectory"));
    auto *about = app->menus()->findChild<QAction *>(QStringLiteral("commandAbout"));
    ASSERT_NE(about, nullptr);
    const QString englishSchedule = schedule->text();
    const QString englishCaptions = menus.at(1)->text();
    const QString englishToggle = toggle->accessibleName();

    L10n::shared().select(QStringLiteral("ja"));
    settle();
    app->menus()->flush();
    EXPECT_EQ(schedule->text(), L10n::shared().text(QStringLiteral("广播日程")));
    EXPECT_NE(schedule->text(), englishSchedule);
    EXPECT_NE(menus.at(1)->text(), englishCaptions);
    EXPECT_NE(toggle->accessibleName(), englishToggle);
    EXPECT_TRUE(toggle->toolTip().startsWith(toggle->accessibleName()));
    // Menu texts carry a mnemonic each: the first free letter of a cased
    // script, else a letter in brackets; "About Vantuli" is translated too.
    EXPECT_EQ(app->menus()->searchAction()->text(), L10n::shared().text(QStringLiteral("搜索电台")) + " (&S)");
    EXPECT_EQ(menus.at(0)->text(), QStringLiteral("&Vantuli"));
    EXPECT_EQ(about->text(), QStringLiteral("&Vantuli について"));
    EXPECT_EQ(main.windowTitle(), QStringLiteral("Vantuli"));
    for (const char *code : {"en", "ru"}) {
        L10n::shared().select(QString::fromLatin1(code));
        settle();
        app->menus()->flush();
        QStringList marks;
        for (QAction *action : menus.at(0)->menu()->actions()) {
            const qsizetype mark = action->text().indexOf(QRegularExpression(QStringLiteral("&[^&]")));
            if (!action->isSeparator())
                marks.append(mark < 0 ? QString() : action->text().mid(mark + 1, 1).toLower());
        }
        EXPECT_EQ(marks.size(), 6);
        EXPECT_EQ(marks.removeDuplicates(), 0) << code;
        EXPECT_FALSE(marks.contains(QString())) << code;
    }
    EXPECT_EQ(about->text(), QStringLiteral("&О Vantuli"));
    // The language menu checks the choice.
    auto *languages = main.findChild<QMenu *>(QStringLiteral("appLanguageMenu"));
    ASSERT_NE(languages, nullptr);
    int checked = 0;
    for (QAction *action : languages->actions()) {
        if (action->isChecked()) {
            ++checked;
            EXPECT_EQ(action->data().toString(), QStringLiteral("ru"));
        }
    }
    EXPECT_EQ(checked, 1);
}

TEST_F(WindowTest, LinksAndTranslationRequestsReachTheStore)
{
    RadioWindow &main = window();
    RadioStore *radio = app->radio();
    const Station target = radio->stations().at(2);
    app->openLink(QUrl(QStringLiteral("vantuli://station/") + target.id));
    settle();
    ASSERT_TRUE(radio->selected());
    EXPECT_EQ(radio->selected()->id, target.id);
    EXPECT_EQ(radio->state(), RadioStore::State::Stopped);

    // The overlay's request: the window first, then text and flag, once the
    // current event is over.
    main.hide();
    QString textWhenFlagged;
    const auto order = QObject::connect(radio, &RadioStore::translatingChanged, [&] { textWhenFlagged = radio->translationText(); });
    app->translate(QStringLiteral("Bonjour à tous"));
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(radio->translating());
    settle();
    QObject::disconnect(order);
    EXPECT_EQ(textWhenFlagged, QStringLiteral("Bonjour à tous"));
    EXPECT_TRUE(radio->translating());
    EXPECT_EQ(radio->translationText(), QStringLiteral("Bonjour à tous"));
    TranslationPanel *panel = main.translationPanel();
    EXPECT_TRUE(panel->isVisible());
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    panel->copyText();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Bonjour à tous"));
    radio->setTranslating(false);
    settle();
    EXPECT_FALSE(panel->isVisible());

    // The caption's language is the recognition language, or the station's
    // for "station" and "auto".
    struct Translator final : ApertiumTranslator {
        void modes(QObject *context, std::function<void(const QStringList &)> done) override
        {
            QMetaObject::invokeMethod(context, [done] { done({QStringLiteral("fra-eng"), QStringLiteral("de-en")}); },
                                      Qt::QueuedConnection);
        }
        QProcess *translate(const QString &mode, const QString &text, std::function<void(std::optional<QString>)> done,
                            QObject *) override
        {
            done(mode + QStringLiteral(": ") + text);
            return nullptr;
        }
    };
    panel->setTranslator(std::make_unique<Translator>());
    radio->setSelected(*radio->catalogStation(QStringLiteral("s4"))); // French
    struct Case {
        const char *language;
        QString shown;
    };
    const Case cases[] = {
        {"auto", QStringLiteral("fra-eng: Bonjour")},
        {"station", QStringLiteral("fra-eng: Bonjour")},
        {"de", QStringLiteral("de-en: Bonjour")},
        {"ja", L10n::format(QStringLiteral("本机没有安装从%@到%@的离线翻译。可以复制原文，用其他工具翻译。"),
                            {Formats::languageName(QStringLiteral("ja")), Formats::languageName(QStringLiteral("en"))})},
    };
    for (const Case &c : cases) {
        radio->setLanguage(QString::fromLatin1(c.language));
        app->translate(QStringLiteral("Bonjour"));
        EXPECT_TRUE(waitUntil([&] { return panel->translation() == c.shown; })) << c.language << " "
                                                                                 << panel->translation().toStdString();
        radio->setTranslating(false);
        settle();
    }

    // A pair that hangs is stopped after the time-out: the panel says the
    // translation did not finish, and the process is gone.
    QTemporaryDir bin;
    const QString standIn = bin.filePath(QStringLiteral("apertium"));
    const QString pidFile = bin.filePath(QStringLiteral("pid"));
    {
        QFile script(standIn);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "if [ \"$1\" = -l ]; then echo fra-eng; exit 0; fi\n"
                                    "echo $$ > '%1.part' && mv '%1.part' '%1'\n"
                                    "exec sleep 600\n").arg(pidFile).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    panel->setTranslator(std::make_unique<ApertiumTranslator>(standIn, 300));
    radio->setLanguage(QStringLiteral("station"));
    app->translate(QStringLiteral("Bonjour"));
    EXPECT_TRUE(waitUntil([&] { return panel->translation() == L10n::shared().text(QStringLiteral("翻译没有完成。")); }))
        << panel->translation().toStdString();
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const pid_t hung = pid_t(pid.readAll().trimmed().toLongLong());
    ASSERT_GT(hung, 0);
    EXPECT_TRUE(waitUntil([&] { return ::kill(hung, 0) != 0; }));
    radio->setTranslating(false);
    settle();

    // Apertium's pairs are listed once, never while the caller waits.
    ApertiumTranslator apertium;
    QObject context;
    std::vector<QStringList> answers;
    for (int i = 0; i < 3; ++i) {
        const size_t before = answers.size();
        apertium.modes(&context, [&](const QStringList &modes) { answers.push_back(modes); });
        EXPECT_EQ(answers.size(), before);
        if (i == 1) {
            EXPECT_TRUE(waitUntil([&] { return answers.size() == 2; }));
        }
    }
    EXPECT_TRUE(waitUntil([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers.front(), answers.back());
}

TEST_F(WindowTest, TabWalksEveryControlOnceInReadingOrder)
{
    RadioWindow &main = window();
    app->radio()->setFilter(LibraryFilter::All); // the list shown, not its empty message
    app->radio()->setSelected(app->radio()->stations().front());
    main.show();
    main.activateWindow();
    for (int i = 0; i < 200 && !main.isActiveWindow(); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(main.isActiveWindow());
    settle();

    // The regions in the order a reader meets them.
    const std::vector<std::pair<const char *, QWidget *>> regions = {
        {"header", main.findChild<QWidget *>(QStringLiteral("headerBar"))},
        {"directory", main.directory()},
        {"masthead", main.masthead()},
        {"desk", main.findChild<CaptionDesk *>()},
        {"transport", main.findChild<QWidget *>(QStringLiteral("transportPlay"))->parentWidget()},
    };
    auto regionOf = [&regions](QWidget *widget) {
        for (size_t i = 0; i < regions.size(); ++i)
            if (regions[i].second->isAncestorOf(widget))
                return int(i);
        return -1;
    };
    auto describe = [&](QWidget *widget) {
        const int region = regionOf(widget);
        return QStringLiteral("%1 %2 \"%3\"")
            .arg(QString::fromLatin1(region < 0 ? "outside" : regions[size_t(region)].first),
                 QString::fromLatin1(widget->metaObject()->className()), widget->objectName())
            .toStdString();
    };
    auto placeOf = [&main](QWidget *widget) { return QRect(widget->mapTo(&main, QPoint(0, 0)), widget->size()); };

    QWidget *first = main.findChild<QWidget *>(QStringLiteral("toggleDirectory"));
    first->setFocus(Qt::TabFocusReason);
    std::vector<QWidget *> walk = {first};
    for (int step = 0; step < 80; ++step) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &tab);
        QWidget *now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        if (now == first)
            break;
        walk.push_back(now);
    }
    EXPECT_TRUE(std::any_of(walk.begin(), walk.end(), [](QWidget *w) { return qobject_cast<QListView *>(w); }));
    std::string trace;
    for (QWidget *widget : walk)
        trace += describe(widget) + "\n";
    SCOPED_TRACE(trace);
    ASSERT_NE(walk.size(), 81U) << "Tab never came back to the start";

    // Each shown control that takes Tab is met exactly once...
    for (QWidget *widget : main.findChildren<QWidget *>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible() && widget->isEnabled() && !widget->focusProxy()) {
            EXPECT_EQ(std::count(walk.begin(), walk.end(), widget), 1) << describe(widget);
        }
    }
    // ...region by region, and within a region row by row, leading edge first.
    for (size_t i = 1; i < walk.size(); ++i) {
        const int before = regionOf(walk[i - 1]);
        const int after = regionOf(walk[i]);
        EXPECT_GE(before, 0) << describe(walk[i - 1]);
        EXPECT_LE(before, after) << describe(walk[i - 1]) << " then " << describe(walk[i]);
        if (before != after)
            continue;
        const QRect a = placeOf(walk[i - 1]);
        const QRect b = placeOf(walk[i]);
        const bool sameRow = a.top() < b.bottom() && b.top() < a.bottom();
        EXPECT_TRUE(sameRow ? a.left() < b.left() : a.bottom() <= b.top() + 2)
            << describe(walk[i - 1]) << " then " << describe(walk[i]);
    }
}

} // namespace
} // namespace vantuli::test
