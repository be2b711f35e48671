#include "shell/CommandLine.h"

namespace vantuli {

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.mode = Mode::Help;
            return line;
        }
        if (argument == QLatin1String("--version")) {
            line.mode = Mode::Version;
            return line;
        }
        if (argument == QLatin1String("--play")) {
            if (i + 1 >= arguments.size()) {
                line.mode = Mode::Error;
                line.error = QStringLiteral("--play needs a stream address");
                return line;
            }
            line.mode = Mode::Play;
            line.playAddress = arguments.at(++i);
            continue;
        }
        if (argument.startsWith(QLatin1Char('-'))) {
            line.mode = Mode::Error;
            line.error = QStringLiteral("unknown option: %1").arg(argument);
            return line;
        }
        line.links.append(argument);
    }
    if (line.mode == Mode::Play && !line.links.isEmpty()) {
        line.mode = Mode::Error;
        line.error = QStringLiteral("--play takes one address and no links");
    }
    return line;
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: vantuli [LINK...]\n"
        "       vantuli --play URL\n"
        "\n"
        "Live radio with captions recognised on this computer.\n"
        "\n"
        "  LINK          a vantuli://station/<id> link or a station page of the web site;\n"
        "                a running Vantuli receives it and shows the station\n"
        "  --play URL    play one stream in the terminal, captions off, until Ctrl-C\n"
        "  --version     print the version\n"
        "  -h, --help    print this help\n");
}

QString missingDisplay(const QString &platform, const QString &display, const QString &waylandDisplay,
                       bool reachable)
{
    const QString name = platform.section(QLatin1Char(':'), 0, 0).trimmed();
    if (name.isEmpty()) {
        if (display.isEmpty() && waylandDisplay.isEmpty())
            return QStringLiteral("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
        if (!waylandDisplay.isEmpty())
            return QString();
        return reachable ? QString() : QStringLiteral("cannot open the display %1").arg(display);
    }
    if (name == QLatin1String("xcb")) {
        if (display.isEmpty())
            return QStringLiteral("no display: DISPLAY is not set");
        return reachable ? QString() : QStringLiteral("cannot open the display %1").arg(display);
    }
    if (name.startsWith(QLatin1String("wayland")) && waylandDisplay.isEmpty())
        return QStringLiteral("no display: WAYLAND_DISPLAY is not set");
    return QString(); // offscreen, vnc, minimal...: Qt needs no display of ours
}

} // namespace vantuli
