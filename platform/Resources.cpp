#include "platform/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <mutex>

#ifndef VANTULI_INSTALL_DATA_DIR
#define VANTULI_INSTALL_DATA_DIR "/usr/local/share/vantuli"
#endif

namespace vantuli::Resources {

QString directory()
{
    const QByteArray env = qgetenv("VANTULI_RESOURCES");
    if (!env.isEmpty())
        return QDir::cleanPath(QString::fromLocal8Bit(env));
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/resources");
        if (QFileInfo(beside).isDir())
            return QDir::cleanPath(beside);
        // An installed copy: <prefix>/bin/vantuli with <prefix>/share/vantuli,
        // wherever the prefix was chosen at install time.
        const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vantuli");
        if (QFileInfo(installed + QStringLiteral("/catalog.json")).isFile())
            return QDir::cleanPath(installed);
    }
    return QStringLiteral(VANTULI_INSTALL_DATA_DIR);
}

QString path(const QString &name)
{
    return directory() + QLatin1Char('/') + name;
}

QStringList missing(const QString &folder)
{
    QStringList lacking;
    const QDir dir(folder);
    if (!QFileInfo(dir.filePath(QStringLiteral("catalog.json"))).isFile())
        lacking << QStringLiteral("the station catalog (catalog.json)");
    const QStringList tables = dir.entryList({QStringLiteral("*.lproj")}, QDir::Dirs);
    const bool anyTable = std::any_of(tables.begin(), tables.end(), [&dir](const QString &table) {
        return QFileInfo(dir.filePath(table + QStringLiteral("/Localizable.json"))).isFile();
    });
    if (!anyTable)
        lacking << QStringLiteral("the interface tables (*.lproj/Localizable.json)");
    return lacking;
}

void reportMissing()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const QString folder = directory();
        for (const QString &what : missing(folder)) {
            std::fprintf(stderr, "vantuli: the resource folder %s has no %s\n", qPrintable(folder),
                         qPrintable(what));
        }
    });
}

} // namespace vantuli::Resources
