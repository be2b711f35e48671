#include "look/Icons.h"

#include "platform/Resources.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace vantuli {

namespace {

QString symbolPath(const QString &name)
{
    const QString path = Resources::path(QStringLiteral("symbols/") + name + QStringLiteral(".svg"));
    return QFile::exists(path) ? path : QString();
}

// Paints the symbol's shape in the tint.
QPixmap tinted(const QPixmap &source, const QColor &tint)
{
    if (source.isNull())
        return source;
    QPixmap result(source.size());
    result.setDevicePixelRatio(source.devicePixelRatio());
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.drawPixmap(0, 0, source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(QPoint(0, 0), source.size()), tint);
    return result;
}

QPixmap renderSvg(const QString &path, const QSize &size, qreal ratio)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size * ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

} // namespace

QPixmap symbolPixmap(const QString &symbolName, const QColor &tint, int pixelSize, qreal ratio)
{
    const QSize size(pixelSize, pixelSize);
    const QString path = symbolPath(symbolName);
    return path.isEmpty() ? QPixmap() : tinted(renderSvg(path, size, ratio), tint);
}

QIcon symbolIcon(const QString &symbolName, const QColor &tint, int pixelSize)
{
    QIcon icon;
    for (qreal ratio : {1.0, 2.0}) {
        const QPixmap pixmap = symbolPixmap(symbolName, tint, pixelSize, ratio);
        if (pixmap.isNull())
            return {};
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap artwork(const QString &name, const QSize &size, qreal ratio)
{
    const QString path = Resources::path(QStringLiteral("artwork/") + name + QStringLiteral(".svg"));
    if (!QFile::exists(path))
        return {};
    return renderSvg(path, size, ratio);
}

} // namespace vantuli
