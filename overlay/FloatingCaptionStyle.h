#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <optional>

namespace vantuli {

// The overlay's font design. The raw values are the stored words and the
// localisation keys of the menu titles.
enum class CaptionTypeface { Standard, Rounded, Serif, Mono };
// The caption's text colour.
enum class CaptionInk { White, Yellow, Mint, Black };
// A corner of the screen to move the panel to; never stored.
enum class CaptionCorner { TopLeft, TopRight, BottomLeft, BottomRight };

inline constexpr std::array<CaptionTypeface, 4> allCaptionTypefaces{
    CaptionTypeface::Standard, CaptionTypeface::Rounded, CaptionTypeface::Serif, CaptionTypeface::Mono};
inline constexpr std::array<CaptionInk, 4> allCaptionInks{CaptionInk::White, CaptionInk::Yellow, CaptionInk::Mint,
                                                          CaptionInk::Black};
inline constexpr std::array<CaptionCorner, 4> allCaptionCorners{CaptionCorner::TopLeft, CaptionCorner::TopRight,
                                                                CaptionCorner::BottomLeft, CaptionCorner::BottomRight};

QString rawValue(CaptionTypeface face);
QString rawValue(CaptionInk ink);
QString rawValue(CaptionCorner corner);
std::optional<CaptionTypeface> captionTypeface(const QString &raw);
std::optional<CaptionInk> captionInk(const QString &raw);

// The semibold caption font of a face at a pixel size: the system font, a
// rounded family (Comfortaa and others, by name), the serif or the
// monospaced family, the last two with their CJK counterparts. A face whose
// family is not installed falls back to the system font. A caption in
// Chinese, Japanese or Korean, recognised in `language` (a BCP 47 tag; empty
// when detected) or holding CJK `text`, is drawn in the face's CJK design in
// the glyph forms cjkForms gives for them.
QFont captionFont(CaptionTypeface face, int pixelSize, const QString &language = {}, const QString &text = {});
QColor inkColor(CaptionInk ink);
// White around black ink, black around every other ink.
QColor outlineColor(CaptionInk ink);

// Where a panel of `size` sits in a corner of `area`, 20 px from its two
// edges (y grows downwards).
QPoint cornerOrigin(CaptionCorner corner, QSize size, const QRect &area);

// The user's overlay style, stored as JSON under "floatingCaptionStyle".
struct FloatingCaptionStyle {
    CaptionTypeface face = CaptionTypeface::Standard;
    int size = 26;     // font size in pixels
    CaptionInk ink = CaptionInk::White;
    int lines = 2;     // lines per page, and the panel's height in lines
    int opacity = 0;   // background opacity in percent; 0 draws no background
    int width = 560;   // preferred panel width
    bool clickThrough = false;

    bool operator==(const FloatingCaptionStyle &) const = default;

    static constexpr const char *settingsKey = "floatingCaptionStyle";

    // What can be drawn: a style stored with a value outside these bounds
    // (edited by hand) is unreadable. The widest choice of the menu is always
    // readable, even on a narrower screen.
    static constexpr int smallestSize = 12;
    static constexpr int largestSize = 96;
    static constexpr int mostLines = 10;
    static constexpr int narrowestWidth = 120;
    static constexpr int widestChoice = 780;

    // Compact JSON with all seven keys.
    QByteArray encoded() const;
    // Strict: every key present with the right type and a known word; size,
    // lines, opacity and width whole numbers within the bounds above, the
    // width at most max(`widestScreen`, the widest menu choice). Anything
    // else is unreadable (absent).
    static std::optional<FloatingCaptionStyle> decode(const QByteArray &json, int widestScreen = widestChoice);
};

} // namespace vantuli
