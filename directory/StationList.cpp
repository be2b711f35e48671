#include "directory/StationList.h"

#include "look/Appearance.h"
#include "look/BroadcastIndicator.h"
#include "look/Icons.h"
#include "look/Studio.h"
#include "look/TextStyles.h"
#include "records/CaptionPacing.h"
#include "records/CjkForms.h"
#include "records/Formats.h"
#include "records/L10n.h"
#include "store/RadioStore.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace vantuli {

namespace {

const QString separator = QStringLiteral(" · ");
constexpr int rowInset = 4;     // the row's highlight inside the list
constexpr int sidePadding = 10; // text inside the highlight
constexpr int verticalPadding = 5;
constexpr int lineGap = 4;
constexpr int itemSpacing = 10;
constexpr int indicatorWidth = 20;
constexpr int indicatorHeight = 16;
constexpr int starSize = 10;
constexpr int failureSize = 13;
// Room kept at the trailing edge of every row for the marks, so that a mark
// that comes or goes never re-wraps a name.
constexpr int markRoom = 2 + indicatorWidth + itemSpacing + failureSize;
// Places (and name widths) cached beyond this many stations are dropped and
// looked up again.
constexpr qsizetype placeCacheLimit = 4096;

QColor teal(double alpha)
{
    QColor color(48, 176, 199);
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

// ---- Model ----

StationListModel::StationListModel(RadioStore *radio, QObject *parent) : QAbstractListModel(parent), radio_(radio)
{
    historyChanged();
}

bool StationListModel::reload(int pageSize)
{
    const StationRefs &visible = radio_->visible();
    const size_t page = size_t(std::max(pageSize, 0));
    const int shown = int(std::min(page, visible.size()));
    const bool more = page < visible.size();

    // How many of the rows shown now still lead the list.
    int kept = 0;
    while (kept < shown_ && kept < shown && ids_[kept] == visible[size_t(kept)].id)
        ++kept;

    if (kept == shown_ && shown >= shown_) {
        // The same stations lead the list: add the new page in place (the
        // scroll position and the selection stay), repaint the rest.
        if (shown > shown_) {
            beginInsertRows({}, shown_, shown - 1);
            for (int i = shown_; i < shown; ++i)
                ids_.append(visible[size_t(i)].id);
            shown_ = shown;
            endInsertRows();
        }
        if (more != more_) {
            if (more) {
                beginInsertRows({}, shown_, shown_);
                more_ = true;
                endInsertRows();
            } else {
                beginRemoveRows({}, shown_, shown_);
                more_ = false;
                endRemoveRows();
            }
        }
        refreshRows();
        return false;
    }

    beginResetModel();
    shown_ = shown;
    more_ = more;
    ids_.clear();
    ids_.reserve(shown);
    for (int i = 0; i < shown; ++i)
        ids_.append(visible[size_t(i)].id);
    endResetModel();
    return true;
}

int StationListModel::rowOf(const QString &id) const
{
    return int(ids_.indexOf(id));
}

const Station *StationListModel::stationAt(int row) const
{
    const StationRefs &visible = radio_->visible();
    if (row < 0 || row >= shown_ || size_t(row) >= visible.size())
        return nullptr;
    return &visible[size_t(row)];
}

StationListModel::Row StationListModel::row(int row) const
{
    Row result;
    result.station = stationAt(row);
    if (!result.station)
        return result;
    const QString &id = result.station->id;
    const std::optional<Station> &current = radio_->current();
    if (current && current->id == id && radio_->active())
        result.mark = radio_->state() == RadioStore::State::Playing ? StatusMark::MovingIndicator : StatusMark::Indicator;
    else if (radio_->favorites().contains(id))
        result.mark = StatusMark::Star;
    result.failed = radio_->failures().find(id) != radio_->failures().end();
    return result;
}

QString StationListModel::subtitle(const Station &station) const
{
    if (radio_->filter().value() == LibraryFilter::Recent) {
        const auto found = firstRecord_.constFind(station.id);
        if (found != firstRecord_.constEnd() && size_t(*found) < radio_->history().size()) {
            const ListeningRecord &record = radio_->history()[size_t(*found)];
            const QString visits = L10n::format(QStringLiteral("%@ 次收听"), {Formats::wholeNumber(record.visits)});
            if (!record.lastPlayed)
                return visits;
            return Formats::dateTime(*record.lastPlayed) + separator + visits;
        }
    }
    const auto cached = places_.constFind(station.id);
    if (cached != places_.constEnd())
        return *cached;
    const QString code = station.language.isEmpty() ? QStringLiteral("und") : CaptionPacing::languageCode(station.language);
    const QString text = station.place() + separator + Station::languageName(code);
    if (places_.size() >= placeCacheLimit)
        places_.clear();
    places_.insert(station.id, text);
    return text;
}

void StationListModel::historyChanged()
{
    firstRecord_.clear();
    const std::vector<ListeningRecord> &history = radio_->history();
    for (size_t i = 0; i < history.size(); ++i) {
        if (!firstRecord_.contains(history[i].stationID))
            firstRecord_.insert(history[i].stationID, qsizetype(i));
    }
}

void StationListModel::languageChanged()
{
    places_.clear();
    refreshRows();
}

void StationListModel::refreshRows()
{
    const int rows = rowCount();
    if (rows > 0)
        emit dataChanged(index(0), index(rows - 1));
}

int StationListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : shown_ + (more_ ? 1 : 0);
}

Qt::ItemFlags StationListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.row() >= shown_)
        return Qt::ItemIsEnabled; // the "show more" row is a button, not a choice
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant StationListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (index.row() >= shown_) {
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return L10n::shared().text(QStringLiteral("显示更多电台"));
        case MoreRole:
            return true;
        default:
            return {};
        }
    }
    const Row info = row(index.row());
    if (!info.station)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return info.station->name;
    case Qt::AccessibleDescriptionRole: {
        QString description = subtitle(*info.station);
        if (info.failed)
            description += QStringLiteral(", ") + L10n::shared().text(QStringLiteral("本机连接失败"));
        return description;
    }
    case StationIdRole:
        return info.station->id;
    case SubtitleRole:
        return subtitle(*info.station);
    case MoreRole:
        return false;
    case StatusMarkRole:
        return int(info.mark);
    case FailedRole:
        return info.failed;
    default:
        return {};
    }
}

// ---- Delegate ----

StationRowDelegate::StationRowDelegate(QListView *view)
    : QStyledItemDelegate(view), view_(view), nameFont_(textFont(TextStyle::Body, QFont::DemiBold)),
      subtitleFont_(textFont(TextStyle::Caption2)), moreFont_(textFont(TextStyle::Body))
{
}

const QPixmap &StationRowDelegate::symbol(const QString &name, int size, qreal ratio) const
{
    const QString key = name + QLatin1Char('@') + QString::number(ratio);
    auto found = symbols_.find(key);
    if (found == symbols_.end())
        found = symbols_.insert(key, symbolPixmap(name, Studio::gold(), size, ratio));
    return *found;
}

int StationRowDelegate::nameWidth(int rowWidth) const
{
    return rowWidth - 2 * (rowInset + sidePadding) - itemSpacing - markRoom;
}

int StationRowDelegate::nameAdvance(const Station &station, bool drawn) const
{
    const auto cached = nameAdvances_.constFind(station.name);
    if (cached != nameAdvances_.constEnd() && !(drawn && cached->judged))
        return cached->width;
    if (nameAdvances_.size() >= placeCacheLimit)
        nameAdvances_.clear();
    // Measured in the font the row draws it with (CJK names in their language's forms).
    const QFont font = withTextLanguage(nameFont_, station.language, station.name);
    const bool judged = !drawn && font != nameFont_;
    const int width = judged ? judgedAdvance(station.name) : QFontMetrics(font).horizontalAdvance(station.name);
    nameAdvances_.insert(station.name, {width, judged});
    return width;
}

// A name's width without its CJK face: Han, kana and hangul one em each, as
// CJK faces draw them, the rest in the interface face.
int StationRowDelegate::judgedAdvance(const QString &name) const
{
    QString rest;
    int ems = 0;
    for (const QChar c : name) {
        if (isCjkCharacter(c))
            ++ems;
        else
            rest += c;
    }
    return ems * nameFont_.pixelSize() + QFontMetrics(nameFont_).horizontalAdvance(rest);
}

QSize StationRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const int width = view_->viewport()->width();
    if (index.data(StationListModel::MoreRole).toBool())
        return {width, QFontMetrics(moreFont_).height() + 2 * verticalPadding + 6};
    const QFontMetrics names(nameFont_);
    const auto *model = static_cast<const StationListModel *>(index.model());
    const Station *station = model->stationAt(index.row());
    const int lines = station && nameAdvance(*station, false) > nameWidth(width) ? 2 : 1;
    return {width, verticalPadding * 2 + lines * names.lineSpacing() + lineGap + QFontMetrics(subtitleFont_).height()};
}

void StationRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *model = static_cast<const StationListModel *>(index.model());
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect bounds = option.rect.adjusted(rowInset, 0, -rowInset, 0);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(bounds).adjusted(0, 1, 0, -1), 6, 6);
    if (option.state & QStyle::State_Selected)
        painter->fillPath(shape, teal(view_->hasFocus() ? 0.55 : 0.32));
    else if (option.state & QStyle::State_MouseOver)
        painter->fillPath(shape, QColor(255, 255, 255, 14));

    const QRect content = bounds.adjusted(sidePadding, verticalPadding, -sidePadding, -verticalPadding);
    const qreal ratio = painter->device()->devicePixelRatioF();

    if (index.row() >= model->stationRows()) {
        // The keyboard's place on the row that Return or Space presses.
        if ((option.state & QStyle::State_HasFocus) && view_->hasFocus())
            painter->strokePath(shape, QPen(Studio::gold(), 1.5));
        painter->setFont(moreFont_);
        painter->setPen(Studio::gold());
        painter->drawText(content, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
        return;
    }
    const StationListModel::Row row = model->row(index.row());
    if (!row.station) {
        painter->restore();
        return;
    }

    // Marks at the trailing edge: the status mark, then the failure mark.
    int right = content.right() + 1;
    const int middle = content.top() + content.height() / 2;
    if (row.failed) {
        painter->drawPixmap(right - failureSize, middle - failureSize / 2,
                            symbol(QStringLiteral("exclamationmark.circle"), failureSize, ratio));
        right -= failureSize + itemSpacing;
    }
    switch (row.mark) {
    case StationListModel::StatusMark::Indicator:
    case StationListModel::StatusMark::MovingIndicator:
        BroadcastIndicator::paintBars(*painter,
                                      QRectF(right - indicatorWidth, middle - indicatorHeight / 2.0, indicatorWidth, indicatorHeight),
                                      row.mark == StationListModel::StatusMark::MovingIndicator,
                                      Appearance::shared().reduceMotion());
        break;
    case StationListModel::StatusMark::Star:
        painter->drawPixmap(right - starSize, middle - starSize / 2, symbol(QStringLiteral("star.fill"), starSize, ratio));
        break;
    case StationListModel::StatusMark::None:
        break;
    }

    // Name, at most two lines, the second cut short.
    const int width = qMax(0, nameWidth(option.rect.width()));
    const QString &name = row.station->name;
    const QFont nameFont = withTextLanguage(nameFont_, row.station->language, name);
    const QFontMetrics names(nameFont);
    painter->setFont(nameFont);
    painter->setPen(Qt::white);
    // A row sized on a judged width that drawing finds on the wrong side of
    // the line takes its true height in a layout after this paint.
    const Advance sized = nameAdvances_.value(name);
    const int advance = nameAdvance(*row.station, true);
    if (sized.judged && (sized.width > width) != (advance > width) && !relayoutPending_) {
        relayoutPending_ = true;
        QMetaObject::invokeMethod(
            const_cast<StationRowDelegate *>(this),
            [this, index = QPersistentModelIndex(index)] {
                relayoutPending_ = false;
                emit const_cast<StationRowDelegate *>(this)->sizeHintChanged(index);
            },
            Qt::QueuedConnection);
    }
    int y = content.top();
    if (advance <= width) {
        painter->drawText(QRect(content.left(), y, width, names.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, name);
        y += names.lineSpacing();
    } else {
        QTextLayout layout(name, nameFont);
        QTextOption wrap;
        wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(wrap);
        layout.beginLayout();
        QTextLine first = layout.createLine();
        first.setLineWidth(width);
        layout.endLayout();
        const int cut = first.isValid() ? first.textLength() : int(name.size());
        painter->drawText(QRect(content.left(), y, width, names.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter,
                          name.left(cut).trimmed());
        y += names.lineSpacing();
        painter->drawText(QRect(content.left(), y, width, names.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter,
                          names.elidedText(name.mid(cut).trimmed(), Qt::ElideRight, width));
        y += names.lineSpacing();
    }
    y += lineGap;
    const QFontMetrics subtitles(subtitleFont_);
    painter->setFont(subtitleFont_);
    painter->setPen(Studio::mist());
    painter->drawText(QRect(content.left(), y, width, subtitles.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      subtitles.elidedText(model->subtitle(*row.station), Qt::ElideRight, width));
    painter->restore();
}

// ---- View ----

StationListView::StationListView(QWidget *parent) : QListView(parent) {}

void StationListView::keyPressEvent(QKeyEvent *event)
{
    const bool press = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space;
    if (press && moreHandler && currentIndex().data(StationListModel::MoreRole).toBool()) {
        moreHandler();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (returnHandler && returnHandler()) {
            event->accept();
            return;
        }
        event->ignore(); // travels on to the panel and the window
        return;
    }
    QListView::keyPressEvent(event);
}

void StationListView::focusInEvent(QFocusEvent *event)
{
    // The item view makes the first row current when the focus arrives on a
    // list without one, and a current row is the listener's choice. Focus
    // chooses nothing, whatever brought it (Tab, a shortcut, a menu closed,
    // the window raised): the list keeps no row, and the first arrow key
    // starts from the top.
    if (!currentIndex().isValid()) {
        QAbstractScrollArea::focusInEvent(event);
        setAttribute(Qt::WA_InputMethodEnabled, false);
        viewport()->update();
        return;
    }
    QListView::focusInEvent(event);
}

} // namespace vantuli
