#include "look/StudioSheetHeading.h"

#include "look/Icons.h"
#include "look/Studio.h"
#include "look/TextStyles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace vantuli {

namespace {

// The gold symbol on its pine tile.
class HeadingTile : public QLabel {
public:
    HeadingTile(const QString &symbol, QWidget *parent) : QLabel(parent), symbol_(symbol) { setFixedSize(46, 46); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Studio::pine());
        painter.drawRoundedRect(rect(), 12, 12);
        const int size = pixelSize(TextStyle::Title2) + 3;
        const QPixmap pixmap = symbolPixmap(symbol_, Studio::gold(), size, devicePixelRatioF());
        painter.drawPixmap(QPoint((width() - size) / 2, (height() - size) / 2), pixmap);
    }

private:
    QString symbol_;
};

} // namespace

StudioSheetHeading::StudioSheetHeading(const QString &title, const QString &symbol, QWidget *parent)
    : QWidget(parent), icon_(new HeadingTile(symbol, this)), title_(new QLabel(title, this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(textFont(TextStyle::LargeTitle, QFont::DemiBold));
    row->addWidget(icon_, 0, Qt::AlignVCenter);
    row->addWidget(title_, 1, Qt::AlignVCenter);
}

void StudioSheetHeading::setTitle(const QString &title)
{
    title_->setText(title);
}

QString StudioSheetHeading::title() const
{
    return title_->text();
}

} // namespace vantuli
