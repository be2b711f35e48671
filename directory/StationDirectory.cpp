#include "directory/StationDirectory.h"

#include "look/Labels.h"

#include "look/Appearance.h"
#include "look/BroadcastIndicator.h"
#include "look/Icons.h"
#include "look/Refresher.h"
#include "look/Studio.h"
#include "look/StudioButton.h"
#include "look/TextStyles.h"
#include "directory/DirectoryTabs.h"
#include "directory/FacetMenu.h"
#include "directory/StationList.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vantuli {

namespace {

QString localized(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

QColor whiteAt(double alpha)
{
    QColor color(Qt::white);
    color.setAlphaF(float(alpha));
    return color;
}

// The rounded, faintly lit field behind the search row.
class SearchBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(shape, whiteAt(0.085));
    }
};

// A one-pixel rule between the list and the footer.
class Divider : public QWidget {
public:
    explicit Divider(QWidget *parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), whiteAt(0.2));
    }
};

QLabel *symbolLabel(const QString &symbol, const QColor &tint, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(symbolPixmap(symbol, tint, size, parent->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

StudioButton *footerButton(QWidget *parent)
{
    auto *button = new StudioButton(Studio::mist(), Qt::transparent, 7, parent);
    button->setFont(textFont(TextStyle::Body));
    button->setIconSize(QSize(15, 15));
    return button;
}

} // namespace

StationDirectory::StationDirectory(RadioStore *radio, int searchRequest, QWidget *parent)
    : QWidget(parent), radio_(radio), searchRequest_(searchRequest)
{
    setObjectName(QStringLiteral("stationDirectory"));
    refresher_ = new Refresher([this] { refresh(); }, this);
    filters_ = currentFilters();
    build();
    retranslate();
    connectStore();
    reloadRows();
    refresh();
    focusPending_ = searchRequest_ >= 1;
}

StationDirectory::~StationDirectory() = default;

void StationDirectory::build()
{
    setPalette(Studio::darkPalette(Studio::side()));
    setAutoFillBackground(true);
    setForegroundRole(QPalette::WindowText);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(18, 20, 18, 0);
    header->setSpacing(10); // the heading's last glyph never meets the globe
    // The heading shrinks a little rather than run under the globe in a narrow column.
    heading_ = new FitLabel(QString(), this);
    heading_->setMinimumScale(0.7);
    heading_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QFont headingFont = textFont(TextStyle::Body, QFont::DemiBold);
    headingFont.setPixelSize(23);
    heading_->setFont(headingFont);
    header->addWidget(heading_, 1);
    globe_ = symbolLabel(QStringLiteral("globe.asia.australia"), Studio::mist(), pixelSize(TextStyle::Title3), this);
    header->addWidget(globe_);
    column->addLayout(header);

    // Search field.
    auto *searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(16, 14, 16, 0);
    searchBox_ = new SearchBox(this);
    auto *inside = new QHBoxLayout(searchBox_);
    inside->setContentsMargins(9, 9, 9, 9);
    inside->setSpacing(7);
    magnifier_ = symbolLabel(QStringLiteral("magnifyingglass"), Studio::mist(), 13, searchBox_);
    inside->addWidget(magnifier_);
    search_ = new QLineEdit(searchBox_);
    search_->setObjectName(QStringLiteral("directorySearch"));
    search_->setFrame(false);
    search_->setFont(textFont(TextStyle::Body));
    QPalette fieldPalette = search_->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    search_->setPalette(fieldPalette);
    search_->setAttribute(Qt::WA_MacShowFocusRect, false);
    search_->installEventFilter(this);
    inside->addWidget(search_, 1);
    clear_ = new StudioButton(Studio::mist(), Qt::transparent, 0, searchBox_);
    clear_->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), Studio::mist(), 13));
    clear_->setIconSize(QSize(13, 13));
    clear_->setVisible(false);
    inside->addWidget(clear_);
    searchRow->addWidget(searchBox_);
    column->addLayout(searchRow);
    connect(search_, &QLineEdit::textEdited, this, [this](const QString &text) { radio_->setQuery(text); });
    connect(clear_, &QAbstractButton::clicked, this, [this] { radio_->setQuery(QString()); });

    // Tabs.
    auto *tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(16, 15, 16, 0);
    tabs_ = new DirectoryTabs(this);
    tabRow->addWidget(tabs_);
    column->addLayout(tabRow);
    connect(tabs_, &DirectoryTabs::chosen, this, [this](LibraryFilter filter) { radio_->setFilter(filter); });

    // Facets: country and language side by side, genre below.
    auto *facetRow = new QHBoxLayout;
    facetRow->setContentsMargins(16, 11, 16, 0);
    facetRow->setSpacing(7);
    countries_ = new FacetMenu(this);
    languages_ = new FacetMenu(this);
    facetRow->addWidget(countries_, 1);
    facetRow->addWidget(languages_, 1);
    column->addLayout(facetRow);
    auto *genreRow = new QHBoxLayout;
    genreRow->setContentsMargins(16, 6, 16, 11);
    genres_ = new FacetMenu(this);
    genreRow->addWidget(genres_);
    column->addLayout(genreRow);
    connect(countries_, &FacetMenu::picked, this, [this](const QString &id) { radio_->setCountryFilter(id); });
    connect(languages_, &FacetMenu::picked, this, [this](const QString &id) { radio_->setLanguageFilter(id); });
    connect(genres_, &FacetMenu::picked, this, [this](const QString &id) { radio_->setGenreFilter(id); });

    // Status line.
    auto *status = new QHBoxLayout;
    status->setContentsMargins(18, 0, 18, 6);
    status->setSpacing(6);
    // The title gives way (cut short) to the count and the reset button.
    statusTitle_ = new FitLabel(QString(), this);
    statusTitle_->setFont(textFont(TextStyle::Caption, QFont::DemiBold));
    statusTitle_->setTextColor(Studio::mist());
    statusTitle_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    count_ = new QLabel(this);
    count_->setTextFormat(Qt::PlainText);
    count_->setFont(monoDigitFont(pixelSize(TextStyle::Caption)));
    QPalette mistText = count_->palette();
    mistText.setColor(QPalette::WindowText, Studio::mist());
    count_->setPalette(mistText);
    reset_ = new StudioButton(Studio::gold(), Qt::transparent, 0, this);
    reset_->setFont(textFont(TextStyle::Caption, QFont::DemiBold));
    reset_->setVisible(false);
    status->addWidget(statusTitle_, 1);
    status->addWidget(count_);
    status->addWidget(reset_);
    column->addLayout(status);
    connect(reset_, &QAbstractButton::clicked, this, [this] { radio_->resetFilters(); });

    // The list, or the empty state in its place.
    listArea_ = new QStackedWidget(this);
    list_ = new StationListView(listArea_);
    model_ = new StationListModel(radio_, list_);
    list_->setModel(model_);
    list_->setItemDelegate(new StationRowDelegate(list_));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Studio::useOverlayScrollBars(list_);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setResizeMode(QListView::Adjust);
    list_->setLayoutMode(QListView::SinglePass);
    list_->setMouseTracking(true);
    list_->setAttribute(Qt::WA_Hover);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAutoFillBackground(false);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->returnHandler = [this] {
        const std::optional<Station> &selected = radio_->selected();
        if (!selected)
            return false;
        startStation(*selected);
        return true;
    };
    listArea_->addWidget(list_);
    connect(list_, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (index.data(StationListModel::MoreRole).toBool())
            showMore();
    });
    list_->moreHandler = [this] { showMore(); };
    connect(list_, &QListView::doubleClicked, this, [this](const QModelIndex &index) {
        if (const Station *station = model_->stationAt(index.row()))
            startStation(*station);
    });
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        const Station *station = model_->stationAt(list_->indexAt(position).row());
        if (!station)
            return;
        QMenu *menu = rowMenu(*station, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(list_->viewport()->mapToGlobal(position));
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (syncingSelection_)
            return;
        const QModelIndexList chosen = list_->selectionModel()->selectedIndexes();
        if (chosen.isEmpty()) {
            // Clearing the list's selection keeps the store's station.
            refresher_->schedule();
            return;
        }
        const QString id = chosen.front().data(StationListModel::StationIdRole).toString();
        const Station *station = radio_->catalogStation(id);
        if (station)
            radio_->setSelected(*station);
    });

    auto *empty = new QWidget(listArea_);
    auto *emptyColumn = new QVBoxLayout(empty);
    emptyColumn->setContentsMargins(16, 16, 16, 16);
    emptyColumn->setSpacing(9);
    emptyColumn->addStretch(1);
    emptySymbol_ = new QLabel(empty);
    emptySymbol_->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(emptySymbol_);
    emptyMessage_ = new QLabel(empty);
    emptyMessage_->setTextFormat(Qt::PlainText);
    emptyMessage_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    emptyMessage_->setWordWrap(true);
    emptyMessage_->setFont(textFont(TextStyle::Callout));
    QPalette mist = emptyMessage_->palette();
    mist.setColor(QPalette::WindowText, Studio::mist());
    emptyMessage_->setPalette(mist);
    emptyColumn->addWidget(emptyMessage_);
    emptyColumn->addStretch(1);
    listArea_->addWidget(empty);
    column->addWidget(listArea_, 1);

    column->addWidget(new Divider(this));

    // Footer.
    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(10, 4, 10, 4);
    footer->setSpacing(2);
    clearHistory_ = footerButton(this);
    support_ = footerButton(this);
    support_->setIcon(symbolIcon(QStringLiteral("heart"), Studio::mist(), 15));
    archive_ = footerButton(this);
    archive_->setObjectName(QStringLiteral("localArchive"));
    archive_->setIcon(symbolIcon(QStringLiteral("archivebox"), Studio::mist(), 15));
    schedule_ = footerButton(this);
    schedule_->setIcon(symbolIcon(QStringLiteral("calendar.badge.clock"), Studio::mist(), 15));
    footer->addWidget(clearHistory_);
    footer->addWidget(support_);
    footer->addStretch(1);
    footer->addWidget(archive_);
    footer->addWidget(schedule_);
    column->addLayout(footer);
    connect(clearHistory_, &QAbstractButton::clicked, this, &StationDirectory::confirmClearHistory);
    connect(support_, &QAbstractButton::clicked, this, [this] { radio_->setSupportVisible(true); });
    connect(archive_, &QAbstractButton::clicked, this, [this] { radio_->setArchiveVisible(true); });
    connect(schedule_, &QAbstractButton::clicked, this, [this] { radio_->setScheduleVisible(true); });

    indicatorTimer_ = new QTimer(this);
    indicatorTimer_->setInterval(BroadcastIndicator::intervalMilliseconds);
    connect(indicatorTimer_, &QTimer::timeout, this, [this] {
        // Only the playing station's own row is drawn again.
        if (indicatorRow_ < 0)
            return;
        const QRect row = list_->visualRect(model_->index(indicatorRow_));
        if (row.intersects(list_->viewport()->rect()))
            list_->viewport()->update(row);
    });
}

void StationDirectory::connectStore()
{
    RadioStore *radio = radio_;
    auto schedule = [this] { refresher_->schedule(); };
    connect(radio, &RadioStore::filterChanged, this, [this] {
        tabs_->setCurrent(radio_->filter());
        filtersChanged();
    });
    connect(radio, &RadioStore::queryChanged, this, [this] {
        if (search_->text() != radio_->query())
            search_->setText(radio_->query());
        clear_->setVisible(!radio_->query().isEmpty());
        filtersChanged();
    });
    for (auto signal : {&RadioStore::countryFilterChanged, &RadioStore::languageFilterChanged,
                        &RadioStore::genreFilterChanged})
        connect(radio, signal, this, &StationDirectory::filtersChanged);
    connect(radio, &RadioStore::visibleChanged, this, &StationDirectory::reloadRows);
    connect(radio, &RadioStore::selectedChanged, this, &StationDirectory::syncSelection);
    connect(radio, &RadioStore::historyChanged, this, [this] {
        model_->historyChanged();
        refresher_->schedule();
    });
    for (auto signal : {&RadioStore::currentChanged, &RadioStore::stateChanged})
        connect(radio, signal, this, [this] {
            updateIndicator();
            refresher_->schedule();
        });
    for (auto signal : {&RadioStore::favoritesChanged, &RadioStore::failuresChanged})
        connect(radio, signal, this, schedule);
    connect(&L10n::shared(), &L10n::didChange, this, [this] {
        retranslate();
        model_->languageChanged();
        refresher_->schedule();
    });
    connect(&Appearance::shared(), &Appearance::reduceMotionChanged, this, [this] {
        updateIndicator();
        list_->viewport()->update();
    });
}

void StationDirectory::retranslate()
{
    // Texts that a narrow column cuts short are given whole as tooltips.
    heading_->setText(localized("电台目录"));
    heading_->setToolTip(heading_->text().toHtmlEscaped());
    search_->setPlaceholderText(localized("搜索名称、城市或呼号"));
    search_->setToolTip(search_->placeholderText().toHtmlEscaped());
    search_->setAccessibleName(search_->placeholderText()); // a placeholder names nothing to a screen reader
    clear_->setAccessibleName(localized("清除搜索"));
    clear_->setToolTip(localized("清除搜索").toHtmlEscaped());
    tabs_->retranslate();
    countries_->setTexts({localized("国家或地区"), localized("国家"), localized("搜索国家或地区"), localized("全部国家或地区"), QStringLiteral("globe")});
    languages_->setTexts({localized("语言"), std::nullopt, localized("搜索语言"), localized("全部语言"), QStringLiteral("character.bubble")});
    genres_->setTexts({localized("节目类型"), std::nullopt, localized("搜索节目类型"), localized("全部类型"), QStringLiteral("music.note.list")});
    reset_->setText(localized("重置"));
    clearHistory_->setText(localized("清空历史"));
    support_->setText(localized("支持开发"));
    for (StudioButton *button : {clearHistory_, support_})
        button->setToolTip(button->text().toHtmlEscaped());
    for (StudioButton *button : {archive_, schedule_}) {
        const QString text = button == archive_ ? localized("本机收听档案") : localized("广播日程");
        button->setToolTip(text.toHtmlEscaped());
        button->setAccessibleName(text);
    }
}

QString StationDirectory::emptyText() const
{
    // An active filter explains the empty list better than the tab does; the
    // query counts as typed, spaces included.
    if (!radio_->countryFilter().isEmpty() || !radio_->languageFilter().isEmpty() || !radio_->genreFilter().isEmpty()
        || !radio_->query().isEmpty())
        return localized("没有符合这些条件的电台");
    switch (radio_->filter().value()) {
    case LibraryFilter::Favorites:
        return localized("点电台旁的星标，加入收藏");
    case LibraryFilter::Recent:
        return localized("收听过的电台会出现在这里");
    case LibraryFilter::Unavailable:
        return localized("本机暂未发现失效电台");
    case LibraryFilter::Featured:
    case LibraryFilter::All:
        break;
    }
    return localized("没有匹配的电台");
}

void StationDirectory::refresh()
{
    const LibraryFilter filter = radio_->filter();
    tabs_->setCurrent(filter);
    if (search_->text() != radio_->query())
        search_->setText(radio_->query());
    clear_->setVisible(!radio_->query().isEmpty());

    countries_->setChoices(radio_->countries());
    countries_->setSelection(radio_->countryFilter());
    languages_->setChoices(radio_->languages());
    languages_->setSelection(radio_->languageFilter());
    genres_->setChoices(radio_->genres());
    genres_->setSelection(radio_->genreFilter());

    statusTitle_->setText(filter.title());
    statusTitle_->setToolTip(filter.title().toHtmlEscaped());
    count_->setText(L10n::format(QStringLiteral("%@ 家"), {Formats::wholeNumber(qint64(radio_->visible().size()))}));
    reset_->setVisible(!radio_->countryFilter().isEmpty() || !radio_->languageFilter().isEmpty()
                       || !radio_->genreFilter().isEmpty() || !radio_->query().isEmpty());

    const bool clearing = filter.value() == LibraryFilter::Recent && !radio_->history().empty();
    clearHistory_->setVisible(clearing);
    support_->setVisible(!clearing);

    const bool empty = radio_->visible().empty();
    if (empty) {
        emptySymbol_->setPixmap(symbolPixmap(DirectoryTabs::symbol(filter), Studio::mist(), pixelSize(TextStyle::Title2),
                                             devicePixelRatioF()));
        emptyMessage_->setText(emptyText());
    }
    listArea_->setCurrentIndex(empty ? 1 : 0);
    model_->refreshRows();
    syncSelection();
}

StationDirectory::Filters StationDirectory::currentFilters() const
{
    return {radio_->filter(), radio_->query(), radio_->countryFilter(), radio_->languageFilter(), radio_->genreFilter()};
}

void StationDirectory::filtersChanged()
{
    Filters now = currentFilters();
    if (now == filters_)
        return;
    filters_ = std::move(now);
    pageSize_ = pageStep;
    scrollToTop_ = true;
    refresher_->schedule();
}

void StationDirectory::reloadRows()
{
    const bool reset = model_->reload(pageSize_);
    if (scrollToTop_ || reset)
        list_->scrollToTop();
    scrollToTop_ = false;
    listArea_->setCurrentIndex(radio_->visible().empty() ? 1 : 0);
    syncSelection();
    updateIndicator();
    refresher_->schedule();
}

void StationDirectory::showMore()
{
    // Pressed in the list (by click or key), the "show more" row is the
    // current one; the first new station takes its place, so the list stays
    // where it is and the keyboard carries on there. Left on the "show more"
    // row, which moves down below the new page, the view would scroll to it.
    const bool fromList = list_->currentIndex().data(StationListModel::MoreRole).toBool();
    const int firstNew = model_->stationRows();
    pageSize_ += pageStep;
    model_->reload(pageSize_);
    if (fromList && firstNew < model_->stationRows())
        list_->selectionModel()->setCurrentIndex(model_->index(firstNew), QItemSelectionModel::ClearAndSelect);
    syncSelection();
    updateIndicator();
}

void StationDirectory::syncSelection()
{
    const std::optional<Station> &selected = radio_->selected();
    const int row = selected ? model_->rowOf(selected->id) : -1;
    QItemSelectionModel *selection = list_->selectionModel();
    // The keyboard goes on from the chosen station's row, or, when it is not
    // listed, from no row: the focus then lands on no row, and the first
    // arrow key chooses the first one. Only the "show more" row, which
    // chooses nothing, keeps the keyboard.
    const QModelIndex current = list_->currentIndex();
    const bool onStation = model_->flags(current) & Qt::ItemIsSelectable;
    const QModelIndex index = row >= 0 ? model_->index(row) : QModelIndex();
    syncingSelection_ = true;
    if (index.isValid() && !selection->isSelected(index))
        selection->select(index, QItemSelectionModel::ClearAndSelect);
    else if (!index.isValid() && selection->hasSelection())
        selection->clearSelection();
    if (current != index && (onStation || (!current.isValid() && index.isValid()))) {
        // Following the choice made elsewhere does not scroll the list.
        const bool autoScroll = list_->hasAutoScroll();
        list_->setAutoScroll(false);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        list_->setAutoScroll(autoScroll);
    }
    syncingSelection_ = false;
}

void StationDirectory::updateIndicator()
{
    indicatorRow_ = -1;
    const std::optional<Station> &current = radio_->current();
    // The meter moves only where someone can see it: not while the window is
    // hidden or minimised (minimising sends this panel a hide event).
    if (current && radio_->state() == RadioStore::State::Playing && !Appearance::shared().reduceMotion() && isVisible()
        && !window()->isMinimized())
        indicatorRow_ = model_->rowOf(current->id);
    if (indicatorRow_ >= 0) {
        if (!indicatorTimer_->isActive())
            indicatorTimer_->start();
    } else {
        indicatorTimer_->stop();
    }
}

void StationDirectory::startStation(const Station &station)
{
    radio_->start(station, 0, true);
}

QMenu *StationDirectory::rowMenu(const Station &station, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    const QString id = station.id;
    menu->addAction(localized("收听此台"), this, [this, station] { startStation(station); });
    menu->addAction(radio_->favorites().contains(id) ? localized("取消收藏") : localized("加入收藏"), this, [this, station] {
        radio_->favorite(station);
    });
    if (radio_->filter().value() == LibraryFilter::Recent)
        menu->addAction(localized("移除此条播放历史"), this, [this, station] { radio_->removeRecent(station); });
    return menu;
}

void StationDirectory::confirmClearHistory()
{
    if (confirmClear_)
        return;
    auto *box = new QMessageBox(this);
    confirmClear_ = box;
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setTextFormat(Qt::PlainText);
    box->setText(localized("清空播放历史？"));
    QPushButton *cancel = box->addButton(localized("取消"), QMessageBox::RejectRole);
    QPushButton *clear = box->addButton(localized("清空"), QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::finished, this, [this, box, clear] {
        if (confirmClear_ == box)
            confirmClear_ = nullptr;
        const bool clearing = box->clickedButton() == clear;
        box->deleteLater();
        if (clearing)
            radio_->clearHistory();
    });
    box->open();
}

void StationDirectory::setSearchRequest(int request)
{
    searchRequest_ = request;
    if (request < 1)
        return;
    if (isVisible())
        search_->setFocus(Qt::ShortcutFocusReason);
    else
        focusPending_ = true;
}

void StationDirectory::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (focusPending_) {
        focusPending_ = false;
        search_->setFocus(Qt::ShortcutFocusReason);
    }
    updateIndicator();
}

void StationDirectory::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateIndicator();
}

bool StationDirectory::eventFilter(QObject *watched, QEvent *event)
{
    // The search field: Down moves into the results; Escape empties the
    // field, and on an empty field leaves it for the results (or the tabs).
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool results = listArea_->currentWidget() == list_ && model_->rowCount() > 0;
        if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier && results) {
            // The chosen station's row when it is listed (the list keeps it
            // current), else the first result; either way the chosen one.
            list_->setFocus(Qt::TabFocusReason);
            if (!list_->currentIndex().isValid())
                list_->setCurrentIndex(model_->index(0));
            list_->scrollTo(list_->currentIndex());
            return true;
        }
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            if (!search_->text().isEmpty())
                radio_->setQuery(QString());
            else if (results)
                list_->setFocus(Qt::TabFocusReason);
            else
                tabs_->tabs()[size_t(radio_->filter().value())]->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantuli
