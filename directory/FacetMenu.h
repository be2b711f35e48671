#pragma once

#include "look/StudioButton.h"
#include "records/Station.h"

#include <QAbstractListModel>
#include <QFrame>
#include <QStyledItemDelegate>

#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QListView;

namespace vantuli {

class FacetPopup;

// The texts of one facet, already in the interface language.
struct FacetTexts {
    QString title;                    // on the button while nothing is chosen; heads the popup
    std::optional<QString> shortTitle; // on the button when the title does not fit
    QString searchLabel;              // the popup's search field
    QString allLabel;                 // the row that drops the filter
    QString icon;                     // symbol before the button's text
};

// The rows of a facet popup: the all row, then every choice whose label or id
// contains the popup's query (case-insensitive, as typed). Filled only while
// the popup is open.
class FacetChoiceModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1, CountRole, CheckedRole };

    explicit FacetChoiceModel(QObject *parent = nullptr);

    void fill(const QString &allLabel, const std::vector<DirectoryChoice> *choices, const QString &selection,
              const QString &query);
    void clear();
    void setQuery(const QString &query);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    void filter();

    QString allLabel_;
    const std::vector<DirectoryChoice> *choices_ = nullptr;
    QString selection_;
    QString query_;
    std::vector<int> rows_; // positions in choices_ of the listed entries
};

// The facet popup's rows: label, count, and the check mark (kept in place,
// transparent, on rows that are not chosen, so the counts line up).
class FacetChoiceDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// The compact filter control of the directory: a button that shows the
// facet's current choice, and a popup in which the listener searches the
// facet's values and picks one, or the all row to drop the filter.
// It only reports picks; the owner writes them to the store.
class FacetMenu : public StudioButton {
    Q_OBJECT
public:
    explicit FacetMenu(QWidget *parent = nullptr);
    ~FacetMenu() override;

    void setTexts(const FacetTexts &texts);
    const FacetTexts &texts() const { return texts_; }
    // The facet's values in display order; entries with an empty id are not offered.
    void setChoices(std::vector<DirectoryChoice> choices);
    // The chosen id, "" when the facet is not filtered.
    void setSelection(const QString &id);
    QString selection() const { return selection_; }

    // The chosen entry's label, or the title when no entry matches.
    QString label() const;
    // The text the button shows at its current width.
    QString shownText() const;

    bool isOpen() const;
    FacetPopup *popup() const { return popup_; }
    // What the button's press does: empties the popup's query, then opens or closes it.
    void toggle();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A row was picked (also the row already chosen): its id, "" for the all row.
    void picked(const QString &id);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshLook();
    int textWidth() const;

    FacetTexts texts_;
    std::vector<DirectoryChoice> choices_;
    QString selection_;
    QPixmap iconPixmap_;
    QPixmap chevron_;
    QColor pixmapTint_;
    qreal pixmapRatio_ = 0;
    FacetPopup *popup_;
};

// The popup of a facet menu, 238 x 310, below its button.
class FacetPopup : public QFrame {
    Q_OBJECT
public:
    explicit FacetPopup(FacetMenu *menu);

    void open(const FacetTexts &texts, const std::vector<DirectoryChoice> *choices, const QString &selection);
    QLineEdit *searchField() const { return search_; }
    QListView *list() const { return list_; }
    FacetChoiceModel *model() const { return model_; }
    QString query() const;
    void setQuery(const QString &query);

signals:
    void picked(const QString &id);
    void closed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();

    FacetMenu *menu_;
    QLabel *title_;
    QLineEdit *search_;
    QListView *list_;
    FacetChoiceModel *model_;
};

} // namespace vantuli
