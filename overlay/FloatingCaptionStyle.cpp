#include "overlay/FloatingCaptionStyle.h"

#include <QFontDatabase>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

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

// A whole, positive JSON number (26.5 and 0 are not sizes, lines or widths).
std::optional<int> wholeNumber(const QJsonValue &value, bool positive)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || std::abs(number) > 1e6)
        return std::nullopt;
    if (positive && number < 1)
        return std::nullopt;
    return static_cast<int>(number);
}

// Families with rounded letterforms that fontconfig may have.
const QStringList &roundedFamilies()
{
    static const QStringList families{QStringLiteral("M PLUS Rounded 1c"), QStringLiteral("Nunito"),
                                      QStringLiteral("Varela Round"), QStringLiteral("Quicksand"),
                                      QStringLiteral("Comfortaa"), QStringLiteral("Arial Rounded MT Bold")};
    return families;
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

QFont captionFont(CaptionTypeface face, int pixelSize)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    switch (face) {
    case CaptionTypeface::Standard:
        break;
    case CaptionTypeface::Rounded:
        for (const QString &family : roundedFamilies()) {
            if (QFontDatabase::hasFamily(family)) {
                font.setFamilies({family});
                break;
            }
        }
        break;
    case CaptionTypeface::Serif:
        font.setFamilies({QStringLiteral("serif")});
        font.setStyleHint(QFont::Serif);
        break;
    case CaptionTypeface::Mono:
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::Monospace);
        break;
    }
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

std::optional<FloatingCaptionStyle> FloatingCaptionStyle::decode(const QByteArray &json)
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
    // Lines, size and width divide the layout: a value below 1 is unreadable.
    const auto size = wholeNumber(object.value(QStringLiteral("size")), true);
    const auto lines = wholeNumber(object.value(QStringLiteral("lines")), true);
    const auto width = wholeNumber(object.value(QStringLiteral("width")), true);
    const auto opacity = wholeNumber(object.value(QStringLiteral("opacity")), false);
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
