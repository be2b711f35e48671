#pragma once

#include "records/Station.h"

#include <QAbstractListModel>
#include <QHash>
#include <QListView>
#include <QStyledItemDelegate>

#include <functional>

namespace vantuli {

class RadioStore;

// The rows of the directory list: the first `pageSize` stations of the
// store's visible list, then, while more are left, the row that shows the
// next page. Reads the store's list in place; the owner calls reload() on
// every change of the visible list so that rows never outlive it.
class StationListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        StationIdRole = Qt::UserRole + 1,
        SubtitleRole,
        MoreRole,       // the "show more" row
        StatusMarkRole, // a StatusMark
        FailedRole,     // the station failed on this machine
    };
    // At most one status mark per row.
    enum class StatusMark { None, Indicator, MovingIndicator, Star };

    // What one row shows.
    struct Row {
        const Station *station = nullptr; // null on the "show more" row
        StatusMark mark = StatusMark::None;
        bool failed = false;
    };

    explicit StationListModel(RadioStore *radio, QObject *parent = nullptr);

    // Shows the first `pageSize` stations of the visible list: the rows are
    // refreshed in place when the same stations stay listed, otherwise reset.
    // Returns true when the rows were reset.
    bool reload(int pageSize);
    int stationRows() const { return shown_; }
    bool hasMore() const { return more_; }
    // The row of a station among the shown ones, -1 when it is not shown.
    int rowOf(const QString &id) const;
    const Station *stationAt(int row) const;
    Row row(int row) const;
    QString subtitle(const Station &station) const;

    // The history changed: the recent tab's records are looked up anew.
    void historyChanged();
    // The interface language changed: places and language names anew.
    void languageChanged();
    // Marks or subtitles of the shown rows changed: repaint them.
    void refreshRows();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    RadioStore *radio_;
    int shown_ = 0;
    bool more_ = false;
    QStringList ids_; // ids of the shown stations, to tell a reorder from a refresh
    QHash<QString, qsizetype> firstRecord_; // station id -> its newest history record
    mutable QHash<QString, QString> places_; // station id -> place and language name
};

// Paints the rows: name (two lines at most), subtitle, the status mark and
// the failure mark. Works only on its own row: no lookup over the catalog.
class StationRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit StationRowDelegate(QListView *view);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    const QPixmap &symbol(const QString &name, int size, qreal ratio) const;
    int nameWidth(int rowWidth) const;
    // The name's width in the name font, measured once: the list asks for row
    // sizes on every repaint (the playing row's meter repaints several times a
    // second), and shaping the text each time costs more than the paint.
    // A name drawn in a CJK face is only judged (see judgedAdvance) until its
    // row is `drawn`: the list sizes every row, and a CJK face is large, so a
    // window whose visible rows are Latin loads none.
    int nameAdvance(const Station &station, bool drawn) const;
    int judgedAdvance(const QString &name) const;

    QListView *view_;
    QFont nameFont_;
    QFont subtitleFont_;
    QFont moreFont_;
    mutable QHash<QString, QPixmap> symbols_;
    struct Advance {
        int width = 0;
        bool judged = false;
    };
    mutable QHash<QString, Advance> nameAdvances_; // name -> width in the font the row draws it with
    mutable bool relayoutPending_ = false;
};

// The list: Return starts the selected station (through the handler), and
// passes the key on when the handler declines it. On the "show more" row,
// which the arrow keys reach like any row, Return and Space press it. The
// focus arriving on a list without a current row, for whatever reason, lands
// on no row: only a key or a click in the list chooses one.
class StationListView : public QListView {
    Q_OBJECT
public:
    explicit StationListView(QWidget *parent = nullptr);
    std::function<bool()> returnHandler;
    std::function<void()> moreHandler;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
};

} // namespace vantuli
