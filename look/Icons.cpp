#include "look/Icons.h"

#include "platform/Resources.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

namespace vantuli {

namespace {

// The design's symbol names and the freedesktop names that show the same idea.
const QHash<QString, QString> &themeNames()
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("star.fill"), QStringLiteral("starred")},
        {QStringLiteral("star"), QStringLiteral("non-starred")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start")},
        {QStringLiteral("pause.fill"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("stop.fill"), QStringLiteral("media-playback-stop")},
        {QStringLiteral("speaker.fill"), QStringLiteral("audio-volume-high")},
        {QStringLiteral("speaker.wave.1.fill"), QStringLiteral("audio-volume-low")},
        {QStringLiteral("speaker.wave.2.fill"), QStringLiteral("audio-volume-medium")},
        {QStringLiteral("speaker.wave.3.fill"), QStringLiteral("audio-volume-high")},
        {QStringLiteral("speaker.slash.fill"), QStringLiteral("audio-volume-muted")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("system-search")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear")},
        {QStringLiteral("xmark"), QStringLiteral("window-close")},
        {QStringLiteral("archivebox"), QStringLiteral("folder-documents")},
        {QStringLiteral("calendar"), QStringLiteral("x-office-calendar")},
        {QStringLiteral("clock"), QStringLiteral("document-open-recent")},
        {QStringLiteral("heart"), QStringLiteral("emblem-favorite")},
        {QStringLiteral("heart.fill"), QStringLiteral("emblem-favorite")},
        {QStringLiteral("ellipsis"), QStringLiteral("view-more")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("view-more")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy")},
        {QStringLiteral("square.and.arrow.up"), QStringLiteral("send-to")},
        {QStringLiteral("globe"), QStringLiteral("web-browser")},
        {QStringLiteral("moon.zzz"), QStringLiteral("weather-clear-night")},
        {QStringLiteral("moon.zzz.fill"), QStringLiteral("weather-clear-night")},
        {QStringLiteral("timer"), QStringLiteral("alarm")},
        {QStringLiteral("info.circle"), QStringLiteral("help-about")},
        {QStringLiteral("sidebar.left"), QStringLiteral("sidebar-show")},
        {QStringLiteral("list.bullet"), QStringLiteral("view-list")},
        {QStringLiteral("character.bubble"), QStringLiteral("preferences-desktop-locale")},
        {QStringLiteral("translate"), QStringLiteral("preferences-desktop-locale")},
        {QStringLiteral("checkmark"), QStringLiteral("object-select")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("chevron.down"), QStringLiteral("pan-down")},
        {QStringLiteral("chevron.right"), QStringLiteral("pan-end")},
        {QStringLiteral("calendar.badge.clock"), QStringLiteral("x-office-calendar")},
        {QStringLiteral("minus.circle"), QStringLiteral("list-remove")},
    };
    return names;
}

void ensureFallbackTheme()
{
    static const bool once = [] {
        // Platforms without a desktop theme (offscreen, bare X servers) search
        // only Qt's own resources: add the system's icon folders.
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
            const QString icons = folder + QStringLiteral("/icons");
            if (!paths.contains(icons) && QFileInfo(icons).isDir())
                paths << icons;
        }
        QIcon::setThemeSearchPaths(paths);
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(once);
}

QString ownSymbolPath(const QString &name)
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
    QPixmap shape;
    if (const QString own = ownSymbolPath(symbolName); !own.isEmpty()) {
        shape = renderSvg(own, size, ratio);
    } else if (const auto name = themeNames().constFind(symbolName); name != themeNames().constEnd()) {
        ensureFallbackTheme();
        QIcon icon = QIcon::fromTheme(*name + QStringLiteral("-symbolic"));
        if (icon.isNull())
            icon = QIcon::fromTheme(*name);
        if (!icon.isNull())
            shape = icon.pixmap(size, ratio);
    }
    return tinted(shape, tint);
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
