#pragma once

#include <QWidget>

class QLabel;

namespace vantuli {

// The heading of the sheets: a gold symbol on a pine tile (46 x 46, radius 12)
// and the title (26 px semibold), 14 px apart. The title is shown verbatim:
// callers hand over text they have already looked up.
class StudioSheetHeading : public QWidget {
    Q_OBJECT
public:
    StudioSheetHeading(const QString &title, const QString &symbol, QWidget *parent = nullptr);
    void setTitle(const QString &title);
    QString title() const;

private:
    QLabel *icon_;
    QLabel *title_;
};

} // namespace vantuli
