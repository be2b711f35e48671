#include "overlay/FloatingCaptionStyle.h"

#include "records/CjkForms.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace vantuli {

namespace {

template <typename E, std::size_t N>
std::optional<E> fromRaw(const std::array<E, N> &cases, const QString &raw)
{
    for (E value : cases) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

// A whole JSON number from `least` to `most` (26.5 is no size).
std::optional<int> wholeNumber(const QJsonValue &value, int least, int most)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < least || number > most)
        return std::nullopt;
    return static_cast<int>(number);
}

// The families of `candidates` that are installed, in their order.
QStringList installed(std::initializer_list<const char *> candidates)
{
    QStringList found;
    for (const char *family : candidates) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family)))
            found << QString::fromLatin1(family);
    }
    return found;
}

// The family a fontconfig alias ("serif") or a system font stands for.
QString resolvedFamily(const QFont &font)
{
    return QFontInfo(font).family();
}

// The families of each face, most wanted first; looked up once. A face
// whose own families are missing draws in the system font, and every face
// draws the scripts its families lack in the system's fallback fonts. Latin
// serif and monospaced faces come with the CJK family of the same design,
// which would otherwise fall back to the system's sans-serif CJK font.
const QStringList &faceFamilies(CaptionTypeface face)
{
    static const std::array<QStringList, 4> families = [] {
        const QString system = resolvedFamily(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
        QFont serif(QStringLiteral("serif"));
        serif.setStyleHint(QFont::Serif);
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setStyleHint(QFont::Monospace);
        std::array<QStringList, 4> list;
        list[std::size_t(CaptionTypeface::Standard)] = {system};
        list[std::size_t(CaptionTypeface::Rounded)] =
            installed({"M PLUS Rounded 1c", "Comfortaa", "Quicksand", "Nunito", "Varela Round", "Arial Rounded MT Bold"})
            << system;
        list[std::size_t(CaptionTypeface::Serif)] =
            QStringList{resolvedFamily(serif)}
            << installed({"Noto Serif CJK SC", "Noto Serif CJK TC", "Noto Serif CJK JP", "Noto Serif CJK KR",
                          "Source Han Serif SC", "Source Han Serif", "AR PL UMing CN"});
        list[std::size_t(CaptionTypeface::Mono)] =
            QStringList{resolvedFamily(mono)}
            << installed({"Noto Sans Mono CJK SC", "Noto Sans Mono CJK TC", "Noto Sans Mono CJK JP",
                          "Noto Sans Mono CJK KR", "Sarasa Mono SC"});
        return list;
    }();
    return families[std::size_t(face)];
}

// The families for a caption in `language` and `text`: a caption that
// needs a CJK face (see needsCjkFace) is drawn first in the CJK family of the
// face's design in the glyph forms cjkForms gives, as the caption desk picks
// them (Han characters read differently in Japanese, Korean, Simplified and
// Traditional Chinese); its Latin letters take that family's matching ones
// (see cjkFamilyFirst). Other captions keep the face's families.
QStringList withCjkForms(CaptionTypeface face, QStringList families, const QString &language, const QString &text)
{
    if (!needsCjkFace(language, text))
        return families;
    const QString design = face == CaptionTypeface::Serif ? QStringLiteral("Noto Serif CJK ")
                           : face == CaptionTypeface::Mono ? QStringLiteral("Noto Sans Mono CJK ")
                                                            : QStringLiteral("Noto Sans CJK ");
    return cjkFamilyFirst(std::move(families), design + cjkForms(language, text));
}

} // namespace

QString rawValue(CaptionTypeface face)
{
    switch (face) {
    case CaptionTypeface::Standard: return QStringLiteral("系统字体");
    case CaptionTypeface::Rounded: return QStringLiteral("圆体");
    case CaptionTypeface::Serif: return QStringLiteral("衬线体");
    case CaptionTypeface::Mono: return QStringLiteral("等宽字体");
    }
    return {};
}

QString rawValue(CaptionInk ink)
{
    switch (ink) {
    case CaptionInk::White: return QStringLiteral("白色");
    case CaptionInk::Yellow: return QStringLiteral("浅黄");
    case CaptionInk::Mint: return QStringLiteral("薄荷绿");
    case CaptionInk::Black: return QStringLiteral("黑色");
    }
    return {};
}

QString rawValue(CaptionCorner corner)
{
    switch (corner) {
    case CaptionCorner::TopLeft: return QStringLiteral("左上角");
    case CaptionCorner::TopRight: return QStringLiteral("右上角");
    case CaptionCorner::BottomLeft: return QStringLiteral("左下角");
    case CaptionCorner::BottomRight: return QStringLiteral("右下角");
    }
    return {};
}

std::optional<CaptionTypeface> captionTypeface(const QString &raw)
{
    return fromRaw(allCaptionTypefaces, raw);
}

std::optional<CaptionInk> captionInk(const QString &raw)
{
    return fromRaw(allCaptionInks, raw);
}

QFont captionFont(CaptionTypeface face, int pixelSize, const QString &language, const QString &text)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setFamilies(withCjkForms(face, faceFamilies(face), language, text));
    font.setPixelSize(std::max(pixelSize, 1));
    font.setWeight(QFont::DemiBold);
    return font;
}

QColor inkColor(CaptionInk ink)
{
    switch (ink) {
    case CaptionInk::White: return QColor(Qt::white);
    case CaptionInk::Yellow: return QColor::fromRgbF(1.0f, 0.91f, 0.57f);
    case CaptionInk::Mint: return QColor::fromRgbF(0.67f, 0.99f, 0.85f);
    case CaptionInk::Black: return QColor(Qt::black);
    }
    return QColor(Qt::white);
}

QColor outlineColor(CaptionInk ink)
{
    return ink == CaptionInk::Black ? QColor(Qt::white) : QColor(Qt::black);
}

QPoint cornerOrigin(CaptionCorner corner, QSize size, const QRect &area)
{
    constexpr int margin = 20;
    const bool right = corner == CaptionCorner::TopRight || corner == CaptionCorner::BottomRight;
    const bool top = corner == CaptionCorner::TopLeft || corner == CaptionCorner::TopRight;
    const int x = right ? area.x() + area.width() - size.width() - margin : area.x() + margin;
    const int y = top ? area.y() + margin : area.y() + area.height() - size.height() - margin;
    return {x, y};
}

QByteArray FloatingCaptionStyle::encoded() const
{
    QJsonObject object{
        {QStringLiteral("face"), rawValue(face)},
        {QStringLiteral("size"), size},
        {QStringLiteral("ink"), rawValue(ink)},
        {QStringLiteral("lines"), lines},
        {QStringLiteral("opacity"), opacity},
        {QStringLiteral("width"), width},
        {QStringLiteral("clickThrough"), clickThrough},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<FloatingCaptionStyle> FloatingCaptionStyle::decode(const QByteArray &json, int widestScreen)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue face = object.value(QStringLiteral("face"));
    const QJsonValue ink = object.value(QStringLiteral("ink"));
    const QJsonValue clickThrough = object.value(QStringLiteral("clickThrough"));
    if (!face.isString() || !ink.isString() || !clickThrough.isBool())
        return std::nullopt;
    const auto typeface = captionTypeface(face.toString());
    const auto colour = captionInk(ink.toString());
    // A hand-edited 2000 lines would make a panel 100,000 px tall.
    const auto size = wholeNumber(object.value(QStringLiteral("size")), smallestSize, largestSize);
    const auto lines = wholeNumber(object.value(QStringLiteral("lines")), 1, mostLines);
    const auto width = wholeNumber(object.value(QStringLiteral("width")), narrowestWidth,
                                   std::max(widestScreen, int(widestChoice)));
    const auto opacity = wholeNumber(object.value(QStringLiteral("opacity")), 0, 100);
    if (!typeface || !colour || !size || !lines || !width || !opacity)
        return std::nullopt;

    FloatingCaptionStyle style;
    style.face = *typeface;
    style.size = *size;
    style.ink = *colour;
    style.lines = *lines;
    style.opacity = *opacity;
    style.width = *width;
    style.clickThrough = clickThrough.toBool();
    return style;
}

} // namespace vantuli
