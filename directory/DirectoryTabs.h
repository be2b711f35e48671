#pragma once

#include "records/Station.h"

#include <QAbstractButton>
#include <QWidget>

#include <vector>

class QVariantAnimation;

namespace vantuli {

class DirectoryTabs;

// One tab: its symbol over its short label, coloured between mist and gold
// by how close the gliding underline is to it.
class DirectoryTab : public QAbstractButton {
    Q_OBJECT
public:
    DirectoryTab(DirectoryTabs *row, int position, LibraryFilter filter, QString symbol);

    LibraryFilter filter() const { return filter_; }
    void setShortLabel(const QString &label);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DirectoryTabs *row_;
    int position_;
    LibraryFilter filter_;
    QString symbol_;
    QPixmap gold_;
    QPixmap mist_;
    qreal pixmapRatio_ = 0;
};

// The directory's five tabs with the gold underline under the chosen one.
// A new choice glides the underline (and the colours) over 0.2 s, ease in
// and out; under reduced motion it jumps. The tabs share the row equally,
// except that a label longer than its share widens its tab at the expense
// of those with room to spare.
class DirectoryTabs : public QWidget {
    Q_OBJECT
public:
    explicit DirectoryTabs(QWidget *parent = nullptr);

    // The tab of `filter` becomes the chosen one.
    void setCurrent(LibraryFilter filter);
    LibraryFilter current() const { return current_; }
    // Short labels and titles, looked up again after a change of language.
    void retranslate();
    const std::vector<DirectoryTab *> &tabs() const { return tabs_; }
    // Where the underline stands: a tab position, fractional while it glides.
    double underline() const { return underline_; }
    bool gliding() const;

    // The pixel size of every tab's label: the largest, down to 0.8 of the
    // full size, at which all five labels fit the row with a little room
    // around each, so that the labels never differ in size. When even the
    // smallest does not fit, the longest labels are cut short.
    int labelPixelSize() const { return labelSize_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The symbol of each tab, also shown by the empty list.
    static QString symbol(LibraryFilter filter);

signals:
    void chosen(LibraryFilter filter);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The label size and each tab's width for the row's width and labels.
    void arrange();

    std::vector<DirectoryTab *> tabs_;
    int labelSize_;
    LibraryFilter current_ = LibraryFilter::Featured;
    double underline_ = 0;
    QVariantAnimation *glide_;
};

} // namespace vantuli
