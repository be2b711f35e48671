#pragma once

#include "overlay/FloatingCaptionStyle.h"
#include "records/Caption.h"

#include <QImage>
#include <QTextLayout>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;

namespace vantuli {

class OverlayPlatform;

// The caption panel's content: lays one caption out in the overlay's style,
// splits its lines into pages of `style.lines` lines, shows the page that
// matches the playback position, and draws it outlined, with a soft shadow,
// over an optional rounded black backing. A press moves the panel; with
// Ctrl (or a right click) it opens the overlay menu.
class FloatingCaptionCanvas : public QWidget {
    Q_OBJECT

public:
    // Margin between the view's edge and the text.
    static constexpr int inset = 12;
    // A caption shorter than this pages over this long.
    static constexpr double shortestSpan = 0.15;

    explicit FloatingCaptionCanvas(QWidget *parent = nullptr);
    ~FloatingCaptionCanvas() override;

    // Lays the caption out for a panel `width` wide and sizes the view; the
    // height always holds `style.lines` lines. `language` is the tag the
    // caption was recognised in (empty when detected): it picks the glyph
    // forms of CJK text.
    void configure(const FloatingCaptionStyle &style, const std::optional<Caption> &cue, int width,
                   const QString &language = {});
    // Picks the page for a playback position; repaints only on a new page.
    void advance(double position);

    int lineCount() const { return static_cast<int>(lines_.size()); }
    // The font the caption is laid out in.
    QFont layoutFont() const { return layout_.font(); }
    int pageCount() const;
    int page() const { return page_; }
    // Text of the lines on the current page, joined by "\n"; empty for none.
    QString visibleText() const;

    // Shapes the panel to the current page's pixels where the window system
    // cannot show translucent ones, or to the whole window where it can.
    void reshape();
    // The panel pixels the current page covers: the backing, or the glyphs
    // with their outline and the denser part of their shadow.
    QRegion drawnRegion();

    // The menu for a Ctrl-press or a right click (owned by the caller).
    void setMenuProvider(std::function<QMenu *(QWidget *parent)> provider) { menuProvider_ = std::move(provider); }
    void setPlatform(std::shared_ptr<OverlayPlatform> platform) { platform_ = std::move(platform); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct LineSpan {
        int first; // index into lines_
        int last;
    };
    std::optional<LineSpan> visibleLines() const;
    // Draws the current page (backing, shadow, outlined glyphs).
    void paintPage(QPainter &painter, const LineSpan &span);
    // The current page drawn, from the cache; null without a page.
    const QImage &pageImage();
    void popUpMenu(const QPoint &globalPosition);

    QTextLayout layout_;
    std::vector<QTextLine> lines_;
    int page_ = 0;
    std::optional<Caption> cue_;
    FloatingCaptionStyle style_;
    std::function<QMenu *(QWidget *)> menuProvider_;
    std::shared_ptr<OverlayPlatform> platform_;
    // The drawn page, kept until the page, the layout or the size changes.
    QImage cache_;
    int cachedPage_ = -1;
    // Where the pointer grabbed the panel, while the canvas moves it itself.
    std::optional<QPoint> grab_;
};

// The floating panel: frameless, above other windows, never focused,
// translucent; its content is the canvas.
class CaptionPanel : public QWidget {
    Q_OBJECT

public:
    explicit CaptionPanel(QWidget *parent = nullptr);

signals:
    void moved();

protected:
    void moveEvent(QMoveEvent *event) override;
};

} // namespace vantuli
