#include "streaming/LiveStream.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMetaObject>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace {

// `vantuli --play <url>`: plays one station from the terminal with captions
// off and prints what the stream reports, until the run ends (or Ctrl-C).
int play(int argc, char **argv, const char *address)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantuli"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantuli"));
    const QUrl url = QUrl::fromUserInput(QString::fromLocal8Bit(address));
    if (!url.isValid()) {
        std::fprintf(stderr, "vantuli: not a URL: %s\n", address);
        return 2;
    }

    vantuli::PlaybackStream::Parameters parameters;
    parameters.event = [](const vantuli::StreamEvent &event) {
        switch (event.kind) {
        case vantuli::StreamEvent::Kind::Playing:
            std::printf("playing\n");
            break;
        case vantuli::StreamEvent::Kind::Position:
            std::printf("\rposition %8.1f s played, %5.1f s buffered", event.played, event.buffered);
            break;
        case vantuli::StreamEvent::Kind::Failed: {
            // The message is localised on the main thread, then the run ends.
            QMetaObject::invokeMethod(qApp, [message = event.message] {
                const QString text = message ? message->text() : QString();
                std::printf("\nfailed: %s\n", text.toLocal8Bit().constData());
                QCoreApplication::exit(1);
            }, Qt::QueuedConnection);
            break;
        }
        }
        std::fflush(stdout);
    };
    vantuli::LiveStream stream(std::move(parameters));
    stream.start(url, 1.0f, vantuli::StreamConfiguration{});
    const int code = app.exec();
    stream.stop();
    const vantuli::StreamTransfer transfer = stream.transfer();
    std::printf("\n%lld bytes received\n", static_cast<long long>(transfer.bytes));
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Vantuli %s\n", VANTULI_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--play") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "usage: vantuli --play <url>\n");
                return 2;
            }
            return play(argc, argv, argv[i + 1]);
        }
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantuli"));
    QApplication::setApplicationName(QStringLiteral("Vantuli"));
    QMainWindow window;
    window.setObjectName(QStringLiteral("main"));
    window.setWindowTitle(QStringLiteral("Vantuli"));
    auto *label = new QLabel(QStringLiteral("Vantuli"), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(960, 640);
    window.show();
    return app.exec();
}
