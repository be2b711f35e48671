#include "platform/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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
    }
    return QStringLiteral(VANTULI_INSTALL_DATA_DIR);
}

QString path(const QString &name)
{
    return directory() + QLatin1Char('/') + name;
}

} // namespace vantuli::Resources
