#pragma once

#include <QColor>
#include <QPalette>
#include <QPushButton>

class QLabel;
class QWidget;

namespace vantuli::sheetlook {

// Text on the sheet background, by colour scheme.
QColor primaryText(bool dark);
QColor secondaryText(bool dark);
// The window's standard background, behind the caption list.
QColor windowBackground(bool dark);
QColor separator(bool dark);

// The sheet's palette: the opaque sheet background and text colours of the scheme.
QPalette palette(bool dark);

// A label of plain text that never reads its text as markup.
QLabel *plainLabel(const QString &text, QWidget *parent = nullptr);
// A thin horizontal rule.
QWidget *divider(QWidget *parent = nullptr);
// Paints a label's text in the secondary colour of the scheme.
void setSecondary(QLabel *label, bool dark);

// One side of a two-part segmented control: a checkable button drawn as the
// left or right half of one rounded outline. The chosen side is filled with
// the scheme's accent and its text drawn over it in the contrasting colour;
// keyboard focus draws a ring in gold.
class SegmentButton : public QPushButton {
    Q_OBJECT
public:
    enum class Side { Left, Right };
    SegmentButton(Side side, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Side side_;
};

} // namespace vantuli::sheetlook
