#pragma once

#include <QString>
#include <QStringList>

namespace vantuli {

// What the command line asks for. Links (vantuli:// and the product site's
// https links) may be given to the window run; options start with "-".
struct CommandLine {
    enum class Mode { Window, Play, Help, Version, Error };

    Mode mode = Mode::Window;
    QString playAddress;  // --play <url>
    QStringList links;    // positional arguments of the window run
    QString error;        // what was wrong, for Mode::Error

    static CommandLine parse(const QStringList &arguments); // without the program name
    static QString usage();
};

// Why the window run cannot start: no display to show it on (empty when there
// is one). `platform` is QT_QPA_PLATFORM, `display` and `waylandDisplay` the
// environment's DISPLAY and WAYLAND_DISPLAY; `reachable` tells whether the X
// display accepts a connection.
QString missingDisplay(const QString &platform, const QString &display, const QString &waylandDisplay,
                       bool reachable);

} // namespace vantuli
