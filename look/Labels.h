#pragma once

#include <QWidget>

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
    Layout layout(int width) const;
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
};

// Text that shrinks its font until it fits its width in at most
// `maximumLines` lines, down to `minimumScale` of the font's size (then the
// last line is elided). Plain text only.
class FitLabel : public QWidget {
    Q_OBJECT
public:
    explicit FitLabel(const QString &text = {}, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return text_; }
    void setMaximumLines(int lines);
    void setMinimumScale(double scale);
    void setTextColor(const QColor &color);
    void setAlignment(Qt::Alignment alignment);

    // The pixel size and line count chosen for the current width.
    int fittedPixelSize() const;
    int fittedLineCount() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Fit {
        int pixelSize = 0;
        QStringList lines;
    };
    Fit fit(int width) const;

    QString text_;
    int maximumLines_ = 1;
    double minimumScale_ = 1;
    QColor color_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

} // namespace vantuli
