#pragma once

#include "records/Station.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QStackedWidget;
class QTimer;

namespace vantuli {

class FitLabel;

class DirectoryTabs;
class FacetMenu;
class RadioStore;
class Refresher;
class StationListModel;
class StationListView;
class StudioButton;

// The directory column of the main window: tabs, search, facets, the paged
// station list and the footer actions. Everything it shows is read from the
// store; every action is a write or an operation of the store. Its own state
// is the paging, the clear-history confirmation and the search focus.
class StationDirectory : public QWidget {
    Q_OBJECT

public:
    // The number of stations per page of the list.
    static constexpr int pageStep = 120;

    // `searchRequest` is the main window's count of search requests: a value
    // of 1 or more focuses the search field.
    StationDirectory(RadioStore *radio, int searchRequest, QWidget *parent = nullptr);
    ~StationDirectory() override;

    int searchRequest() const { return searchRequest_; }
    // The main window raised its counter: 1 or more focuses the search field.
    void setSearchRequest(int request);

    // How many stations of the visible list the list may show.
    int pageSize() const { return pageSize_; }
    // Adds a page: what the trailing "show more" row does.
    void showMore();
    // Whether the clear-history confirmation is open.
    bool confirmingClear() const { return confirmClear_ != nullptr; }

    // The parts, for the window and for tests.
    QLineEdit *searchField() const { return search_; }
    StationListView *list() const { return list_; }
    StationListModel *model() const { return model_; }
    DirectoryTabs *tabs() const { return tabs_; }
    FacetMenu *countryMenu() const { return countries_; }
    FacetMenu *languageMenu() const { return languages_; }
    FacetMenu *genreMenu() const { return genres_; }
    // The message shown in place of an empty list.
    QString emptyText() const;
    // The context menu of a station's row (the caller owns it).
    QMenu *rowMenu(const Station &station, QWidget *parent);

signals:
    void searchRequestChanged(int request);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void connectStore();
    void retranslate();
    // Texts, facets, footer and empty state from the store (coalesced).
    void refresh();
    // The rows from the store's visible list, at once.
    void reloadRows();
    // The tab, the query or a facet changed: back to the first page.
    void filtersChanged();
    void syncSelection();
    void updateIndicator();
    void confirmClearHistory();
    void startStation(const Station &station);

    // The store's query and filters as last seen: the paging starts again
    // only when one of them changed, not on every write of the same value.
    struct Filters {
        LibraryFilter tab;
        QString query;
        QString country;
        QString language;
        QString genre;
        bool operator==(const Filters &) const = default;
    };
    Filters currentFilters() const;

    RadioStore *radio_;
    Filters filters_;
    int searchRequest_ = 0;
    int pageSize_ = pageStep;
    bool scrollToTop_ = false;
    bool syncingSelection_ = false;
    bool focusPending_ = false;
    int indicatorRow_ = -1;

    Refresher *refresher_ = nullptr;
    FitLabel *heading_ = nullptr;
    QLabel *globe_ = nullptr;
    QWidget *searchBox_ = nullptr;
    QLabel *magnifier_ = nullptr;
    QLineEdit *search_ = nullptr;
    StudioButton *clear_ = nullptr;
    DirectoryTabs *tabs_ = nullptr;
    FacetMenu *countries_ = nullptr;
    FacetMenu *languages_ = nullptr;
    FacetMenu *genres_ = nullptr;
    FitLabel *statusTitle_ = nullptr;
    QLabel *count_ = nullptr;
    StudioButton *reset_ = nullptr;
    QStackedWidget *listArea_ = nullptr;
    StationListView *list_ = nullptr;
    StationListModel *model_ = nullptr;
    QLabel *emptySymbol_ = nullptr;
    QLabel *emptyMessage_ = nullptr;
    StudioButton *clearHistory_ = nullptr;
    StudioButton *support_ = nullptr;
    StudioButton *archive_ = nullptr;
    StudioButton *schedule_ = nullptr;
    QMessageBox *confirmClear_ = nullptr;
    QTimer *indicatorTimer_ = nullptr;
};

} // namespace vantuli
