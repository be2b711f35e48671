#pragma once

#include "records/Caption.h"

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QScrollArea>
#include <QTextLayout>
#include <QUuid>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QVariantAnimation;

namespace vantuli {

// One caption of the history: a plain, borderless button whose label is the
// caption's text, wrapped to the row's width. A click asks for a translation;
// the context menu offers translate and copy.
class CaptionRow : public QAbstractButton {
    Q_OBJECT

public:
    CaptionRow(const Caption &caption, QWidget *parent = nullptr);

    const QUuid &captionId() const { return id_; }

    // The look of the text: its font, the extra pixels between lines and its
    // colour (with the row's opacity in its alpha).
    void setTextStyle(const QFont &font, double lineSpacing, const QColor &color);
    const QFont &textFont() const { return font_; }

    // Height of the laid-out text at `width`.
    int textHeight(int width) const;

    // The context menu: translate, copy.
    std::unique_ptr<QMenu> contextMenu();

    // Slides the row in from 20 px below while fading it in (or shows it at once).
    void appear(bool animated);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return textHeight(width); }
    QSize sizeHint() const override;

signals:
    void translateRequested(const QString &text);
    void copyRequested(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // The lines of the text at `width`, laid out once per width and style.
    const QTextLayout &layoutFor(int width) const;

    QUuid id_;
    QFont font_;
    double lineSpacing_ = 0;
    QColor color_;
    double appearance_ = 1; // 0: still 20 px low and invisible, 1: in place
    QVariantAnimation *appearAnimation_ = nullptr;

    mutable std::unique_ptr<QTextLayout> layout_;
    mutable int layoutWidth_ = -1;
    mutable int layoutHeight_ = 0;
    // The text drawn once at the row's size and style: a repaint (the entering
    // slide, a scroll, the rows around it changing) copies it instead of
    // drawing every glyph again.
    QImage drawn_;
};

// The scrolling caption list: the last few captions, oldest first, the newest
// large and the older ones smaller and dimmed, kept at the bottom of the area
// while they are shorter than it. The newest caption is kept in view: by its
// top edge when it does not fit with its margin, else by its bottom edge.
class CaptionHistory : public QScrollArea {
    Q_OBJECT

public:
    enum class Anchor { Top, Bottom };

    explicit CaptionHistory(QWidget *parent = nullptr);

    // The size of older lines for a caption size: 0.71 of it, rounded, at least 17.
    static int olderLineSize(double size);
    // How many captions a history of `height` pixels shows (at least 2).
    static int lineCount(double size, double height);
    // Which edge of the newest row a scroll aligns with.
    static Anchor anchor(double height, double newestHeight);

    // The captions to show from (the store's whole list, oldest first).
    void setCaptions(const std::vector<Caption> &captions);
    void setCaptionSize(double size);
    void setTextColor(const QColor &color);
    // The captions' language (a BCP 47 tag, empty when unknown): picks the
    // Chinese, Japanese or Korean glyph forms.
    void setLanguage(const QString &language);
    void setReducedMotion(bool reduced) { reduced_ = reduced; }
    // Re-reads the rows' localised help text.
    void retranslate();

    // What the history shows now.
    const std::vector<CaptionRow *> &rows() const { return rows_; }
    CaptionRow *newestRow() const { return rows_.empty() ? nullptr : rows_.back(); }
    // The measured height of the newest row's text (0 until it is laid out).
    double newestHeight() const { return newestHeight_; }
    int shownLineCount() const { return lineCount_; }

signals:
    void translateRequested(const QString &text);
    void copyRequested(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Picks the rows for the current height, restyles and places them, and
    // keeps the newest caption in view.
    void rebuild();
    // Places the rows bottom-aligned in the content; answers whether the newest
    // row's height changed.
    bool placeRows();
    void restyle();
    void scrollToNewest(Anchor anchor, bool animated);

    std::vector<Caption> captions_;
    double size_ = 32;
    QColor textColor_;
    QString language_;
    bool reduced_ = false;

    QWidget *content_;
    std::vector<CaptionRow *> rows_;
    QUuid newestId_;
    int lineCount_ = 0;
    double newestHeight_ = 0;
    bool styled_ = false;
    bool rebuilding_ = false;
    int anchoredHeight_ = -1; // the viewport height the last resize saw
    QVariantAnimation *scrollAnimation_;
};

} // namespace vantuli
