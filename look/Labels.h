#pragma once

#include <QWidget>

#include <memory>
#include <vector>

namespace vantuli {

// Plain text, wrapped, with extra space between lines. Never rich text.
class LineSpacedLabel : public QWidget {
    Q_OBJECT
public:
    explicit LineSpacedLabel(const QString &text = {}, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return text_; }
    // Extra pixels between lines.
    void setLineSpacing(double extra);
    void setTextColor(const QColor &color);
    void setAlignment(Qt::Alignment alignment);
    // At most this many lines (the last elided); 0: no limit.
    void setMaximumLines(int lines);
    // Lets the text be selected with the mouse and copied.
    void setSelectable(bool selectable);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Layout;
    const Layout &layout(int width) const;
    Layout computeLayout(int width) const;
    int positionAt(const QPoint &point) const;
    QString selectedText() const;

    QString text_;
    double spacing_ = 0;
    QColor color_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignTop;
    int maximumLines_ = 0;
    bool selectable_ = false;
    int anchor_ = -1;
    int cursor_ = -1;
    mutable int laidWidth_ = -1;
    mutable std::shared_ptr<Layout> laid_;
};

// Text that shrinks its font until it fits its width in at most
// `maximumLines` lines, down to `minimumScale` of the font's size; then the
// last line is elided. With a height limit it also keeps within that height:
// fewer lines, a smaller size, then an ellipsis. Plain text only; fitting
// looks at no more of the text than the lines can show, so any length of text
// costs the same. Elided text shows itself (its first 300 characters) as the
// tooltip, unless one is set.
class FitLabel : public QWidget {
    Q_OBJECT
public:
    explicit FitLabel(const QString &text = {}, QWidget *parent = nullptr);
    ~FitLabel() override;

    void setText(const QString &text);
    QString text() const { return text_; }
    void setMaximumLines(int lines);
    void setMinimumScale(double scale);
    void setTextColor(const QColor &color);
    void setAlignment(Qt::Alignment alignment);
    // At most this many pixels high; 0: no limit.
    void setHeightLimit(int pixels);

    // The pixel size and lines chosen for the current size.
    int fittedPixelSize() const;
    int fittedLineCount() const;
    QStringList fittedLines() const;
    // The height the fitted lines take.
    int fittedHeight() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Fit {
        int pixelSize = 0;
        double lineHeight = 0;
        QStringList lines;
        bool elided = false;
    };
    // The fit for a width within the height limit, remembered per width.
    const Fit &fit(int width) const;
    const Fit &current() const;
    Fit computeFit(int width, int height) const;
    int basePixelSize() const;
    void invalidate();

    QString text_;
    QString flat_; // the text on one line: breaks and tabs read as spaces
    int maximumLines_ = 1;
    double minimumScale_ = 1;
    int heightLimit_ = 0;
    QColor color_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    struct Cached;
    mutable std::vector<Cached> cache_;
};

} // namespace vantuli
