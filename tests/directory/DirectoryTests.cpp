// The station directory panel over a real store: paging, search, the
// Return key, rows and their marks, empty states and the facet menus.
#include "support/WidgetHarness.h"

#include "look/Studio.h"
#include "look/StudioButton.h"
#include "directory/DirectoryTabs.h"
#include "directory/FacetMenu.h"
#include "directory/StationDirectory.h"
#include "directory/StationList.h"

#include <QAction>
#include <QApplication>
#include <QScrollBar>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace vantuli;
using namespace vantuli::test;

namespace {

using Mark = StationListModel::StatusMark;

// Holds the panel and records the key presses that it passes on.
class Window : public QWidget {
public:
    int returnsPassedOn = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Return)
            ++returnsPassedOn;
    }
};

class DirectoryTest : public ::testing::Test {
protected:
    explicit DirectoryTest(int stations = 6) : harness(testCatalog(stations)) {}

    StationDirectory &panel()
    {
        if (!panel_) {
            panel_ = new StationDirectory(harness.store.get(), 0, &window);
            window.resize(320, 700);
            panel_->resize(320, 700);
            window.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
            WidgetHarness::settle();
        }
        return *panel_;
    }

    RadioStore &store() { return *harness.store; }
    int rows() { return panel().model()->rowCount(); }
    bool moreShown() { return panel().model()->hasMore(); }
    QModelIndex row(int r) { return panel().model()->index(r); }

    StudioButton *button(const QString &name)
    {
        for (auto *button : panel().findChildren<StudioButton *>()) {
            if (button->text() == name || button->accessibleName() == name)
                return button;
        }
        return nullptr;
    }

    void click(const QModelIndex &index)
    {
        QListView *list = panel().list();
        list->scrollTo(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
        WidgetHarness::settle();
    }

    WidgetHarness harness;
    Window window;
    StationDirectory *panel_ = nullptr;
};

class PagingTest : public DirectoryTest {
protected:
    PagingTest() : DirectoryTest(121) {}
};

TEST_F(PagingTest, PagesOfOneHundredTwentyStartAgainOnEveryFilterChange)
{
    store().setFilter(LibraryFilter::All);
    ASSERT_EQ(rows(), 121); // 120 stations and the "show more" row
    EXPECT_TRUE(row(120).data(StationListModel::MoreRole).toBool());
    EXPECT_EQ(row(120).data().toString(), QStringLiteral("Show more stations"));

    click(row(120));
    EXPECT_EQ(rows(), 121);
    EXPECT_FALSE(moreShown());
    EXPECT_EQ(row(120).data(StationListModel::StationIdRole).toString(), QStringLiteral("s121"));

    // Another tab and back: the first page again.
    panel().tabs()->tabs()[size_t(LibraryFilter::Favorites)]->click();
    EXPECT_EQ(store().filter().value(), LibraryFilter::Favorites);
    panel().tabs()->tabs()[size_t(LibraryFilter::All)]->click();
    WidgetHarness::settle();
    EXPECT_EQ(panel().pageSize(), 120);
    EXPECT_TRUE(moreShown());

    // A query of spaces is a query: the paging starts again and both the
    // clear and the reset buttons show, though every station still matches.
    panel().showMore();
    QTest::keyClicks(panel().searchField(), QStringLiteral("  "));
    WidgetHarness::settle();
    EXPECT_EQ(store().query(), QStringLiteral("  "));
    EXPECT_EQ(panel().pageSize(), 120);
    EXPECT_TRUE(moreShown());
    ASSERT_TRUE(button(QStringLiteral("Clear search")));
    EXPECT_TRUE(button(QStringLiteral("Clear search"))->isVisible());
    ASSERT_TRUE(button(QStringLiteral("Reset")));
    EXPECT_TRUE(button(QStringLiteral("Reset"))->isVisible());

    button(QStringLiteral("Reset"))->click();
    WidgetHarness::settle();
    EXPECT_EQ(store().query(), QString());
    EXPECT_EQ(store().filter().value(), LibraryFilter::All);
    EXPECT_FALSE(button(QStringLiteral("Clear search"))->isVisible());
    EXPECT_FALSE(button(QStringLiteral("Reset"))->isVisible());
}

class LongListTest : public DirectoryTest {
protected:
    LongListTest() : DirectoryTest(400) {}
};

TEST_F(LongListTest, ShowMoreKeepsThePlaceAnswersTheKeyboardAndSurvivesARepeatedTab)
{
    store().setFilter(LibraryFilter::All);
    QListView *list = panel().list();
    auto onScreen = [&](int r) { return list->visualRect(row(r)).intersects(list->viewport()->rect()); };

    // A click: the new rows follow below, the list stays where it was, also
    // once the view's delayed scroll after a press has had its turn.
    click(row(120));
    const int scrolled = list->verticalScrollBar()->value();
    QTest::qWait(QApplication::doubleClickInterval() + 300);
    EXPECT_EQ(panel().pageSize(), 240);
    EXPECT_EQ(list->verticalScrollBar()->value(), scrolled);
    EXPECT_TRUE(onScreen(120));

    // Pressing the tab already chosen keeps the paging.
    panel().tabs()->tabs()[size_t(LibraryFilter::All)]->click();
    WidgetHarness::settle();
    EXPECT_EQ(panel().pageSize(), 240);
    EXPECT_EQ(rows(), 241);

    // The keyboard reaches the row with the arrows; Return and Space press it.
    list->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        const int shown = panel().model()->stationRows();
        list->setCurrentIndex(row(shown - 1));
        QTest::keyClick(list, Qt::Key_Down);
        ASSERT_TRUE(list->currentIndex().data(StationListModel::MoreRole).toBool());
        QTest::keyClick(list, key);
        WidgetHarness::settle();
        EXPECT_EQ(panel().model()->stationRows(), std::min(shown + 120, 400));
        EXPECT_EQ(list->currentIndex().row(), shown); // the first new station, also the chosen one
        EXPECT_TRUE(onScreen(shown));
        ASSERT_TRUE(store().selected());
        EXPECT_EQ(store().selected()->id, row(shown).data(StationListModel::StationIdRole).toString());
        // The next Down goes on to the second new station.
        QTest::keyClick(list, Qt::Key_Down);
        WidgetHarness::settle();
        EXPECT_EQ(list->currentIndex().row(), shown + 1);
        EXPECT_EQ(store().selected()->id, row(shown + 1).data(StationListModel::StationIdRole).toString());
    }
    EXPECT_FALSE(moreShown());
    EXPECT_EQ(window.returnsPassedOn, 0);
    EXPECT_FALSE(store().current());
}

TEST_F(LongListTest, TheRowTheKeyboardLandsOnIsTheSelectedRowAndReturnPlaysIt)
{
    store().setFilter(LibraryFilter::All);
    panel();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QListView *list = panel().list();
    QLineEdit *search = panel().searchField();
    const Station before = harness.find(QStringLiteral("s5"));
    auto query = [&](const QString &text, int downs) {
        return [&, text, downs] {
            search->setFocus();
            QTest::keyClicks(search, text);
            WidgetHarness::settle();
            ASSERT_GE(rows(), 2);
            ASSERT_LT(panel().model()->rowOf(before.id), 0); // the station chosen before is not a result
            for (int i = 0; i < downs; ++i)
                QTest::keyClick(i == 0 ? static_cast<QWidget *>(search) : list, Qt::Key_Down);
        };
    };
    // Tab (or Shift+Tab) from the search field round to the list.
    auto tabTo = [&](Qt::Key key) {
        return [&, key] {
            query(QStringLiteral("Station 12"), 0)();
            QTest::keyClick(search, key);
            while (!list->hasFocus() && QApplication::focusWidget() != search)
                QTest::keyClick(QApplication::focusWidget(), key);
        };
    };
    auto focusedBy = [&](Qt::FocusReason reason) {
        return [&, reason] {
            query(QStringLiteral("Station 12"), 0)();
            list->setFocus(reason);
        };
    };
    const struct {
        const char *walk;
        std::function<void()> keys;
        int row; // the row the keys end on; -1: none, the focus alone chose nothing
    } walks[] = {
        {"search, Down", query(QStringLiteral("Station 12"), 1), 0},
        {"search, Down, Down", query(QStringLiteral("Station 12"), 2), 1},
        {"search, Tab to the list", tabTo(Qt::Key_Tab), -1},
        {"search, Shift+Tab to the list", tabTo(Qt::Key_Backtab), -1},
        {"a shortcut", focusedBy(Qt::ShortcutFocusReason), -1},
        {"the program", focusedBy(Qt::OtherFocusReason), -1},
    };
    for (const auto &walk : walks) {
        store().stop();
        store().setQuery(QString());
        store().setSelected(before);
        WidgetHarness::settle();
        walk.keys();
        WidgetHarness::settle();
        ASSERT_TRUE(list->hasFocus()) << walk.walk;
        if (walk.row < 0) {
            // The chosen station stays; the first Down chooses the first result.
            EXPECT_FALSE(list->currentIndex().isValid()) << walk.walk;
            ASSERT_TRUE(store().selected()) << walk.walk;
            EXPECT_EQ(store().selected()->id, before.id) << walk.walk;
            QTest::keyClick(list, Qt::Key_Down);
            WidgetHarness::settle();
        }
        const QModelIndex current = list->currentIndex();
        EXPECT_EQ(current.row(), std::max(walk.row, 0)) << walk.walk;
        EXPECT_TRUE(list->selectionModel()->isSelected(current)) << walk.walk;
        const QString id = current.data(StationListModel::StationIdRole).toString();
        ASSERT_TRUE(store().selected()) << walk.walk;
        EXPECT_EQ(store().selected()->id, id) << walk.walk;
        QTest::keyClick(list, Qt::Key_Return);
        ASSERT_TRUE(store().current()) << walk.walk;
        EXPECT_EQ(store().current()->id, id) << walk.walk;
    }

    // A station started, then stopped, from elsewhere (the tray's menu, with
    // the focus coming back to the list after each) stays the chosen one: the
    // clicked result the list showed before is no choice of the listener's.
    const Station elsewhere = harness.find(QStringLiteral("s7"));
    for (const Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}) {
        auto fromElsewhere = [&](const std::function<void()> &change) {
            if (reason == Qt::PopupFocusReason) {
                QMenu tray;
                QAction *item = tray.addAction(QStringLiteral("item"));
                QObject::connect(item, &QAction::triggered, change);
                tray.popup(window.mapToGlobal(QPoint(10, 10)));
                ASSERT_TRUE(QTest::qWaitForWindowExposed(&tray));
                item->trigger();
                tray.close();
            } else {
                list->clearFocus();
                change();
                list->setFocus(reason);
            }
            WidgetHarness::settle();
        };
        store().stop();
        store().setQuery(QString());
        store().setSelected(before);
        WidgetHarness::settle();
        query(QStringLiteral("Station 12"), 0)();
        click(row(0));
        ASSERT_TRUE(list->hasFocus());
        fromElsewhere([&] { store().start(elsewhere, 0, true); });
        fromElsewhere([&] { store().stop(); });
        ASSERT_TRUE(list->hasFocus()) << reason;
        ASSERT_TRUE(store().selected()) << reason;
        EXPECT_EQ(store().selected()->id, elsewhere.id) << reason;
        EXPECT_FALSE(list->currentIndex().isValid()) << reason;
    }
}

// What the panel's controls may write: each control must change its own
// member and nothing else.
struct Written {
    LibraryFilter::Value tab = LibraryFilter::All;
    QString query, country, language, genre;
    bool support = false, archive = false, schedule = false;
    bool operator==(const Written &) const = default;
    friend void PrintTo(const Written &w, std::ostream *out)
    {
        *out << int(w.tab) << " '" << w.query.toStdString() << "' " << w.country.toStdString() << '/'
             << w.language.toStdString() << '/' << w.genre.toStdString() << " support " << w.support << " archive "
             << w.archive << " schedule " << w.schedule;
    }
};

TEST_F(DirectoryTest, EachControlWritesItsOwnStoreMember)
{
    auto written = [this] {
        return Written{store().filter().value(), store().query(), store().countryFilter(), store().languageFilter(),
                       store().genreFilter(), store().supportVisible(), store().archiveVisible(), store().scheduleVisible()};
    };
    auto tab = [this](LibraryFilter::Value value) { return [this, value] { panel().tabs()->tabs()[size_t(value)]->click(); }; };
    const struct {
        const char *control;
        std::function<void()> act;
        std::function<void(Written &)> expect;
    } rows[] = {
        {"featured tab", tab(LibraryFilter::Featured), [](Written &w) { w.tab = LibraryFilter::Featured; }},
        {"favorites tab", tab(LibraryFilter::Favorites), [](Written &) {}},
        {"recent tab", tab(LibraryFilter::Recent), [](Written &w) { w.tab = LibraryFilter::Recent; }},
        {"unavailable tab", tab(LibraryFilter::Unavailable), [](Written &w) { w.tab = LibraryFilter::Unavailable; }},
        {"all tab", tab(LibraryFilter::All), [](Written &w) { w.tab = LibraryFilter::All; }},
        {"search field", [this] { QTest::keyClicks(panel().searchField(), QStringLiteral("ab")); },
         [](Written &w) { w.query = QStringLiteral("ab"); }},
        {"country menu", [this] { emit panel().countryMenu()->picked(QStringLiteral("JP")); },
         [](Written &w) { w.country = QStringLiteral("JP"); }},
        {"language menu", [this] { emit panel().languageMenu()->picked(QStringLiteral("fr")); },
         [](Written &w) { w.language = QStringLiteral("fr"); }},
        {"genre menu", [this] { emit panel().genreMenu()->picked(QStringLiteral("news")); },
         [](Written &w) { w.genre = QStringLiteral("news"); }},
        {"support", [this] { button(QStringLiteral("Support development"))->click(); }, [](Written &w) { w.support = true; }},
        {"archive", [this] { panel().findChild<StudioButton *>(QStringLiteral("localArchive"))->click(); },
         [](Written &w) { w.archive = true; }},
        {"schedule", [this] { button(QStringLiteral("Broadcast schedule"))->click(); }, [](Written &w) { w.schedule = true; }},
        // Clear empties the query only; reset also the facets, and keeps the tab.
        {"clear search",
         [this] {
             store().setQuery(QStringLiteral("x"));
             store().setCountryFilter(QStringLiteral("JP"));
             button(QStringLiteral("Clear search"))->click();
         },
         [](Written &w) { w.country = QStringLiteral("JP"); }},
        {"reset",
         [this] {
             store().setQuery(QStringLiteral("x"));
             store().setGenreFilter(QStringLiteral("news"));
             button(QStringLiteral("Reset"))->click();
         },
         [](Written &) {}},
    };
    // From the favourites tab with nothing written.
    for (const auto &row : rows) {
        store().setFilter(LibraryFilter::Favorites);
        store().resetFilters();
        store().setSupportVisible(false);
        store().setArchiveVisible(false);
        store().setScheduleVisible(false);
        WidgetHarness::settle();
        Written expected = written();
        row.expect(expected);
        row.act();
        WidgetHarness::settle();
        EXPECT_EQ(written(), expected) << row.control;
    }
}

TEST_F(DirectoryTest, EveryLanguageFitsTheNarrowestColumn)
{
    // The column of a 720 px window, with the status line and the footer at
    // their fullest: a query (the reset button) and a history to clear.
    constexpr int narrowest = 232;
    harness.probe->setHistory({ListeningRecord{QStringLiteral("s1"), Date::now(), 2}});
    store().setFilter(LibraryFilter::Recent);
    store().setQuery(QStringLiteral("Station"));
    constexpr int standard = 286; // the column of the default 1040 px window
    for (const L10n::Language &language : L10n::languages()) {
        L10n::shared().select(language.code);
        panel().resize(standard, 690);
        WidgetHarness::settle();
        // There every tab's name is whole.
        QFont label = panel().tabs()->tabs().front()->font();
        label.setPixelSize(panel().tabs()->labelPixelSize());
        for (const DirectoryTab *tab : panel().tabs()->tabs())
            EXPECT_EQ(QFontMetrics(label).elidedText(tab->text(), Qt::ElideRight, tab->width()), tab->text())
                << language.code.toStdString();
        // No text widens the column past the window's room for it.
        panel().resize(narrowest, 510);
        WidgetHarness::settle();
        EXPECT_LE(panel().minimumSizeHint().width(), narrowest) << language.code.toStdString();
    }
    L10n::shared().select(QStringLiteral("en"));
}

TEST_F(DirectoryTest, ReturnStartsTheSelectedStationAndIsPassedOnWithoutOne)
{
    store().setFilter(LibraryFilter::All);
    store().setSelected(std::nullopt);
    // Focused by a click below the rows: no row stands chosen.
    QListView *list = panel().list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, list->viewport()->height() - 5));
    ASSERT_TRUE(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(window.returnsPassedOn, 1);
    EXPECT_FALSE(store().current());

    // Choosing a row selects the station; clearing the list's selection keeps it.
    click(row(2));
    ASSERT_TRUE(store().selected());
    EXPECT_EQ(store().selected()->id, QStringLiteral("s3"));
    panel().list()->clearSelection();
    WidgetHarness::settle();
    ASSERT_TRUE(store().selected());
    EXPECT_EQ(store().selected()->id, QStringLiteral("s3"));
    EXPECT_TRUE(panel().list()->selectionModel()->isSelected(row(2)));

    QTest::keyClick(panel().list(), Qt::Key_Return);
    EXPECT_EQ(window.returnsPassedOn, 1);
    ASSERT_TRUE(store().current());
    EXPECT_EQ(store().current()->id, QStringLiteral("s3"));
    EXPECT_NE(store().state(), RadioStore::State::Stopped);

    // A station selected elsewhere shows as the list's selection; a double
    // click starts the row's station.
    store().setSelected(harness.find(QStringLiteral("s5")));
    EXPECT_TRUE(panel().list()->selectionModel()->isSelected(row(4)));
    const QRect fifth = panel().list()->visualRect(row(4));
    QTest::mouseClick(panel().list()->viewport(), Qt::LeftButton, {}, fifth.center());
    QTest::mouseDClick(panel().list()->viewport(), Qt::LeftButton, {}, fifth.center());
    ASSERT_TRUE(store().current());
    EXPECT_EQ(store().current()->id, QStringLiteral("s5"));
}

TEST_F(DirectoryTest, RowsShowTheirSubtitleAndMarks)
{
    store().setFilter(LibraryFilter::All);
    panel();
    const QString place = harness.find(QStringLiteral("s2")).place();
    EXPECT_EQ(row(1).data(StationListModel::SubtitleRole).toString(), place + QStringLiteral(" · Chinese"));

    // The recent tab shows the record instead: no date, only the visits.
    harness.probe->setHistory({ListeningRecord{QStringLiteral("s2"), std::nullopt, 3}});
    store().setFilter(LibraryFilter::Recent);
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(row(0).data(StationListModel::SubtitleRole).toString(), QStringLiteral("3 listens"));

    // Favourites: a failed favourite carries both marks; the current station
    // shows the indicator (still while connecting) instead of the star.
    const Station first = harness.find(QStringLiteral("s1"));
    store().favorite(first);
    harness.probe->setFailures({{QStringLiteral("s1"), StationFailure{first.streamUrl, Date::now()}}});
    store().setFilter(LibraryFilter::Favorites);
    ASSERT_EQ(rows(), 1);
    const struct {
        std::optional<RadioStore::State> playing;
        Mark mark;
    } cases[] = {
        {std::nullopt, Mark::Star},
        {RadioStore::State::Connecting, Mark::Indicator},
        {RadioStore::State::Playing, Mark::MovingIndicator},
        {RadioStore::State::Failed, Mark::Star},
        {RadioStore::State::Stopped, Mark::Star},
    };
    for (const auto &c : cases) {
        if (c.playing)
            harness.probe->play(first, *c.playing);
        EXPECT_EQ(Mark(row(0).data(StationListModel::StatusMarkRole).toInt()), c.mark);
        EXPECT_TRUE(row(0).data(StationListModel::FailedRole).toBool());
        EXPECT_TRUE(row(0).data(Qt::AccessibleDescriptionRole).toString().endsWith(QStringLiteral("Couldn’t connect on this computer")));
    }
}

TEST_F(DirectoryTest, EmptyListExplainsItselfByFilterBeforeTab)
{
    const struct {
        LibraryFilter tab;
        QString query;
        QString country;
        QString text;
    } cases[] = {
        {LibraryFilter::Favorites, {}, {}, QStringLiteral("Click the star next to a station to add it to your favorites")},
        {LibraryFilter::Recent, {}, {}, QStringLiteral("Stations you listen to will appear here")},
        {LibraryFilter::Unavailable, {}, {}, QStringLiteral("No station has failed on this computer")},
        {LibraryFilter::Featured, {}, {}, QStringLiteral("No matching stations")},
        {LibraryFilter::Favorites, QStringLiteral("  "), {}, QStringLiteral("No stations match these filters")},
        {LibraryFilter::All, {}, QStringLiteral("ZZ"), QStringLiteral("No stations match these filters")},
    };
    for (const auto &c : cases) {
        store().resetFilters();
        store().setFilter(c.tab);
        store().setQuery(c.query);
        store().setCountryFilter(c.country);
        WidgetHarness::settle();
        EXPECT_TRUE(store().visible().empty());
        EXPECT_EQ(panel().emptyText(), c.text);
        EXPECT_EQ(panel().model()->rowCount(), 0);
    }
}

TEST_F(DirectoryTest, FacetButtonShowsTheChoiceAndThePopupFiltersByLabelOrId)
{
    FacetMenu menu;
    menu.setTexts({QStringLiteral("Country or Region"), QStringLiteral("Country"), QStringLiteral("Search countries"),
                   QStringLiteral("All countries"), QStringLiteral("globe")});
    menu.setChoices({{QStringLiteral("GB"), QStringLiteral("United Kingdom"), 1200},
                     {QString(), QStringLiteral("(none)"), 4},
                     {QStringLiteral("JP"), QStringLiteral("Japan"), 3}});
    menu.resize(400, 30);

    const struct {
        QString selection;
        QString shown;
        QColor foreground;
        QString accessible;
        QString checkedRow; // "-" when no row carries the mark
    } cases[] = {
        {QString(), QStringLiteral("Country or Region"), QColor(Qt::white), QStringLiteral("Country or Region"), QString()},
        {QStringLiteral("JP"), QStringLiteral("Japan"), Studio::gold(), QStringLiteral("Country or Region, Japan"),
         QStringLiteral("JP")},
        {QStringLiteral("XX"), QStringLiteral("Country or Region"), Studio::gold(),
         QStringLiteral("Country or Region, Country or Region"), QStringLiteral("-")},
    };
    for (const auto &c : cases) {
        menu.setSelection(c.selection);
        EXPECT_EQ(menu.shownText(), c.shown);
        EXPECT_EQ(menu.foreground(), c.foreground);
        EXPECT_EQ(menu.accessibleName(), c.accessible);
        menu.toggle();
        FacetChoiceModel *rows = menu.popup()->model();
        ASSERT_EQ(rows->rowCount(), 3); // the empty value is not offered
        for (int r = 0; r < rows->rowCount(); ++r) {
            const QModelIndex index = rows->index(r);
            EXPECT_EQ(index.data(FacetChoiceModel::CheckedRole).toBool(),
                      index.data(FacetChoiceModel::IdRole).toString() == c.checkedRow)
                << c.selection.toStdString() << " row " << r;
        }
        menu.toggle();
        EXPECT_FALSE(menu.isOpen());
    }
    EXPECT_EQ(menu.popup()->model()->rowCount(), 1); // filled only while open

    // Narrow, with nothing chosen: the short title; with a choice: cut short.
    menu.setSelection(QString());
    menu.resize(QFontMetrics(menu.font()).horizontalAdvance(QStringLiteral("Country")) + 60, 30);
    EXPECT_EQ(menu.shownText(), QStringLiteral("Country"));
    menu.setSelection(QStringLiteral("GB"));
    EXPECT_TRUE(menu.shownText().endsWith(QChar(0x2026)));

    // The filter: label or id, any case, as typed.
    menu.toggle();
    const struct {
        QString query;
        QStringList ids;
    } filters[] = {
        {QStringLiteral("gb"), {QString(), QStringLiteral("GB")}},
        {QStringLiteral("JAP"), {QString(), QStringLiteral("JP")}},
        {QStringLiteral(" "), {QString(), QStringLiteral("GB")}},
        {QStringLiteral("nowhere"), {QString()}},
    };
    for (const auto &f : filters) {
        menu.popup()->setQuery(f.query);
        QStringList ids;
        for (int r = 0; r < menu.popup()->model()->rowCount(); ++r)
            ids << menu.popup()->model()->index(r).data(FacetChoiceModel::IdRole).toString();
        EXPECT_EQ(ids, f.ids) << f.query.toStdString();
    }
}

TEST_F(DirectoryTest, PressingTheOpenFacetButtonClosesItAndPicksReachTheStore)
{
    store().setFilter(LibraryFilter::All);
    FacetMenu *countries = panel().countryMenu();
    // Through the window, as the desktop delivers it, so that an open popup
    // sees the press first.
    auto press = [&] {
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, countries->mapTo(&window, countries->rect().center()));
    };
    press();
    WidgetHarness::settle();
    ASSERT_TRUE(countries->isOpen());
    QTest::keyClicks(countries->popup()->searchField(), QStringLiteral("jap"));
    EXPECT_EQ(countries->popup()->model()->rowCount(), 2);

    // The press lands on the button while the popup is open: it only closes.
    press();
    WidgetHarness::settle();
    EXPECT_FALSE(countries->isOpen());

    press();
    WidgetHarness::settle();
    ASSERT_TRUE(countries->isOpen());
    EXPECT_EQ(countries->popup()->query(), QString());
    EXPECT_EQ(countries->popup()->model()->rowCount(), 7); // the all row and six countries

    // From the keyboard: each keystroke makes the first match the current
    // row, the arrows move on from there, Return picks the row they stand on.
    QTest::keyClicks(countries->popup()->searchField(), QStringLiteral("r"));
    FacetChoiceModel *offered = countries->popup()->model();
    ASSERT_EQ(offered->rowCount(), 4); // the all row, France, Germany, South Korea
    EXPECT_EQ(countries->popup()->list()->currentIndex().row(), 1);
    for (int r = 2; r < offered->rowCount(); ++r) {
        QTest::keyClick(countries->popup()->searchField(), Qt::Key_Down);
        EXPECT_EQ(countries->popup()->list()->currentIndex().row(), r);
    }
    QTest::keyClick(countries->popup()->searchField(), Qt::Key_Up);
    const QString keyed = offered->index(2).data(FacetChoiceModel::IdRole).toString();
    QTest::keyClick(countries->popup()->searchField(), Qt::Key_Return);
    WidgetHarness::settle();
    EXPECT_FALSE(countries->isOpen());
    EXPECT_FALSE(keyed.isEmpty());
    EXPECT_EQ(store().countryFilter(), keyed);

    // Typed, then Return: the first match; with none, Return picks nothing;
    // typed away to nothing, the all row.
    const struct {
        QString typed;
        std::optional<QString> picked;
    } typings[] = {
        {QStringLiteral("japan"), QStringLiteral("JP")},
        {QStringLiteral("GER"), QStringLiteral("DE")},
        {QStringLiteral("zz"), std::nullopt},
        {QStringLiteral("x\b"), QString()},
    };
    for (const auto &typing : typings) {
        store().setCountryFilter(QStringLiteral("FR"));
        if (countries->isOpen())
            press(); // closes it; the next press opens it with an empty field
        WidgetHarness::settle();
        press();
        WidgetHarness::settle();
        ASSERT_TRUE(countries->isOpen());
        for (const QChar c : typing.typed) {
            if (c == QLatin1Char('\b'))
                QTest::keyClick(countries->popup()->searchField(), Qt::Key_Backspace);
            else
                QTest::keyClicks(countries->popup()->searchField(), QString(c));
        }
        QTest::keyClick(countries->popup()->searchField(), Qt::Key_Return);
        WidgetHarness::settle();
        EXPECT_EQ(countries->isOpen(), !typing.picked) << typing.typed.toStdString();
        EXPECT_EQ(store().countryFilter(), typing.picked.value_or(QStringLiteral("FR"))) << typing.typed.toStdString();
    }
    press();
    WidgetHarness::settle();
    ASSERT_TRUE(countries->isOpen());

    // Picking a row writes the store's filter and closes the popup; the
    // button shows the choice in gold.
    QListView *list = countries->popup()->list();
    int japan = -1;
    for (int r = 0; r < list->model()->rowCount(); ++r) {
        if (list->model()->index(r, 0).data(FacetChoiceModel::IdRole).toString() == QStringLiteral("JP"))
            japan = r;
    }
    ASSERT_GE(japan, 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(japan, 0)).center());
    WidgetHarness::settle();
    EXPECT_FALSE(countries->isOpen());
    EXPECT_EQ(store().countryFilter(), QStringLiteral("JP"));
    EXPECT_EQ(countries->foreground(), Studio::gold());
    EXPECT_EQ(countries->label(), QStringLiteral("Japan"));
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(row(0).data(StationListModel::StationIdRole).toString(), QStringLiteral("s3"));
}

TEST_F(DirectoryTest, FacetPopupsOpenUnderTheirButtonsAndStayOnTheScreen)
{
    panel();
    window.resize(320, 420);
    const QRect area = window.screen()->availableGeometry();
    const QPoint places[] = {
        area.topLeft() + QPoint(160, 30),                          // room on every side
        area.topLeft(),                                            // at the screen's left edge
        QPoint(area.right() + 1 - window.width(), area.top()),     // at its right edge
        QPoint(area.left() + 40, area.bottom() + 1 - window.height()), // at its bottom
    };
    for (const QPoint &place : places) {
        window.move(place);
        WidgetHarness::settle();
        for (FacetMenu *menu : {panel().countryMenu(), panel().languageMenu(), panel().genreMenu()}) {
            menu->toggle();
            WidgetHarness::settle();
            ASSERT_TRUE(menu->isOpen());
            const QRect popup = menu->popup()->geometry();
            const QRect button(menu->mapToGlobal(QPoint(0, 0)), menu->size());
            const std::string what = QStringLiteral("%1 at %2,%3 from %4,%5")
                                         .arg(menu->texts().title)
                                         .arg(button.x())
                                         .arg(button.y())
                                         .arg(place.x())
                                         .arg(place.y())
                                         .toStdString();
            EXPECT_TRUE(area.contains(popup)) << what;
            // The button's leading edge, unless the screen ends first.
            EXPECT_EQ(popup.left(), std::min(button.left(), area.right() + 1 - popup.width())) << what;
            // Below the button where there is room, else above it.
            if (button.bottom() + popup.height() < area.bottom()) {
                EXPECT_GT(popup.top(), button.bottom()) << what;
            } else if (button.top() - popup.height() > area.top()) {
                EXPECT_LT(popup.bottom(), button.top()) << what;
            }
            menu->toggle();
            WidgetHarness::settle();
        }
    }
}

TEST_F(DirectoryTest, HistoryActionsAndSearchRequests)
{
    // A search request focuses the field; a count below 1 does nothing.
    store().setFilter(LibraryFilter::All);
    panel();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    panel().list()->setFocus();
    panel().setSearchRequest(0);
    EXPECT_FALSE(panel().searchField()->hasFocus());
    panel().setSearchRequest(1);
    EXPECT_TRUE(panel().searchField()->hasFocus());

    // In the field: Down moves into the results; Escape empties the field,
    // and a second Escape leaves it.
    QLineEdit *search = panel().searchField();
    QTest::keyClicks(search, QStringLiteral("Station 4"));
    QTest::keyClick(search, Qt::Key_Down);
    EXPECT_TRUE(panel().list()->hasFocus());
    EXPECT_EQ(panel().list()->currentIndex().data(StationListModel::StationIdRole).toString(), QStringLiteral("s4"));
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Escape);
    EXPECT_EQ(store().query(), QString());
    EXPECT_TRUE(search->hasFocus());
    QTest::keyClick(search, Qt::Key_Escape);
    EXPECT_FALSE(search->hasFocus());
    EXPECT_TRUE(panel().list()->hasFocus());

    // The recent tab's footer offers to clear the history only while there is one.
    store().setFilter(LibraryFilter::Recent);
    WidgetHarness::settle();
    EXPECT_TRUE(button(QStringLiteral("Support development"))->isVisible());
    EXPECT_FALSE(button(QStringLiteral("Clear history"))->isVisible());
    harness.probe->setHistory({ListeningRecord{QStringLiteral("s1"), Date::now(), 2},
                               ListeningRecord{QStringLiteral("s4"), std::nullopt, 1}});
    store().refreshDirectory();
    WidgetHarness::settle();
    EXPECT_FALSE(button(QStringLiteral("Support development"))->isVisible());
    ASSERT_TRUE(button(QStringLiteral("Clear history"))->isVisible());

    // The row menu: listen, favourite, and (on this tab) forget the station.
    auto texts = [this](const Station &station) {
        std::unique_ptr<QMenu> menu(panel().rowMenu(station, nullptr));
        QStringList result;
        for (QAction *action : menu->actions())
            result << action->text();
        return result;
    };
    const Station fourth = harness.find(QStringLiteral("s4"));
    EXPECT_EQ(texts(fourth), (QStringList{QStringLiteral("Listen to this station"), QStringLiteral("Add to favorites"),
                                          QStringLiteral("Remove from history")}));
    {
        std::unique_ptr<QMenu> menu(panel().rowMenu(fourth, nullptr));
        menu->actions().at(1)->trigger();
        menu->actions().at(2)->trigger();
    }
    EXPECT_TRUE(store().favorites().contains(QStringLiteral("s4")));
    ASSERT_EQ(store().history().size(), 1u);
    EXPECT_EQ(rows(), 1);

    // Clearing asks first; "Cancel" keeps the history, "Clear" empties it.
    for (const QString &choice : {QStringLiteral("Cancel"), QStringLiteral("Clear")}) {
        button(QStringLiteral("Clear history"))->click();
        ASSERT_TRUE(panel().confirmingClear());
        QMessageBox *box = nullptr;
        for (auto *open : panel().findChildren<QMessageBox *>()) {
            if (open->isVisible())
                box = open;
        }
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), QStringLiteral("Clear listening history?"));
        for (QAbstractButton *answer : box->buttons()) {
            if (answer->text() == choice)
                answer->click();
        }
        WidgetHarness::settle();
        EXPECT_FALSE(panel().confirmingClear());
    }
    EXPECT_TRUE(store().history().empty());
    EXPECT_EQ(panel().emptyText(), QStringLiteral("Stations you listen to will appear here"));
    EXPECT_TRUE(button(QStringLiteral("Support development"))->isVisible());

    store().setFilter(LibraryFilter::All);
    EXPECT_EQ(texts(fourth), (QStringList{QStringLiteral("Listen to this station"), QStringLiteral("Remove from favorites")}));
}

} // namespace
